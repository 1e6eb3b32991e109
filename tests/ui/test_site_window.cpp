// The site window against three virtual controllers, by keyboard: the people view, the
// search, a tick granted and taken back at one door, and a key removed from every door
// with one door silent, finished by the rerun.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMenuBar>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QStandardPaths>
#include <QTableView>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>

#include "core/site/site_file.h"
#include "fakes.h"
#include "support/sim_process.h"
#include "ui/dialogs/getkey.h"
#include "ui/dialogs/scanline.h"
#include "ui/seams/prompter.h"
#include "ui/seams/ui_platform.h"
#include "ui/site/people_model.h"
#include "ui/site/site_print.h"
#include "ui/site/site_reconcile_dialog.h"
#include "ui/site/site_window.h"

namespace {

bool Holds(SimProcess& sim, std::uint32_t code) {
    for (std::uint32_t k : sim.State().keys)
        if (k == code)
            return true;
    return false;
}

}  // namespace

class TestSiteWindow : public QObject {
    Q_OBJECT
    QTemporaryDir dir;
    ScriptedPrompter prompter;

    std::string Db(const char* name, std::vector<DbKey> keys) {
        DbModel m;
        m.keys = std::move(keys);
        const std::string path = dir.filePath(QString::fromLatin1(name)).toStdString();
        WriteDbFile(path, m);
        return path;
    }

    // Moves the keyboard to the cell and presses Space, as the operator ticks it.
    void SpaceAt(TFSite& w, int row, int column) {
        w.Table()->setFocus();
        w.Table()->setCurrentIndex(w.Model()->index(row, column));
        QTest::keyClick(w.Table(), Qt::Key_Space);
    }

    // Key events with their text, Cyrillic too (QTest::keyClicks takes Latin-1 only).
    static void Type(QWidget* widget, const QString& text) {
        for (const QChar c : text) {
            QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, QString(c));
            QKeyEvent release(QEvent::KeyRelease, 0, Qt::NoModifier, QString(c));
            QApplication::sendEvent(widget, &press);
            QApplication::sendEvent(widget, &release);
        }
    }

    void WaitForChange(TFSite& w) {
        QSignalSpy ended(&w, &TFSite::changeEnded);
        QVERIFY(w.Running() || ended.count() > 0);
        QVERIFY(ended.wait(20000));
    }

  private slots:
    void init() {
        prompter = ScriptedPrompter();
        SetAppPrompter(&prompter);
    }
    void cleanup() { SetAppPrompter(nullptr); }

    void peopleAcrossThreeDoorsByKeyboard() {
        SimProcess a({"--keys", "1,2"});
        SimProcess b({"--keys", "1"});
        SimProcess c({"--keys", "1,3"});
        Site site;
        site.name = "Офис";
        site.doors = {
            {"Главный вход", "a.vx2", a.Port()},
            {"Склад", "b.vx2", b.Port()},
            {"Бухгалтерия", "c.vx2", c.Port()},
        };
        Db("a.vx2", {{1, "\xC8\xE2\xE0\xED\xEE\xE2"}, {2, "\xCF\xE5\xF2\xF0\xEE\xE2"}});
        Db("b.vx2", {{1, "\xC8\xE2\xE0\xED\xEE\xE2"}});
        Db("c.vx2",
           {{1, "\xC8\xE2\xE0\xED\xEE\xE2 \xC8."}, {3, "<b>X</b><img src=\"/dev/zero\">"}});
        const QString sitePath = dir.filePath(QStringLiteral("office.vx2site"));
        QVERIFY(SaveSite(sitePath.toStdString(), site));

        TFSite w(sitePath);
        QVERIFY(w.Reload());
        w.show();
        PeopleModel& m = *w.Model();
        QCOMPARE(m.rowCount(), 3);
        QCOMPARE(
            m.headerData(PeopleModel::FirstDoorColumn, Qt::Horizontal, Qt::DisplayRole).toString(),
            QStringLiteral("Главный вход (2)"));
        // Key 1 is described otherwise at one door: marked, each door's text in the tip.
        const QModelIndex first = m.index(0, PeopleModel::DescriptionColumn);
        QCOMPARE(first.data().toString(), QStringLiteral("≠ Иванов"));
        QVERIFY(first.data(Qt::ToolTipRole).toString().contains(QStringLiteral("Иванов И.")));
        // A description is shown as typed, never as markup.
        QCOMPARE(m.index(2, PeopleModel::DescriptionColumn).data().toString(),
                 QStringLiteral("<b>X</b><img src=\"/dev/zero\">"));

        // The search: by description, and by a number in another printed form.
        Type(w.SearchField(), QStringLiteral("петров"));
        QCOMPARE(m.rowCount(), 1);
        QCOMPARE(m.CodeAt(0), KeyCode(2));
        w.SearchField()->clear();
        QTest::keyClicks(w.SearchField(), QStringLiteral("XX XX XXXXXX 000003"));
        QCOMPARE(m.rowCount(), 1);
        QCOMPARE(m.CodeAt(0), KeyCode(3));
        w.SearchField()->clear();
        QCOMPARE(m.rowCount(), 3);

        // Space on Петров's cell at the store grants the key there, with its description.
        SpaceAt(w, 1, PeopleModel::FirstDoorColumn + 1);
        WaitForChange(w);
        QVERIFY(Holds(b, 2));
        QVERIFY(m.View().Holds(1, 1));
        QCOMPARE(prompter.records.back().icon, PromptIcon::Information);

        // Space again takes it back, after the question of a delete.
        prompter.AnswerBox(PromptAnswer::Yes);
        SpaceAt(w, 1, PeopleModel::FirstDoorColumn + 1);
        WaitForChange(w);
        QVERIFY(!Holds(b, 2));
        QVERIFY(prompter.records[prompter.records.size() - 2].text.contains(
            QStringLiteral("Вы действительно хотите удалить карту(ключ) XX XX XXXXXX 000002?")));

        // Delete removes the selected key from every door; the silent door is reported
        // and the rerun finishes it.
        c.Fault("silence");
        w.Table()->selectRow(0);
        prompter.AnswerBox(PromptAnswer::Yes);
        QTest::keyClick(w.Table(), Qt::Key_Delete);
        WaitForChange(w);
        QVERIFY(!Holds(a, 1));
        QVERIFY(!Holds(b, 1));
        QCOMPARE(prompter.records.back().icon, PromptIcon::Warning);
        QVERIFY(prompter.records.back().text.contains(QStringLiteral("Бухгалтерия: ошибка")));
        c.FaultOff();
        QVERIFY(Holds(c, 1));
        QCOMPARE(m.CodeAt(0), KeyCode(1));  // still at the door that failed
        w.Table()->selectRow(0);
        prompter.AnswerBox(PromptAnswer::Yes);
        QTest::keyClick(w.Table(), Qt::Key_Delete);
        WaitForChange(w);
        QVERIFY(!Holds(c, 1));
        QCOMPARE(prompter.records.back().icon, PromptIcon::Information);
        QVERIFY(prompter.records.back().text.contains(QStringLiteral("Главный вход: не было")));
        QCOMPARE(m.rowCount(), 2);
    }

    // Who opens what on paper: a known site of 3 doors and 130 keys on A4, its pages
    // counted and its first page read back (pdftotext, where installed).
    void pdfOfWhoOpensWhat() {
        std::vector<DbKey> many;
        for (KeyCode k = 1; k <= 130; ++k)
            many.push_back({k, "\xCF\xE5\xF2\xF0\xEE\xE2"});
        Db("p1.vx2", many);
        Db("p2.vx2", {{1, ""}});
        Db("p3.vx2", {});
        Site site;
        site.name = "Офис на Садовой";
        site.doors = {
            {"Главный вход", "p1.vx2", ""}, {"Склад", "p2.vx2", ""}, {"Бухгалтерия", "p3.vx2", ""}};
        const QString sitePath = dir.filePath(QStringLiteral("paper.vx2site"));
        QVERIFY(SaveSite(sitePath.toStdString(), site));
        TFSite w(sitePath);
        QVERIFY(w.Reload());
        PrintTable table = WhoOpensWhat(*w.Model(), QStringLiteral("Офис на Садовой"));
        table.date = QDate(2026, 12, 8);
        const QString pdf = qEnvironmentVariableIsSet("VX_KEEP_PDF")
                                ? qEnvironmentVariable("VX_KEEP_PDF")
                                : dir.filePath(QStringLiteral("who.pdf"));
        const int pages = WriteTablePdf(pdf, table);
        QCOMPARE(pages, 3);  // 130 rows, portrait for three doors
        QFile f(pdf);
        QVERIFY(f.open(QIODevice::ReadOnly));
        const QByteArray bytes = f.readAll();
        QCOMPARE(bytes.count("/Type /Page\n") + bytes.count("/Type /Page\r") +
                     bytes.count("/Type /Page "),
                 3);
        if (QStandardPaths::findExecutable(QStringLiteral("pdftotext")).isEmpty())
            QSKIP("pdftotext is not installed");
        QProcess text;
        text.start(QStringLiteral("pdftotext"),
                   {QStringLiteral("-f"), QStringLiteral("1"), QStringLiteral("-l"),
                    QStringLiteral("1"), QStringLiteral("-layout"), pdf, QStringLiteral("-")});
        QVERIFY(text.waitForFinished(20000));
        const QString first = QString::fromUtf8(text.readAllStandardOutput());
        QVERIFY2(first.contains(QStringLiteral("Офис на Садовой")), qPrintable(first));
        QVERIFY(first.contains(QStringLiteral("08.12.2026")));
        QVERIFY(first.contains(QStringLiteral("Кто какие двери открывает")));
        QVERIFY(first.contains(QStringLiteral("вход (130)")));  // a door's name may take two lines
        QVERIFY(first.contains(QStringLiteral("XX XX XXXXXX 000001")));
        QVERIFY(first.contains(QStringLiteral("Петров")));
        QVERIFY(first.contains(QStringLiteral("Страница 1 из 3")));
    }

    // The reconcile of every door: one plan, one question, each door's own reconcile; a
    // silent door is reported and the others are done.
    void reconcileEveryDoor() {
        SimProcess a({"--keys", "1,2", "--times", "1,1"});
        SimProcess b({"--keys", "1,9", "--times", "1,1"});
        SimProcess c({"--keys", "1", "--times", "1,1"});
        c.Fault("silence");
        Db("ra.vx2", {{1, ""}, {2, ""}});
        Db("rb.vx2", {{1, ""}, {3, ""}});
        Db("rc.vx2", {{1, ""}, {4, ""}});
        Site site;
        site.name = "Офис";
        site.doors = {
            {"A", "ra.vx2", a.Port()}, {"B", "rb.vx2", b.Port()}, {"C", "rc.vx2", c.Port()}};
        const QString sitePath = dir.filePath(QStringLiteral("rec.vx2site"));
        QVERIFY(SaveSite(sitePath.toStdString(), site));
        qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toUtf8());
        TFSiteReconcile dialog(nullptr, sitePath.toStdString(), site);
        QSignalSpy planned(&dialog, &TFSiteReconcile::planned);
        dialog.Start();
        QVERIFY(planned.wait(30000));
        QCOMPARE(dialog.Table()->item(0, 1)->text(), QStringLiteral("совпадает, без изменений: 2"));
        QCOMPARE(dialog.Table()->item(1, 1)->text(),
                 QStringLiteral("записать: 1, удалить: 1, без изменений: 1"));
        QVERIFY(dialog.Table()->item(2, 1)->text().startsWith(QStringLiteral("нет связи: ")));
        QVERIFY(dialog.ApplyButton()->isEnabled());
        QSignalSpy applied(&dialog, &TFSiteReconcile::applied);
        prompter.AnswerBox(PromptAnswer::Yes);
        dialog.ApplyButton()->click();
        QVERIFY(applied.wait(30000));
        QCOMPARE(dialog.Table()->item(1, 1)->text(),
                 QStringLiteral("выполнено, записано: 1, удалено: 1, без изменений: 1"));
        QVERIFY(Holds(b, 3));
        QVERIFY(!Holds(b, 9));
        QVERIFY(!dialog.Work().AllAgree());
    }

    // The site's status panel: a reachable door with its counts, a door whose line is absent.
    void statusOfADoorUnreachable() {
        SimProcess a({"--keys", "1,2"});
        Db("sa.vx2", {{1, ""}, {2, ""}});
        Db("sb.vx2", {{1, ""}});
        Site site;
        site.doors = {{"A", "sa.vx2", a.Port()}, {"B", "sb.vx2", "/dev/vx2-no-such-line"}};
        const QString sitePath = dir.filePath(QStringLiteral("status.vx2site"));
        QVERIFY(SaveSite(sitePath.toStdString(), site));
        TFSite w(sitePath);
        QVERIFY(w.Reload());
        QSignalSpy shown(&w, &TFSite::statusShown);
        w.actStatus->trigger();
        QVERIFY(shown.wait(20000));
        QTableWidget* t = w.StatusTable();
        QCOMPARE(t->item(0, 1)->text(), QStringLiteral("на связи"));
        QCOMPARE(t->item(0, 2)->text(), QStringLiteral("2"));
        QCOMPARE(t->item(0, 3)->text(), QStringLiteral("2"));
        QCOMPARE(t->item(0, 4)->text(), QStringLiteral("не проводилась"));
        QVERIFY(t->item(1, 1)->text().startsWith(QStringLiteral("нет связи: ")));
        QCOMPARE(t->item(1, 2)->text(), QStringLiteral("?"));
        QCOMPARE(t->item(1, 3)->text(), QStringLiteral("1"));

        // On this computer the door's line is another: remembered for this user only.
        SimProcess b({"--keys", "1"});
        MemorySettingsStore settings;
        SetAppSettings(&settings);
        w.Table()->setCurrentIndex(w.Model()->index(0, PeopleModel::FirstDoorColumn + 1));
        prompter.AnswerText(QString::fromStdString(b.Port()));
        w.actDoorLine->trigger();
        w.actStatus->trigger();
        QVERIFY(shown.wait(20000));
        SetAppSettings(nullptr);
        QCOMPARE(t->item(1, 1)->text(), QStringLiteral("на связи"));
        QCOMPARE(t->item(1, 2)->text(), QStringLiteral("1"));
        Site again;
        QVERIFY(LoadSite(sitePath.toStdString(), again));
        QCOMPARE(again.doors[1].line,
                 std::string("/dev/vx2-no-such-line"));  // the file keeps its own
    }

    // A site made from a scan of its line: each controller found becomes a door loaded
    // into a file of its own; a second scan adds none twice. Then a new key presented at
    // the reader of one door, granted to both.
    void doorsFromAScanAndAKeyPresentedAtADoor() {
        SimProcess line({"--bus", "3,9", "--keys", "1,2"});
        const QString sitePath = dir.filePath(QStringLiteral("scan.vx2site"));
        Site empty;
        empty.name = "Склад";
        QVERIFY(SaveSite(sitePath.toStdString(), empty));
        TFSite w(sitePath);
        QVERIFY(w.Reload());
        w.scanSettings.to = 12;
        w.show();
        // F10 opens the menu from any keyboard layout.
        w.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&w));
        QTest::keyClick(&w, Qt::Key_F10);
        QTRY_VERIFY(w.menuBar()->activeAction() != nullptr);
        QTest::keyClick(w.menuBar(), Qt::Key_Escape);

        const auto closeScanWhenOver = [] {
            OnModal<TFScanLine>([](TFScanLine* scan) {
                QTRY_VERIFY_WITH_TIMEOUT(scan->Scan().Complete(), 20000);
                QCOMPARE(scan->bbLoad->isVisible(), false);  // every controller is taken
                scan->bbCancel->click();
            });
        };
        prompter.AnswerText(QString::fromStdString(line.Port()));
        prompter.AnswerBox(PromptAnswer::Yes);
        closeScanWhenOver();
        w.actScanDoors->trigger();
        WaitForChange(w);
        QCOMPARE(prompter.records.back().icon, PromptIcon::Information);
        QVERIFY2(prompter.records.back().text.contains(
                     QStringLiteral("Дверь 9 (адрес 9): загружена, карт(ключей): 2, файл "
                                    "door-9.vx2")),
                 qPrintable(prompter.records.back().text));
        Site site;
        QVERIFY(LoadSite(sitePath.toStdString(), site));
        QCOMPARE(site.doors.size(), std::size_t(2));
        QCOMPARE(site.doors[0].name, std::string("Дверь 3"));
        QCOMPARE(site.doors[0].file, std::string("door-3.vx2"));
        QCOMPARE(site.doors[1].line, line.Port());
        QCOMPARE(DoorAddress(DoorFilePath(sitePath.toStdString(), site.doors[1])),
                 std::optional<int>(9));
        QCOMPARE(w.Model()->rowCount(), 2);

        // The same line again: nothing new on it.
        prompter.AnswerText(QString::fromStdString(line.Port()));
        closeScanWhenOver();
        w.actScanDoors->trigger();
        QVERIFY(prompter.records.back().text.contains(QStringLiteral("не найдено")));

        // A new key, presented at the reader of the second door, for both doors.
        OnModal<QDialog>([&](QDialog* grant) {
            auto* reader = grant->findChild<QComboBox*>(QStringLiteral("cbReader"));
            QVERIFY(reader);
            reader->setCurrentIndex(1);
            OnModal<TFGetKey>([&](TFGetKey* getKey) {
                line.Control("present 9 0x0A0B0C");
                QTRY_VERIFY_WITH_TIMEOUT(getKey->bbOK->isEnabled(), 10000);
                getKey->bbOK->click();
            });
            grant->findChild<QPushButton*>(QStringLiteral("bbRead"))->click();
            QCOMPARE(grant->findChild<QLineEdit*>(QStringLiteral("edNumber"))->text(),
                     QStringLiteral("XX XX XXXXXX 0A0B0C"));
            for (QCheckBox* door : grant->findChildren<QCheckBox*>())
                door->setChecked(true);
            grant->findChild<QDialogButtonBox*>()->button(QDialogButtonBox::Ok)->click();
        });
        w.actGrant->trigger();
        WaitForChange(w);
        for (const char* door : {"state 3", "state 9"})
            QVERIFY2(line.Control(door).find("658188") != std::string::npos,
                     line.Control(door).c_str());
    }

    void aDoorWhoseFileCannotBeReadIsShownAsSuch() {
        Site site;
        site.name = "Офис";
        site.doors = {{"Главный вход", "a.vx2", "/dev/null"}, {"Склад", "gone.vx2", "/dev/null"}};
        Db("a.vx2", {{1, ""}});
        const QString sitePath = dir.filePath(QStringLiteral("other.vx2site"));
        QVERIFY(SaveSite(sitePath.toStdString(), site));
        TFSite w(sitePath);
        QVERIFY(w.Reload());
        const PeopleModel& m = *w.Model();
        QCOMPARE(m.headerData(PeopleModel::FirstDoorColumn + 1, Qt::Horizontal, Qt::DisplayRole)
                     .toString(),
                 QStringLiteral("Склад (файл не читается)"));
        const QModelIndex cell = m.index(0, PeopleModel::FirstDoorColumn + 1);
        QCOMPARE(cell.data().toString(), QStringLiteral("?"));
        QVERIFY(!(m.flags(cell) & Qt::ItemIsUserCheckable));
        // The first row is the chosen one at once: the key's actions need no Space first.
        QVERIFY(w.actRevokeAll->isEnabled());
    }
};

QTEST_MAIN(TestSiteWindow)
#include "test_site_window.moc"
