// What the virtual controller remembers between runs: its keys, the vardex and the
// two times, as a small JSON document.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct SimState {
    std::vector<std::uint32_t> keys;  // slots 0 .. count - 1, 24-bit codes
    std::uint32_t vardex = 0;         // 0: none set
    int timeOpen = 5;                 // lock-open time, seconds
    int retryRead = 3;                // repeat-read time, seconds

    bool operator==(const SimState&) const = default;
};

// {"keys":[...],"vardex":N,"timeOpen":N,"retryRead":N} on one line.
std::string SimStateToJson(const SimState& state);
// Unknown members are skipped; absent ones keep their defaults. False (with a reason)
// when the text is not such a JSON object.
bool SimStateFromJson(const std::string& text, SimState& state, std::string& error);

bool LoadSimState(const std::string& path, SimState& state, std::string& error);
// Writes a temporary file beside `path`, flushes it to disk and renames it over `path`.
bool SaveSimState(const std::string& path, const SimState& state, std::string& error);
