// A controller's address on a shared line, as its database file keeps it: absent stays
// absent (the file of a controller alone keeps its bytes), every write keeps it, whole-file
// writes included, and a value no controller can have is held, never used.
#include <gtest/gtest.h>

#include <unistd.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>

#include "core/keys/database.h"
#include "core/keys/journaled.h"

namespace fs = std::filesystem;

namespace {

const char kAlone[] =
    "[ControllerSettings]\r\nTimeOpen=5\r\nRetryRead=1\r\nTypeFormat=1\r\nVardex=65538\r\n"
    "[VardexDB2]\r\n1223629=Front door\r\n";
const char kAtSeven[] =
    "[ControllerSettings]\r\nTimeOpen=5\r\nRetryRead=1\r\nTypeFormat=1\r\nVardex=65538\r\n"
    "Address=7\r\n[VardexDB2]\r\n1223629=Front door\r\n";

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class DbAddress : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vx_address_test.XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
        path = dir + "/door.vx2";
    }
    void TearDown() override {
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    void Write(const std::string& bytes) { std::ofstream(path, std::ios::binary) << bytes; }
    DbModel Load() {
        DbModel m;
        EXPECT_TRUE(LoadDbFile(path, m));
        return m;
    }
    std::string dir, path;
};

TEST_F(DbAddress, RoundTripAbsentStaysAbsent) {
    // A file without the entry is at address 0, and a whole-file write of it is the same
    // bytes: the entry appears only for a controller that shares its line.
    Write(kAlone);
    DbModel m = Load();
    EXPECT_EQ(m.Address, 0);
    ASSERT_TRUE(WriteDbFile(path, m));
    EXPECT_EQ(ReadAll(path), kAlone);

    m.Address = 7;
    ASSERT_TRUE(WriteDbFile(path, m));
    EXPECT_EQ(ReadAll(path), kAtSeven);
    EXPECT_EQ(Load().Address, 7);

    // The entry written in place lands where the whole-file write puts it, and 0 removes it.
    Write(kAlone);
    ASSERT_TRUE(SaveAddress(path, 7));
    EXPECT_EQ(ReadAll(path), kAtSeven);
    ASSERT_TRUE(SaveAddress(path, 0));
    EXPECT_EQ(ReadAll(path), kAlone);
}

TEST_F(DbAddress, EveryWriteKeepsIt) {
    struct Case {
        const char* name;
        std::function<DbResult()> write;
    };
    const std::vector<Case> cases = {
        {"key", [&] { return journaled::SaveKey(path, 42, "x"); }},
        {"remove", [&] { return journaled::RemoveKey(path, 1223629); }},
        {"vardex", [&] { return journaled::SaveVardex(path, 5); }},
        {"times", [&] { return journaled::SaveSettings(path, 9, 2, 0); }},
        {"keys",
         [&] {
             return journaled::SaveKeys(path, {{43, "y"}});
         }},
        {"whole file", [&] { return journaled::WriteDbFile(path, Load()); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Write(kAtSeven);
        ASSERT_TRUE(c.write());
        EXPECT_EQ(Load().Address, 7);
        EXPECT_NE(ReadAll(path).find("Address=7\r\n"), std::string::npos);
    }
}

TEST_F(DbAddress, OutOfRangeIsHeldNotUsed) {
    struct Case {
        const char* text;
        int address;
        bool told;
    };
    for (const Case& c : {Case{"254", 254, false}, Case{"255", -1, true}, Case{"-1", -1, true},
                          Case{"0x10", 16, false}, Case{"seven", 0, false}}) {
        SCOPED_TRACE(c.text);
        Write(std::string("[ControllerSettings]\r\nAddress=") + c.text + "\r\n");
        DbModel m = Load();
        EXPECT_EQ(m.Address, c.address);
        EXPECT_EQ(!AddressOutOfRangeText(m).empty(), c.told);
        if (c.told) {
            // Written back as the file had it, so nothing of it is lost.
            ASSERT_TRUE(WriteDbFile(path, m));
            EXPECT_NE(ReadAll(path).find(std::string("Address=") + c.text + "\r\n"),
                      std::string::npos);
        }
    }
}

}  // namespace
