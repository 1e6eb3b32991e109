// vardex2-cli: the program's controller jobs and file operations from a terminal.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/cli_command.h"

namespace {

std::vector<CliCommand>& Registry() {
    static std::vector<CliCommand> commands;
    return commands;
}

void PrintHelp(std::FILE* out) {
    std::fprintf(out,
                 "Usage: vardex2-cli [--port DEVICE] [--format ibutton|em] [--yes] COMMAND ...\n\n"
                 "Commands:\n");
    auto commands = Registry();
    std::sort(commands.begin(), commands.end(), [](const CliCommand& a, const CliCommand& b) {
        return std::strcmp(a.name, b.name) < 0;
    });
    for (const auto& c : commands) {
        std::fprintf(out, "  %-44s %s\n", c.synopsis, c.summary);
    }
    std::fprintf(out,
                 "\nExit status: 0 success, 1 the operation failed, 2 wrong arguments,\n"
                 "3 the port could not be opened, 5 refused before any traffic,\n"
                 "11 write to the controller failed, 12 read failed, 13 bad link,\n"
                 "14 no answer from the controller in time.\n");
}

}  // namespace

bool RegisterCliCommand(const CliCommand& command) {
    Registry().push_back(command);
    return true;
}

const std::vector<CliCommand>& CliCommands() {
    return Registry();
}

bool CliArgs::TakeOption(const std::string& name, std::string& value) {
    for (size_t i = 0; i < words.size(); ++i) {
        if (words[i] == name && i + 1 < words.size()) {
            value = words[i + 1];
            words.erase(words.begin() + i, words.begin() + i + 2);
            return true;
        }
        if (words[i].rfind(name + "=", 0) == 0) {
            value = words[i].substr(name.size() + 1);
            words.erase(words.begin() + i);
            return true;
        }
    }
    return false;
}

bool CliArgs::TakeFlag(const std::string& name) {
    auto it = std::find(words.begin(), words.end(), name);
    if (it == words.end())
        return false;
    words.erase(it);
    return true;
}

int main(int argc, char** argv) {
    CliArgs args;
    std::string command;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            PrintHelp(stdout);
            return CliOk;
        }
        if (command.empty() && (a == "--port" || a == "--format") && i + 1 < argc) {
            (a == "--port" ? args.port : args.format) = argv[++i];
        } else if (command.empty() && a.rfind("--port=", 0) == 0) {
            args.port = a.substr(7);
        } else if (command.empty() && a.rfind("--format=", 0) == 0) {
            args.format = a.substr(9);
        } else if (a == "--yes" || a == "-y") {
            args.yes = true;
        } else if (command.empty() && a.rfind("-", 0) != 0) {
            command = a;
        } else {
            args.words.push_back(a);
        }
    }
    // Global options may also follow the command.
    std::string value;
    if (args.port.empty() && args.TakeOption("--port", value))
        args.port = value;
    if (args.format.empty() && args.TakeOption("--format", value))
        args.format = value;
    if (command.empty()) {
        PrintHelp(stderr);
        return CliUsage;
    }
    for (const auto& c : Registry()) {
        if (command == c.name)
            return c.run(args);
    }
    std::fprintf(stderr, "Неизвестная команда: %s\n\n", command.c_str());
    PrintHelp(stderr);
    return CliUsage;
}
