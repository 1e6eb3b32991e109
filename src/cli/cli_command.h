// Each vardex2-cli command registers itself here from its own source file, so the
// commands of different areas live apart and `--help` lists them all.
#pragma once

#include <string>
#include <vector>

// What main() parsed from the command line: the global options and the rest.
struct CliArgs {
    std::string port;                // --port DEVICE
    std::string format;              // --format ibutton|em (empty: the file's own)
    bool yes = false;                // --yes: do not ask
    std::vector<std::string> words;  // the command's own arguments and options, in order

    // Takes "--name VALUE" out of `words`; false when absent.
    bool TakeOption(const std::string& name, std::string& value);
    // Takes "--name" out of `words`; false when absent.
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
    CliRefused = 5,  // refused before any traffic (duplicate, bad number, no terminal to ask)
};

struct CliCommand {
    const char* name;
    const char* synopsis;  // "--port DEVICE clear --yes"
    const char* summary;   // one line for --help
    int (*run)(CliArgs& args);
};

bool RegisterCliCommand(const CliCommand& command);
const std::vector<CliCommand>& CliCommands();

#define VX_CLI_CONCAT2(a, b) a##b
#define VX_CLI_CONCAT(a, b) VX_CLI_CONCAT2(a, b)
#define VX_CLI_COMMAND(...)                                       \
    static const bool VX_CLI_CONCAT(vxCliRegistered_, __LINE__) = \
        RegisterCliCommand(CliCommand{__VA_ARGS__})
