// The site file, the people view derived from the doors' database files, and one change
// to many doors with the status of each, on controllers in memory.
#include <gtest/gtest.h>

#include <atomic>

#include <stdlib.h>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/keys/database.h"
#include "core/keys/journal.h"
#include "core/site/people.h"
#include "core/site/site_change.h"
#include "core/site/site_file.h"
#include "core/site/site_reconcile.h"
#include "core/site/site_scan.h"
#include "core/site/site_status.h"
#include "jobs/fake_controller.h"

namespace fs = std::filesystem;

namespace {

class SiteFile : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vx2-site-XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
        site = dir + "/office.vx2site";
    }
    void TearDown() override { fs::remove_all(dir); }

    void Write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir + "/" + name, std::ios::binary) << bytes;
    }
    std::string Read(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    std::string Db(int address) {
        std::string text = "[ControllerSettings]\r\nTimeOpen=5\r\n";
        if (address)
            text += "Address=" + std::to_string(address) + "\r\n";
        return text + "[VardexDB2]\r\n";
    }

    std::string dir, site;
};

TEST_F(SiteFile, RoundTripKeepsNamesAndPathsAsWritten) {
    Site s;
    s.name = "Офис на Садовой";
    s.typeFormat = 1;
    s.doors = {{"Главный вход", "doors/main.vx2", "/dev/ttyUSB0"},
               {"Склад", "/srv/store.vx2", "/dev/ttyUSB1"}};
    ASSERT_TRUE(SaveSite(site, s, [](const std::string&) { return std::nullopt; }));
    const std::string text = Read(site);
    EXPECT_NE(text.find("\"name\": \"Офис на Садовой\""), std::string::npos) << text;
    EXPECT_NE(text.find("\"display_format\": \"em\""), std::string::npos) << text;

    Site back;
    ASSERT_TRUE(LoadSite(site, back));
    EXPECT_EQ(back.name, s.name);
    EXPECT_EQ(back.typeFormat, 1);
    ASSERT_EQ(back.doors.size(), 2u);
    EXPECT_EQ(back.doors[0].name, "Главный вход");
    EXPECT_EQ(back.doors[0].file, "doors/main.vx2");
    EXPECT_EQ(back.doors[1].line, "/dev/ttyUSB1");
    EXPECT_EQ(DoorFilePath(site, back.doors[0]), dir + "/doors/main.vx2");
    EXPECT_EQ(DoorFilePath(site, back.doors[1]), "/srv/store.vx2");
    EXPECT_EQ(DoorFileForSite(site, dir + "/doors/../main.vx2"), "main.vx2");
    EXPECT_EQ(DoorFileForSite(site, "/srv/store.vx2"), "/srv/store.vx2");
}

TEST_F(SiteFile, WhatIsNotASiteIsRefused) {
    struct Case {
        const char* bytes;
        const char* says;
    } cases[] = {
        {"", "не является файлом объекта"},
        {"[ControllerSettings]\r\nTimeOpen=5\r\n", "не является файлом объекта"},
        {"{\"name\": \"x\"}", "не является файлом объекта"},
        {"{\"doors\": 5}", "не является файлом объекта"},
        {"{\"doors\": [], \"display_format\": \"wiegand\"}", "неизвестный формат"},
        {"{\"doors\": [], \"version\": 9}", "более новой версией"},
    };
    for (const Case& c : cases) {
        Write("office.vx2site", c.bytes);
        Site s;
        SiteResult r = LoadSite(site, s);
        EXPECT_FALSE(r) << c.bytes;
        EXPECT_NE(r.error.find(c.says), std::string::npos) << c.bytes << " -> " << r.error;
    }
    fs::remove(site);
    Site s;
    EXPECT_FALSE(LoadSite(site, s));
}

TEST_F(SiteFile, DoorsThatCannotShareASiteAreRefusedOnSave) {
    Write("a.vx2", Db(3));
    Write("b.vx2", Db(3));
    Write("c.vx2", Db(0));
    Write("d.vx2", Db(0));
    struct Case {
        std::vector<SiteDoor> doors;
        const char* says;  // nullptr: saved
    } cases[] = {
        {{{"A", "a.vx2", "/dev/ttyS0"}, {"B", "b.vx2", "/dev/ttyS0"}}, "один адрес 3 на линии"},
        {{{"A", "a.vx2", "/dev/ttyS0"}, {"B", "b.vx2", "/dev/ttyS1"}}, nullptr},
        {{{"C", "c.vx2", "/dev/ttyS0"}, {"D", "d.vx2", "/dev/ttyS0"}}, "один адрес 0"},
        {{{"A", "a.vx2", "/dev/ttyS0"}, {"A", "c.vx2", "/dev/ttyS1"}}, "Две двери называются"},
        {{{"A", "a.vx2", "/dev/ttyS0"}, {"B", "./a.vx2", "/dev/ttyS1"}}, "на один файл"},
        {{{"", "a.vx2", "/dev/ttyS0"}}, "нет названия"},
        {{{"A", "", "/dev/ttyS0"}}, "нет файла"},
        // A door whose file is missing is shown as unreadable, not refused.
        {{{"A", "a.vx2", "/dev/ttyS0"}, {"M", "missing.vx2", "/dev/ttyS0"}}, nullptr},
    };
    for (const Case& c : cases) {
        Site s;
        s.doors = c.doors;
        SiteResult r = SaveSite(site, s);
        if (!c.says) {
            EXPECT_TRUE(r) << r.error;
        } else {
            EXPECT_FALSE(r);
            EXPECT_NE(r.error.find(c.says), std::string::npos) << r.error;
        }
    }
    EXPECT_EQ(DoorAddress(dir + "/a.vx2"), 3);
    EXPECT_EQ(DoorAddress(dir + "/c.vx2"), 0);
    EXPECT_EQ(DoorAddress(dir + "/missing.vx2"), std::nullopt);
}

// What a scan adds: each controller found that is no door on that line yet, in a file of
// its own that never overwrites one on the disk; doubtful answers and other lines' doors
// do not count.
TEST_F(SiteFile, AScanAddsEachNewControllerInAFreshFile) {
    Write("a.vx2", Db(3));
    Write("door-5.vx2", Db(0));  // a file of that name is there already
    Site s;
    s.name = "Офис";
    s.doors = {{"Вход", "a.vx2", "/dev/ttyA"}, {"Дверь 5", "b.vx2", "/dev/ttyB"}};
    std::vector<ScanEntry> found(4);
    found[0].address = 3;  // the door "Вход" on this line
    found[1].address = 5;
    found[2].address = 6;
    found[2].doubtful = true;
    found[3].address = 7;
    const std::vector<ScannedDoor> plan = PlanScannedDoors(site, s, "/dev/ttyA", found);
    ASSERT_EQ(plan.size(), 2u);
    EXPECT_EQ(plan[0].address, 5);
    EXPECT_EQ(plan[0].name, "Дверь 5 (2)");  // the name is another door's
    EXPECT_EQ(plan[0].file, dir + "/door-5-2.vx2");
    EXPECT_EQ(plan[1].name, "Дверь 7");
    EXPECT_EQ(plan[1].file, dir + "/door-7.vx2");
    // The same controllers on another line are all new there.
    EXPECT_EQ(PlanScannedDoors(site, s, "/dev/ttyB", found).size(), 3u);
}

TEST(PeopleView, OneRowPerKeyAcrossDoors) {
    std::vector<DbKey> main = {{0x000003, "Иванов"}, {0x000001, "Петров"}, {0x000003, "dup"}};
    std::vector<DbKey> store = {{0x000001, "Петров, склад"}, {0x000002, "Сидоров"}};
    std::vector<DbKey> empty;
    std::vector<DoorKeys> doors = {{true, "", &main},
                                   {false, "Нет такого файла", nullptr},
                                   {true, "", &store},
                                   {true, "", &empty}};
    PeopleView v = BuildPeopleView(doors);
    ASSERT_EQ(v.rows.size(), 3u);
    EXPECT_EQ(v.rows[0].code, 1u);
    EXPECT_EQ(v.rows[0].description, "Петров");
    EXPECT_TRUE(v.rows[0].descriptionsDiffer);
    EXPECT_EQ(v.rows[2].code, 3u);
    EXPECT_FALSE(v.rows[2].descriptionsDiffer);  // the second entry of one door is not a door
    EXPECT_EQ(v.At(2, 0), 0);                    // the door's first entry
    EXPECT_TRUE(v.Holds(0, 2));
    EXPECT_FALSE(v.Holds(0, 1));
    EXPECT_FALSE(v.Holds(1, 0));
    EXPECT_EQ(v.keysPerDoor, (std::vector<std::size_t>{2, 0, 2, 0}));
    EXPECT_EQ(v.RowOf(2), 1);
    EXPECT_EQ(v.RowOf(4), -1);
}

}  // namespace

// ---- one change to many doors, and the status, on controllers in memory ------------

namespace {

class FakeLines : public TSiteLines {
  public:
    std::map<std::string, FakeController> controllers;  // by line (each at address 0)
    std::vector<std::string> opened;
    TRequester* Door(const std::string& line, int, std::string& error) override {
        opened.push_back(line);
        auto it = controllers.find(line);
        if (it == controllers.end()) {
            error = "Не удалось открыть порт " + line;
            return nullptr;
        }
        return &it->second;
    }
};

TEST_F(SiteFile, ChangesRunPerDoorAndTheSiteJournalSaysWhere) {
    Write("a.vx2", Db(0) + "1=Иванов\r\n");
    Write("b.vx2", Db(0) + "1=Иванов\r\n2=Петров\r\n");
    Write("c.vx2", Db(0) + "1=Иванов\r\n");
    Site s;
    s.name = "Офис";
    s.doors = {
        {"A", "a.vx2", "/dev/line1"}, {"B", "b.vx2", "/dev/line2"}, {"C", "c.vx2", "/dev/gone"}};
    FakeLines lines;
    lines.controllers["/dev/line1"].keys = {1};
    lines.controllers["/dev/line2"].keys = {1, 2};
    SiteRun run;
    run.sitePath = site;
    run.site = &s;

    SiteChange grant{SiteChange::Kind::Grant, 3, "Сидоров", {0, 1}};
    std::vector<SiteDoorOutcome> out = RunSiteChange(run, grant, lines);
    ASSERT_EQ(out.size(), 2u);
    EXPECT_EQ(out[0].state, SiteDoorOutcome::State::Done);
    EXPECT_EQ(out[1].state, SiteDoorOutcome::State::Done);
    EXPECT_EQ(lines.controllers["/dev/line2"].keys, (std::vector<std::uint32_t>{1, 2, 3}));
    EXPECT_NE(Read(dir + "/a.vx2").find("3=Сидоров"), std::string::npos);

    // The door on a line that cannot be opened fails; the others are done; the rerun of
    // the same revoke finishes nothing more until the line is back.
    lines.controllers["/dev/line2"].resultOverride = TimedOut;
    SiteChange revoke{SiteChange::Kind::Revoke, 1, {}, {}};
    out = RunSiteChange(run, revoke, lines);
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[0].state, SiteDoorOutcome::State::Done);
    EXPECT_EQ(out[1].state, SiteDoorOutcome::State::Failed);
    EXPECT_EQ(out[2].state, SiteDoorOutcome::State::Failed);
    EXPECT_NE(out[2].text.find("/dev/gone"), std::string::npos);
    EXPECT_FALSE(SiteChangeComplete(out));
    EXPECT_NE(Read(dir + "/b.vx2").find("1=Иванов"), std::string::npos);
    EXPECT_EQ(SiteOutcomeText(revoke, out[0]), "удалена");

    lines.controllers["/dev/line2"].resultOverride.reset();
    s.doors[2].line = "/dev/line1";  // the third door's line is back, on the first one's
    out = RunSiteChange(run, revoke, lines);
    EXPECT_EQ(out[0].state, SiteDoorOutcome::State::Unchanged);
    EXPECT_EQ(out[1].state, SiteDoorOutcome::State::Done);
    EXPECT_EQ(out[2].state, SiteDoorOutcome::State::Done);
    EXPECT_TRUE(SiteChangeComplete(out));

    SiteChange describe{SiteChange::Kind::Describe, 3, "Сидоров И.", {}};
    std::size_t before = lines.opened.size();
    out = RunSiteChange(run, describe, lines);
    EXPECT_EQ(lines.opened.size(), before);  // the files alone
    EXPECT_EQ(out[0].state, SiteDoorOutcome::State::Done);
    EXPECT_EQ(out[2].state, SiteDoorOutcome::State::Unchanged);

    std::vector<journal::Line> lines_;
    ASSERT_EQ(journal::ReadJournal(site, lines_), "");
    ASSERT_EQ(lines_.size(), 4u);
    EXPECT_EQ(lines_[0].entry.operation, "site-grant");
    EXPECT_EQ(lines_[0].entry.newValue, "A; B");
    EXPECT_EQ(lines_[0].entry.outcome, "OK");
    EXPECT_EQ(lines_[1].entry.newValue, "A");
    EXPECT_EQ(lines_[1].entry.outcome.rfind("не выполнено: B (", 0), 0u) << lines_[1].entry.outcome;
    EXPECT_EQ(lines_[2].entry.newValue, "B; C");
    EXPECT_EQ(lines_[3].entry.operation, "site-description");

    std::vector<SiteDoorStatus> status = ReadSiteStatus(run, lines);
    ASSERT_EQ(status.size(), 3u);
    EXPECT_TRUE(status[1].reachable);
    EXPECT_EQ(status[1].controllerKeys, 2);
    EXPECT_EQ(status[1].fileKeys, 2u);
    s.doors[1].line = "/dev/gone";
    fs::remove(dir + "/c.vx2");
    status = ReadSiteStatus(run, lines);
    EXPECT_FALSE(status[1].reachable);
    EXPECT_FALSE(status[1].controllerKeys);
    EXPECT_FALSE(status[2].fileKeys);
    EXPECT_FALSE(status[2].fileError.empty());
}

}  // namespace

namespace {

// A stop asked while a door's differences are being written ends that door between two
// requests, its journal saying so; the rerun finishes it.
TEST_F(SiteFile, ReconcileStoppedInsideADoorEndsItThereAndARerunFinishes) {
    Write("a.vx2", Db(0) + "1=A\r\n");
    Write("b.vx2", Db(0) + "1=A\r\n3=C\r\n4=D\r\n5=E\r\n");  // its controller lacks 3, 4, 5
    Site s;
    s.doors = {{"A", "a.vx2", "/dev/l1"}, {"B", "b.vx2", "/dev/l2"}};
    FakeLines lines;
    for (const char* line : {"/dev/l1", "/dev/l2"}) {
        lines.controllers[line].keys = {1};
        lines.controllers[line].timeOpen = 5;
        lines.controllers[line].retryRead = 1;
    }
    std::atomic<bool> stop{false};
    FakeController& b = lines.controllers["/dev/l2"];
    b.afterEach = [&] {
        if (b.requests.back().header[1] == WriteKey)
            stop = true;  // the operator's Stop, once the first key is written
    };
    SiteRun run;
    run.sitePath = site;
    run.site = &s;
    run.backupFolder = dir + "/backups";
    run.stop = [&] { return stop.load(); };
    using State = SiteReconcileDoor::State;
    {
        TSiteReconcile r(run, lines);
        r.Plan();
        ASSERT_EQ(r.Doors()[1].state, State::Differs);
        EXPECT_FALSE(r.Apply());
        EXPECT_EQ(r.Doors()[0].state, State::Agrees);
        EXPECT_EQ(r.Doors()[1].state, State::Failed);
        EXPECT_EQ(SiteReconcilePlanText(r.Doors()[1]), "ошибка: прервано, повторите сверку");
    }
    EXPECT_EQ(b.keys.size(), 2u);  // one of the three written, then the stop
    EXPECT_NE(Read(dir + "/b.vx2.journal").find("Сверка прервана"), std::string::npos);
    stop = false;
    b.afterEach = nullptr;
    TSiteReconcile again(run, lines);
    again.Plan();
    EXPECT_TRUE(again.AnythingToApply());
    EXPECT_TRUE(again.Apply());
    EXPECT_EQ(b.keys.size(), 4u);
}

TEST_F(SiteFile, ReconcileEveryDoorOnePlanOneApplyAndARerunFinishes) {
    Write("a.vx2", Db(0) + "1=A\r\n2=B\r\n");  // agrees with its controller
    Write("b.vx2", Db(0) + "1=A\r\n3=C\r\n");  // its controller lacks 3 and holds 9
    Write("c.vx2", Db(0) + "1=A\r\n");         // its line is gone
    Site s;
    s.doors = {{"A", "a.vx2", "/dev/l1"}, {"B", "b.vx2", "/dev/l2"}, {"C", "c.vx2", "/dev/l3"}};
    FakeLines lines;
    lines.controllers["/dev/l1"].keys = {1, 2};
    lines.controllers["/dev/l1"].timeOpen = 5;
    lines.controllers["/dev/l1"].retryRead = 1;
    lines.controllers["/dev/l2"].keys = {1, 9};
    lines.controllers["/dev/l2"].timeOpen = 5;
    lines.controllers["/dev/l2"].retryRead = 1;
    SiteRun run;
    run.sitePath = site;
    run.site = &s;
    run.backupFolder = dir + "/backups";
    using State = SiteReconcileDoor::State;
    {
        TSiteReconcile r(run, lines);
        r.Plan();
        ASSERT_EQ(r.Doors().size(), 3u);
        EXPECT_EQ(r.Doors()[0].state, State::Agrees) << r.Doors()[0].text;
        EXPECT_EQ(r.Doors()[1].state, State::Differs) << r.Doors()[1].text;
        EXPECT_EQ(r.Doors()[1].write, 1);
        EXPECT_EQ(r.Doors()[1].remove, 1);
        EXPECT_EQ(r.Doors()[2].state, State::Unreachable);
        EXPECT_EQ(SiteReconcilePlanText(r.Doors()[1]), "записать: 1, удалить: 1, без изменений: 1");
        EXPECT_TRUE(r.AnythingToApply());
        EXPECT_FALSE(r.Apply());  // door C could not be reached
        EXPECT_EQ(r.Doors()[1].state, State::Done) << r.Doors()[1].text;
        EXPECT_EQ(r.Doors()[1].backup.rfind(dir + "/backups/", 0), 0u) << r.Doors()[1].backup;
    }
    EXPECT_EQ(lines.controllers["/dev/l2"].keys, (std::vector<std::uint32_t>{1, 3}));
    lines.controllers["/dev/l3"].keys = {1};
    lines.controllers["/dev/l3"].timeOpen = 5;
    lines.controllers["/dev/l3"].retryRead = 1;
    TSiteReconcile again(run, lines);
    again.Plan();
    EXPECT_TRUE(again.AllAgree());
    EXPECT_FALSE(again.AnythingToApply());
}

}  // namespace
