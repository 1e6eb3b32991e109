#include "cli/cli_man.h"

#include <CLI/CLI.hpp>

namespace {

// Text as roff shows it literally: backslashes and hyphens escaped, and no line that
// starts with a control character.
std::string Roff(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\\')
            out += "\\e";
        else if (c == '-')
            out += "\\-";
        else
            out += c;
    }
    std::string lines;
    size_t at = 0;
    while (at <= out.size()) {
        size_t end = out.find('\n', at);
        if (end == std::string::npos)
            end = out.size();
        std::string line = out.substr(at, end - at);
        if (!line.empty() && (line[0] == '.' || line[0] == '\''))
            line = "\\&" + line;
        lines += line;
        if (end < out.size())
            lines += '\n';
        at = end + 1;
    }
    return lines;
}

// One option or argument as a tagged paragraph.
std::string Item(const CLI::Option* opt) {
    std::string tag;
    if (opt->get_positional()) {
        tag = "\\fI" + Roff(opt->get_name(true)) + "\\fR";
    } else {
        std::string names = opt->get_name(false, true);
        if (auto comma = names.find(','); comma != std::string::npos)
            names.insert(comma + 1, " ");
        tag = "\\fB" + Roff(names) + "\\fR";
        const std::string type = opt->get_type_name();
        if (opt->get_type_size() != 0 && !type.empty())
            tag += " \\fI" + Roff(type) + "\\fR";
    }
    return ".TP\n" + tag + "\n" + Roff(opt->get_description()) + "\n";
}

// The options and arguments of `app`, leaving out those of `globals` (said once above).
std::string Items(const CLI::App& app, const CLI::App* globals = nullptr) {
    std::string out;
    for (const CLI::Option* opt : app.get_options()) {
        if (opt == app.get_help_ptr() || opt->get_group().empty())
            continue;
        if (globals != nullptr && !opt->get_positional() &&
            globals->get_option_no_throw(opt->get_name()) != nullptr)
            continue;
        out += Item(opt);
    }
    return out;
}

}  // namespace

std::string CliManPage(const CLI::App& app,
                       const std::map<const CLI::App*, std::string>& synopses) {
    std::string out =
        ".TH VARDEX2\\-CLI 1 \"" VX_RELEASE_DATE "\" \"Vardex 2 " VX_VERSION
        "\" \"User Commands\"\n"
        ".SH NAME\n"
        "vardex2\\-cli \\- the controller jobs and file operations of Vardex 2 from a terminal\n"
        ".SH SYNOPSIS\n"
        ".B vardex2\\-cli\n"
        "[\\fB\\-\\-port\\fR \\fIDEVICE\\fR] [\\fIOPTIONS\\fR] \\fICOMMAND\\fR "
        "[\\fIARGUMENTS\\fR]\n"
        ".br\n"
        ".B vardex2\\-cli\n"
        "\\fICOMMAND\\fR \\fB\\-\\-help\\fR\n"
        ".SH DESCRIPTION\n"
        "The same jobs as the program \\fBvardex2\\fR, with the same log lines, for scripts "
        "and backups. Messages to the operator are in Russian; commands that print data "
        "take \\fB\\-\\-json\\fR and then print one JSON object instead.\n"
        "Commands that clear or overwrite the controller ask on the terminal, or need "
        "\\fB\\-\\-yes\\fR; without a terminal and without \\fB\\-\\-yes\\fR they refuse.\n"
        "The global options may stand before or after the command.\n"
        ".SH GLOBAL OPTIONS\n";
    out += Items(app);
    out += ".SH COMMANDS\n";
    std::vector<const CLI::App*> subs = app.get_subcommands([](const CLI::App*) { return true; });
    std::sort(subs.begin(), subs.end(),
              [](const CLI::App* a, const CLI::App* b) { return a->get_name() < b->get_name(); });
    for (const CLI::App* sub : subs) {
        auto it = synopses.find(sub);
        const std::string synopsis = it != synopses.end() ? it->second : sub->get_name();
        out +=
            ".SS \"vardex2\\-cli " + Roff(synopsis) + "\"\n" + Roff(sub->get_description()) + "\n";
        out += ".RS\n" + Items(*sub, &app);
        // The notes after the options in the command's --help, one paragraph a line (a
        // command without notes of its own shows the program's, said once below).
        const std::string footer = sub->get_footer() == app.get_footer() ? "" : sub->get_footer();
        size_t at = 0;
        while (at < footer.size()) {
            size_t end = footer.find('\n', at);
            if (end == std::string::npos)
                end = footer.size();
            if (end > at)
                out += ".PP\n" + Roff(footer.substr(at, end - at)) + "\n";
            at = end + 1;
        }
        out += ".RE\n";
    }
    out +=
        ".SH ENVIRONMENT\n"
        ".TP\n"
        ".B VARDEX2_PORT\n"
        "The port to use when \\fB\\-\\-port\\fR is left out.\n"
        ".SH FILES\n"
        ".TP\n"
        ".I ~/.config/Vardex2/Vardex2.conf\n"
        "The settings of \\fBvardex2\\fR. Without \\fB\\-\\-port\\fR and without "
        "\\fBVARDEX2_PORT\\fR, the port is the one the program last used (ComPort).\n"
        ".TP\n"
        ".I FILE.journal\n"
        "The journal of changes beside the database \\fIFILE\\fR: one line per change to "
        "the controller or the file (time in UTC, login, host, operation, key, description, "
        "old and new value, outcome, tab\\-separated), appended, never rewritten; "
        "\\fBjournal\\fR prints it.\n"
        ".TP\n"
        ".I $XDG_DATA_HOME/Vardex2/backups/\n"
        "(by default \\fI~/.local/share/Vardex2/backups/\\fR) The copies of what a "
        "controller held, kept by \\fBreconcile\\fR before it writes; the newest 20 per "
        "database.\n"
        ".TP\n"
        ".I .vx2\\-HASH.lock\n"
        "Beside a database, held while a command or the program changes it, so that two "
        "writers never lose an update; \\fI.vx2\\-HASH.safe\\fR and "
        "\\fI.vx2\\-HASH\\-*.tmp\\fR are the write in progress (a stale one is removed by the "
        "next writer).\n"
        ".SH EXAMPLES\n"
        ".nf\n"
        "vardex2\\-cli \\-\\-port /dev/ttyUSB0 link\\-check\n"
        "vardex2\\-cli \\-\\-port /dev/ttyUSB0 load backup.vx2\n"
        "vardex2\\-cli \\-\\-port /dev/ttyUSB0 check doors.vx2 \\-\\-add\n"
        "vardex2\\-cli \\-\\-port /dev/ttyUSB0 reconcile doors.vx2 \\-\\-dry\\-run\n"
        "vardex2\\-cli \\-\\-port /dev/ttyUSB0 reconcile doors.vx2 \\-\\-yes\n"
        "vardex2\\-cli \\-\\-port /dev/ttyUSB0 add doors.vx2 12ABCD \"Иванов И. И.\"\n"
        "vardex2\\-cli list doors.vx2 \\-\\-json\n"
        "vardex2\\-cli journal doors.vx2 | grep remove\n"
        ".fi\n"
        ".PP\n"
        "The first line checks the link; the second reads the whole controller into a new "
        "file; the third adds to the file the keys the controller holds and the file lacks; "
        "the fourth and fifth show and then write only the differences between the file "
        "and the controller. Scripts read standard output (the data) and leave standard "
        "error (the log, questions and errors) to the operator.\n"
        ".SH EXIT STATUS\n"
        "0 success, 1 the operation failed, 2 wrong arguments, 3 the port could not be "
        "opened, 4 the port cannot be tested (port\\-test on a pseudo\\-terminal), 5 refused "
        "before "
        "any traffic, 11 write to the controller failed, 12 read "
        "failed, 13 bad link, 14 no answer from the controller in time, 15 the controller "
        "refused the request (a non-zero status in its reply).\n"
        ".SH SEE ALSO\n"
        ".BR vardex2 (1),\n"
        ".BR vardex2\\-sim (1)\n";
    return out;
}
