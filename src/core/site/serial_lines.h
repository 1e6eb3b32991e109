// The lines of one piece of site work over serial ports: a port and its worker per line,
// opened when the work starts and closed when it ends, and each door's address stamped
// on its requests. The window, the command line and the benchmarks use it alike.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/site/site_run.h"

class TAddressedRequester;
class TCommands;
class TLineTrace;
class TSerialPort;

class TSerialSiteLines : public TSiteLines {
  public:
    // Gets each traced line ("...\n", see TLineTrace), from the lines' threads at once:
    // it must write a whole line in one call.
    using TraceWriter = std::function<void(const std::string& line)>;

    // With `trace`, every byte on every line is traced, each line of the trace starting
    // with its line's device path in brackets.
    explicit TSerialSiteLines(TraceWriter trace = {});
    ~TSerialSiteLines() override;
    TRequester* Door(const std::string& line, int address, std::string& error) override;
    // The line's worker itself, for work that addresses each request on its own (the
    // scan); nullptr with the reason when the line cannot be opened.
    TRequester* Worker(const std::string& line, std::string& error);

  private:
    struct Line;
    TCommands* Open(const std::string& line, std::string& error);
    TraceWriter trace_;
    std::map<std::string, std::unique_ptr<Line>> lines_;
    std::vector<std::unique_ptr<TAddressedRequester>> doors_;
};
