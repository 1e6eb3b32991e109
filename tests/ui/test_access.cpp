// The window by keyboard alone, with real key events, and the names a screen reader says
// for every control that takes the focus.
#include <QAccessible>
#include <QAction>
#include <QApplication>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QScreen>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolBar>
#include <QToolButton>
#include <QTreeView>
#include <QTreeWidget>

#include "core/keys/cp1251.h"
#include "core/keys/database.h"
#include "core/keys/key_csv.h"
#include "fakes.h"
#include "ui/dialogs/enrol.h"
#include "ui/dialogs/findkey.h"
#include "ui/dialogs/getkey.h"
#include "ui/dialogs/getvardex.h"
#include "ui/dialogs/importcsv.h"
#include "ui/dialogs/readcontr.h"
#include "ui/dialogs/reconcile.h"
#include "ui/main/about_box.h"
#include "ui/main/editkey.h"
#include "ui/main/journal_window.h"
#include "ui/main/key_search_bar.h"
#include "ui/main/updown.h"
#include "ui/seams/prompter.h"
#include "ui/seams/ui_platform.h"
#include "ui_helpers.h"

namespace {

std::string Cp(const char* utf8) {
    std::string out;
    Utf8ToCp1251(utf8, out);
    return out;
}

// The controls of `window` that take the focus and have no Russian name to be said by.
QStringList Unnamed(QWidget* window) {
    static const QRegularExpression russian(QStringLiteral("[А-Яа-яЁё]"));
    QStringList out;
    for (QWidget* c : window->findChildren<QWidget*>()) {
        if (!(c->focusPolicy() & Qt::TabFocus) || !c->isVisibleTo(window))
            continue;
        QAccessibleInterface* a = QAccessible::queryAccessibleInterface(c);
        QString name = a ? a->text(QAccessible::Name) : QString();
        // A combo box says its entry as its name here; its label comes by relation.
        if (a && !name.contains(russian)) {
            for (const auto& [label, relation] : a->relations(QAccessible::Label))
                name += QStringLiteral(" / ") + label->text(QAccessible::Name);
        }
        if (!name.contains(russian))
            out << QStringLiteral("%1/%2 (%3): \"%4\"")
                       .arg(window->objectName(), c->objectName(),
                            QString::fromUtf8(c->metaObject()->className()), name);
    }
    return out;
}

}  // namespace

class TestAccess : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    ScriptedPrompter* prompter = nullptr;
    MemorySettingsStore* settings = nullptr;
    FixedPortDirectory* ports = nullptr;
    FakeRunner* runner = nullptr;
    FakeLink* link = nullptr;
    TFMain* w = nullptr;
    QString path;

    void Make() {
        delete w;
        MainDeps deps;
        deps.settings = settings;
        deps.ports = ports;
        deps.runner = runner;
        deps.link = link;
        w = new TFMain(deps);
        w->show();
        w->activateWindow();  // no window manager here
        QVERIFY(QTest::qWaitForWindowActive(w));
    }

    // Three keys: 0x12ABCD "Иванов", 0x000001 without a description, 0x0A1B2C "Склад".
    void Open() {
        DbModel m;
        m.TimeOpen = 7;
        m.RetryRead = 4;
        m.Vardex = 0x12ABCD;
        m.keys = {{0x12ABCD, Cp("Иванов")}, {0x000001, Cp("")}, {0x0A1B2C, Cp("Склад")}};
        path = dir.filePath(QStringLiteral("keys.vx2"));
        QVERIFY(WriteDbFile(path.toStdString(), m).ok);
        prompter->AnswerFile(path);
        w->actOpenExecute();
        QVERIFY(w->FileOpen);
    }

  private slots:
    void init() {
        prompter = new ScriptedPrompter;
        SetAppPrompter(prompter);
        settings = new MemorySettingsStore;
        ports = new FixedPortDirectory({QStringLiteral("/dev/ttyS0")});
        runner = new FakeRunner;
        link = new FakeLink;
        Make();
    }
    void cleanup() {
        delete w;
        w = nullptr;
        SetAppPrompter(nullptr);
        delete prompter;
        delete settings;
        delete ports;
        delete runner;
        delete link;
    }

    // A file opened: the focus is in the list, on a chosen row, so Enter and Delete act at
    // once; the same when the list is reached by the keyboard with nothing chosen.
    void theFocusedRowIsTheChosenOne() {
        Open();
        QCOMPARE(QApplication::focusWidget(), w->lvDB);
        QVERIFY(w->SelectedRow() >= 0);
        QVERIFY(w->tbEdit->isEnabled());

        w->lvDB->clearSelection();
        w->cboxType->setFocus(Qt::OtherFocusReason);
        QTest::keyClick(w->cboxType, Qt::Key_Backtab);
        QCOMPARE(QApplication::focusWidget(), w->lvDB);
        QVERIFY(w->SelectedRow() >= 0);

        // Delete with nothing chosen (the focus row only): asks for that row's key, and
        // names whose it is beneath the question.
        w->lvDB->clearSelection();
        w->SelectRow(-1);
        w->lvDB->setCurrentIndex(w->lvDB->model()->index(2, 0));
        w->lvDB->clearSelection();
        QTest::keyClick(w->lvDB, Qt::Key_Delete);
        QCOMPARE(prompter->records.back().caption, QStringLiteral("Удаление карты(ключа)"));
        QCOMPARE(prompter->records.back().text,
                 QStringLiteral("Вы действительно хотите удалить карту(ключ) %1?")
                     .arg(w->Keys()->Row(w->SelectedRow()).caption));
        QVERIFY(runner->sent.empty());  // answered No
    }

    // Ctrl+F, a part of a number, ↓: the found row is chosen and Enter edits it;
    // Delete asks with the description as the box's second text.
    void searchThenDownReachesTheFoundRows() {
        Open();
        QCOMPARE(QApplication::focusWidget(), w->lvDB);
        QTest::keyClick(w->lvDB, Qt::Key_F,
                        Qt::ControlModifier);  // from the list, where the focus is
        QCOMPARE(QApplication::focusWidget(), w->searchBar->edSearch);
        QTest::keyClicks(w->searchBar->edSearch, QStringLiteral("0a1b"));
        QTest::keyClick(w->searchBar->edSearch, Qt::Key_Down);
        QCOMPARE(QApplication::focusWidget(), w->lvDB);
        QCOMPARE(w->SelectedKeyCode(), std::optional<KeyCode>(0x0A1B2C));

        QString edited;
        Poll([&] {
            auto* d = Shown<TFEditKey>();
            if (!d)
                return false;
            edited = d->windowTitle();
            d->reject();
            return true;
        });
        QTest::keyClick(w->lvDB, Qt::Key_Return);
        QCOMPARE(edited, QStringLiteral("Редактирование - XX XX XXXXXX 0A1B2C"));

        QTest::keyClick(w->lvDB, Qt::Key_Delete);
        QCOMPARE(
            prompter->records.back().text,
            QStringLiteral("Вы действительно хотите удалить карту(ключ) XX XX XXXXXX 0A1B2C?"));
        QCOMPARE(prompter->records.back().informative, QStringLiteral("Описание: Склад"));
        QVERIFY(runner->sent.empty());

        // The new-file question keeps its text and says, beneath it, what would be lost.
        w->actNewExecute();  // answered No
        QCOMPARE(prompter->records.back().caption, QStringLiteral("Создание нового файла"));
        QCOMPARE(prompter->records.back().informative,
                 QStringLiteral("Если контроллер соответствует открытому файлу, из него будет "
                                "удалено карт(ключей): 3."));
        QVERIFY(runner->sent.empty());
    }

    // A time takes typed digits and writes them once, on Enter or on leaving the field for
    // another control; Esc puts the value back; an arrow press is one write.
    void aTypedTimeIsWrittenOnce() {
        const struct {
            const char* name;
            const char* typed;
            Qt::Key key;
            int writes;
            int value;  // the lock-open time afterwards (7 before)
        } rows[] = {
            {"Enter", "12", Qt::Key_Return, 1, 12}, {"Tab", "30", Qt::Key_Tab, 1, 30},
            {"Esc", "99", Qt::Key_Escape, 0, 7},    {"below the range", "0", Qt::Key_Return, 0, 7},
            {"arrow", "", Qt::Key_Up, 1, 8},
        };
        for (const auto& row : rows) {
            Open();
            runner->sent.clear();
            w->activateWindow();  // back from the wait window of the row before
            QVERIFY(QTest::qWaitForWindowActive(w));
            w->udTimeOpen->setFocus(Qt::TabFocusReason);
            w->edTimeOpen->selectAll();
            if (*row.typed)
                QTest::keyClicks(w->udTimeOpen, QString::fromUtf8(row.typed));
            QTest::keyClick(w->udTimeOpen, row.key);
            QTest::qWait(50);
            QTRY_VERIFY2(!w->udTimeOpen->Busy() && !QApplication::activeModalWidget(), row.name);
            QVERIFY2(
                int(runner->sent.size()) == row.writes,
                qPrintable(QStringLiteral("%1: %2 writes, field \"%3\"")
                               .arg(QString::fromUtf8(row.name))
                               .arg(runner->sent.size())
                               .arg(w->edTimeOpen->text()) +
                           QStringLiteral(" focus ") +
                           (QApplication::focusWidget() ? QApplication::focusWidget()->objectName()
                                                        : QStringLiteral("none"))));
            QVERIFY2(w->udTimeOpen->value() == row.value, row.name);
            QCOMPARE(w->edTimeOpen->text(), QString::number(row.value));
            QCOMPARE(w->TimeOpen, row.value);
            if (row.writes == 1) {
                QCOMPARE(int(runner->sent[0].header[1]), 0x23);
                QCOMPARE(int(runner->sent[0].data[1]), row.value);
            }
        }
        // A held arrow key repeats: only the press writes.
        runner->sent.clear();
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(w->udTimeOpen, &repeat);
        QTest::qWait(50);
        QVERIFY(runner->sent.empty());
    }

    // Every item of the file menu that the issue named has its own underlined letter.
    void menuItemsHaveTheirOwnLetters() {
        QMenu* file = w->menuBar()->findChild<QMenu*>(QStringLiteral("miFile"));
        QVERIFY(file);
        QMap<QChar, QString> letters;
        for (QAction* a : file->actions()) {
            if (a->isSeparator())
                continue;
            const qsizetype amp = a->text().indexOf(QLatin1Char('&'));
            if (amp < 0) {
                QVERIFY2(a->menu() == w->miRecent, qPrintable(a->text()));
                continue;
            }
            const QChar letter = a->text().at(amp + 1).toLower();
            QVERIFY2(!letters.contains(letter),
                     qPrintable(a->text() + QStringLiteral(" / ") + letters.value(letter)));
            letters[letter] = a->text();
        }
        for (QAction* a : {w->actEnrol, w->actJournal, w->actSaveCsv, w->actImportCsv})
            QVERIFY2(a->text().startsWith(QLatin1Char('&')), qPrintable(a->text()));
    }

    // Tab reaches "Отмена" in the key dialog, and going there is no leaving of an
    // unfinished number that the dialog would refuse.
    void tabReachesCancelInTheKeyDialog() {
        Open();
        for (int row : {0, -1}) {
            TFEditKey d(w, *w, 0, row);
            d.show();
            d.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&d));
            const size_t boxes = prompter->records.size();
            QWidget* start = d.focusWidget();
            bool reached = false;
            const Qt::Key key = row < 0 ? Qt::Key_Backtab : Qt::Key_Tab;
            for (int i = 0; i < 8 && !reached; ++i) {
                QTest::keyClick(d.focusWidget() ? d.focusWidget() : &d, key);
                QTest::qWait(10);
                reached = d.focusWidget() == d.bbCancel;
            }
            QVERIFY2(reached, row < 0 ? "new key" : "edited key");
            QCOMPARE(prompter->records.size(), boxes);
            QVERIFY(start != d.bbCancel);
            QTest::keyClick(d.bbCancel, Qt::Key_Space);
            QVERIFY(!d.isVisible());
        }
    }

    // The vardex window waits with the focus on "Отмена", not on "Сбросить".
    void theVardexWindowWaitsOnCancel() {
        Open();
        QWidget* focus = nullptr;
        bool clearEnabled = false;
        TFGetVardex d(w, 0, 0x12ABCD, {}, path.toStdString(), *runner);
        Poll([&] {
            if (!d.isVisible() || !d.bbClear->isEnabled())
                return false;
            clearEnabled = true;
            focus = d.focusWidget();
            QTest::keyClick(&d, Qt::Key_Escape);
            return true;
        });
        d.Run();
        QVERIFY(clearEnabled);
        QCOMPARE(focus, d.bbCancel);
        QCOMPARE(d.NewVardex, KeyCode(0x12ABCD));
    }

    // A window first opens at a share of the screen and then at the size it was left at;
    // the number column is as wide as the widest number of the format shown.
    void sizesFollowTheScreenAndAreRemembered() {
        const QRect room = w->screen()->availableGeometry();
        QVERIFY(w->width() >= std::max(563, room.width() * 55 / 100) - 1);
        {
            TFReconcile d(w, *runner, {}, ReconcileOptions{}, {});
            QCOMPARE(d.size(), QSize(room.width() / 2, room.height() * 3 / 4));
            d.show();
            d.resize(room.width() * 2 / 3, room.height() * 2 / 3);
            d.hide();
        }
        QCOMPARE(settings->windowSizes.value(QStringLiteral("TFReconcile")),
                 QStringLiteral("%1x%2").arg(room.width() * 2 / 3).arg(room.height() * 2 / 3));
        TFReconcile again(w, *runner, {}, ReconcileOptions{}, {});
        QCOMPARE(again.size(), QSize(room.width() * 2 / 3, room.height() * 2 / 3));

        Open();
        const QFontMetrics fm(w->lvDB->font());
        for (int format : {0, 1}) {
            w->cboxTypeChange(format);
            QVERIFY(w->lvDB->columnWidth(0) >
                    fm.horizontalAdvance(QString::fromStdString(Format(format, 0x888888))));
        }
    }

    // Every control that takes the focus, in every window, has a Russian name; the vardex
    // button says its value, the toolbar its role, the port box the mark beside a port.
    void everyFocusableControlHasARussianName() {
        settings->value = QStringLiteral("/dev/ttyUSB7");  // remembered, not plugged in
        Make();
        Open();
        QCOMPARE(w->bbVardex->accessibleName(), QStringLiteral("Вардекс: XX XX XXXXXX 12ABCD"));
        QCOMPARE(QAccessible::queryAccessibleInterface(w->ToolBar1)->text(QAccessible::Name),
                 QStringLiteral("Панель инструментов"));
        QCOMPARE(w->cboxPort->currentText(), QStringLiteral("/dev/ttyUSB7"));
        QCOMPARE(w->cboxPort->accessibleDescription(), QStringLiteral("не подключён"));
        QCOMPARE(
            w->cboxPort->itemData(w->cboxPort->currentIndex(), Qt::AccessibleTextRole).toString(),
            QStringLiteral("/dev/ttyUSB7 — не подключён"));

        QStringList unnamed = Unnamed(w);
        const std::string file = path.toStdString();
        {
            TFEditKey newKey(w, *w, 0, -1);
            TFEditKey editKey(w, *w, 0, 0);
            TFGetVardex vardex(w, 0, 0, {}, file, *runner);
            TFGetKey getKey(w, 0, 0, *runner);
            TFFindKey findKey(w, 0, *runner);
            TFReconcile reconcile(w, *runner, {}, ReconcileOptions{}, {});
            const std::string csv = "12ABCD;Иванов\n";
            TFImportCsv import(w, *runner, {}, file, 0, PreviewCsvImport(csv, 0, {}), {});
            TFEnrol enrol(w, *runner, {}, file, 0, {}, {});
            TFJournal journal(w, path);
            TFReadContr load(w, *runner, {}, {});
            TAboutBox about(w);
            for (QWidget* d : std::initializer_list<QWidget*>{&newKey, &editKey, &vardex, &getKey,
                                                              &findKey, &reconcile, &import, &enrol,
                                                              &journal, &load, &about})
                unnamed += Unnamed(d);
        }
        QVERIFY2(unnamed.isEmpty(), qPrintable(unnamed.join(QLatin1Char('\n'))));
    }
};

QTEST_MAIN(TestAccess)
#include "test_access.moc"
