// --json: the objects scripts read instead of the Russian text (docs/cli-json.md).
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

#include "support/sim_process.h"

namespace {

using nlohmann::json;

// Keys out of number order; one description in Windows-1251 ("Склад"), one with quotes.
const char kBase[] =
    "[ControllerSettings]\r\nTimeOpen=5\r\nRetryRead=1\r\nTypeFormat=1\r\nVardex=65538\r\n"
    "[VardexDB2]\r\n1223629=Front door\r\n48=\xD1\xEA\xEB\xE0\xE4\r\n2=\"  \"Boss\"  \"\r\n";

class CliJsonTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vx_cli_json.XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
        path = dir + "/base.vx2";
        std::ofstream(path, std::ios::binary) << kBase;
    }
    void TearDown() override { std::filesystem::remove_all(dir); }
    // Runs the program; its standard output must be exactly one JSON object.
    json Json(std::vector<std::string> args, int status = 0) {
        args.insert(args.begin(), CliPath());
        last = RunProgram(args);
        EXPECT_EQ(last.status, status) << last.err;
        EXPECT_EQ(last.out.back(), '\n');
        return json::parse(last.out);
    }
    std::string dir, path;
    ProcessResult last;
};

TEST_F(CliJsonTest, ListGivesNumbersShownTextsAndDescriptionsSorted) {
    json j = Json({"list", path, "--json"});
    EXPECT_EQ(j, json::parse(R"({"format": "em", "keys": [
        {"number": 2, "shown": "000,00002", "description": "  \"Boss\"  "},
        {"number": 48, "shown": "000,00048", "description": "Склад"},
        {"number": 1223629, "shown": "018,43981", "description": "Front door"}],
        "invalid": []})"));
    // The chosen format shows the keys its way and sorts by what it shows.
    j = Json({"--format", "ibutton", "list", "--json", path});
    EXPECT_EQ(j["format"], "ibutton");
    EXPECT_EQ(j["keys"][2]["shown"], "XX XX XXXXXX 12ABCD");
    EXPECT_EQ(j["keys"][2]["number"], 1223629);

    // An empty file is an empty list, not a missing one.
    std::ofstream(path, std::ios::binary) << "[ControllerSettings]\r\nTypeFormat=0\r\n";
    EXPECT_EQ(Json({"list", path, "--json"})["keys"], json::array());
}

TEST_F(CliJsonTest, ShowGivesTheSettingsAndTheVardex) {
    json j = Json({"show", path, "--json"});
    EXPECT_EQ(j, json::parse(R"({"open_seconds": 5, "retry_seconds": 1, "file_format": "em",
        "format": "em", "vardex": {"number": 65538, "shown": "001,00002"}, "address": 0,
        "key_count": 3, "invalid_entry_count": 0})"));
    std::ofstream(path, std::ios::binary) << "[ControllerSettings]\r\nTimeOpen=3\r\n";
    j = Json({"show", path, "--json"});
    EXPECT_TRUE(j["vardex"].is_null());
    EXPECT_EQ(j["open_seconds"], 3);
    EXPECT_EQ(j["key_count"], 0);
}

TEST_F(CliJsonTest, CheckAgainstTheControllerAndAddWithTheLogOnStandardError) {
    SimProcess sim({"--keys", "1223629,0x40,48,0x50"});
    json j = Json({"--port", sim.Port(), "check", path, "--json"});
    EXPECT_EQ(j, json::parse(R"({"format": "em", "controller_key_count": 4, "missing": [
        {"number": 64, "shown": "000,00064", "added": false},
        {"number": 80, "shown": "000,00080", "added": false}]})"));
    EXPECT_NE(last.err.find("В контроллере обнаружены карты(ключи)"), std::string::npos)
        << last.err;

    j = Json({"--port", sim.Port(), "check", path, "--json", "--add", "--yes"});
    EXPECT_EQ(j["missing"][0]["added"], true);
    EXPECT_EQ(j["missing"][1]["added"], true);
    EXPECT_NE(last.err.find("Добавлено карт(ключей): 2"), std::string::npos) << last.err;

    j = Json({"--port", sim.Port(), "check", path, "--json"});
    EXPECT_EQ(j["missing"], json::array());
    EXPECT_EQ(j["controller_key_count"], 4);
}

TEST_F(CliJsonTest, FailuresPrintNoObject) {
    SimProcess sim;
    sim.Fault("silence");
    ProcessResult r = RunProgram({CliPath(), "--port", sim.Port(), "check", path, "--json"});
    EXPECT_EQ(r.status, 14);
    EXPECT_EQ(r.out, "");
    r = RunProgram({CliPath(), "list", dir + "/missing.vx2", "--json"});
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(r.out, "");
}

}  // namespace
