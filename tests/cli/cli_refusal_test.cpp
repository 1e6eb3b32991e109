// A controller that refuses (answers with a non-zero status) is never taken for one that
// obeyed: every command that talks to it, against the virtual controller refusing one
// command from its k-th request on, fails with the refusal's text and exit status, and
// the file never gets the change the controller refused.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <sstream>

#include "core/keys/database.h"
#include "support/sim_process.h"

namespace {

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

bool Exists(const std::string& path) {
    return std::ifstream(path).good();
}

constexpr int ControllerRefused = 15;
const char* const RefusalText = "Контроллер отказал (состояние 0x01)";

struct Case {
    const char* name;
    std::string refuse;  // the command and from which of its requests on, "0x22 2"
    // {file} the database, {new} a file that does not exist yet, {csv} a list of two keys.
    std::vector<std::string> args;
    // What else must hold afterwards (the file itself is compared unless `fileChanges`).
    std::function<void(SimProcess& sim, const std::string& file, const std::string& out)> check;
    bool fileChanges = false;
    std::uint32_t present = 0;  // a key at the reader before the command starts
};

TEST(CliRefusal, EveryCommandFailsAndTheFileKeepsWhatTheControllerRefused) {
    using Keys = std::vector<std::uint32_t>;
    const Keys held{0x12ABCD, 0x0A0B0C, 0x777777};  // the last one the file lacks
    auto controllerKeeps = [held](SimProcess& sim, const std::string&, const std::string&) {
        EXPECT_EQ(sim.State().keys, held);
    };
    auto noNewFile = [](SimProcess& sim, const std::string&, const std::string&) {
        EXPECT_FALSE(Exists(sim.TempDir() + "/new.vx2"));
    };
    auto journalSaysSo = [held](SimProcess& sim, const std::string& file, const std::string&) {
        EXPECT_EQ(sim.State().keys, held);
        EXPECT_NE(ReadAll(file + ".journal").find(RefusalText), std::string::npos)
            << ReadAll(file + ".journal");
    };
    const std::vector<Case> cases = {
        {"link-check", "0x02", {"link-check"}, {}},
        {"clear", "0x01", {"clear", "--yes"}, controllerKeeps},
        {"new: the vardex read", "0x61", {"new", "{new}", "--yes"}, noNewFile},
        {"load: the count", "0x42", {"load", "{new}", "--yes"}, noNewFile},
        {"load: the settings", "0x63", {"load", "{new}", "--yes"}, noNewFile},
        {"load: a key slot", "0x61 3", {"load", "{new}", "--yes"}, noNewFile},
        {"export: a key",
         "0x22 2",
         {"export", "{file}", "--yes"},
         [](SimProcess& sim, const std::string&, const std::string& out) {
             EXPECT_EQ(out.find("успешно"), std::string::npos) << out;
             EXPECT_TRUE(sim.State().keys.empty());
         }},
        {"check --add: a key slot", "0x61", {"check", "{file}", "--add", "--yes"}, {}},
        {"reconcile: the read", "0x61 2", {"reconcile", "{file}", "--yes"}, controllerKeeps},
        {"reconcile: the removal", "0x22", {"reconcile", "{file}", "--yes"}, controllerKeeps},
        {"add", "0x22", {"add", "{file}", "555555"}, journalSaysSo},
        {"remove", "0x22", {"remove", "{file}", "12ABCD", "--yes"}, journalSaysSo},
        {"edit --number", "0x22", {"edit", "{file}", "12ABCD", "--number", "555555"}, {}},
        {"set-times", "0x23", {"set-times", "{file}", "--open", "9"}, journalSaysSo},
        {"set-vardex", "0x22", {"set-vardex", "{file}", "445566"}, journalSaysSo},
        {"import: the second key",
         "0x22 2",
         {"import", "{file}", "{csv}", "--yes"},
         [](SimProcess& sim, const std::string& file, const std::string&) {
             // The first key is in both; the refused one in neither.
             EXPECT_EQ(sim.State().keys, (Keys{0x12ABCD, 0x0A0B0C, 0x777777, 0x111111}));
             DbModel model;
             ASSERT_TRUE(LoadDbFile(file, model).ok);
             ASSERT_EQ(model.keys.size(), 3u);
             EXPECT_EQ(model.keys[2].code, 0x111111u);
         },
         true},
        {"read-key: the poll", "0x43", {"read-key"}, {}},
        {"find: the poll", "0x43", {"find", "{file}"}, {}},
        {"enroll: the store",
         "0x22",
         {"enroll", "{file}"},
         [held](SimProcess& sim, const std::string&, const std::string& out) {
             EXPECT_EQ(sim.State().keys, held);
             EXPECT_NE(out.find("Добавлено карт(ключей): 0"), std::string::npos) << out;
         },
         false,
         0x654321},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        SimProcess sim(
            {"--keys", "0x12ABCD,0x0A0B0C,0x777777", "--vardex", "0x010203", "--times", "5,2"});
        // The reconcile keeps its copy of the controller here, not in the user's folder.
        ::setenv("XDG_DATA_HOME", (sim.TempDir() + "/data").c_str(), 1);
        const std::string file = sim.TempDir() + "/db.vx2";
        std::ofstream(file, std::ios::binary)
            << "[ControllerSettings]\r\nTimeOpen=5\r\nRetryRead=2\r\nTypeFormat=0\r\n"
               "Vardex=66051\r\n[VardexDB2]\r\n1223629=\xc4\xe2\xe5\xf0\xfc\r\n658188=\r\n";
        const std::string csv = sim.TempDir() + "/list.csv";
        std::ofstream(csv, std::ios::binary) << "111111;Один\n222222;Два\n";
        const std::string before = ReadAll(file);

        std::vector<std::string> argv{CliPath(), "--port", sim.Port()};
        for (std::string arg : c.args) {
            if (arg == "{file}")
                arg = file;
            else if (arg == "{new}")
                arg = sim.TempDir() + "/new.vx2";
            else if (arg == "{csv}")
                arg = csv;
            argv.push_back(arg);
        }
        ASSERT_EQ(sim.Control("fault status-nonzero-no-payload " + c.refuse), "ok");
        if (c.present)
            sim.Present(c.present);
        const ProcessResult r = RunProgram(argv, "", 30000);
        EXPECT_EQ(r.status, ControllerRefused) << r.out << r.err;
        EXPECT_NE(r.err.find(RefusalText), std::string::npos) << r.err;
        if (!c.fileChanges) {
            EXPECT_EQ(ReadAll(file), before);
        }
        if (c.check) {
            c.check(sim, file, r.out + r.err);  // the log goes to standard error
        }
    }
}

}  // namespace
