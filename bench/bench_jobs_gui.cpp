// The job dialogs in the program: an export of N keys from the main window against the
// virtual controller (wall time and the process's CPU use while the dialog runs), and the
// save of a loaded 65,535-key controller into a new file that the main window then shows.
//
//   bench_jobs_gui [--count N]      (QT_QPA_PLATFORM=offscreen works)
#include <QApplication>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTimer>
#include <chrono>
#include <cstdio>
#include <memory>

#include "bench_jobs_instant.h"
#include "bench_link_common.h"
#include "core/jobs/load_job.h"
#include "support/recording_job_host.h"
#include "ui/dialogs/writecontr.h"
#include "ui/main/main_window.h"
#include "ui/seams/prompter.h"
#include "ui/seams/ui_platform.h"

namespace {

using namespace bench;

}  // namespace

int main(int argc, char** argv) {
    QApplication app(argc, argv);
    int count = 200;
    const QStringList args = app.arguments();
    for (int i = 1; i < args.size(); ++i) {
        if (args[i] == QLatin1String("--count") && i + 1 < args.size())
            count = std::max(0, args[++i].toInt());
    }
    int status = 0;
    QTemporaryDir dir;
    ScriptedPrompter prompter;
    SetAppPrompter(&prompter);
    MemorySettingsStore settings;

    // An export of `count` keys from the main window over the real port and worker.
    {
        std::unique_ptr<SimProcess> sim = StartSim({});
        if (!sim)
            return 1;
        FixedPortDirectory ports({});
        MainDeps deps;
        deps.settings = &settings;
        deps.ports = &ports;
        deps.portArg = QString::fromStdString(sim->Port());
        TFMain w(deps);
        w.show();
        QApplication::processEvents();
        DbModel model;
        model.TimeOpen = 5;
        model.Vardex = 0x0A1B2C;
        for (int i = 0; i < count; ++i)
            model.keys.push_back({0x100000u + static_cast<KeyCode>(i) * 7, "key"});
        const QString file = dir.filePath(QStringLiteral("export.vx2"));
        WriteDbFile(file.toStdString(), model);
        prompter.AnswerFile(file);
        w.actOpenExecute();
        prompter.AnswerBox(PromptAnswer::Yes);
        prompter.AnswerBox(PromptAnswer::Yes);

        double cpu = 0;
        Clock::time_point start;
        double wallMs = 0;
        bool ended = false;
        QTimer poll;
        poll.setInterval(50);
        QObject::connect(&poll, &QTimer::timeout, [&] {
            for (QWidget* top : QApplication::topLevelWidgets()) {
                auto* d = qobject_cast<TFWriteContr*>(top);
                if (!d || !d->isVisible())
                    continue;
                if (start == Clock::time_point()) {
                    start = Clock::now();
                    cpu = CpuSeconds();
                }
                if (d->bbCancel->text() == QStringLiteral("Закрыть")) {
                    wallMs = Ms(Clock::now() - start);
                    cpu = CpuSeconds() - cpu;
                    ended = static_cast<bool>(d->Export().CanClose);
                    poll.stop();
                    d->bbCancel->click();
                }
            }
        });
        poll.start();
        w.actSaveExecute();
        const bool ok = ended && prompter.records.back().text ==
                                     QStringLiteral("Экспорт в контроллер выполнен успешно!");
        const double cpuPercent = cpu / (wallMs / 1000.0) * 100.0;
        std::printf(
            "export of %d keys from the main window: %s, %.1f ms (from the dialog on "
            "screen to the end, within 50 ms)\n",
            count, ok ? "ok" : "FAILED", wallMs);
        std::printf("  process CPU while the dialog ran: %.2f %% of one core (limit 2 %%)\n",
                    cpuPercent);
        if (!ok || cpuPercent > 2.0)
            status = 1;
    }

    // Save of a loaded 65,535-key controller: the main window writes the new file whole,
    // loads it and shows it.
    {
        FixedPortDirectory ports({QStringLiteral("/dev/null")});
        MainDeps deps;
        deps.settings = &settings;
        deps.ports = &ports;
        TFMain w(deps);
        w.show();
        QApplication::processEvents();
        InstantController controller(65535);
        TVirtualJobClock clock;
        TJobLoop loop(clock);
        TRecordingJobHost host(loop, controller);
        TLoadJob job(host);
        host.Attach(job);
        host.RunJob();
        const QString path = dir.filePath(QStringLiteral("new_contr.vx2"));
        const auto start = Clock::now();
        bool ok = w.WriteDbFile(path, job.NewFileModel()) && w.LoadDbFile(path);
        if (ok) {
            w.SetCurrentFile(path);
            w.EnableEditing(true);
            w.FileOpen = true;
        }
        QApplication::processEvents();  // the list painted
        const double ms = Ms(Clock::now() - start);
        std::printf(
            "save of a loaded 65535-key controller into a new file, shown: %s, %d rows, "
            "%.1f ms (limit 1000 ms)\n",
            ok ? "ok" : "FAILED", w.Keys()->Count(), ms);
        if (!ok || ms > 1000)
            status = 1;
    }
    SetAppPrompter(nullptr);
    return status;
}
