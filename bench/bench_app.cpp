// The program's windows at scale: opening a 65,535-key database until its rows are in
// the key list, a display-format switch, resident memory, the user-interface thread's
// latency while wait dialogs carry requests to the virtual controller, and the time
// from start to the shown main window.
//
//     bench_app [--requests N]
#include <QApplication>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <QTreeView>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <random>
#include <vector>

#include "app/app_start.h"
#include "core/keys/cp1251.h"
#include "core/keys/database.h"
#include "support/sim_process.h"
#include "ui/dialogs/clearbuffer.h"
#include "ui/main/main_window.h"
#include "ui/seams/prompter.h"
#include "ui/seams/ui_platform.h"

namespace {

long RssKb() {
    QFile f(QStringLiteral("/proc/self/status"));
    if (!f.open(QIODevice::ReadOnly)) {
        return -1;
    }
    for (const QByteArray& line : f.readAll().split('\n')) {
        if (line.startsWith("VmRSS:")) {
            return line.mid(6).trimmed().split(' ').value(0).toLong();
        }
    }
    return -1;
}

double NowMs() {
    using namespace std::chrono;
    return duration<double, std::milli>(system_clock::now().time_since_epoch()).count();
}

QString MakeDb(const QString& dir, int count) {
    DbModel m;
    m.TimeOpen = 5;
    m.RetryRead = 3;
    m.Vardex = 0x123456;
    std::mt19937 rng(7);
    std::vector<KeyCode> codes(0xFFFFFF);
    for (size_t i = 0; i < codes.size(); ++i) {
        codes[i] = static_cast<KeyCode>(i + 1);
    }
    std::shuffle(codes.begin(), codes.end(), rng);
    std::string desc;
    Utf8ToCp1251("Сотрудник отдела, кабинет ", desc);
    for (int i = 0; i < count; ++i) {
        m.keys.push_back({codes[static_cast<size_t>(i)], desc + std::to_string(i)});
    }
    const QString path = dir + QStringLiteral("/big.vx2");
    WriteDbFile(path.toStdString(), m);
    return path;
}

void Settle() {
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents();
    }
}

// The start-up figure: a child that starts like the program and reports when its main
// window has been shown and painted.
int StartupChild(int argc, char* argv[]) {
    QApplication app(argc, argv);
    LoadRussianTranslations(app);
    MemorySettingsStore settings;
    MainDeps deps;
    deps.settings = &settings;
    TFMain w(deps);
    w.show();
    QTimer::singleShot(0, [&]() {
        w.repaint();
        std::printf("%.3f\n", NowMs());
        std::fflush(stdout);
        app.quit();
    });
    return app.exec();
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc > 1 && std::strcmp(argv[1], "--startup-child") == 0) {
        return StartupChild(argc, argv);
    }
    int requests = 20;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--requests") == 0) {
            requests = std::atoi(argv[i + 1]);
        }
    }
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) {
        qputenv("QT_QPA_PLATFORM", "offscreen");
    }
    QApplication app(argc, argv);
    LoadRussianTranslations(app);
    ScriptedPrompter prompter;
    SetAppPrompter(&prompter);
    QTemporaryDir dir;
    const long rssBefore = RssKb();

    // --- 65,535 keys -----------------------------------------------------------------
    const QString path = MakeDb(dir.path(), 65535);
    SimProcess sim({"--keys", "1,2,3"});
    MemorySettingsStore settings;
    FixedPortDirectory ports({});
    MainDeps deps;
    deps.settings = &settings;
    deps.ports = &ports;
    deps.portArg = QString::fromStdString(sim.Port());
    TFMain w(deps);
    w.show();
    Settle();

    QElapsedTimer t;
    t.start();
    prompter.AnswerFile(path);
    w.actOpenExecute();
    w.lvDB->viewport()->repaint();
    Settle();
    const double openMs = t.nsecsElapsed() / 1e6;
    const int rows = w.lvDB->model()->rowCount();

    // The switch there and back, six times: each until the list is painted again.
    std::vector<double> switches;
    for (int i = 0; i < 6; ++i) {
        const int format = (i + 1) % 2;
        t.restart();
        w.cboxType->setCurrentIndex(format);
        emit w.cboxType->activated(format);
        w.lvDB->viewport()->repaint();
        w.bbVardex->repaint();
        Settle();
        switches.push_back(t.nsecsElapsed() / 1e6);
    }
    std::sort(switches.begin(), switches.end());
    const double switchMs = switches[switches.size() / 2];
    const double switchWorstMs = switches.back();
    const long rss = RssKb();

    std::printf("open 65,535-key database until rows are in lvDB: %.1f ms (%d rows; limit 500)\n",
                openMs, rows);
    std::printf(
        "display format switch on it:                      median %.1f ms, worst %.1f ms over "
        "6 (limit 60) %s\n",
        switchMs, switchWorstMs, switchWorstMs <= 60 ? "ok" : "OVER");
    std::printf(
        "resident memory with it open:                     %.1f MB (before %.1f MB; "
        "limit 150)\n",
        rss / 1024.0, rssBefore / 1024.0);

    // --- latency of the user-interface thread while requests are in flight -----------
    double worstLateMs = 0;
    double sumLateMs = 0;
    long ticks = 0;
    QElapsedTimer tick;
    QTimer probe;
    probe.setTimerType(Qt::PreciseTimer);
    probe.setInterval(5);
    QObject::connect(&probe, &QTimer::timeout, [&]() {
        const double late = tick.nsecsElapsed() / 1e6 - 5.0;
        tick.restart();
        worstLateMs = std::max(worstLateMs, late);
        sumLateMs += std::max(0.0, late);
        ++ticks;
    });
    TFMain::LinkHold link(w);
    if (!link) {
        std::printf("the virtual controller's port could not be opened\n");
        return 1;
    }
    tick.start();
    probe.start();
    int ok = 0;
    QElapsedTimer all;
    all.start();
    for (int i = 0; i < requests; ++i) {
        TFClearBuffer check(&w, TFClearBuffer::Mode::Check);
        ok += check.Run() ? 1 : 0;
    }
    probe.stop();
    std::printf(
        "UI thread during %d link checks (%d ok, %.0f ms each): worst lateness %.1f "
        "ms, mean %.2f ms over %ld ticks of 5 ms (limit 20)\n",
        requests, ok, all.elapsed() / double(std::max(1, requests)), worstLateMs,
        ticks ? sumLateMs / ticks : 0.0, ticks);

    // --- start-up -----------------------------------------------------------------------
    double worstStart = 0;
    double sumStart = 0;
    const int runs = 5;
    for (int i = 0; i < runs; ++i) {
        QProcess child;
        const double started = NowMs();
        child.start(QCoreApplication::applicationFilePath(), {QStringLiteral("--startup-child")});
        child.waitForFinished(10000);
        const double shown = QString::fromUtf8(child.readAllStandardOutput()).trimmed().toDouble();
        const double ms = shown - started;
        worstStart = std::max(worstStart, ms);
        sumStart += ms;
    }
    std::printf(
        "start to shown main window: mean %.0f ms, worst %.0f ms over %d runs "
        "(limit 1000)\n",
        sumStart / runs, worstStart, runs);
    SetAppPrompter(nullptr);
    return 0;
}
