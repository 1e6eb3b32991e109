// Key list editing at scale and the cost of waiting for a key at the reader:
//   - on a 65,535-key database in the main window: the duplicate check and the find
//     lookup, and adding or deleting a key after the controller's reply (file write and
//     row change);
//   - while a capture dialog polls the virtual controller: the program's CPU use and the
//     user-interface thread's lateness.
//
//     bench_edit [--poll-seconds N]
#include <sys/resource.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "core/keys/cp1251.h"
#include "core/keys/database.h"
#include "core/link/serial_port.h"
#include "support/sim_process.h"
#include "ui/dialogs/getkey.h"
#include "ui/main/main_window.h"
#include "ui/seams/prompter.h"
#include "ui/seams/ui_platform.h"
#include "ui/seams/worker_bridge.h"

namespace {

// The controller answers at once: what is measured is the program's own work.
class InstantRunner : public TRequester {
  public:
    void Load(const FrameHeader&, const FrameData&, Completion done) override {
        done(Ok, FrameHeader{}, FrameData{});
    }
};

class NoLink : public LinkControl {
  public:
    bool Open(const std::string&, std::string&) override { return true; }
    void Close() override {}
};

struct Figures {
    std::vector<double> ms;
    void Add(double v) { ms.push_back(v); }
    double Median() {
        std::sort(ms.begin(), ms.end());
        return ms.empty() ? 0 : ms[ms.size() / 2];
    }
    double Max() { return ms.empty() ? 0 : *std::max_element(ms.begin(), ms.end()); }
};

double CpuSeconds() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char* argv[]) {
    int pollSeconds = 5;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--poll-seconds") == 0)
            pollSeconds = std::atoi(argv[i + 1]);
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ScriptedPrompter prompter;
    SetAppPrompter(&prompter);
    QTemporaryDir dir;

    // --- 65,535 keys in the main window ------------------------------------------------
    DbModel model;
    std::mt19937 rng(11);
    std::vector<KeyCode> codes(0xFFFFFF);
    for (size_t i = 0; i < codes.size(); ++i)
        codes[i] = static_cast<KeyCode>(i + 1);
    std::shuffle(codes.begin(), codes.end(), rng);
    std::string desc;
    Utf8ToCp1251("Сотрудник отдела, кабинет ", desc);
    for (int i = 0; i < 65535; ++i)
        model.keys.push_back({codes[static_cast<size_t>(i)], desc + std::to_string(i)});
    const QString path = dir.filePath(QStringLiteral("big.vx2"));
    WriteDbFile(path.toStdString(), model);

    InstantRunner runner;
    NoLink link;
    MemorySettingsStore settings;
    FixedPortDirectory ports({QStringLiteral("/dev/null")});
    MainDeps deps;
    deps.settings = &settings;
    deps.ports = &ports;
    deps.runner = &runner;
    deps.link = &link;
    TFMain w(deps);
    w.show();
    prompter.AnswerFile(path);
    w.actOpenExecute();
    QCoreApplication::processEvents();
    std::printf("rows in the list: %d\n", w.Keys()->Count());

    Figures duplicate, find, add, del;
    QElapsedTimer t;
    for (int i = 0; i < 200; ++i) {
        // An absent number: the whole list is compared, the worst case of the check.
        const KeyCode absent = codes[65535 + static_cast<size_t>(i)];
        t.start();
        volatile int row = w.FindRow(absent);
        duplicate.Add(t.nsecsElapsed() / 1e6);
        (void)row;
        const KeyCode present = codes[static_cast<size_t>(rng() % 65535)];
        t.start();
        row = w.FindRow(present);
        find.Add(t.nsecsElapsed() / 1e6);
    }
    const QString text = QStringLiteral("Новый сотрудник");
    Figures addFile, addRow, delFile, delRow;
    for (int i = 0; i < 20; ++i) {
        const KeyCode code = codes[70000 + static_cast<size_t>(i)];
        // What follows the controller's acceptance of a new key: the file, then the row.
        t.start();
        const bool saved = w.SaveKey(code, text);
        const double fileMs = t.nsecsElapsed() / 1e6;
        if (saved)
            w.AddKeyRow(code, text);
        QCoreApplication::processEvents();
        add.Add(t.nsecsElapsed() / 1e6);
        addFile.Add(fileMs);
        addRow.Add(t.nsecsElapsed() / 1e6 - fileMs);
        // And of a removal.
        const int row = w.FindRow(code);
        t.start();
        const bool removed = w.RemoveKey(code);
        const double removeMs = t.nsecsElapsed() / 1e6;
        if (removed)
            w.RemoveKeyRow(row);
        QCoreApplication::processEvents();
        del.Add(t.nsecsElapsed() / 1e6);
        delFile.Add(removeMs);
        delRow.Add(t.nsecsElapsed() / 1e6 - removeMs);
    }
    std::printf("duplicate check (number not in the list): median %.3f ms, max %.3f ms (limit 5)\n",
                duplicate.Median(), duplicate.Max());
    std::printf("find lookup (number in the list):         median %.3f ms, max %.3f ms (limit 5)\n",
                find.Median(), find.Max());
    std::printf(
        "add a key after the reply (file + row):   median %.1f ms, max %.1f ms (limit 50)\n",
        add.Median(), add.Max());
    std::printf(
        "delete a key after the reply (file + row): median %.1f ms, max %.1f ms (limit 50)\n",
        del.Median(), del.Max());
    std::printf(
        "  of which the file write: add median %.1f ms, delete median %.1f ms; the row: "
        "add median %.2f ms, delete median %.2f ms\n",
        addFile.Median(), delFile.Median(), addRow.Median(), delRow.Median());

    // --- a capture dialog polling the virtual controller --------------------------------
    SimProcess sim;
    TSerialPort port;
    std::string error;
    if (!port.Open(sim.Port(), error)) {
        std::printf("the virtual controller's port could not be opened: %s\n", error.c_str());
        return 1;
    }
    // One run without the probe for the CPU figure (the probe's own wake-ups would count),
    // one with it for the lateness.
    double worstLateMs = 0;
    double sumLateMs = 0;
    long ticks = 0;
    auto poll = [&](bool withProbe, double& cpu, double& wall, int& polls) {
        TCommands worker(port);
        TCommands& real = worker;
        TFGetKey dialog(nullptr, 0, 0, real);
        QElapsedTimer tick;
        QTimer probe;
        probe.setTimerType(Qt::PreciseTimer);
        probe.setInterval(5);
        QObject::connect(&probe, &QTimer::timeout, [&] {
            const double late = tick.nsecsElapsed() / 1e6 - 5.0;
            tick.restart();
            worstLateMs = std::max(worstLateMs, late);
            sumLateMs += std::max(0.0, late);
            ++ticks;
        });
        QTimer::singleShot(pollSeconds * 1000, &dialog, &QDialog::reject);
        const double cpuBefore = CpuSeconds();
        QElapsedTimer clock;
        clock.start();
        tick.start();
        if (withProbe)
            probe.start();
        dialog.Run();
        probe.stop();
        wall = clock.nsecsElapsed() / 1e9;
        polls = dialog.Polls();
        port.Close();  // as the caller does on Cancel: the request in flight ends at once
        cpu = CpuSeconds() - cpuBefore;
        std::string reopenError;
        port.Open(sim.Port(), reopenError);
    };
    double cpu = 0, wall = 0;
    int polls = 0;
    poll(false, cpu, wall, polls);
    std::printf("capture dialog polling for %.1f s (%d polls): CPU %.2f %% of one core (limit 2)\n",
                wall, polls, 100.0 * cpu / wall);
    poll(true, cpu, wall, polls);
    std::printf(
        "UI thread while polling: worst lateness %.1f ms, mean %.2f ms over %ld ticks of 5 ms "
        "(limit 20)\n",
        worstLateMs, ticks ? sumLateMs / ticks : 0.0, ticks);
    port.Close();
    SetAppPrompter(nullptr);
    return 0;
}
