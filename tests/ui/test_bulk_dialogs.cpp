// The two bulk enrolments: the CSV import's preview, question, import, cancel and refused
// lines; enrolment by presenting keys with a known key, a key held twice and the close;
// and their places in the main window's menu.
#include <QAction>
#include <QCheckBox>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>
#include <deque>

#include "core/keys/cp1251.h"
#include "core/keys/database.h"
#include "core/keys/key_code.h"
#include "core/keys/key_csv.h"
#include "core/link/command_set.h"
#include "fakes.h"
#include "ui/dialogs/enrol.h"
#include "ui/dialogs/importcsv.h"
#include "ui/seams/prompter.h"
#include "ui/seams/ui_platform.h"

namespace {

std::string Cp(const char* utf8) {
    std::string out;
    Utf8ToCp1251(utf8, out);
    return out;
}

KeyCode Stored(const FakeRunner::Sent& s) {
    return static_cast<KeyCode>(s.data[1] << 16 | s.data[2] << 8 | s.data[3]);
}

std::vector<KeyCode> Writes(const FakeRunner& runner) {
    std::vector<KeyCode> out;
    for (const auto& s : runner.sent) {
        if (s.header[1] == WriteKey)
            out.push_back(Stored(s));
    }
    return out;
}

const char* const Csv =
    "Карта(ключ);Описание\r\n"
    "12ABCD;Иванов\r\n"   // line 2: same
    "000001;Петров\r\n"   // line 3: another description
    "ABCDEF;Новый\r\n"    // line 4: new
    "abcdef;Ещё\r\n"      // line 5: line 4 again
    "66,041;Порча\r\n"    // line 6: no key
    "000002;Второй\r\n";  // line 7: new

}  // namespace

class TestBulkDialogs : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    ScriptedPrompter* prompter = nullptr;
    FakeRunner* runner = nullptr;
    int closes = 0;

    QString SampleDb(const QString& name) {
        DbModel m;
        m.TimeOpen = 9;
        m.RetryRead = 2;
        m.keys = {{0x12ABCD, Cp("Иванов")}, {0x000001, Cp("")}};
        const QString path = dir.filePath(name);
        WriteDbFile(path.toStdString(), m);
        return path;
    }
    static std::vector<DbKey> KeysOf(const QString& path) {
        DbModel m;
        LoadDbFile(path.toStdString(), m);
        return m.keys;
    }
    static QString DescriptionOf(const QString& path, KeyCode code) {
        for (const DbKey& k : KeysOf(path)) {
            if (k.code == code)
                return QString::fromStdString(Cp1251ToUtf8(k.description));
        }
        return QStringLiteral("<none>");
    }

  private slots:
    void initTestCase() { qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toUtf8()); }
    void init() {
        prompter = new ScriptedPrompter;
        SetAppPrompter(prompter);
        runner = new FakeRunner;
        closes = 0;
    }
    void cleanup() {
        SetAppPrompter(nullptr);
        delete prompter;
        delete runner;
    }

    void importShowsEachLinesFateAsksOnceAndSendsOnlyTheNewKeys() {
        const QString db = SampleDb(QStringLiteral("i.vx2"));
        CsvImport preview = PreviewCsvImport(Csv, TypeFormatIButton, KeysOf(db));
        std::vector<KeyCode> added, updated;
        TFImportCsv d(
            nullptr, *runner, [this] { ++closes; }, db.toStdString(), TypeFormatIButton, preview,
            [&](const std::vector<DbKey>& a, const std::vector<DbKey>& u) {
                for (const DbKey& k : a)
                    added.push_back(k.code);
                for (const DbKey& k : u)
                    updated.push_back(k.code);
            });
        d.show();
        QCOMPARE(d.lvLines->topLevelItemCount(), 6);
        auto fate = [&](int row) { return d.lvLines->topLevelItem(row)->text(3); };
        QCOMPARE(fate(0), QStringLiteral("Уже в файле"));
        QCOMPARE(fate(1), QStringLiteral("Новое описание (было «»)"));
        QCOMPARE(d.lvLines->topLevelItem(1)->checkState(0), Qt::Unchecked);
        QCOMPARE(fate(2), QStringLiteral("Новая"));
        QCOMPARE(d.lvLines->topLevelItem(2)->checkState(0), Qt::Checked);
        QVERIFY(fate(3).contains(QStringLiteral("4")));
        QVERIFY(fate(4).startsWith(QStringLiteral("Отказ: ")));
        QVERIFY(d.bbSaveRefused->isEnabled());
        QVERIFY(d.lSummary->text().startsWith(QStringLiteral(
            "Новых: 2, уже в файле: 1, новых описаний: 1, повторов: 1, отказов: 1")));

        // No: nothing written anywhere.
        prompter->AnswerBox(PromptAnswer::No);
        d.bbOK->click();
        QVERIFY(runner->sent.empty());
        QVERIFY(!d.Import());
        QCOMPARE(prompter->records.back().text,
                 QStringLiteral("Добавить в контроллер и в файл карт(ключей): 2\rПродолжить?"));

        // The update ticked: the question names it too.
        d.lvLines->topLevelItem(1)->setCheckState(0, Qt::Checked);
        prompter->AnswerBox(PromptAnswer::Yes);
        d.bbOK->click();
        QCOMPARE(prompter->records.back().text,
                 QStringLiteral("Добавить в контроллер и в файл карт(ключей): 2\rИзменить в файле "
                                "описаний: 1\rПродолжить?"));
        QVERIFY(d.Import());
        QVERIFY(!d.bbOK->isEnabled());
        QTRY_COMPARE_WITH_TIMEOUT(d.bbCancel->text(), QStringLiteral("Закрыть"), 5000);
        QCOMPARE(Writes(*runner), (std::vector<KeyCode>{0xABCDEF, 0x000002}));
        QCOMPARE(added, (std::vector<KeyCode>{0xABCDEF, 0x000002}));
        QCOMPARE(updated, (std::vector<KeyCode>{0x000001}));
        QCOMPARE(DescriptionOf(db, 0xABCDEF), QStringLiteral("Новый"));
        QCOMPARE(DescriptionOf(db, 0x000002), QStringLiteral("Второй"));
        QCOMPARE(DescriptionOf(db, 0x000001), QStringLiteral("Петров"));
        QVERIFY(prompter->records.back().text.startsWith(QStringLiteral("Импорт завершён\r")));
        QVERIFY(d.lSummary->text().startsWith(QStringLiteral("Добавлено карт(ключей): 2 из 2")));
        // Each row now says what became of it, not what it was to become.
        QCOMPARE(fate(2), QStringLiteral("Добавлена"));
        QCOMPARE(fate(1), QStringLiteral("Описание записано"));
        QCOMPARE(fate(0), QStringLiteral("Уже в файле"));
        QCOMPARE(closes, 1);
        d.bbCancel->click();
        QVERIFY(!d.isVisible());
    }

    void cancelStopsBetweenKeysAndKeepsTheSummaryOnScreen() {
        const QString db = SampleDb(QStringLiteral("c.vx2"));
        CsvImport preview = PreviewCsvImport("30\r\n31\r\n32\r\n", TypeFormatIButton, KeysOf(db));
        TFImportCsv d(nullptr, *runner, [this] { ++closes; }, db.toStdString(), TypeFormatIButton,
                      preview, {});
        d.show();
        runner->hold = true;
        prompter->AnswerBox(PromptAnswer::Yes);
        d.bbOK->click();
        QTRY_COMPARE(runner->sent.size(), size_t(1));
        QVERIFY(d.lTimeLeft->text().isEmpty());
        runner->Release();  // the first key stored: two to go at its pace
        QTRY_VERIFY(QRegularExpression(QStringLiteral("^Осталось примерно: \\d+:\\d\\d$"))
                        .match(d.lTimeLeft->text())
                        .hasMatch());
        d.bbCancel->click();  // the job is running: the dialog stays
        QVERIFY(d.isVisible());
        QTRY_COMPARE_WITH_TIMEOUT(d.bbCancel->text(), QStringLiteral("Закрыть"), 5000);
        QCOMPARE(Writes(*runner), (std::vector<KeyCode>{0x30}));
        QVERIFY(d.isVisible());
        QVERIFY(prompter->records.back().text.startsWith(
            QStringLiteral("Импорт прерван\rДобавлено карт(ключей): 1 из 3")));
        QCOMPARE(DescriptionOf(db, 0x30), QStringLiteral(""));
        QCOMPARE(DescriptionOf(db, 0x31), QStringLiteral("<none>"));
        QVERIFY(d.lTimeLeft->text().isEmpty());
        d.bbCancel->click();
        QVERIFY(!d.isVisible());
    }

    void refusedLinesAreSavedAsCsv() {
        const QString db = SampleDb(QStringLiteral("s.vx2"));
        CsvImport preview = PreviewCsvImport(Csv, TypeFormatIButton, KeysOf(db));
        TFImportCsv d(nullptr, *runner, {}, db.toStdString(), TypeFormatIButton, preview, {});
        const QString out = dir.filePath(QStringLiteral("refused.csv"));
        prompter->AnswerFile(out);
        d.bbSaveRefused->click();
        QFile f(out);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QCOMPARE(f.readAll().toStdString(), RefusedRowsToCsv(preview));
        QVERIFY(runner->sent.empty());
    }

    void enrolmentAddsNewKeysOnceSkipsKnownOnesAndStopsOnClose() {
        const QString db = SampleDb(QStringLiteral("e.vx2"));
        // What the reader sees, one poll each: nobody, a known key, a new key held for two
        // polls, another new key, then nobody.
        std::deque<KeyCode> presented{0, 0x12ABCD, 0x30, 0x30, 0x40};
        runner->makeReply = [&](const FrameHeader& h, FrameHeader& reply, FrameData& data) {
            if (h[1] != ReadPresentedKey || presented.empty())
                return;
            const KeyCode code = presented.front();
            presented.pop_front();
            if (code == 0)
                return;
            reply[4] = 4;
            data[0] = 4;
            data[1] = 0x01;
            data[2] = static_cast<std::uint8_t>(code >> 16);
            data[3] = static_cast<std::uint8_t>(code >> 8);
            data[4] = static_cast<std::uint8_t>(code);
        };
        std::vector<std::pair<KeyCode, QString>> rows;
        auto* d = new TFEnrol(
            nullptr, *runner, [this] { ++closes; }, db.toStdString(), TypeFormatIButton, KeysOf(db),
            [&](KeyCode code, const QString& description) {
                rows.emplace_back(code, description);
            });
        QCOMPARE(d->edTemplate->text(), QStringLiteral("Сотрудник {n}"));
        d->show();
        QTRY_COMPARE_WITH_TIMEOUT(d->lvAdded->topLevelItemCount(), 1, 5000);
        d->edTemplate->setText(QStringLiteral("Гость {n}"));
        QTRY_COMPARE_WITH_TIMEOUT(d->lvAdded->topLevelItemCount(), 2, 5000);
        QTRY_VERIFY(presented.empty());
        QCOMPARE(int(runner->sent.front().header[1]),
                 int(CheckLink));  // the link before the reader
        QCOMPARE(Writes(*runner), (std::vector<KeyCode>{0x30, 0x40}));
        QCOMPARE(d->lvAdded->topLevelItem(0)->text(1), QStringLiteral("Сотрудник 1"));
        QCOMPARE(d->lvAdded->topLevelItem(1)->text(1), QStringLiteral("Гость 2"));
        QCOMPARE(rows.size(), size_t(2));
        QCOMPARE(DescriptionOf(db, 0x30), QStringLiteral("Сотрудник 1"));
        QCOMPARE(DescriptionOf(db, 0x40), QStringLiteral("Гость 2"));
        QCOMPARE(DescriptionOf(db, 0x12ABCD), QStringLiteral("Иванов"));

        // A template the file cannot hold is shown at once, and a key is not written.
        d->edTemplate->setText(QStringLiteral("Ω {n}"));
        QVERIFY(!d->lTemplateError->text().isEmpty());

        d->bbCancel->click();
        QVERIFY(!d->isVisible());
        const size_t sent = runner->sent.size();
        QTest::qWait(300);  // several poll pauses
        QCOMPARE(runner->sent.size(), sent);
        delete d;
    }

    // "Вводить описание для каждого ключа": each new key's description is asked for with
    // the template's text offered; one the file cannot hold is refused and asked again;
    // Cancel skips the key, which is not asked about again while it stays at the reader.
    void enrolmentAsksADescriptionForEachKey() {
        const QString db = SampleDb(QStringLiteral("each.vx2"));
        std::deque<KeyCode> presented{0x50, 0x50, 0x60, 0x60, 0x12ABCD, 0x70};
        runner->makeReply = [&](const FrameHeader& h, FrameHeader& reply, FrameData& data) {
            if (h[1] != ReadPresentedKey || presented.empty())
                return;
            const KeyCode code = presented.front();
            presented.pop_front();
            reply[4] = 4;
            data[0] = 4;
            data[2] = static_cast<std::uint8_t>(code >> 16);
            data[3] = static_cast<std::uint8_t>(code >> 8);
            data[4] = static_cast<std::uint8_t>(code);
        };
        prompter->AnswerText(QStringLiteral("Иванов И.И., склад"));
        prompter->CancelText();
        prompter->AnswerText(QStringLiteral("Ω"));
        prompter->AnswerText(QStringLiteral("Петров"));
        auto* d = new TFEnrol(nullptr, *runner, [this] { ++closes; }, db.toStdString(),
                              TypeFormatIButton, KeysOf(db), {});
        QVERIFY(!d->cbAskEach->isChecked());
        QCOMPARE(d->cbAskEach->text(), QStringLiteral("Вводить описание для каждого ключа"));
        d->cbAskEach->setChecked(true);
        d->show();
        QTRY_COMPARE_WITH_TIMEOUT(d->lvAdded->topLevelItemCount(), 2, 5000);
        QTRY_VERIFY(presented.empty());
        QCOMPARE(Writes(*runner), (std::vector<KeyCode>{0x50, 0x70}));
        QCOMPARE(DescriptionOf(db, 0x50), QStringLiteral("Иванов И.И., склад"));
        QCOMPARE(DescriptionOf(db, 0x60), QStringLiteral("<none>"));
        QCOMPARE(DescriptionOf(db, 0x70), QStringLiteral("Петров"));
        QCOMPARE(d->lvAdded->topLevelItem(1)->text(1), QStringLiteral("Петров"));
        QStringList prompts;
        for (const auto& r : prompter->records)
            prompts << r.caption + QStringLiteral(" | ") + r.text;
        QCOMPARE(prompts,
                 QStringList({
                     QStringLiteral("Регистрация карт(ключей) | Описание новой карты(ключа) "
                                    "XX XX XXXXXX 000050:\nСотрудник 1"),
                     QStringLiteral("Регистрация карт(ключей) | Описание новой карты(ключа) "
                                    "XX XX XXXXXX 000060:\nСотрудник 2"),
                     QStringLiteral("Регистрация карт(ключей) | Описание новой карты(ключа) "
                                    "XX XX XXXXXX 000070:\nСотрудник 2"),
                     QStringLiteral("Ошибка | Символ «Ω» нельзя записать в описание"),
                     QStringLiteral("Регистрация карт(ключей) | Описание новой карты(ключа) "
                                    "XX XX XXXXXX 000070:\nΩ"),
                 }));
        QCOMPARE(d->lLast->text(), QStringLiteral("Добавлена: XX XX XXXXXX 000070"));
        d->bbCancel->click();
        delete d;
    }

    void bothActionsAreInTheFileMenuAndAnInvalidEntryIsTold() {
        MemorySettingsStore settings;
        FixedPortDirectory ports{{QStringLiteral("/dev/ttyS0")}};
        FakeLink link;
        MainDeps deps;
        deps.settings = &settings;
        deps.ports = &ports;
        deps.runner = runner;
        deps.link = &link;
        TFMain w(deps);
        w.show();
        QMenu* file = w.menuBar()->findChild<QMenu*>(QStringLiteral("miFile"));
        QVERIFY(file);
        QVERIFY(file->actions().contains(w.actImportCsv));
        QVERIFY(file->actions().contains(w.actEnrol));
        QCOMPARE(w.actImportCsv->text(), QStringLiteral("&Импорт из CSV..."));
        QCOMPARE(w.actEnrol->text(), QStringLiteral("&Регистрация карт(ключей)"));
        QVERIFY(!w.actImportCsv->isEnabled());
        const QString db = SampleDb(QStringLiteral("p.vx2"));
        prompter->AnswerFile(db);
        w.actOpenExecute();
        QVERIFY(w.actImportCsv->isEnabled());
        QVERIFY(w.actEnrol->isEnabled());
        // A key whose name is no number no longer ends the list: the reload tells of it,
        // and it is never sent.
        QFile f(db);
        QVERIFY(f.open(QIODevice::Append));
        f.write("zz=XX XX XXXXXX 0000ZZ\r\n");
        f.close();
        const size_t before = prompter->records.size();
        QVERIFY(w.ReloadIfChanged());
        QVERIFY(prompter->records.size() > before);
        QVERIFY(prompter->records.back().text.contains(QStringLiteral("(«zz»)")));
        QCOMPARE(link.opens, 0);
        QVERIFY(runner->sent.empty());
    }
};

QTEST_MAIN(TestBulkDialogs)
#include "test_bulk_dialogs.moc"
