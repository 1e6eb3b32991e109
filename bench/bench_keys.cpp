// Figures of the key database at its largest: 65,535 keys with 40-character Cyrillic
// descriptions. Usage: bench_keys [FOLDER]  (a temporary folder by default)
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <unordered_set>
#include <vector>

#include "bench_timing.h"
#include "core/keys/cp1251.h"
#include "core/keys/database.h"
#include "core/keys/display_list.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kKeys = 65535;

using bench::Median;
using bench::Ms;

void Check(const DbResult& r, const char* what) {
    if (!r) {
        std::fprintf(stderr, "%s: %s\n", what, r.error.c_str());
        std::exit(1);
    }
}

DbModel MakeModel() {
    const char* words[] = {"Входная",     "дверь",  "приёмная", "склад", "офис",    "охрана",
                           "бухгалтерия", "Иванов", "Петрова",  "этаж",  "кабинет", "гараж"};
    DbModel m;
    m.TimeOpen = 5;
    m.TypeFormat = 0;
    m.Vardex = 0x12ABCD;
    std::unordered_set<KeyCode> used;
    std::uint32_t seed = 12345;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    while (m.keys.size() < kKeys) {
        KeyCode code = (next() >> 8) & 0xFFFFFF;
        if (code == 0 || !used.insert(code).second)
            continue;
        std::string utf8;
        while (true) {
            std::string word = words[next() % std::size(words)];
            std::string candidate = utf8.empty() ? word : utf8 + " " + word;
            // 40 characters: two bytes each in UTF-8, one in Windows-1251.
            std::string cp;
            Utf8ToCp1251(candidate, cp);
            if (cp.size() > 40)
                break;
            utf8 = candidate;
        }
        std::string cp;
        Utf8ToCp1251(utf8, cp);
        cp.resize(40, '.');
        m.keys.push_back({code, cp});
    }
    return m;
}

// Runs `vardex2-cli list FILE` into /dev/null and prints its wall time (ms) and peak
// resident memory (KB). A child keeps the peak memory of the process it was forked
// from, so this runs in a fresh, small instance of the benchmark (see main).
int RunCliChild(const char* cli, const char* file) {
    auto start = Clock::now();
    pid_t pid = ::fork();
    if (pid == 0) {
        if (!std::freopen("/dev/null", "w", stdout))
            std::_Exit(126);
        ::execl(cli, cli, "list", file, static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    int status = 0;
    struct rusage ru {};
    ::wait4(pid, &status, 0, &ru);
    double wallMs = Ms(Clock::now() - start);
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        std::fprintf(stderr, "vardex2-cli list failed (status %d)\n", status);
        return 1;
    }
    std::printf("%.3f %ld\n", wallMs, ru.ru_maxrss);
    return 0;
}

void RunCli(const std::string& self, const std::string& cli, const std::string& file,
            double& wallMs, long& peakKb) {
    std::string command = "'" + self + "' --run-cli '" + cli + "' '" + file + "'";
    std::fflush(stdout);
    FILE* p = ::popen(command.c_str(), "r");
    if (!p || std::fscanf(p, "%lf %ld", &wallMs, &peakKb) != 2) {
        std::fprintf(stderr, "could not run %s\n", command.c_str());
        std::exit(1);
    }
    ::pclose(p);
}

struct WriteTimes {
    double saveExisting = 0;
    double saveNew = 0;
    double remove = 0;
    double saveTypeFormat = 0;
};

// One write-through operation each on a 65,535-key file; the pairs (a key added and
// removed again) give each operation half.
WriteTimes MeasureWrites(const std::string& file, KeyCode existing, const std::string& text) {
    WriteTimes t;
    t.saveExisting = Median(9, [&] { Check(SaveKey(file, existing, text), "SaveKey"); });
    const KeyCode fresh = 0x1000000;  // above every generated code, so always new
    t.saveNew = Median(9,
                       [&] {
                           Check(SaveKey(file, fresh, text), "SaveKey");
                           Check(RemoveKey(file, fresh), "RemoveKey");
                       }) /
                2;
    t.remove = Median(9,
                      [&] {
                          Check(RemoveKey(file, existing), "RemoveKey");
                          Check(SaveKey(file, existing, text), "SaveKey");
                      }) /
               2;
    t.saveTypeFormat = Median(9, [&] { Check(SaveTypeFormat(file, 0), "SaveTypeFormat"); });
    return t;
}

void Print(const char* what, double value, const char* unit, double limit) {
    std::printf("%-52s %9.2f %s  (at most %.0f %s) %s\n", what, value, unit, limit, unit,
                value <= limit ? "ok" : "OVER");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 4 && std::string(argv[1]) == "--run-cli")
        return RunCliChild(argv[2], argv[3]);
    std::string dir;
    bool ownDir = argc < 2;
    if (ownDir) {
        char tmpl[] = "/tmp/bench_keys.XXXXXX";
        if (!::mkdtemp(tmpl))
            return 1;
        dir = tmpl;
    } else {
        dir = argv[1];
    }
    const std::string file = dir + "/big.vx2";
    const std::string cli = (fs::path(argv[0]).parent_path() / "vardex2-cli").string();

    DbModel model = MakeModel();
    std::printf("%d keys, 40-character Cyrillic descriptions\n", kKeys);
    std::fflush(stdout);

    double batch = Median(5, [&] { Check(WriteDbFile(file, model), "WriteDbFile"); });
    std::printf("file size: %ju bytes\n", static_cast<std::uintmax_t>(fs::file_size(file)));

    DbModel loaded;
    std::vector<DisplayRow> rows;
    double load = Median(9, [&] {
        Check(LoadDbFile(file, loaded), "LoadDbFile");
        rows = SortedDisplayRows(loaded.TypeFormat, loaded.keys);
    });
    if (loaded.keys.size() != model.keys.size()) {
        std::fprintf(stderr, "loaded %zu keys\n", loaded.keys.size());
        return 1;
    }
    double loadOnly = Median(9, [&] { Check(LoadDbFile(file, loaded), "LoadDbFile"); });

    // The same file with its lines ended by CR alone, as some editors write it: it
    // must read as fast as the CR LF original.
    const std::string crFile = dir + "/big-cr.vx2";
    {
        std::ifstream in(file, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        std::string cr;
        cr.reserve(bytes.size());
        for (std::size_t i = 0; i < bytes.size(); ++i) {
            if (!(bytes[i] == '\n' && i > 0 && bytes[i - 1] == '\r'))
                cr.push_back(bytes[i]);
        }
        std::ofstream(crFile, std::ios::binary) << cr;
    }
    DbModel crLoaded;
    double loadCr = Median(9, [&] { Check(LoadDbFile(crFile, crLoaded), "LoadDbFile CR"); });
    if (crLoaded.keys.size() != model.keys.size()) {
        std::fprintf(stderr, "loaded %zu keys from the CR-only file\n", crLoaded.keys.size());
        return 1;
    }

    int tf = 0;
    double reformat = Median(9, [&] {
        tf = 1 - tf;
        ReformatDisplayRows(tf, rows);
    });

    const KeyCode existing = model.keys[kKeys / 2].code;
    std::string cp;
    Utf8ToCp1251("Изменённое описание ключа", cp);
    WriteTimes disk = MeasureWrites(file, existing, cp);
    // The same on a memory file system, where flushing to disk costs nothing: the
    // program's own share of each write.
    WriteTimes memory;
    std::string shmDir;
    if (fs::is_directory("/dev/shm")) {
        char tmpl[] = "/dev/shm/bench_keys.XXXXXX";
        if (::mkdtemp(tmpl)) {
            shmDir = tmpl;
            fs::copy_file(file, shmDir + "/big.vx2");
            memory = MeasureWrites(shmDir + "/big.vx2", existing, cp);
            fs::remove_all(shmDir);
        }
    }

    double cliMs = 0;
    long peakKb = 0;
    std::vector<double> cliRuns;
    long cliPeak = 0;
    for (int i = 0; i < 5; ++i) {
        RunCli(argv[0], cli, file, cliMs, peakKb);
        cliRuns.push_back(cliMs);
        cliPeak = std::max(cliPeak, peakKb);
    }
    std::sort(cliRuns.begin(), cliRuns.end());
    std::vector<double> crRuns;
    for (int i = 0; i < 5; ++i) {
        RunCli(argv[0], cli, crFile, cliMs, peakKb);
        crRuns.push_back(cliMs);
    }
    std::sort(crRuns.begin(), crRuns.end());

    std::printf("\n");
    Print("LoadDbFile + format + sort for display", load, "ms", 150);
    std::printf("%-52s %9.2f ms\n", "  of which LoadDbFile alone", loadOnly);
    Print("vardex2-cli list, whole process (median of 5)", cliRuns[2], "ms", 300);
    Print("vardex2-cli list, peak resident memory", cliPeak / 1024.0, "MB", 40);
    // As fast as CR LF: within a quarter and a few milliseconds of noise.
    Print("LoadDbFile alone, lines ending in CR only", loadCr, "ms", loadOnly * 1.25 + 5);
    Print("vardex2-cli list, CR only (median of 5)", crRuns[2], "ms", cliRuns[2] * 1.25 + 10);
    Print("SaveKey, existing key (in place)", disk.saveExisting, "ms", 30);
    Print("SaveKey, new key (SaveKey + RemoveKey / 2)", disk.saveNew, "ms", 30);
    Print("RemoveKey (RemoveKey + SaveKey / 2)", disk.remove, "ms", 30);
    Print("SaveTypeFormat", disk.saveTypeFormat, "ms", 30);
    if (!shmDir.empty()) {
        std::printf("%-52s %9.2f ms\n", "  SaveKey in place, without the disk (/dev/shm)",
                    memory.saveExisting);
        std::printf("%-52s %9.2f ms\n", "  SaveKey new, without the disk (/dev/shm)",
                    memory.saveNew);
        std::printf("%-52s %9.2f ms\n", "  RemoveKey, without the disk (/dev/shm)", memory.remove);
    }
    Print("WriteDbFile, all keys as one batch", batch, "ms", 500);
    Print("format switch (re-format + re-sort)", reformat, "ms", 100);

    if (ownDir)
        fs::remove_all(dir);
    return 0;
}
