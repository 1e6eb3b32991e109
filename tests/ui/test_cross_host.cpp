// One sequence, two hosts. A number change of a key runs as the key dialog does it in the
// main window against one vardex2-sim, and as vardex2-cli does it against a second one in
// the same state: both controllers must receive the same requests, and both database files
// must end byte for byte alike.
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <regex>

#include "core/keys/database.h"
#include "fakes.h"
#include "support/sim_process.h"
#include "ui/main/editkey.h"
#include "ui/main/key_number_edit.h"
#include "ui/seams/prompter.h"
#include "ui/seams/ui_platform.h"

namespace {

// The request frames the controller received, in order.
std::vector<std::string> Requests(const std::string& log) {
    std::vector<std::string> frames;
    static const std::regex line(R"(request ([0-9A-F]{2}(?: [0-9A-F]{2})*) \|)");
    for (auto it = std::sregex_iterator(log.begin(), log.end(), line); it != std::sregex_iterator();
         ++it)
        frames.push_back((*it)[1]);
    return frames;
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

void MakeDb(const QString& path) {
    QVERIFY(NewDbFile(path.toStdString()).ok);
    QVERIFY(SaveKey(path.toStdString(), 0x12ABCD, "\xC4\xE2\xE5\xF0\xFC").ok);  // "Дверь"
    QVERIFY(SaveKey(path.toStdString(), 0x000001, "").ok);
}

}  // namespace

class TestCrossHost : public QObject {
    Q_OBJECT

  private slots:
    void aNumberChangeSendsTheSameAndWritesTheSameThroughBothHosts() {
        ScriptedPrompter prompter;
        SetAppPrompter(&prompter);
        QTemporaryDir dir;
        const QString uiPath = dir.filePath(QStringLiteral("ui.vx2"));
        const QString cliPath = dir.filePath(QStringLiteral("cli.vx2"));
        MakeDb(uiPath);
        MakeDb(cliPath);
        SimProcess simUi({"--keys", "0x12ABCD,0x000001"});
        SimProcess simCli({"--keys", "0x12ABCD,0x000001"});

        {
            MemorySettingsStore settings;
            FixedPortDirectory ports({QString::fromStdString(simUi.Port())});
            MainDeps deps;
            deps.settings = &settings;
            deps.ports = &ports;
            TFMain w(deps);
            w.show();
            prompter.AnswerFile(uiPath);
            w.actOpenExecute();
            QVERIFY(w.FileOpen);
            w.SelectRow(w.FindRow(0x12ABCD));
            OnModal<TFEditKey>([](TFEditKey* d) {
                d->edKeyNumber->setText(QStringLiteral("XX XX XXXXXX 0A1B2C"));
                d->bbOK->click();
            });
            w.tbEditClick();
            QVERIFY(w.FindRow(0x0A1B2C) >= 0);
            QVERIFY(w.FindRow(0x12ABCD) < 0);
        }

        const ProcessResult r = RunProgram({CliPath(), "--port", simCli.Port(), "edit",
                                            cliPath.toStdString(), "12ABCD", "--number", "0A1B2C"},
                                           "", 20000);
        QVERIFY2(r.status == 0, r.err.c_str());

        const std::vector<std::string> ui = Requests(simUi.Log());
        QCOMPARE(ui.size(), size_t(2));
        QCOMPARE(ui, Requests(simCli.Log()));
        QCOMPARE(ReadAll(uiPath), ReadAll(cliPath));
        DbModel model;
        QVERIFY(LoadDbFile(uiPath.toStdString(), model).ok);
        QCOMPARE(model.keys.size(), size_t(2));
        SetAppPrompter(nullptr);
    }
};

QTEST_MAIN(TestCrossHost)
#include "test_cross_host.moc"
