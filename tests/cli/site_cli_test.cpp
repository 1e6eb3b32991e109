// vardex2-cli site: a site of doors on virtual controllers, a grant to two doors, and a
// revoke everywhere with one door silent that a rerun finishes.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <tuple>

#include "core/keys/cp1251.h"
#include "sim/sim_state.h"
#include "support/sim_process.h"

namespace {

namespace fs = std::filesystem;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

// The database's own encoding.
std::string Cp(const std::string& utf8) {
    std::string out;
    Utf8ToCp1251(utf8, out);
    return out;
}

bool Holds(const SimState& s, std::uint32_t code) {
    for (std::uint32_t k : s.keys)
        if (k == code)
            return true;
    return false;
}

class CliSite : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vx_cli_site.XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
        site = dir + "/office.vx2site";
        // This user's lines of doors go to a folder of the test's own.
        ::setenv("XDG_CONFIG_HOME", (dir + "/config").c_str(), 1);
    }
    void TearDown() override { fs::remove_all(dir); }
    std::string Db(const std::string& name, const std::string& keys) {
        std::string path = dir + "/" + name;
        std::ofstream(path, std::ios::binary)
            << "[ControllerSettings]\r\nTimeOpen=5\r\nRetryRead=3\r\nTypeFormat=0\r\n"
               "[VardexDB2]\r\n"
            << Cp(keys);
        return path;
    }
    ProcessResult Cli(std::vector<std::string> args) {
        args.insert(args.begin(), CliPath());
        return RunProgram(args);
    }
    std::string dir, site;
};

TEST_F(CliSite, GrantAndRevokeAcrossDoorsWithASilentDoorFinishedByARerun) {
    SimProcess main({"--keys", "1,2"});
    SimProcess store({"--keys", "1,3"});
    const std::string a = Db("main.vx2", "1=Иванов\r\n2=Петров\r\n");
    const std::string b = Db("store.vx2", "1=Иванов, склад\r\n3=Сидоров\r\n");

    ASSERT_EQ(Cli({"site", "new", site, "Офис"}).status, 0);
    EXPECT_EQ(Cli({"site", "new", site, "Офис"}).status, 5);  // never over an existing file
    ProcessResult r = Cli({"site", "add-door", site, "Главный вход", a, "--port", main.Port()});
    ASSERT_EQ(r.status, 0) << r.err;
    r = Cli({"site", "add-door", site, "Склад", b, "--port", store.Port()});
    ASSERT_EQ(r.status, 0) << r.err;
    // A second controller at address 0 on the main door's line would answer with it.
    const std::string c = Db("third.vx2", "");
    r = Cli({"site", "add-door", site, "Третья", c, "--port", main.Port()});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("один адрес 0"), std::string::npos) << r.err;

    r = Cli({"site", "show", site, "--json"});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_NE(r.out.find("\"people\": 3"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\"file\": \"store.vx2\""), std::string::npos) << r.out;

    r = Cli({"site", "grant", site, "4", "Новиков", "Главный вход", "Склад"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Главный вход\tдобавлена\nСклад\tдобавлена\n");
    EXPECT_TRUE(Holds(main.State(), 4));
    EXPECT_TRUE(Holds(store.State(), 4));
    EXPECT_NE(ReadAll(b).find(Cp("4=Новиков")), std::string::npos);
    // --trace: each line's exchanges, led by its device.
    const std::string trace = dir + "/trace.txt";
    r = Cli({"--trace", trace, "site", "grant", site, "5", "Орлов", "Главный вход", "Склад"});
    EXPECT_EQ(r.status, 0) << r.err;
    for (const std::string& port : {main.Port(), store.Port()})
        EXPECT_NE(ReadAll(trace).find("[" + port + "] +"), std::string::npos) << ReadAll(trace);

    store.Fault("silence");
    r = Cli({"site", "revoke", site, "000001", "--yes"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Главный вход\tудалена\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("Склад\tошибка: "), std::string::npos) << r.out;
    EXPECT_FALSE(Holds(main.State(), 1));
    store.FaultOff();
    EXPECT_TRUE(Holds(store.State(), 1));
    EXPECT_NE(ReadAll(b).find(Cp("1=Иванов, склад")), std::string::npos);

    r = Cli({"site", "revoke", site, "000001", "--yes"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Главный вход\tне было\nСклад\tудалена\n");
    EXPECT_FALSE(Holds(store.State(), 1));
    EXPECT_EQ(ReadAll(b).find(Cp("1=Иванов")), std::string::npos);

    // The site's journal: which doors each change was done at.
    std::string journal = ReadAll(site + ".journal");
    std::istringstream lines(journal);
    std::vector<std::string> got;
    for (std::string line; std::getline(lines, line);)
        got.push_back(line);
    ASSERT_EQ(got.size(), 4u) << journal;
    EXPECT_NE(got[0].find("\tsite-grant\t"), std::string::npos);
    EXPECT_NE(got[0].find("\tГлавный вход; Склад\tOK"), std::string::npos) << got[0];
    EXPECT_NE(got[1].find("\tОрлов\t\tГлавный вход; Склад\tOK"), std::string::npos) << got[1];
    EXPECT_NE(got[2].find("\tГлавный вход\tне выполнено: Склад ("), std::string::npos) << got[2];
    EXPECT_NE(got[3].find("\tСклад\tOK"), std::string::npos) << got[3];

    r = Cli({"site", "matrix", site, "--csv"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out,
              "\xEF\xBB\xBF"
              "Карта(ключ);Описание;Главный вход;Склад\r\n"
              "XX XX XXXXXX 000002;Петров;+;\r\n"
              "XX XX XXXXXX 000003;Сидоров;;+\r\n"
              "XX XX XXXXXX 000004;Новиков;+;+\r\n"
              "XX XX XXXXXX 000005;Орлов;+;+\r\n");
}

// A door's line differs on this computer: given once for this user (`site line`), every
// command uses it, however the site file is named; --clear goes back to the site file's.
TEST_F(CliSite, ThisComputersLineOfADoor) {
    SimProcess sim({"--keys", "1"});
    const std::string a = Db("main.vx2", "1=Иванов\r\n");
    ASSERT_EQ(Cli({"site", "new", site, "Офис"}).status, 0);
    ASSERT_EQ(Cli({"site", "add-door", site, "Вход", a, "--port", "/dev/vx-absent"}).status, 0);
    EXPECT_EQ(Cli({"site", "status", site}).status, 1);
    ProcessResult r = Cli({"site", "line", site, "Вход", sim.Port()});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, sim.Port() + "\tна этом компьютере\n");
    r = Cli({"site", "status", dir + "/./office.vx2site"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_NE(ReadAll(site).find("/dev/vx-absent"), std::string::npos);  // the file keeps its own
    r = Cli({"site", "line", site, "Вход", "--clear"});
    EXPECT_EQ(r.out, "/dev/vx-absent\tиз файла объекта\n");
    EXPECT_EQ(Cli({"site", "status", site}).status, 1);
    EXPECT_EQ(Cli({"site", "line", site, "Нет такой"}).status, 2);
}

TEST_F(CliSite, ADoorWhoseFileCannotBeReadIsShownAsSuch) {
    const std::string a = Db("main.vx2", "1=Иванов\r\n");
    ASSERT_EQ(Cli({"site", "new", site, "Офис"}).status, 0);
    ASSERT_EQ(Cli({"site", "add-door", site, "Главный вход", a, "--port", "/dev/null"}).status, 0);
    // A file that is not a database is no door.
    std::ofstream(dir + "/notes.txt") << "hello\n";
    EXPECT_EQ(
        Cli({"site", "add-door", site, "Заметки", dir + "/notes.txt", "--port", "/dev/x"}).status,
        1);
    fs::remove(a);
    ProcessResult r = Cli({"site", "show", site});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Главный вход\tmain.vx2\t/dev/null\tфайл не читается: "),
              std::string::npos)
        << r.out;
    r = Cli({"site", "matrix", site, "--csv"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("«Главный вход»: файл не читается"), std::string::npos) << r.err;
    EXPECT_EQ(Cli({"site", "frobnicate", site}).status, 2);
}

// Three doors on one line at addresses 1, 2 and 7 and a fourth on a line of its own: the
// address in the door's file, a place refused twice, the reconcile of the whole site in one
// go, the status, and a revoke that leaves the controllers without the key untouched.
TEST_F(CliSite, DoorsOnASharedLine) {
    std::string states = dir + "/states";
    fs::create_directories(states);
    auto state = [&](int address, std::vector<std::uint32_t> keys) {
        SimState s;
        s.keys = std::move(keys);
        s.timeOpen = 5;
        s.retryRead = 3;
        std::string error;
        ASSERT_TRUE(SaveSimState(states + "/" + std::to_string(address) + ".json", s, error));
    };
    state(1, {5, 6});
    state(2, {6});
    state(7, {5, 9});  // its file says 5 and 8
    SimProcess line({"--bus", "1,2,7", "--state-dir", states});
    SimProcess alone({"--keys", "5", "--times", "5,3"});
    auto at = [&](int address) {
        SimState s;
        std::string error;
        SimStateFromJson(line.Control("state " + std::to_string(address)), s, error);
        return s;
    };
    const std::string a = Db("a.vx2", "5=Иванов\r\n6=Петров\r\n");
    const std::string b = Db("b.vx2", "6=Петров\r\n");
    const std::string c = Db("c.vx2", "5=Иванов\r\n8=Сидоров\r\n");
    const std::string d = Db("d.vx2", "5=Иванов\r\n");
    ASSERT_EQ(Cli({"site", "new", site, "Офис"}).status, 0);
    for (auto [name, file, address] :
         {std::tuple{"Вход", a, "1"}, {"Склад", b, "2"}, {"Гараж", c, "7"}}) {
        ProcessResult r = Cli(
            {"site", "add-door", site, name, file, "--port", line.Port(), "--address", address});
        ASSERT_EQ(r.status, 0) << r.err;
    }
    ProcessResult r = Cli({"site", "add-door", site, "Ещё", Db("e.vx2", ""), "--port", line.Port(),
                           "--address", "2"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("один адрес 2 на линии"), std::string::npos) << r.err;
    ASSERT_EQ(Cli({"site", "add-door", site, "Офис", d, "--port", alone.Port()}).status, 0);
    EXPECT_NE(ReadAll(c).find("Address=7"), std::string::npos);
    EXPECT_EQ(ReadAll(d).find("Address="), std::string::npos);  // 0 is not written

    r = Cli({"site", "reconcile", site, "--dry-run"});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("Гараж\tзаписать: 1, удалить: 1, без изменений: 1\n"), std::string::npos)
        << r.out;
    EXPECT_NE(r.out.find("Вход\tсовпадает, без изменений: 2\n"), std::string::npos) << r.out;
    r = Cli({"site", "reconcile", site, "--yes"});
    EXPECT_EQ(r.status, 0) << r.out << r.err;
    EXPECT_EQ(at(7).keys, (std::vector<std::uint32_t>{5, 8}));
    EXPECT_EQ(at(1).keys, (std::vector<std::uint32_t>{5, 6}));

    r = Cli({"site", "status", site});
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("Гараж\tна связи\tв контроллере: 2\tв файле: 2\tсверка: 20"),
              std::string::npos)
        << r.out;

    r = Cli({"site", "revoke", site, "000005", "--yes"});
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(r.out, "Вход\tудалена\nСклад\tне было\nГараж\tудалена\nОфис\tудалена\n");
    EXPECT_EQ(at(1).keys, (std::vector<std::uint32_t>{6}));
    EXPECT_EQ(at(2).keys, (std::vector<std::uint32_t>{6}));
    EXPECT_EQ(at(7).keys, (std::vector<std::uint32_t>{8}));
    EXPECT_TRUE(alone.State().keys.empty());
}

}  // namespace
