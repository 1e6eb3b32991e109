// vardex2-cli: the program's controller jobs and file operations from a terminal.
#include <CLI/CLI.hpp>
#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <regex>
#include <set>
#include <string>

#include "cli/cli_command.h"
#include "cli/cli_man.h"
#include "cli/cli_support.h"
#include "core/link/remembered_port.h"
#include "core/system_text.h"

namespace {

std::vector<CliCommand>& Registry() {
    static std::vector<CliCommand> commands;
    return commands;
}

const char* const ExitStatusText =
    "Exit status: 0 success, 1 the operation failed, 2 wrong arguments,\n"
    "3 the port could not be opened, 4 the port cannot be tested (port-test on a\n"
    "pseudo-terminal), 5 refused before any traffic,\n"
    "11 write to the controller failed, 12 read failed, 13 bad link,\n"
    "14 no answer from the controller in time.";

const char* const PortText =
    "Without --port the port is the one named by the environment variable VARDEX2_PORT,\n"
    "else the one the program last used (\"ComPort\" in ~/.config/Vardex2/Vardex2.conf).";

const char* const AddressHelp =
    "the controller's address on its line (0 to 254), for this command only; without it "
    "the file's own (\"Address\"), else 0";

CLI::Range AddressRange() {
    return CLI::Range(0, 254);
}

// CLI11 reports in English; the operator reads Russian. Its messages are stable within
// the packaged version, so their shapes are matched here and the names kept.
std::string RussianParseError(const CLI::ParseError& e, bool haveCommand) {
    const std::string what = e.what();
    std::smatch m;
    auto match = [&](const char* pattern) {
        return std::regex_match(what, m, std::regex(pattern));
    };
    if (dynamic_cast<const CLI::ExtrasError*>(&e) != nullptr &&
        match("The following arguments? (?:was|were) not expected: (\\S+).*")) {
        const std::string word = m[1];
        if (!word.empty() && word[0] == '-')
            return "Неизвестный параметр: " + word;
        return (haveCommand ? "Лишний аргумент: " : "Неизвестная команда: ") + word;
    }
    if (match("(\\S+) excludes (\\S+)"))
        return "Параметры " + std::string(m[1]) + " и " + std::string(m[2]) +
               " нельзя указать вместе";
    if (match("(.+) is required"))
        return "Не указан обязательный аргумент " + std::string(m[1]);
    if (match("(\\S+): \\d+ required .* missing"))
        return "Не указано значение параметра " + std::string(m[1]);
    if (match("(\\S+): At Most \\d+ required but received \\d+"))
        return "Параметр " + std::string(m[1]) + " указан больше одного раза";
    if (match("Expected exactly \\d+ arguments? to (\\S+).*"))
        return "Неверное число значений параметра " + std::string(m[1]);
    if (match("Could not convert: (\\S+) = (.*)"))
        return "Недопустимое значение параметра " + std::string(m[1]) + ": " + std::string(m[2]);
    if (match("The value (.*) is not an allowed value for (\\S+)"))
        return "Недопустимое значение параметра " + std::string(m[2]) + ": " + std::string(m[1]);
    if (match("(\\S+): (.*)"))
        return "Недопустимое значение параметра " + std::string(m[1]);
    return "Неверные аргументы командной строки";
}

// The list of commands shows each one's synopsis, and a command's own help starts
// with it, so both read like the command lines a script would write.
class TFormatter : public CLI::Formatter {
  public:
    std::map<const CLI::App*, std::string> synopses;

    std::string make_subcommand(const CLI::App* sub) const override {
        std::string out = "  " + Synopsis(sub) + "\n";
        for (const std::string& line : Wrap(sub->get_description(), 72))
            out += "      " + line + "\n";
        return out;
    }
    std::string make_usage(const CLI::App* app, std::string name) const override {
        if (app->get_parent() == nullptr)
            return CLI::Formatter::make_usage(app, name);
        return "Usage: vardex2-cli " + Synopsis(app) + "\n";
    }

  private:
    std::string Synopsis(const CLI::App* sub) const {
        auto it = synopses.find(sub);
        return it != synopses.end() ? it->second : sub->get_name();
    }
    static std::vector<std::string> Wrap(const std::string& text, size_t width) {
        std::vector<std::string> lines;
        std::string line;
        size_t at = 0;
        while (at < text.size()) {
            size_t end = text.find(' ', at);
            if (end == std::string::npos)
                end = text.size();
            const std::string word = text.substr(at, end - at);
            if (!line.empty() && line.size() + 1 + word.size() > width) {
                lines.push_back(line);
                line.clear();
            }
            line += (line.empty() ? "" : " ") + word;
            at = end + 1;
        }
        if (!line.empty())
            lines.push_back(line);
        return lines;
    }
};

}  // namespace

bool RegisterCliCommand(const CliCommand& command) {
    Registry().push_back(command);
    return true;
}

const std::vector<CliCommand>& CliCommands() {
    return Registry();
}

bool CliArgs::TakeOption(const std::string& name, std::string& value) {
    auto it = options.find(name);
    if (it == options.end())
        return false;
    value = it->second;
    options.erase(it);
    return true;
}

bool CliArgs::TakeFlag(const std::string& name) {
    return flags.erase(name) > 0;
}

CliDefine& CliDefine::Arg(const std::string& name, const std::string& help) {
    // Callbacks run in the order the options were declared, so the words keep it.
    app_.add_option_function<std::string>(
            name, [&args = args_](const std::string& v) { args.words.push_back(v); }, help)
        ->required()
        ->type_name("");
    synopsis_ += " " + name;
    return *this;
}

CliDefine& CliDefine::OptionalArg(const std::string& name, const std::string& help) {
    app_.add_option_function<std::string>(
            name, [&args = args_](const std::string& v) { args.words.push_back(v); }, help)
        ->type_name("");
    synopsis_ += " [" + name + "]";
    return *this;
}

CliDefine& CliDefine::Rest(const std::string& name, const std::string& help) {
    app_.add_option_function<std::vector<std::string>>(
            name,
            [&args = args_](const std::vector<std::string>& v) {
                args.words.insert(args.words.end(), v.begin(), v.end());
            },
            help)
        ->type_name("");
    synopsis_ += " [" + name + "...]";
    return *this;
}

CliDefine& CliDefine::Option(const std::string& name, const std::string& value,
                             const std::string& help) {
    app_.add_option_function<std::string>(
            name, [&args = args_, name](const std::string& v) { args.options[name] = v; }, help)
        ->type_name(value);
    synopsis_ += " [" + name + " " + value + "]";
    return *this;
}

CliDefine& CliDefine::Flag(const std::string& name, const std::string& help) {
    app_.add_flag_function(
        name, [&args = args_, name](std::int64_t) { args.flags.insert(name); }, help);
    synopsis_ += " [" + name + "]";
    return *this;
}

CliDefine& CliDefine::Json() {
    app_.add_flag("--json", args_.json, "print one JSON object on standard output");
    synopsis_ += " [--json]";
    return *this;
}

CliDefine& CliDefine::Link() {
    app_.add_option("--port", args_.port, "the serial port of the controller")->type_name("DEVICE");
    app_.add_option("--address", args_.address, AddressHelp)->type_name("N")->check(AddressRange());
    app_.add_option("--trace", args_.trace,
                    "write every attempt of every request to FILE (- for standard error)")
        ->type_name("FILE");
    app_.add_flag("-q,--quiet", args_.quiet,
                  "no job log on standard error (errors and questions still come)");
    link_ = true;
    return *this;
}

CliDefine& CliDefine::Format() {
    app_.add_option("--format", args_.format, "show key numbers as iButton or EM-Marine keys")
        ->type_name("ibutton|em");
    synopsis_ += " [--format ibutton|em]";
    return *this;
}

CliDefine& CliDefine::Yes() {
    app_.add_flag("-y,--yes", args_.yes, "do not ask: the answer to every question is yes");
    synopsis_ += " [--yes]";
    return *this;
}

std::string CliDefine::Synopsis(const std::string& name) const {
    return (link_ ? "--port DEVICE " : "") + name + synopsis_;
}

CliDefine& CliDefine::Excludes(const std::string& one, const std::string& other) {
    app_.get_option(one)->excludes(other);
    return *this;
}

CliDefine& CliDefine::Footer(const std::string& text) {
    app_.footer(text);
    return *this;
}

int main(int argc, char** argv) {
    CliSetJournalReporter();
    CliArgs args;
    CLI::App app(
        "vardex2-cli: the controller jobs and file operations of Vardex 2 from a "
        "terminal.",
        "vardex2-cli");
    app.footer(std::string(PortText) + "\n\n" + ExitStatusText);
    app.set_help_flag("-h,--help", "print this help and exit");
    auto formatter = std::make_shared<TFormatter>();
    formatter->label("SUBCOMMAND", "COMMAND");
    formatter->label("Positionals", "Arguments");
    app.formatter(formatter);
    // The global options, accepted before the command as well as after it.
    app.add_option("--port", args.port, "the serial port of the controller")->type_name("DEVICE");
    app.add_option("--format", args.format, "show key numbers as iButton or EM-Marine keys")
        ->type_name("ibutton|em");
    app.add_flag("-y,--yes", args.yes, "do not ask: the answer to every question is yes");
    app.add_option("--trace", args.trace,
                   "write every attempt of every request to FILE (- for standard error)")
        ->type_name("FILE");
    app.add_flag("-q,--quiet", args.quiet,
                 "no job log on standard error (errors and questions still come)");
    app.set_version_flag("-V,--version", "vardex2-cli " VX_VERSION, "print the version and exit");
    app.add_option("--address", args.address, AddressHelp)->type_name("N")->check(AddressRange());

    // The manual page is made from these definitions at build time; not for people.
    bool manPage = false;
    app.add_flag("--man-page", manPage, "print the manual page (roff)")->group("");

    auto commands = Registry();
    std::sort(commands.begin(), commands.end(), [](const CliCommand& a, const CliCommand& b) {
        return std::strcmp(a.name, b.name) < 0;
    });
    std::vector<std::pair<CLI::App*, const CliCommand*>> subs;
    std::set<const CLI::App*> needPort, traced;
    for (const auto& c : commands) {
        CLI::App* sub = app.add_subcommand(c.name, c.summary);
        sub->fallthrough();  // the global options after the command go to the parent
        sub->group("Commands");
        sub->set_help_flag("-h,--help", "print this help and exit");
        CliDefine define(*sub, args);
        if (c.define)
            c.define(define);
        formatter->synopses[sub] = define.Synopsis(c.name);
        if (define.TalksToController())
            needPort.insert(sub);
        if (define.Traced())
            traced.insert(sub);
        subs.emplace_back(sub, &c);
    }

    // help COMMAND: that command's help, as COMMAND --help shows it (answered below).
    CLI::App* help = app.add_subcommand("help", "print the help of COMMAND, or this list");
    help->group("Commands");
    help->set_help_flag("-h,--help", "print this help and exit");
    help->add_option("COMMAND", "a command")->type_name("");
    formatter->synopses[help] = "help [COMMAND]";

    auto chosen = [&]() -> const std::pair<CLI::App*, const CliCommand*>* {
        for (const auto& s : subs) {
            if (s.first->parsed())
                return &s;
        }
        return nullptr;
    };
    // help [COMMAND] is answered before the parse: the parser would take the name of a
    // command for that command.
    if (argc >= 2 && argc <= 3 && std::strcmp(argv[1], "help") == 0 &&
        (argc == 2 || argv[2][0] != '-')) {
        if (argc == 2) {
            std::fputs(app.help().c_str(), stdout);
            return CliOk;
        }
        for (const auto& sub : subs) {
            if (sub.first->get_name() == argv[2]) {
                std::fputs(sub.first->help().c_str(), stdout);
                return CliOk;
            }
        }
        std::fprintf(stderr, "Неизвестная команда: %s\nСправка: vardex2-cli --help\n", argv[2]);
        return CliUsage;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {
        return app.exit(e);  // --help
    } catch (const CLI::ParseError& e) {
        const auto* s = chosen();
        std::fprintf(stderr, "%s\n", RussianParseError(e, s != nullptr).c_str());
        std::fprintf(stderr, "Справка: vardex2-cli%s%s --help\n", s ? " " : "",
                     s ? s->second->name : "");
        return CliUsage;
    }
    if (manPage) {
        std::fputs(CliManPage(app, formatter->synopses).c_str(), stdout);
        return CliOk;
    }
    const auto* s = chosen();
    if (s == nullptr) {
        std::fprintf(stderr, "%s", app.help().c_str());
        return CliUsage;
    }
    // Without --port: the environment's, else the remembered one. When there is none
    // either, opening "" says that no port was chosen.
    if (args.port.empty() && needPort.count(s->first) != 0)
        args.port = DefaultPort().value_or(std::string());
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> traceFile(nullptr, std::fclose);
    if (!args.trace.empty() && traced.count(s->first) != 0) {
        if (args.trace == "-") {
            args.traceFile = stderr;
        } else {
            traceFile.reset(std::fopen(args.trace.c_str(), "we"));
            if (!traceFile) {
                std::fprintf(stderr, "Не удалось открыть файл трассировки %s: %s\n",
                             args.trace.c_str(), SystemErrorText(errno).c_str());
                return CliFailed;
            }
            args.traceFile = traceFile.get();
        }
    }
    int status = s->second->run(args);
    if (status == CliOk && CliJournalFailed())
        status = CliFailed;
    return CliCloseStandardOutput(status);
}
