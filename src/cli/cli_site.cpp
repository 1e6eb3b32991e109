// vardex2-cli site: the doors of a building in one site file, and one change to many
// doors (a key revoked everywhere, granted at several doors, its description changed).
#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "cli/cli_command.h"
#include "cli/cli_json.h"
#include "cli/cli_support.h"
#include "core/keys/cp1251.h"
#include "core/keys/database.h"
#include "core/keys/key_number.h"
#include "core/link/requester.h"
#include "core/site/people.h"
#include "core/site/serial_lines.h"
#include "core/site/site_change.h"
#include "core/site/site_file.h"
#include "core/site/site_lines.h"
#include "core/site/site_reconcile.h"
#include "core/site/site_status.h"

namespace {

const char* const SiteUsage =
    "Использование:\n"
    "  vardex2-cli site new SITE NAME [--format ibutton|em]\n"
    "  vardex2-cli site add-door SITE DOOR-NAME FILE --port DEVICE [--address N] [--load]\n"
    "  vardex2-cli site show SITE [--json]\n"
    "  vardex2-cli site status SITE [--json]\n"
    "  vardex2-cli site reconcile SITE [--dry-run] [--yes] [--json]\n"
    "  vardex2-cli site matrix SITE --csv\n"
    "  vardex2-cli site revoke SITE KEY [--yes] [--json]\n"
    "  vardex2-cli site grant SITE KEY DESCRIPTION DOOR... [--json]\n"
    "  vardex2-cli site describe SITE KEY DESCRIPTION [--json]\n"
    "  vardex2-cli site line SITE DOOR-NAME [DEVICE|--clear]";

int Usage() {
    std::fprintf(stderr, "%s\n", SiteUsage);
    return CliUsage;
}

void Fail(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
}

bool Load(const std::string& path, Site& site) {
    SiteResult r = LoadSite(path, site);
    if (!r)
        Fail(r.error);
    return r.ok;
}

bool Save(const std::string& path, const Site& site) {
    SiteResult r = SaveSite(path, site);
    if (!r)
        Fail(r.error);
    return r.ok;
}

// Every door's file as the people view reads it.
struct DoorFiles {
    std::vector<DbModel> models;
    std::vector<DoorKeys> doors;
    std::vector<std::string> names;
};
void ReadDoors(const std::string& sitePath, const Site& site, DoorFiles& files) {
    files.models.resize(site.doors.size());
    for (std::size_t i = 0; i < site.doors.size(); ++i) {
        DoorKeys d;
        DbResult r = LoadDbFile(DoorFilePath(sitePath, site.doors[i]), files.models[i]);
        d.readable = r.ok && r.error.empty();
        d.error = r.ok ? r.error : r.error;
        if (d.readable)
            d.keys = &files.models[i].keys;
        files.doors.push_back(std::move(d));
        files.names.push_back(site.doors[i].name);
    }
}

// --trace: every line's bytes, each trace line led by its device.
TSerialSiteLines::TraceWriter SiteTrace(const CliArgs& args) {
    if (args.traceFile == nullptr)
        return {};
    std::FILE* out = args.traceFile;
    return [out](const std::string& line) {
        std::fputs(line.c_str(), out);  // one call a line: whole among the lines' threads
        std::fflush(out);
    };
}

int RunChange(CliArgs& args, const std::string& sitePath, const Site& site,
              const SiteChange& change) {
    CliInterrupts interrupts;  // before the lines' workers, which must not take the signals
    TSerialSiteLines lines(SiteTrace(args));
    SiteRun run;
    run.sitePath = sitePath;
    run.site = &site;
    run.overrides = ReadSiteLineOverrides(sitePath, site);  // this user's lines
    run.stop = [&interrupts] { return interrupts.Requested(); };
    // Each door as it ends goes to the log; the result, door by door in site order, is
    // the command's output.
    SiteProgress progress = [&](const SiteDoorOutcome& o) {
        if (args.quiet)
            return;
        std::fprintf(stderr, "%s: %s\n", site.doors[o.door].name.c_str(),
                     SiteOutcomeText(change, o).c_str());
    };
    std::vector<SiteDoorOutcome> outcomes = RunSiteChange(run, change, lines, progress);
    const bool complete = SiteChangeComplete(outcomes);
    if (!args.json) {
        for (const SiteDoorOutcome& o : outcomes)
            std::printf("%s\t%s\n", site.doors[o.door].name.c_str(),
                        SiteOutcomeText(change, o).c_str());
        std::fflush(stdout);
    } else {
        CliJson doors = CliJson::array();
        for (const SiteDoorOutcome& o : outcomes) {
            static const char* const states[] = {"done", "unchanged", "failed", "not_run"};
            CliJson door{{"door", site.doors[o.door].name},
                         {"state", states[static_cast<int>(o.state)]}};
            if (!o.text.empty())
                door["error"] = o.text;
            doors.push_back(std::move(door));
        }
        CliPrintJson({{"key", CliKeyJson(site.typeFormat, change.code)},
                      {"complete", complete},
                      {"doors", std::move(doors)}});
    }
    if (!complete) {
        Fail("Изменение выполнено не на всех дверях; повторите команду, чтобы завершить его.");
        return interrupts.Requested() ? interrupts.ExitStatus() : CliFailed;
    }
    return CliOk;
}

// ---- the actions ---------------------------------------------------------------------

int New(CliArgs& args) {
    if (args.words.size() != 2)
        return Usage();
    const std::string& path = args.words[0];
    struct stat st {};
    if (::lstat(path.c_str(), &st) == 0) {
        Fail("Файл " + path + " уже существует.");
        return CliRefused;
    }
    Site site;
    site.name = args.words[1];
    if (!args.format.empty() && !CliFormatOption(args, 0, site.typeFormat))
        return CliUsage;
    return Save(path, site) ? CliOk : CliFailed;
}

int AddDoor(CliArgs& args) {
    if (args.words.size() != 3)
        return Usage();
    const std::string& sitePath = args.words[0];
    Site site;
    if (!Load(sitePath, site))
        return CliFailed;
    if (args.port.empty()) {
        Fail("Укажите линию двери: --port DEVICE");
        return CliUsage;
    }
    const std::string& dbPath = args.words[2];
    const bool haveAddress = args.address >= 0;  // --address N, checked to be 0..254
    const int address = args.address;
    const bool load = args.TakeFlag("--load");
    if (load) {
        // The door's file is a new one, loaded from its controller as `load` does.
        for (const CliCommand& c : CliCommands()) {
            if (std::string(c.name) != "load")
                continue;
            CliArgs loadArgs;
            loadArgs.port = args.port;
            loadArgs.yes = args.yes;
            loadArgs.traceFile = args.traceFile;
            loadArgs.words = {dbPath};
            loadArgs.address = args.address;
            if (int status = c.run(loadArgs); status != CliOk)
                return status;
        }
    } else if (!DoorAddress(dbPath)) {
        Fail("Файл " + dbPath + " не является базой данных (.vx2) или не читается.");
        return CliFailed;
    }
    if (haveAddress && !load) {  // a load writes the address it loaded from
        DbResult r = SaveAddress(dbPath, address);
        if (!r) {
            Fail(r.error);
            return CliFailed;
        }
    }
    site.doors.push_back({args.words[1], DoorFileForSite(sitePath, dbPath), args.port});
    return Save(sitePath, site) ? CliOk : CliFailed;
}

int Show(CliArgs& args) {
    if (args.words.size() != 1)
        return Usage();
    const std::string& sitePath = args.words[0];
    Site site;
    if (!Load(sitePath, site))
        return CliFailed;
    DoorFiles files;
    ReadDoors(sitePath, site, files);
    PeopleView view = BuildPeopleView(files.doors);
    bool allRead = true;
    if (args.json) {
        CliJson doors = CliJson::array();
        for (std::size_t i = 0; i < site.doors.size(); ++i) {
            const SiteDoor& d = site.doors[i];
            CliJson door{{"name", d.name}, {"file", d.file}, {"line", d.line}};
            if (files.doors[i].readable) {
                door["address"] = files.models[i].Address;
                door["key_count"] = view.keysPerDoor[i];
            } else {
                door["address"] = nullptr;
                door["key_count"] = nullptr;
                door["error"] = files.doors[i].error;
                allRead = false;
            }
            doors.push_back(std::move(door));
        }
        CliPrintJson({{"name", site.name},
                      {"format", CliFormatName(site.typeFormat)},
                      {"people", view.rows.size()},
                      {"doors", std::move(doors)}});
    } else {
        std::printf("Объект: %s\n", site.name.c_str());
        std::printf("Формат отображения: %s\n", TypeFormatCaption(site.typeFormat));
        std::printf("Карт(ключей) на всех дверях: %zu\n", view.rows.size());
        for (std::size_t i = 0; i < site.doors.size(); ++i) {
            const SiteDoor& d = site.doors[i];
            if (files.doors[i].readable) {
                std::printf("%s\t%s\t%s, адрес %d\tкарт(ключей): %zu\n", d.name.c_str(),
                            d.file.c_str(), d.line.c_str(), files.models[i].Address,
                            view.keysPerDoor[i]);
            } else {
                std::printf("%s\t%s\t%s\tфайл не читается: %s\n", d.name.c_str(), d.file.c_str(),
                            d.line.c_str(), files.doors[i].error.c_str());
                allRead = false;
            }
        }
    }
    std::fflush(stdout);
    return allRead ? CliOk : CliFailed;
}

int Matrix(CliArgs& args) {
    if (args.words.size() != 1 || !args.TakeFlag("--csv"))
        return Usage();
    const std::string& sitePath = args.words[0];
    Site site;
    if (!Load(sitePath, site))
        return CliFailed;
    DoorFiles files;
    ReadDoors(sitePath, site, files);
    int typeFormat = site.typeFormat;
    if (!args.format.empty() && !CliFormatOption(args, site.typeFormat, typeFormat))
        return CliUsage;
    PeopleView view = BuildPeopleView(files.doors);
    const std::string csv = PeopleCsv(view, typeFormat, files.names, files.doors);
    std::fwrite(csv.data(), 1, csv.size(), stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout)) {
        Fail("Не удалось записать таблицу в стандартный вывод");
        return CliFailed;
    }
    bool allRead = true;
    for (std::size_t i = 0; i < files.doors.size(); ++i)
        if (!files.doors[i].readable) {
            Fail("Дверь «" + site.doors[i].name + "»: файл не читается: " + files.doors[i].error);
            allRead = false;
        }
    return allRead ? CliOk : CliFailed;
}

int Status(CliArgs& args) {
    if (args.words.size() != 1)
        return Usage();
    const std::string& sitePath = args.words[0];
    Site site;
    if (!Load(sitePath, site))
        return CliFailed;
    TSerialSiteLines lines(SiteTrace(args));
    SiteRun run;
    run.sitePath = sitePath;
    run.site = &site;
    run.overrides = ReadSiteLineOverrides(sitePath, site);  // this user's lines
    std::vector<SiteDoorStatus> status = ReadSiteStatus(run, lines);
    bool all = true;
    CliJson doors = CliJson::array();
    for (const SiteDoorStatus& s : status) {
        const SiteDoor& d = site.doors[s.door];
        all = all && s.reachable && s.fileKeys && s.controllerKeys &&
              static_cast<std::size_t>(*s.controllerKeys) == *s.fileKeys;
        if (args.json) {
            CliJson door{{"name", d.name}, {"reachable", s.reachable}};
            if (!s.reachable)
                door["link_error"] = s.linkError;
            door["controller_keys"] = s.controllerKeys ? CliJson(*s.controllerKeys) : CliJson();
            door["file_keys"] = s.fileKeys ? CliJson(*s.fileKeys) : CliJson();
            if (!s.fileKeys)
                door["file_error"] = s.fileError;
            door["last_reconcile"] = s.lastReconcile.empty() ? CliJson() : CliJson(s.lastReconcile);
            if (!s.lastReconcile.empty())
                door["last_reconcile_outcome"] = s.lastReconcileOutcome;
            doors.push_back(std::move(door));
            continue;
        }
        std::string line = d.name + "\t";
        line += s.reachable ? "на связи" : "нет связи: " + s.linkError;
        line += "\tв контроллере: " +
                (s.controllerKeys ? std::to_string(*s.controllerKeys) : std::string("?"));
        line += "\tв файле: " +
                (s.fileKeys ? std::to_string(*s.fileKeys) : "не читается (" + s.fileError + ")");
        line += "\tсверка: " + (s.lastReconcile.empty()
                                    ? std::string("не проводилась")
                                    : s.lastReconcile + " " + s.lastReconcileOutcome);
        std::printf("%s\n", line.c_str());
    }
    if (args.json)
        CliPrintJson({{"name", site.name}, {"doors", std::move(doors)}});
    std::fflush(stdout);
    return all ? CliOk : CliFailed;
}

// Every door's reconcile: the plan of all doors, one question, then door by door.
int Reconcile(CliArgs& args) {
    if (args.words.size() != 1)
        return Usage();
    const std::string& sitePath = args.words[0];
    Site site;
    if (!Load(sitePath, site))
        return CliFailed;
    const bool dryRun = args.TakeFlag("--dry-run");
    CliInterrupts interrupts;  // before the lines' workers, which must not take the signals
    TSerialSiteLines lines(SiteTrace(args));
    SiteRun run;
    run.sitePath = sitePath;
    run.site = &site;
    run.overrides = ReadSiteLineOverrides(sitePath, site);  // this user's lines
    run.stop = [&interrupts] { return interrupts.Requested(); };
    TSiteReconcile reconcile(run, lines);
    std::fprintf(stderr, "Чтение контроллеров ...\n");
    reconcile.Plan();
    auto print = [&](const char* heading) {
        if (args.json)
            return;
        std::printf("%s\n", heading);
        for (const SiteReconcileDoor& d : reconcile.Doors())
            std::printf("%s\t%s\n", site.doors[d.door].name.c_str(),
                        SiteReconcilePlanText(d).c_str());
        std::fflush(stdout);
    };
    auto json = [&](bool applied) {
        if (!args.json)
            return;
        static const char* const states[] = {"unreachable", "agrees", "differs",
                                             "done",        "failed", "not_run"};
        CliJson doors = CliJson::array();
        for (const SiteReconcileDoor& d : reconcile.Doors()) {
            CliJson door{{"door", site.doors[d.door].name},
                         {"state", states[static_cast<int>(d.state)]},
                         {"write", d.write},
                         {"remove", d.remove},
                         {"settings", d.settings},
                         {"same", d.same},
                         {"duplicates", d.duplicates}};
            if (!d.text.empty())
                door["error"] = d.text;
            if (!d.backup.empty())
                door["backup"] = d.backup;
            doors.push_back(std::move(door));
        }
        CliPrintJson({{"applied", applied}, {"agree", reconcile.AllAgree()}, {"doors", doors}});
    };
    print("План сверки:");
    if (dryRun || !reconcile.AnythingToApply()) {
        json(false);
        return reconcile.AllAgree() ? CliOk : CliFailed;
    }
    if (int status = CliConfirm(args, "Сверка с контроллером",
                                {"Записать различия в контроллеры всех дверей?"});
        status != CliOk) {
        json(false);
        return status;
    }
    const bool agree = reconcile.Apply();
    print("Итог сверки:");
    json(true);
    if (!agree) {
        Fail("Не все двери совпадают с файлами; повторите сверку, чтобы завершить её.");
        return interrupts.Requested() ? interrupts.ExitStatus() : CliFailed;
    }
    return CliOk;
}

int Revoke(CliArgs& args) {
    if (args.words.size() != 2)
        return Usage();
    const std::string& sitePath = args.words[0];
    Site site;
    if (!Load(sitePath, site))
        return CliFailed;
    SiteChange change;
    change.kind = SiteChange::Kind::Revoke;
    if (!ParseKeyArgument(site.typeFormat, args.words[1], change.code))
        return CliUsage;
    if (int status = CliConfirm(args, "Удаление карты(ключа)",
                                {"Вы действительно хотите удалить карту(ключ) " +
                                 Format(site.typeFormat, change.code) + " со всех дверей?"});
        status != CliOk)
        return status;
    return RunChange(args, sitePath, site, change);
}

int Grant(CliArgs& args) {
    if (args.words.size() < 4)
        return Usage();
    const std::string& sitePath = args.words[0];
    Site site;
    if (!Load(sitePath, site))
        return CliFailed;
    SiteChange change;
    change.kind = SiteChange::Kind::Grant;
    if (!ParseKeyArgument(site.typeFormat, args.words[1], change.code))
        return CliUsage;
    if (!DescriptionArgument(args.words[2], change.description))
        return CliUsage;
    for (std::size_t w = 3; w < args.words.size(); ++w) {
        std::size_t found = site.doors.size();
        for (std::size_t d = 0; d < site.doors.size(); ++d)
            if (site.doors[d].name == args.words[w])
                found = d;
        if (found == site.doors.size()) {
            Fail("На объекте нет двери «" + args.words[w] + "».");
            return CliUsage;
        }
        change.doors.push_back(found);
    }
    return RunChange(args, sitePath, site, change);
}

int Describe(CliArgs& args) {
    if (args.words.size() != 3)
        return Usage();
    const std::string& sitePath = args.words[0];
    Site site;
    if (!Load(sitePath, site))
        return CliFailed;
    SiteChange change;
    change.kind = SiteChange::Kind::Describe;
    if (!ParseKeyArgument(site.typeFormat, args.words[1], change.code))
        return CliUsage;
    if (!DescriptionArgument(args.words[2], change.description))
        return CliUsage;
    return RunChange(args, sitePath, site, change);
}

// The door's line on this computer: shown, given (DEVICE) or taken back (--clear), for
// this user alone; the site file keeps its own.
int Line(CliArgs& args) {
    const bool clear = args.TakeFlag("--clear");
    if (args.words.size() < 2 || args.words.size() > 3 || (clear && args.words.size() == 3))
        return Usage();
    const std::string& sitePath = args.words[0];
    Site site;
    if (!Load(sitePath, site))
        return CliFailed;
    const auto door = std::find_if(site.doors.begin(), site.doors.end(),
                                   [&](const SiteDoor& d) { return d.name == args.words[1]; });
    if (door == site.doors.end()) {
        Fail("В объекте нет двери \"" + args.words[1] + "\"");
        return CliUsage;
    }
    if (clear || args.words.size() == 3) {
        const std::string line = clear || args.words[2] == door->line ? "" : args.words[2];
        if (SiteResult r = WriteSiteLineOverride(sitePath, door->name, line); !r) {
            Fail(r.error);
            return CliFailed;
        }
    }
    const std::string mine = ReadSiteLineOverride(sitePath, door->name);
    std::printf("%s\t%s\n", mine.empty() ? door->line.c_str() : mine.c_str(),
                mine.empty() ? "из файла объекта" : "на этом компьютере");
    return CliOk;
}

int RunSite(CliArgs& args) {
    if (args.words.empty())
        return Usage();
    const std::string action = args.words[0];
    args.words.erase(args.words.begin());
    static const std::map<std::string, int (*)(CliArgs&)> actions = {
        {"new", New},       {"add-door", AddDoor}, {"show", Show},
        {"status", Status}, {"matrix", Matrix},    {"reconcile", Reconcile},
        {"revoke", Revoke}, {"grant", Grant},      {"describe", Describe},
        {"line", Line}};
    auto it = actions.find(action);
    if (it == actions.end()) {
        Fail("Неизвестное действие с объектом: \"" + action + "\"");
        return Usage();
    }
    return it->second(args);
}

}  // namespace

VX_CLI_COMMAND(
    "site", "a site: the doors of a building, and one change to many doors",
    [](CliDefine& d) {
        d.Arg("ACTION",
              "new | add-door | show | status | reconcile | matrix | revoke | grant | describe | "
              "line");
        d.Rest("ARGS", "the action's arguments (see below)");
        d.Flag("--load", "add-door: FILE is a new file loaded from the door's controller")
            .Flag("--clear", "line: the door's line is the site file's again on this computer")
            .Flag("--csv", "matrix: who opens what as CSV (a row per key, a column per door)")
            .Flag("--dry-run", "reconcile: show every door's plan and change nothing")
            .Format()
            .Json()
            .Yes()
            .TracesLines()
            .Footer(std::string(SiteUsage) +
                    "\n\nThe site file (.vx2site, UTF-8 JSON) names the doors: each a database "
                    "file (relative to the site file) and the line (port) of its controller; "
                    "the controller's address is the one its file holds (\"Address\"). A change "
                    "to many doors runs the key job of each door (controller first, then its "
                    "file, in its own journal) and adds one line to SITE.journal. Exit status 0 "
                    "only when every door is done; a rerun finishes the doors that failed.");
    },
    RunSite);
