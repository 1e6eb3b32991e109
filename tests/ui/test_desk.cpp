// The operator's desk around the main window: the keyboard (Enter, Delete, Insert in the
// list, Tab to the times and one controller write per arrow, the desktop's shortcuts),
// names for screen readers, the remembered places and the journal of the window's
// changes.
#include <QAccessible>
#include <QComboBox>
#include <QDialog>
#include <QFile>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QSortFilterProxyModel>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

#include "core/keys/cp1251.h"
#include "core/keys/database.h"
#include "core/keys/journal.h"
#include "fakes.h"
#include "ui/main/editkey.h"
#include "ui/main/key_number_edit.h"
#include "ui/main/main_window.h"
#include "ui/main/updown.h"
#include "ui/seams/prompter.h"
#include "ui/seams/ui_platform.h"

namespace {

std::string Cp(const char* utf8) {
    std::string out;
    Utf8ToCp1251(utf8, out);
    return out;
}

QString ReadText(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return QString::fromUtf8(f.readAll());
}

// A port directory whose devices a test plugs in and out.
class ListedPorts : public PortDirectory {
  public:
    QStringList Ports() override {
        QStringList out;
        for (const PortEntry& e : entries) {
            out << e.path;
        }
        return out;
    }
    QList<PortEntry> Entries() override { return entries; }
    QList<PortEntry> entries;
};

}  // namespace

class TestDesk : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    ScriptedPrompter* prompter = nullptr;
    MemorySettingsStore* settings = nullptr;
    FixedPortDirectory* ports = nullptr;
    FakeRunner* runner = nullptr;
    FakeLink* link = nullptr;
    TFMain* w = nullptr;

    void Make() {
        delete w;
        MainDeps deps;
        deps.settings = settings;
        deps.ports = ports;
        deps.runner = runner;
        deps.link = link;
        w = new TFMain(deps);
        w->show();
        w->activateWindow();
    }

    QString SampleDb(const QString& name) {
        DbModel m;
        m.TimeOpen = 7;
        m.RetryRead = 4;
        m.keys = {{0x12ABCD, Cp("Иванов")}, {0x000001, Cp("")}, {0x0A1B2C, Cp("Склад")}};
        const QString path = dir.filePath(name);
        WriteDbFile(path.toStdString(), m);
        return path;
    }

    void Open(const QString& path) {
        prompter->AnswerFile(path);
        w->actOpenExecute();
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

    void listKeysEditDeleteAndAdd() {
        Open(SampleDb(QStringLiteral("keys.vx2")));
        w->SelectRow(w->FindRow(0x0A1B2C));
        w->lvDB->setFocus();

        // Delete asks its question (answered No: nothing else happens).
        prompter->AnswerBox(PromptAnswer::No);
        QTest::keyClick(w->lvDB, Qt::Key_Delete);
        QCOMPARE(prompter->records.size(), size_t(2));  // the open dialog, the question
        QCOMPARE(prompter->records.back().caption, QStringLiteral("Удаление карты(ключа)"));
        QVERIFY(runner->sent.empty());

        // Enter edits the selected row; Insert adds.
        QString caption;
        OnModal<TFEditKey>([&](TFEditKey* d) {
            caption = d->windowTitle();
            d->reject();
        });
        QTest::keyClick(w->lvDB, Qt::Key_Return);
        QCOMPARE(caption, QStringLiteral("Редактирование - XX XX XXXXXX 0A1B2C"));
        OnModal<TFEditKey>([&](TFEditKey* d) {
            caption = d->windowTitle();
            d->reject();
        });
        QTest::keyClick(w->lvDB, Qt::Key_Insert);
        QCOMPARE(caption, QStringLiteral("Новая карта(ключ)"));

        // With the selection cleared, the row the focus is on is chosen again: Enter and
        // Delete act on it rather than doing nothing until Space.
        w->lvDB->clearSelection();
        const size_t shown = prompter->records.size();
        QTest::keyClick(w->lvDB, Qt::Key_Delete);
        QCOMPARE(prompter->records.size(), shown + 1);
        QCOMPARE(prompter->records.back().caption, QStringLiteral("Удаление карты(ключа)"));
        w->lvDB->clearSelection();
        caption.clear();
        OnModal<TFEditKey>([&](TFEditKey* d) {
            caption = d->windowTitle();
            d->reject();
        });
        QTest::keyClick(w->lvDB, Qt::Key_Return);
        QVERIFY(caption.startsWith(QStringLiteral("Редактирование - ")));
        QVERIFY(runner->sent.empty());
    }

    void timesByTabAndOneWritePerArrow() {
        Open(SampleDb(QStringLiteral("times.vx2")));
        QCOMPARE(w->udRetryRead->focusPolicy() & Qt::TabFocus, Qt::TabFocus);
        QCOMPARE(w->udTimeOpen->focusPolicy() & Qt::TabFocus, Qt::TabFocus);
        QVERIFY(QTest::qWaitForWindowActive(w));
        w->udRetryRead->setFocus();
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QWidget* next = QApplication::focusWidget();
        QVERIFY(next == w->udTimeOpen || w->udTimeOpen->isAncestorOf(next));
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), static_cast<QWidget*>(w->bbVardex));
        w->udTimeOpen->setFocus();
        QTest::keyClick(w->udTimeOpen, Qt::Key_Up);
        QTRY_COMPARE(w->udTimeOpen->value(), 8);
        QCOMPARE(runner->sent.size(), size_t(1));

        // A held key's repeats are not more steps.
        QKeyEvent repeat(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier, QString(), true);
        QApplication::sendEvent(w->udTimeOpen, &repeat);
        QApplication::sendEvent(w->udTimeOpen, &repeat);
        QTest::qWait(50);
        QCOMPARE(w->udTimeOpen->value(), 8);
        QCOMPARE(runner->sent.size(), size_t(1));

        // The change is in the file's journal.
        const QString journal = ReadText(w->CurrentFile + QStringLiteral(".journal"));
        QVERIFY2(journal.contains(QStringLiteral(
                     "\ttimes\t\t\tTimeOpen=7, RetryRead=4\tTimeOpen=8, RetryRead=4\tOK #")),
                 qPrintable(journal));
    }

    void shortcutsAndNamesForScreenReaders() {
        QCOMPARE(w->actNew->shortcut().toString(), QStringLiteral("Ctrl+N"));
        QCOMPARE(w->actOpen->shortcut().toString(), QStringLiteral("Ctrl+O"));
        QCOMPARE(w->actExit->shortcut().toString(), QStringLiteral("Ctrl+Q"));

        // Each icon-only button is named after its hint, each field after its label.
        const struct {
            QWidget* widget;
            const char* name;
        } named[] = {{w->tbAdd, "Добавить новую карту(ключ)"},
                     {w->tbEdit, "Редактировать карту(ключ)"},
                     {w->tbDel, "Удалить карту(ключ)"},
                     {w->tbFindKey, "Поиск карты(ключа) в базе"},
                     {w->udTimeOpen, "Время открывания замка"},
                     {w->udRetryRead, "Повторное считывание карты (ключа)"},
                     {w->bbVardex, "Вардекс: Отсутствует"},  // with its value
                     {w->lvDB, "База карт(ключей)"}};
        for (const auto& n : named) {
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(n.widget);
            QVERIFY(a);
            QCOMPARE(a->text(QAccessible::Name), QString::fromUtf8(n.name));
        }
        // A combo box says its current entry as its name; its label is its relation.
        for (QComboBox* box : {w->cboxType, w->cboxPort}) {
            QVERIFY(!box->accessibleName().isEmpty());
            QAccessibleInterface* a = QAccessible::queryAccessibleInterface(box);
            QVERIFY2(!a->relations(QAccessible::Label).isEmpty(), qPrintable(box->objectName()));
        }
    }

    void addedKeyIsSelectedAndShown() {
        DbModel m;
        for (KeyCode k = 1; k <= 200; ++k) {
            m.keys.push_back({k * 16, ""});
        }
        const QString path = dir.filePath(QStringLiteral("many.vx2"));
        WriteDbFile(path.toStdString(), m);
        Open(path);
        w->resize(600, 400);
        OnModal<TFEditKey>([](TFEditKey* d) {
            d->edKeyNumber->setText(QStringLiteral("FFFFFE"));
            d->bbOK->click();
        });
        w->tbAddClick();
        const int row = w->FindRow(0xFFFFFE);
        QVERIFY(row >= 0);
        QCOMPARE(w->SelectedRow(), row);
        // The view shows the list through the search's filter.
        auto* view = qobject_cast<QSortFilterProxyModel*>(w->lvDB->model());
        QVERIFY(view);
        const QRect shown = w->lvDB->visualRect(view->mapFromSource(w->Keys()->index(row, 0)));
        QVERIFY(w->lvDB->viewport()->rect().intersects(shown));
    }

    void remembersPlacesAndRecentFiles() {
        QCOMPARE(w->miRecent->isEnabled(), false);
        QStringList paths;
        for (int i = 0; i < 10; ++i) {
            paths << SampleDb(QStringLiteral("db%1.vx2").arg(i));
            Open(paths.back());
        }
        // Newest first, at most eight, each once.
        Open(paths[5]);
        const QStringList recent = settings->recentFiles;
        QCOMPARE(recent.size(), 8);
        QCOMPARE(recent.front(), paths[5]);
        QCOMPARE(recent[1], paths[9]);
        QCOMPARE(recent.count(paths[5]), 1);
        QCOMPARE(settings->lastFolder, dir.path());
        const QList<QAction*> entries = w->miRecent->actions();
        QCOMPARE(entries.size(), 8);
        QCOMPARE(entries[0]->text(), QStringLiteral("&1 db5.vx2"));

        // The next open dialog starts in the last folder; an entry opens its file.
        prompter->AnswerFile(QString());
        w->actOpenExecute();
        QCOMPARE(prompter->records.back().dialogOptions.directory, dir.path());
        entries[3]->trigger();
        QCOMPARE(w->CurrentFile, recent[3]);
        QCOMPARE(settings->recentFiles.front(), recent[3]);

        // The window's place survives a restart; no file is opened by itself.
        w->setGeometry(40, 50, 700, 500);
        w->close();
        QVERIFY(!settings->geometry.isEmpty());
        Make();
        QCOMPARE(w->size(), QSize(700, 500));
        QVERIFY(w->CurrentFile.isEmpty());
        QVERIFY(!w->FileOpen);
        QCOMPARE(w->miRecent->actions().size(), 8);
    }

    void journalWindowFromTheFileMenu() {
        QVERIFY(!w->actJournal->isEnabled());
        Open(SampleDb(QStringLiteral("journal.vx2")));
        QVERIFY(w->actJournal->isEnabled());
        journal::Record(w->CurrentFile.toStdString(), {journal::kKeyAdd, "1", "", "", "", "OK"});
        QString title;
        OnModal<QDialog>([&](QDialog* d) {
            title = d->windowTitle();
            d->reject();
        });
        w->actJournal->trigger();
        QCOMPARE(title, QStringLiteral("Журнал изменений"));
    }

    void portListFollowsTheHardware() {
        const QString byId = QStringLiteral("/dev/serial/by-id/usb-FTDI_FT232R_A123-if00-port0");
        ListedPorts listed;
        listed.entries = {{QStringLiteral("/dev/ttyS0"), QStringLiteral("/dev/ttyS0"), {}, {}}};
        settings->value = byId;
        delete w;
        MainDeps deps;
        deps.settings = settings;
        deps.ports = &listed;
        deps.runner = runner;
        deps.link = link;
        w = new TFMain(deps);
        w->show();

        // Unplugged at start: still the choice, shown as absent, still remembered.
        QCOMPARE(w->SelectedPortPath(), byId);
        QCOMPARE(w->cboxPort->itemData(w->cboxPort->currentIndex(), TFMain::PortDescriptionRole)
                     .toString(),
                 QStringLiteral("не подключён"));
        QCOMPARE(settings->value, byId);

        // Plugged in: the list is brought up to date when it drops down, one entry for
        // the device under its stable name, with the adapter's description and serial.
        listed.entries.append({byId, QStringLiteral("/dev/ttyUSB0"),
                               QStringLiteral("FT232R USB UART"), QStringLiteral("A123")});
        w->cboxPort->showPopup();
        w->cboxPort->hidePopup();
        QCOMPARE(w->cboxPort->count(), 2);
        QCOMPARE(w->SelectedPortPath(), byId);
        QCOMPARE(w->cboxPort->itemData(w->cboxPort->currentIndex(), TFMain::PortDescriptionRole)
                     .toString(),
                 QStringLiteral("FT232R USB UART, S/N A123"));
        QCOMPARE(
            w->cboxPort->itemData(w->cboxPort->currentIndex(), TFMain::PortDeviceRole).toString(),
            QStringLiteral("/dev/ttyUSB0"));

        // A port remembered by its device before it had a stable name is found by it.
        settings->value = QStringLiteral("/dev/ttyUSB0");
        w->FillPortList();
        w->SelectRememberedPort();
        QCOMPARE(w->SelectedPortPath(), byId);

        // Unplugged again: the choice stays, marked absent.
        listed.entries.removeLast();
        w->RefreshPorts();
        QCOMPARE(w->SelectedPortPath(), byId);
        QCOMPARE(w->cboxPort->itemData(w->cboxPort->currentIndex(), TFMain::PortDescriptionRole)
                     .toString(),
                 QStringLiteral("не подключён"));
        delete w;
        w = nullptr;
    }

    void changeFromOutsideShowsBeforeTheNextChange() {
        const QString path = SampleDb(QStringLiteral("shared.vx2"));
        Open(path);
        w->SelectRow(w->FindRow(0x0A1B2C));
        QVERIFY(!w->ReloadIfChanged());  // nothing changed yet

        // A script adds a key (the file is replaced by rename: a new inode).
        QVERIFY(SaveKey(path.toStdString(), 0x999999, Cp("Внешний")).ok);
        QVERIFY(w->ReloadIfChanged());
        QVERIFY(w->FindRow(0x999999) >= 0);
        QCOMPARE(w->SelectedKeyCode().value_or(0), KeyCode(0x0A1B2C));
        QVERIFY(!w->ReloadIfChanged());

        // The window's own writes are not taken for someone else's.
        w->udTimeOpen->stepBy(1);
        QTRY_COMPARE(w->udTimeOpen->value(), 8);
        QVERIFY(!w->ReloadIfChanged());

        // While the window is idle the watcher notices by itself, also after a rename.
        QVERIFY(RemoveKey(path.toStdString(), 0x000001).ok);
        QTRY_VERIFY(w->FindRow(0x000001) < 0);
        QVERIFY(SaveKey(path.toStdString(), 0x777777, "").ok);
        QTRY_VERIFY(w->FindRow(0x777777) >= 0);
        QCOMPARE(w->SelectedKeyCode().value_or(0), KeyCode(0x0A1B2C));

        // A time changed from outside: the next arrow step is not sent from the stale
        // value; the window shows the file's.
        QVERIFY(SaveSettings(path.toStdString(), 20, 4, 0).ok);
        const size_t sent = runner->sent.size();
        QVERIFY(!w->udTimeOpenChangingEx(9));
        QCOMPARE(w->udTimeOpen->value(), 20);
        QCOMPARE(runner->sent.size(), sent);
    }
};

QTEST_MAIN(TestDesk)
#include "test_desk.moc"
