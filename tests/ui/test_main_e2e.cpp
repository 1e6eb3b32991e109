// The main window against the virtual controller on a pseudo-terminal: the new-file
// action from the questions to the new file, with the real worker and serial line.
#include <QFile>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeView>

#include "core/keys/database.h"
#include "core/link/serial_port.h"
#include "support/sim_process.h"
#include "ui/main/main_window.h"
#include "ui/main/updown.h"
#include "ui/seams/prompter.h"
#include "ui/seams/ui_platform.h"

namespace {

struct Logged {
    double atMs;
    QString bytes;  // the request header as logged, e.g. "00 02 00 00 00 07"
};

// The requests in the controller's log, in order.
std::vector<Logged> Requests(const SimProcess& sim) {
    std::vector<Logged> out;
    static const QRegularExpression line(
        QStringLiteral(R"(^\[\s*([0-9.]+)\]\s+request\s+((?:[0-9A-Fa-f]{2} ?)+))"));
    for (const QString& l : QString::fromStdString(sim.Log()).split('\n')) {
        const auto m = line.match(l);
        if (m.hasMatch()) {
            out.push_back({m.captured(1).toDouble(), m.captured(2).trimmed().toUpper()});
        }
    }
    return out;
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

}  // namespace

class TestMainE2E : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    ScriptedPrompter prompter;
    MemorySettingsStore settings;
    FixedPortDirectory ports{QStringList{}};

    std::unique_ptr<TFMain> Window(const SimProcess& sim) {
        MainDeps deps;
        deps.settings = &settings;
        deps.ports = &ports;
        deps.portArg = QString::fromStdString(sim.Port());
        auto w = std::make_unique<TFMain>(deps);
        w->show();
        return w;
    }

    QString OldDb() {
        DbModel m;
        m.TimeOpen = 9;
        m.keys = {{0x0A1B2C, "old"}};
        const QString path = dir.filePath(QStringLiteral("old.vx2"));
        WriteDbFile(path.toStdString(), m);
        return path;
    }

  private slots:
    void init() {
        prompter = ScriptedPrompter();
        SetAppPrompter(&prompter);
    }
    void cleanup() { SetAppPrompter(nullptr); }

    void newFileClearsTheControllerAndCreatesTheFile() {
        SimProcess sim({"--keys", "1,2,0x0A1B2C", "--vardex", "0x123456"});
        auto w = Window(sim);
        const QString path = dir.filePath(QStringLiteral("fresh.vx2"));
        prompter.AnswerBox(PromptAnswer::Yes);
        prompter.AnswerBox(PromptAnswer::Yes);
        prompter.AnswerFile(path);
        w->actNewExecute();

        QCOMPARE(prompter.records.size(), size_t(3));
        QCOMPARE(prompter.records[0].icon, PromptIcon::Question);
        QCOMPARE(prompter.records[1].icon, PromptIcon::Warning);
        QCOMPARE(prompter.records[2].kind, ScriptedPrompter::Record::Save);

        const auto requests = Requests(sim);
        QCOMPARE(requests.size(), size_t(4));
        QVERIFY2(requests[0].bytes.startsWith(QStringLiteral("00 02 00 00 00")), sim.Log().c_str());
        QVERIFY(requests[1].bytes.startsWith(QStringLiteral("00 01 00 00 00")));
        QVERIFY(requests[2].bytes.startsWith(QStringLiteral("00 61 00 00 02")));
        QVERIFY(requests[3].bytes.startsWith(QStringLiteral("00 63 00 00 00")));
        QVERIFY(sim.Log().find("FF FF") != std::string::npos);
        // Each request follows the previous reply after the 100 ms pause.
        QVERIFY(requests[1].atMs - requests[0].atMs >= 100);
        QVERIFY(requests[2].atMs - requests[1].atMs >= 100);

        const SimState state = sim.State();
        QVERIFY(state.keys.empty());
        QCOMPARE(w->windowTitle(), QStringLiteral("Vardex 2 - ") + path);
        QCOMPARE(w->Vardex, KeyCode(state.vardex));
        // The file holds the controller's own times, as the next reconcile will find them.
        QCOMPARE(ReadAll(path),
                 QByteArray("[ControllerSettings]\r\nTimeOpen=") +
                     QByteArray::number(state.timeOpen) +
                     "\r\nRetryRead=" + QByteArray::number(state.retryRead) +
                     "\r\nTypeFormat=0\r\nVardex=" + QByteArray::number(state.vardex) + "\r\n");
        QVERIFY(w->FileOpen);
        QVERIFY(w->lvDB->isEnabled());
        QVERIFY(w->Port() && !w->Port()->IsOpen());
    }

    void cancelledSaveKeepsThePreviousFile() {
        SimProcess sim({"--keys", "7"});
        auto w = Window(sim);
        const QString old = OldDb();
        prompter.AnswerFile(old);
        w->actOpenExecute();
        const QByteArray before = ReadAll(old);
        prompter.AnswerBox(PromptAnswer::Yes);
        prompter.AnswerBox(PromptAnswer::Yes);
        w->actNewExecute();  // the save dialog is cancelled, before any request
        QCOMPARE(Requests(sim).size(), size_t(0));
        QCOMPARE(sim.State().keys.size(), size_t(1));  // the controller keeps its key
        QCOMPARE(w->windowTitle(), QStringLiteral("Vardex 2 - ") + old);
        QCOMPARE(w->Keys()->Count(), 1);
        QCOMPARE(w->udTimeOpen->value(), 9);
        QCOMPARE(ReadAll(old), before);
        QVERIFY(!w->Port()->IsOpen());
    }

    void silentControllerStopsWithTheTimeOutBox() {
        SimProcess sim({"--keys", "5"});
        sim.Fault("silence");
        auto w = Window(sim);
        prompter.AnswerBox(PromptAnswer::Yes);
        prompter.AnswerBox(PromptAnswer::Yes);
        prompter.AnswerFile(dir.filePath(QStringLiteral("never.vx2")));
        w->actNewExecute();
        QCOMPARE(prompter.records.size(), size_t(4));  // the save dialog comes third
        QCOMPARE(prompter.records[3].caption, QStringLiteral("Ошибка связи с контроллером"));
        QCOMPARE(prompter.records[3].text,
                 QStringLiteral("Истекло время ожидания ответа от контроллера.\rВозможно "
                                "контроллер не подключен"));
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("never.vx2"))));
        QCOMPARE(w->windowTitle(), QStringLiteral("Vardex 2"));
        QVERIFY(!w->FileOpen);
        sim.FaultOff();
        QCOMPARE(sim.State().keys.size(), size_t(1));  // no clear was sent
        QVERIFY(!w->Port()->IsOpen());
    }
};

QTEST_MAIN(TestMainE2E)
#include "test_main_e2e.moc"
