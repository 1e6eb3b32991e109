// Each vardex2-cli command registers itself here from its own source file, so the
// commands of different areas live apart and `--help` lists them all. A command names
// its arguments and options in a `define` function; main() parses the whole command
// line with CLI11 and hands the command what was given:
//
//     void DefineList(CliDefine& d) {
//         d.Arg("FILE", "the database file (.vx2)");
//         d.Json();                          // --json, into args.json
//     }
//     int RunList(CliArgs& args) { ... args.words[0] ... }
//     VX_CLI_COMMAND("list", "list the keys of a database file", DefineList, RunList);
//
// Commands that talk to the controller call d.Link(): their help shows --port and
// --trace, and CliLink finds the port even when --port is left out.
#pragma once

#include <cstdio>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace CLI {
class App;
}

// What the command line gave the command.
struct CliArgs {
    std::string port;                            // --port DEVICE (empty: CliLink looks it up)
    std::string format;                          // --format ibutton|em (empty: the file's own)
    bool yes = false;                            // --yes: do not ask
    bool json = false;                           // --json: one JSON object on standard output
    bool quiet = false;                          // -q, --quiet: no job log on standard error
    std::string trace;                           // --trace FILE|-: the line trace (empty: none)
    int address = -1;                            // --address N (0..254); -1: the file's own
    std::FILE* traceFile = nullptr;              // where it goes, opened before the command runs
    std::vector<std::string> words;              // the positional arguments given, in order
    std::map<std::string, std::string> options;  // d.Option() values given, by name
    std::set<std::string> flags;                 // d.Flag() names given

    // The value of a d.Option() when it was given; taken, so that it is read once.
    bool TakeOption(const std::string& name, std::string& value);
    // True when the d.Flag() was given.
    bool TakeFlag(const std::string& name);
};

// Exit statuses shared by every command.
enum CliStatus {
    CliOk = 0,
    CliFailed = 1,         // an operation failed; its text is on standard error
    CliUsage = 2,          // wrong arguments
    CliPortNotOpened = 3,  // the port could not be opened
    // 10 + a link result code (11 write failed, 12 read failed, 13 bad link, 14 time-out)
    CliLinkBase = 10,
    CliControllerRefused = 15,  // the controller answered with a non-zero status
    CliRefused = 5,  // refused before any traffic (duplicate, bad number, no terminal to ask)
};

// Declares one command's arguments and options on its CLI11 subcommand. Positional
// arguments arrive in args.words in the order declared; help texts are English.
class CliDefine {
  public:
    CliDefine(CLI::App& app, CliArgs& args) : app_(app), args_(args) {}

    CliDefine& Arg(const std::string& name, const std::string& help);          // required
    CliDefine& OptionalArg(const std::string& name, const std::string& help);  // may be left out
    // Any number of further positional words (after those declared before it).
    CliDefine& Rest(const std::string& name, const std::string& help);
    CliDefine& Option(const std::string& name, const std::string& value, const std::string& help);
    CliDefine& Flag(const std::string& name, const std::string& help);
    CliDefine& Json();    // --json
    CliDefine& Link();    // talks to the controller: --port, --trace
    CliDefine& Format();  // --format ibutton|em
    CliDefine& Yes();     // --yes, for commands that ask
    // Two options that cannot be given together (an argument error).
    CliDefine& Excludes(const std::string& one, const std::string& other);
    // Text shown after the options in the command's --help.
    CliDefine& Footer(const std::string& text);

    // For whatever the helpers above do not cover.
    CLI::App& App() { return app_; }
    CliArgs& Args() { return args_; }

    // The command line in short for the list of commands ("--port DEVICE add FILE KEY
    // [DESCRIPTION]"), and whether the command needs a port.
    std::string Synopsis(const std::string& name) const;
    bool TalksToController() const { return link_; }
    // Its controllers' lines are named elsewhere (a site's doors), but --trace applies.
    CliDefine& TracesLines() {
        traced_ = true;
        return *this;
    }
    bool Traced() const { return link_ || traced_; }

  private:
    CLI::App& app_;
    CliArgs& args_;
    std::string synopsis_;  // after the command's name
    bool link_ = false;
    bool traced_ = false;
};

struct CliCommand {
    const char* name;
    const char* summary;  // one line for --help, English
    void (*define)(CliDefine& d);
    int (*run)(CliArgs& args);
};

bool RegisterCliCommand(const CliCommand& command);
const std::vector<CliCommand>& CliCommands();

#define VX_CLI_CONCAT2(a, b) a##b
#define VX_CLI_CONCAT(a, b) VX_CLI_CONCAT2(a, b)
#define VX_CLI_COMMAND(...)                                       \
    static const bool VX_CLI_CONCAT(vxCliRegistered_, __LINE__) = \
        RegisterCliCommand(CliCommand{__VA_ARGS__})
