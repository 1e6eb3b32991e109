// The window "Журнал изменений": newest first, local times, the operator's names of
// the operations, and the filter.
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include "core/keys/journal.h"
#include "core/keys/key_code.h"
#include "fakes.h"
#include "ui/help/help.h"
#include "ui/main/journal_window.h"
#include "ui/seams/prompter.h"

class TestJournalWindow : public QObject {
    Q_OBJECT
  private slots:
    void showsNewestFirstAndFilters() {
        QTemporaryDir dir;
        const std::string db = dir.filePath(QStringLiteral("doors.vx2")).toStdString();
        std::time_t now = 1796716449;  // 2026-12-08T07:54:09Z
        journal::SetClock([&] { return now++; });
        const journal::Identity who{"operator", "desk-1"};
        journal::SetIdentity(&who);
        journal::Record(db, {journal::kKeyAdd, "XX XX XXXXXX 0A1B2C", "Склад", "", "", "OK"});
        journal::Record(db, {journal::kKeyRemove, "XX XX XXXXXX 12ABCD", "Дверь\nвход", "", "",
                             "Истекло время ожидания ответа от контроллера."});
        journal::Record(db, {"a-newer-operation", "", "", "", "", "OK"});
        journal::SetClock(nullptr);
        journal::SetIdentity(nullptr);

        ScriptedPrompter prompter;
        SetAppPrompter(&prompter);
        TFJournal w(nullptr, QString::fromStdString(db));
        QCOMPARE(w.windowTitle(), QStringLiteral("Журнал изменений"));
        QCOMPARE(help::ContextOf(&w), 30);
        QCOMPARE(w.lvJournal->topLevelItemCount(), 3);
        QTreeWidgetItem* newest = w.lvJournal->topLevelItem(0);
        QCOMPARE(newest->text(3), QStringLiteral("a-newer-operation"));
        QTreeWidgetItem* removed = w.lvJournal->topLevelItem(1);
        QCOMPARE(removed->text(0), TFJournal::LocalTime("2026-12-08T07:54:10Z"));
        QCOMPARE(removed->text(1), QStringLiteral("operator"));
        QCOMPARE(removed->text(2), QStringLiteral("desk-1"));
        QCOMPARE(removed->text(3), QStringLiteral("Удаление карты(ключа)"));
        QCOMPARE(removed->text(4), QStringLiteral("XX XX XXXXXX 12ABCD"));
        QCOMPARE(removed->text(5), QStringLiteral("Дверь вход"));
        QCOMPARE(removed->text(8), QStringLiteral("Истекло время ожидания ответа от контроллера."));
        QCOMPARE(w.lvJournal->topLevelItem(2)->text(3), QStringLiteral("Добавление карты(ключа)"));
        QCOMPARE(w.lCount->text(), QStringLiteral("Записей: 3 из 3"));

        w.edFilter->setText(QStringLiteral("склад"));  // key clicks take ASCII only
        QVERIFY(w.lvJournal->topLevelItem(0)->isHidden());
        QVERIFY(w.lvJournal->topLevelItem(1)->isHidden());
        QVERIFY(!w.lvJournal->topLevelItem(2)->isHidden());
        QCOMPARE(w.lCount->text(), QStringLiteral("Записей: 1 из 3"));
        w.edFilter->clear();
        QCOMPARE(w.lCount->text(), QStringLiteral("Записей: 3 из 3"));
        QVERIFY(prompter.records.empty());

        // The local time of a UTC line.
        QCOMPARE(TFJournal::LocalTime("2026-12-08T07:54:09Z"),
                 QDateTime(QDate(2026, 12, 8), QTime(7, 54, 9), Qt::UTC)
                     .toLocalTime()
                     .toString(QStringLiteral("dd.MM.yyyy HH:mm:ss")));
        SetAppPrompter(nullptr);
    }

    // A key is found by any of its printed forms, in lines written while either format
    // was shown, and in lines written before the key field carried its hexadecimal digits.
    void theFilterFindsAKeyByAnyPrintedForm() {
        QTemporaryDir dir;
        const std::string db = dir.filePath(QStringLiteral("doors.vx2")).toStdString();
        journal::Record(db, {journal::kKeyAdd, "XX XX XXXXXX 7A7A7A", "", "", "", "OK"});  // old
        journal::Record(db, {journal::kKeyDescription, journal::KeyField(1, 0x7A7A7A), "Склад", "",
                             "Склад", "OK"});
        journal::Record(db, {journal::kKeyRenumber, journal::KeyField(0, 0x12ABCD), "",
                             "XX XX XXXXXX 12ABCD", "XX XX XXXXXX 7A7A7A", "OK"});
        journal::Record(db,
                        {journal::kKeyAdd, journal::KeyField(1, 0x010203), "122", "", "", "OK"});
        TFJournal w(nullptr, QString::fromStdString(db), TypeFormatEmMarine);
        for (const char* form :
             {"0008026746", "122,31354", "XX XX XXXXXX 7A7A7A", "0x7A7A7A", "12231354", "7a7a7a"}) {
            w.edFilter->setText(QString::fromUtf8(form));
            QCOMPARE(w.lCount->text(), QStringLiteral("Записей: 3 из 4"));
            QVERIFY2(w.lvJournal->topLevelItem(0)->isHidden(), form);  // 001,00515 only
        }
        w.edFilter->setText(QStringLiteral("122"));  // as EM-Marine: no key, plain text
        QCOMPARE(w.lCount->text(), QStringLiteral("Записей: 2 из 4"));
    }

    void noJournalYetIsAnEmptyList() {
        QTemporaryDir dir;
        ScriptedPrompter prompter;
        SetAppPrompter(&prompter);
        TFJournal w(nullptr, dir.filePath(QStringLiteral("doors.vx2")));
        QCOMPARE(w.lvJournal->topLevelItemCount(), 0);
        QVERIFY(prompter.records.empty());
        SetAppPrompter(nullptr);
    }
};

QTEST_MAIN(TestJournalWindow)
#include "test_journal_window.moc"
