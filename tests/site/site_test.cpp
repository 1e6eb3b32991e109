// The site file and the people view derived from the doors' database files.
#include <gtest/gtest.h>

#include <stdlib.h>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "core/keys/database.h"
#include "core/site/people.h"
#include "core/site/site_file.h"

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
