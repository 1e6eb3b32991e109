// vardex2-cli journal: the journal of changes beside a database file.
#include <atomic>
#include <cstdio>
#include <string>

#include "cli/cli_command.h"
#include "cli/cli_json.h"
#include "cli/cli_support.h"
#include "core/keys/journal.h"

namespace {

// The fields in the order of the file's columns, as every --json object keeps its order.
CliJson AsJson(const journal::Line& line) {
    if (!line.wellFormed) {
        return {{"line", line.entry.description}};
    }
    return {{"time", line.time},
            {"login", line.login},
            {"host", line.host},
            {"operation", line.entry.operation},
            {"key", line.entry.key},
            {"key_hex", journal::KeyHex(line.entry.key)},
            {"description", line.entry.description},
            {"old", line.entry.oldValue},
            {"new", line.entry.newValue},
            {"outcome", line.entry.outcome}};
}

int RunJournal(CliArgs& args) {
    const std::string& path = args.words.at(0);
    std::vector<journal::Line> lines;
    if (const std::string error = journal::ReadJournal(path, lines); !error.empty()) {
        std::fprintf(stderr, "%s: %s\n", journal::JournalPath(path).c_str(), error.c_str());
        return CliFailed;
    }
    std::string out;
    if (args.json) {
        CliJson entries = CliJson::array();
        for (const auto& line : lines) {
            entries.push_back(AsJson(line));
        }
        // A description may hold bytes that are not UTF-8 (escaped in the file as such):
        // they come out replaced rather than ending the output.
        CliPrintJson({{"journal", journal::JournalPath(path)}, {"entries", std::move(entries)}});
        return CliOk;
    } else {
        // The lines as the file keeps them, escapes and all, so that each stays one line
        // for grep and cut.
        for (const auto& line : lines) {
            if (!line.wellFormed) {
                out += journal::Escape(line.entry.description) + "\n";
                continue;
            }
            const std::string* fields[] = {&line.time,           &line.login,
                                           &line.host,           &line.entry.operation,
                                           &line.entry.key,      &line.entry.description,
                                           &line.entry.oldValue, &line.entry.newValue,
                                           &line.entry.outcome};
            for (const std::string* field : fields) {
                out += journal::Escape(*field);
                out += field == fields[8] ? '\n' : '\t';
            }
        }
    }
    std::fwrite(out.data(), 1, out.size(), stdout);
    std::fflush(stdout);
    return CliOk;
}

}  // namespace

VX_CLI_COMMAND(
    "journal", "print the journal of changes of a database file (FILE.journal), oldest first",
    [](CliDefine& d) {
        d.Arg("FILE", "the database file (.vx2)").Json();
        d.Footer(
            "Each line: time (UTC), login, host, operation, key, description, old value, new "
            "value, outcome; tab-separated, with tabs, line breaks and control characters "
            "escaped as \\t \\n \\r \\xHH.");
    },
    RunJournal);

namespace {

std::atomic<bool> g_journalFailed{false};

}  // namespace

// A journal that cannot be written is told on standard error, and the command then fails
// (CliJournalFailed), although the change itself has been made: a script must hear that
// the record of it is missing. Set from main: a reporter set while statics are still being
// made could be wiped by the journal's own.
void CliSetJournalReporter() {
    journal::SetReporter([](const std::string& journalPath, const std::string& error) {
        g_journalFailed = true;
        std::string text = journal::FailureText(journalPath, error);
        for (char& c : text) {
            if (c == '\r')
                c = '\n';
        }
        std::fprintf(stderr, "%s\n", text.c_str());
    });
}

bool CliJournalFailed() {
    return g_journalFailed.load();
}
