// vardex2-cli list / show: a database file as the main window would show it.
#include <cstdio>
#include <string>

#include "cli/cli_command.h"
#include "cli/cli_json.h"
#include "cli/cli_support.h"
#include "core/keys/cp1251.h"
#include "core/keys/database.h"
#include "core/keys/display_list.h"
#include "core/keys/key_csv.h"

namespace {

bool TakeFile(CliArgs& args, const char* command, std::string& path) {
    if (args.words.size() != 1 || args.words[0].empty() || args.words[0] == "-") {
        std::fprintf(stderr, "Использование: vardex2-cli %s FILE\n", command);
        return false;
    }
    path = args.words[0];
    return true;
}

// The file named by the command's one argument, and the format to show it in: CliOk,
// or the exit status. `r` keeps the load's result: a key list ended early is told
// after the output.
int LoadForDisplay(CliArgs& args, const char* command, DbModel& model, DbResult& r,
                   int& typeFormat) {
    std::string path;
    if (!TakeFile(args, command, path))
        return CliUsage;
    if (!args.format.empty() && !CliFormatOption(args, 0, typeFormat))
        return CliUsage;
    r = CliLoadDb(path, model);
    if (!r) {
        std::fprintf(stderr, "%s\n", r.error.c_str());
        return CliFailed;
    }
    CliFormatOption(args, model.TypeFormat, typeFormat);
    return CliOk;
}

int RunList(CliArgs& args) {
    DbModel model;
    DbResult r;
    int typeFormat = 0;
    if (int status = LoadForDisplay(args, "list", model, r, typeFormat); status != CliOk)
        return status;
    if (args.TakeFlag("--csv")) {
        // What "Сохранить список в CSV..." writes: a spreadsheet opens it, the import
        // reads it back unchanged.
        const std::string csv = KeysToCsv(typeFormat, model.keys);
        std::fwrite(csv.data(), 1, csv.size(), stdout);
        std::fflush(stdout);
        if (!r.error.empty()) {
            std::fprintf(stderr, "%s\n", r.error.c_str());
            return CliFailed;
        }
        return CliOk;
    }
    std::vector<DisplayRow> rows = SortedDisplayRows(typeFormat, model.keys);
    if (args.json) {
        CliJson keys = CliJson::array();
        for (const DisplayRow& row : rows) {
            CliJson key = CliKeyJson(typeFormat, model.keys[row.key].code);
            key["description"] = Cp1251ToUtf8(model.keys[row.key].description);
            keys.push_back(std::move(key));
        }
        // Entries with no valid key number: their text, never a number made from it.
        CliJson invalid = CliJson::array();
        for (const DbInvalidEntry& entry : model.invalid)
            invalid.push_back({{"name", Cp1251ToUtf8(entry.name)},
                               {"description", Cp1251ToUtf8(entry.description)}});
        CliPrintJson({{"format", CliFormatName(typeFormat)},
                      {"keys", std::move(keys)},
                      {"invalid", std::move(invalid)}});
    } else {
        std::string out;
        out.reserve(rows.size() * 64);
        for (const DisplayRow& row : rows) {
            out.append(row.Text());
            out.push_back('\t');
            // A terminal must not obey a description, nor a tab split its row.
            out.append(EscapeControlCharacters(Cp1251ToUtf8(model.keys[row.key].description)));
            out.push_back('\n');
        }
        std::fwrite(out.data(), 1, out.size(), stdout);
        std::fflush(stdout);
    }
    if (!r.error.empty()) {
        // A key name that is not a number ended the list, as it ends a load.
        std::fprintf(stderr, "%s\n", r.error.c_str());
        return CliFailed;
    }
    return CliOk;
}

int RunShow(CliArgs& args) {
    DbModel model;
    DbResult r;
    int typeFormat = 0;
    if (int status = LoadForDisplay(args, "show", model, r, typeFormat); status != CliOk)
        return status;
    std::string vardex = model.Vardex == 0 ? "Отсутствует" : Format(typeFormat, model.Vardex);
    if (args.json) {
        CliPrintJson(
            {{"open_seconds", model.TimeOpen},
             {"retry_seconds", model.RetryRead},
             {"file_format", CliFormatName(model.TypeFormat)},
             {"format", CliFormatName(typeFormat)},
             {"vardex", model.Vardex != 0 ? CliKeyJson(typeFormat, model.Vardex) : CliJson()},
             {"address", model.AddressInFile ? *model.AddressInFile : model.Address},
             {"key_count", model.keys.size()},
             {"invalid_entry_count", model.invalid.size()}});
    } else {
        std::printf("Время открывания замка: %d сек.\n", model.TimeOpen);
        std::printf("Повторное считывание карты (ключа): %d сек.\n", model.RetryRead);
        std::printf("Формат отображения: %d (%s)\n", model.TypeFormat,
                    TypeFormatCaption(model.TypeFormat));
        std::printf("Вардекс: %s\n", vardex.c_str());
        // A controller alone on its line (address 0) shows as it always has.
        if (model.Address != 0)
            std::printf("Адрес на линии: %d%s\n",
                        model.AddressInFile ? *model.AddressInFile : model.Address,
                        model.AddressInFile ? " (вне пределов 0–254)" : "");
        std::printf("Карт(ключей) в базе: %zu\n", model.keys.size());
        if (!model.invalid.empty())
            std::printf("Записей с недопустимым номером: %zu\n", model.invalid.size());
    }
    std::fflush(stdout);
    if (!r.error.empty()) {
        std::fprintf(stderr, "%s\n", r.error.c_str());
        return CliFailed;
    }
    return CliOk;
}

}  // namespace

VX_CLI_COMMAND(
    "list", "list the keys of a database file: number, tab, description, by number",
    [](CliDefine& d) {
        d.Arg("FILE", "the database file (.vx2)")
            .Format()
            .Json()
            .Flag("--csv",
                  "write CSV instead (UTF-8 with a byte order mark, ';', a header row), as "
                  "the program's \"Сохранить список в CSV...\" does; `import` reads it back");
        d.Excludes("--csv", "--json");
    },
    RunList);
VX_CLI_COMMAND(
    "show", "show the settings and the vardex of a database file",
    [](CliDefine& d) { d.Arg("FILE", "the database file (.vx2)").Format().Json(); }, RunShow);
