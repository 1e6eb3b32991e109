#include "core/site/serial_lines.h"

#include "core/link/commands.h"
#include "core/link/line_trace.h"
#include "core/link/requester.h"
#include "core/link/serial_port.h"

struct TSerialSiteLines::Line {
    std::unique_ptr<TSerialPort> port;
    std::unique_ptr<TLineTrace> trace;
    std::unique_ptr<TCommands> worker;
    std::string error;
};

TSerialSiteLines::TSerialSiteLines(TraceWriter trace) : trace_(std::move(trace)) {}

TSerialSiteLines::~TSerialSiteLines() {
    doors_.clear();
    for (auto& [line, l] : lines_) {
        l->worker.reset();  // stops the worker before its port goes
        if (l->port)
            l->port->Close();
    }
}

TCommands* TSerialSiteLines::Open(const std::string& line, std::string& error) {
    auto it = lines_.find(line);
    if (it == lines_.end()) {
        auto l = std::make_unique<Line>();
        l->port = std::make_unique<TSerialPort>();
        if (!l->port->Open(line, l->error)) {
            l->port.reset();
        } else if (trace_) {
            l->trace = std::make_unique<TLineTrace>(
                *l->port, [this, prefix = "[" + line + "] "](const std::string& text) {
                    trace_(prefix + text);
                });
            l->worker = std::make_unique<TCommands>(*l->trace, l->trace.get());
        } else {
            l->worker = std::make_unique<TCommands>(*l->port);
        }
        it = lines_.emplace(line, std::move(l)).first;
    }
    if (!it->second->worker) {
        error = "Ошибка подключения к порту " + line + ": " + it->second->error;
        return nullptr;
    }
    return it->second->worker.get();
}

TRequester* TSerialSiteLines::Worker(const std::string& line, std::string& error) {
    return Open(line, error);
}

TRequester* TSerialSiteLines::Door(const std::string& line, int address, std::string& error) {
    TCommands* worker = Open(line, error);
    if (!worker)
        return nullptr;
    doors_.push_back(
        std::make_unique<TAddressedRequester>(*worker, static_cast<std::uint8_t>(address)));
    return doors_.back().get();
}
