// A line of several virtual controllers on one pseudo-terminal, as the doors of a
// building share one RS-485 line. Every controller hears every byte; each carries out
// what is addressed to it and every broadcast, and answers only its own address. Two
// controllers given one address both answer, and their replies collide on the line.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "sim/sim_controller.h"

class SimLine {
  public:
    // Adds a controller at `address` (0 to 254); returns it.
    SimController& Add(std::uint8_t address, SimState state = {});

    std::size_t Size() const { return controllers_.size(); }
    SimController& At(std::size_t index) { return *controllers_[index]; }
    const SimController& At(std::size_t index) const { return *controllers_[index]; }
    // The controllers at `address`, in the order they were added (more than one only
    // when an address was given twice).
    std::vector<SimController*> AtAddress(std::uint8_t address);

    // Feeds the bytes to every controller. One exchange per request (or run of ignored
    // bytes) as on a single controller; its verdict names the controllers that carried
    // the request out, and its reply is what the line carries: the one reply, or the
    // collision of several.
    std::vector<SimExchange> Receive(const SimChunk& chunk);

    // What the line carries when `second` starts one character after `first`: the two
    // drivers fight, a bit pulled low by either reads low. The check byte of the header
    // never holds, even when both said the same.
    static std::vector<std::uint8_t> Collide(const std::vector<std::uint8_t>& first,
                                             const std::vector<std::uint8_t>& second);

  private:
    std::vector<std::unique_ptr<SimController>> controllers_;
};

// "01" for 1: the two hexadecimal digits the log uses for an address.
std::string SimAddressText(std::uint8_t address);
