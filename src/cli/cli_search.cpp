// vardex2-cli search: the keys of a file that the list's search field would show.
#include <cstdio>
#include <string>

#include "cli/cli_command.h"
#include "cli/cli_json.h"
#include "cli/cli_support.h"
#include "core/keys/cp1251.h"
#include "core/keys/database.h"
#include "core/keys/display_list.h"
#include "core/keys/key_search.h"

namespace {

int RunSearch(CliArgs& args) {
    const std::string path = args.words.at(0);
    const std::string text = args.words.at(1);
    DbModel model;
    DbResult r = CliLoadDb(path, model);
    if (!r) {
        std::fprintf(stderr, "%s\n", r.error.c_str());
        return CliFailed;
    }
    int typeFormat = model.TypeFormat;
    if (!CliFormatOption(args, model.TypeFormat, typeFormat))
        return CliUsage;

    KeySearchIndex index;
    index.Assign(model.keys);
    std::vector<std::uint8_t> flags;
    index.Match(MakeKeyQuery(typeFormat, text), flags);
    std::vector<DbKey> found;
    for (std::size_t i = 0; i < flags.size(); ++i) {
        if (flags[i])
            found.push_back(std::move(model.keys[i]));
    }
    // In list order, as the window shows the rows that remain.
    const std::vector<DisplayRow> rows = SortedDisplayRows(typeFormat, found);
    if (args.json) {
        CliJson keys = CliJson::array();
        for (const DisplayRow& row : rows) {
            CliJson key = CliKeyJson(typeFormat, row.code);
            key["description"] = Cp1251ToUtf8(found[row.key].description);
            keys.push_back(std::move(key));
        }
        CliPrintJson({{"format", CliFormatName(typeFormat)},
                      {"text", text},
                      {"found", rows.size()},
                      {"total", model.keys.size()},
                      {"keys", std::move(keys)}});
    } else {
        std::string out;
        out.reserve(rows.size() * 64);
        for (const DisplayRow& row : rows) {
            out.append(row.Text());
            out.push_back('\t');
            out.append(EscapeControlCharacters(Cp1251ToUtf8(found[row.key].description)));
            out.push_back('\n');
        }
        std::fwrite(out.data(), 1, out.size(), stdout);
        std::fflush(stdout);
        // The count on standard error keeps standard output the rows alone.
        std::fprintf(stderr, "Найдено: %zu из %zu\n", rows.size(), model.keys.size());
    }
    if (!r.error.empty()) {
        // A key name that is not a number ended the list: the keys after it were not
        // searched.
        std::fprintf(stderr, "%s\n", r.error.c_str());
        return CliFailed;
    }
    return rows.empty() ? CliFailed : CliOk;
}

}  // namespace

VX_CLI_COMMAND(
    "search", "find keys by a number in any form, part of its digits or part of a description",
    [](CliDefine& d) {
        d.Arg("FILE", "the database file (.vx2)")
            .Arg("TEXT",
                 "a key number in any form the file's format reads, part of a number's "
                 "digits in any form, or part of a description (case does not matter)")
            .Format()
            .Json()
            .Footer(
                "Prints the matching keys as `list` does (number, tab, description, by "
                "number) and \"Найдено: N из M\" on standard error.\n"
                "Exit status: 0 keys found, 1 none found (or the file could not be read), "
                "2 wrong arguments.");
    },
    RunSearch);
