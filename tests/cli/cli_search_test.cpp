// vardex2-cli search: the rows the list's search field would leave, their count, and
// the exit status scripts test.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "support/sim_process.h"

namespace {

// 066,04103 "Иванов Иван" (Windows-1251), 018,43981 "Front door", 000,00002 "Склад".
const char kBase[] =
    "[ControllerSettings]\r\nTimeOpen=5\r\nRetryRead=1\r\nTypeFormat=1\r\nVardex=0\r\n"
    "[VardexDB2]\r\n4329479=\xC8\xE2\xE0\xED\xEE\xE2 \xC8\xE2\xE0\xED\r\n1223629=Front door\r\n"
    "2=\xD1\xEA\xEB\xE0\xE4\r\n";

class CliSearch : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vx_cli_search.XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
        path = dir + "/base.vx2";
        std::ofstream(path, std::ios::binary) << kBase;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    ProcessResult Cli(std::vector<std::string> args) {
        args.insert(args.begin(), CliPath());
        return RunProgram(args);
    }
    std::string dir, path;
};

TEST_F(CliSearch, RowsInListOrderWithTheCountOnStandardError) {
    ProcessResult r = Cli({"search", path, "иванов"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "066,04103\tИванов Иван\n");
    EXPECT_EQ(r.err, "Найдено: 1 из 3\n");

    // Part of the digits: "0" is in every number; the rows come sorted as the list shows.
    r = Cli({"search", path, "0"});
    EXPECT_EQ(r.out, "000,00002\tСклад\n018,43981\tFront door\n066,04103\tИванов Иван\n");
    EXPECT_EQ(r.err, "Найдено: 3 из 3\n");

    // The 10-digit decimal printed on the card, and an iButton view of the same file.
    r = Cli({"search", path, "0001223629"});
    EXPECT_EQ(r.out, "018,43981\tFront door\n");
    r = Cli({"--format", "ibutton", "search", path, "12abcd"});
    EXPECT_EQ(r.out, "XX XX XXXXXX 12ABCD\tFront door\n");
}

TEST_F(CliSearch, NothingFoundIsStatusOneAndJsonCarriesTheCounts) {
    ProcessResult r = Cli({"search", path, "Петров"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(r.err, "Найдено: 0 из 3\n");

    r = Cli({"search", path, "DOOR", "--json"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(nlohmann::json::parse(r.out), nlohmann::json::parse(R"({"format": "em",
        "text": "DOOR", "found": 1, "total": 3,
        "keys": [{"number": 1223629, "shown": "018,43981", "description": "Front door"}]})"));

    r = Cli({"search", dir + "/missing.vx2", "x"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err, "");
    EXPECT_EQ(Cli({"search", path}).status, 2);
}

}  // namespace

// A description holding an escape sequence or a TAB reaches the terminal escaped, so it
// neither steers the terminal nor splits the tab-separated line.
TEST_F(CliSearch, ControlCharactersInADescriptionArePrintedEscaped) {
    std::ofstream(path, std::ios::binary | std::ios::trunc)
        << "[ControllerSettings]\r\nTypeFormat=1\r\n[VardexDB2]\r\n2=a\x1b[2Jb\tc\r\n";
    ProcessResult r = Cli({"search", path, "000,00002"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "000,00002\ta\\x1B[2Jb\\x09c\n");
}
