// The search over 65,535 keys, and the CSV import's reading and preview of 65,535
// lines: what one keystroke in the search field costs the core, and `vardex2-cli
// search` as a whole process. Usage: bench_search
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

#include "bench_timing.h"
#include "core/keys/cp1251.h"
#include "core/keys/database.h"
#include "core/keys/key_csv.h"
#include "core/keys/key_search.h"

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int kKeys = 65535;

using bench::Median;
using bench::Ms;

// CPU time of one run of `f` (ms): what the figure would be on a quiet machine.
double CpuMs(const std::function<void()>& f) {
    const std::clock_t start = std::clock();
    f();
    return (std::clock() - start) * 1000.0 / CLOCKS_PER_SEC;
}

void Print(const char* what, double value, const char* unit, double limit) {
    std::printf("%-56s %9.2f %s  (at most %.0f %s) %s\n", what, value, unit, limit, unit,
                value <= limit ? "ok" : "OVER");
}

// 65,535 distinct keys with Cyrillic descriptions of up to 40 characters.
DbModel MakeModel() {
    const char* words[] = {"Входная",     "дверь",  "приёмная", "склад", "офис",    "охрана",
                           "бухгалтерия", "Иванов", "Петрова",  "этаж",  "кабинет", "гараж"};
    DbModel m;
    m.TypeFormat = 1;
    std::unordered_set<KeyCode> used;
    std::uint32_t seed = 4242;
    auto next = [&] { return seed = seed * 1664525u + 1013904223u; };
    while (m.keys.size() < kKeys) {
        KeyCode code = (next() >> 8) & 0xFFFFFF;
        if (code == 0 || !used.insert(code).second)
            continue;
        std::string utf8 = "Сотрудник " + std::to_string(m.keys.size() + 1);
        for (int w = 0; w < 3; ++w)
            utf8 += std::string(" ") + words[next() % std::size(words)];
        std::string cp;
        Utf8ToCp1251(utf8, cp);
        if (cp.size() > 40)
            cp.resize(40);
        m.keys.push_back({code, cp});
    }
    return m;
}

// Every prefix of `text`, as the operator types it: the slowest keystroke.
double WorstKeystroke(const KeySearchIndex& index, const std::string& text,
                      std::size_t& lastCount) {
    double worst = 0;
    std::vector<std::uint8_t> flags;
    for (std::size_t n = 1; n <= text.size(); ++n) {
        if ((static_cast<unsigned char>(text[n - 1]) & 0xC0) == 0x80 && n < text.size() &&
            (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
            continue;  // inside a UTF-8 letter: no one types half a letter
        const std::string prefix = text.substr(0, n);
        double ms = Median(5, [&] { lastCount = index.Match(MakeKeyQuery(1, prefix), flags); });
        worst = std::max(worst, ms);
    }
    return worst;
}

// Wall time of one run (ms); `cpuMs` receives its user and system time.
double RunCliSearch(const std::string& cli, const std::string& file, const std::string& text,
                    double& cpuMs) {
    std::fflush(stdout);
    auto start = Clock::now();
    pid_t pid = ::fork();
    if (pid == 0) {
        if (!std::freopen("/dev/null", "w", stdout) || !std::freopen("/dev/null", "w", stderr))
            std::_Exit(126);
        ::execl(cli.c_str(), cli.c_str(), "search", file.c_str(), text.c_str(),
                static_cast<char*>(nullptr));
        std::_Exit(127);
    }
    int status = 0;
    struct rusage ru {};
    ::wait4(pid, &status, 0, &ru);
    double ms = Ms(Clock::now() - start);
    cpuMs = (ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) * 1000.0 +
            (ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) / 1000.0;
    if (!WIFEXITED(status) || WEXITSTATUS(status) > 1) {
        std::fprintf(stderr, "vardex2-cli search failed (status %d)\n", status);
        std::exit(1);
    }
    return ms;
}

}  // namespace

int main(int, char** argv) {
    char tmpl[] = "/tmp/bench_search.XXXXXX";
    if (!::mkdtemp(tmpl))
        return 1;
    const std::string dir = tmpl;
    const std::string file = dir + "/big.vx2";
    const std::string cli = (fs::path(argv[0]).parent_path() / "vardex2-cli").string();

    const DbModel model = MakeModel();
    if (!WriteDbFile(file, model)) {
        std::fprintf(stderr, "could not write %s\n", file.c_str());
        return 1;
    }
    std::printf("%d keys, Cyrillic descriptions of up to 40 characters\n\n", kKeys);

    KeySearchIndex index;
    double build = Median(5, [&] { index.Assign(model.keys); });

    struct Typed {
        const char* label;
        const char* text;
    } typed[] = {
        {"typing \"Сотрудник 4711\" (description)", "Сотрудник 4711"},
        {"typing \"БУХГАЛТ\" (description, other case)", "БУХГАЛТ"},
        {"typing \"066,04103\" (number as shown)", "066,04103"},
        {"typing \"0004329479\" (10-digit card number)", "0004329479"},
        {"typing \"4D7603\" (hexadecimal)", "4D7603"},
    };
    double worst = 0;
    for (const Typed& t : typed) {
        std::size_t count = 0;
        double ms = WorstKeystroke(index, t.text, count);
        worst = std::max(worst, ms);
        std::printf("%-56s %9.2f ms  (%zu found at the end)\n", t.label, ms, count);
    }

    std::vector<double> cliRuns;
    std::vector<double> cliCpu;
    for (int i = 0; i < 5; ++i) {
        double cpu = 0;
        cliRuns.push_back(RunCliSearch(cli, file, "Сотрудник 4711", cpu));
        cliCpu.push_back(cpu);
    }
    std::sort(cliRuns.begin(), cliRuns.end());
    std::sort(cliCpu.begin(), cliCpu.end());

    // The list written as CSV and read back for an import into a file that already
    // holds half of it: every line gets its fate.
    const std::string csv = KeysToCsv(model.TypeFormat, model.keys);
    const std::vector<DbKey> half(model.keys.begin(), model.keys.begin() + kKeys / 2);
    double csvWrite = Median(5, [&] { (void)KeysToCsv(model.TypeFormat, model.keys); });
    std::size_t newKeys = 0;
    double preview = Median(
        5, [&] { newKeys = PreviewCsvImport(csv, model.TypeFormat, half).Count(CsvFate::New); });

    std::printf("\n");
    std::printf("%-56s %9.2f ms\n", "search index of every key (once per list change)", build);
    Print("core match of one keystroke, worst of the typings above", worst, "ms", 30);
    Print("vardex2-cli search, whole process (median of 5)", cliRuns[2], "ms", 150);
    std::printf("%-56s %9.2f ms\n", "  its CPU time, user + system (median of 5)", cliCpu[2]);
    std::printf("%-56s %9.2f ms\n", "list to CSV, 65,535 keys", csvWrite);
    Print("CSV preview of 65,535 lines (half new, half in the file)", preview, "ms", 300);
    std::printf("%-56s %9.2f ms\n", "  its CPU time",
                CpuMs([&] { (void)PreviewCsvImport(csv, model.TypeFormat, half); }));
    if (newKeys != kKeys - kKeys / 2)
        std::printf("  but %zu lines were new, %d expected\n", newKeys, kKeys - kKeys / 2);
    double load[1] = {0};
    if (::getloadavg(load, 1) == 1)
        std::printf(
            "(load average %.2f on %ld processors: figures above 1 per processor are "
            "stretched by the other work)\n",
            load[0], ::sysconf(_SC_NPROCESSORS_ONLN));
    fs::remove_all(dir);
    return 0;
}
