// The main window with a scripted worker and line: start-up, the port choice, opening a
// file, the display format, the two times and the new-file sequence.
#include <QComboBox>
#include <QFile>
#include <QLineEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeView>

#include <QFile>
#include <QLabel>
#include <QShortcut>
#include <atomic>

#include <sys/wait.h>
#include <unistd.h>
#include "ui/main/key_filter.h"
#include "ui/main/key_list_model.h"
#include "ui/main/key_search_bar.h"
#include "ui/main/updown.h"
#include "ui/seams/prompter.h"
#include "ui/seams/ui_platform.h"

#include "core/keys/cp1251.h"
#include "core/keys/database.h"
#include "core/link/command_set.h"
#include "core/link/commands.h"
#include "fakes.h"

namespace {

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

std::string Cp(const char* utf8) {
    std::string out;
    Utf8ToCp1251(utf8, out);
    return out;
}

QStringList Captions(const TFMain& w) {
    QStringList out;
    for (const KeyRow& r : w.Keys()->Rows()) {
        out << r.caption;
    }
    return out;
}

int Command(const FakeRunner::Sent& s) {
    return s.header[1];
}

}  // namespace

class TestMainWindow : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    ScriptedPrompter* prompter = nullptr;
    MemorySettingsStore* settings = nullptr;
    FixedPortDirectory* ports = nullptr;
    FakeRunner* runner = nullptr;
    FakeLink* link = nullptr;
    TFMain* w = nullptr;

    void Make(QStringList portList = {QStringLiteral("/dev/ttyS0")}, QString portArg = {},
              QString fileArg = {}) {
        delete w;
        delete ports;
        ports = new FixedPortDirectory(portList);
        MainDeps deps;
        deps.settings = settings;
        deps.ports = ports;
        deps.runner = runner;
        deps.link = link;
        deps.portArg = portArg;
        deps.fileArg = fileArg;
        w = new TFMain(deps);
        w->show();
    }

    // A database with three keys in file order 0x12ABCD, 0x000001, 0x0A1B2C.
    QString SampleDb(const QString& name, int timeOpen = 7, int retryRead = 4) {
        DbModel m;
        m.TimeOpen = timeOpen;
        m.RetryRead = retryRead;
        m.Vardex = 0x12ABCD;
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
    // With the debug switch the real worker traces the line into the file the status bar
    // names; without it there is no trace and no label.
    void lineTraceBehindTheDebugSwitch() {
        delete w;
        w = nullptr;
        const QString trace = dir.filePath(QStringLiteral("line-trace.log"));
        MainDeps deps;
        deps.settings = settings;
        deps.ports = ports;
        deps.link = link;
        deps.tracePath = trace;
        {
            TFMain traced(deps);
            auto* label = traced.findChild<QLabel*>(QStringLiteral("lTrace"));
            QVERIFY(label);
            QCOMPARE(label->text(), QStringLiteral("Трассировка линии: ") + trace);
            // A request on a port that is not open: three failed writes, each traced.
            const RequestFrame check = MakeCheckLink();
            std::atomic<int> result{99};
            traced.Worker()->Load(
                check.header, check.data,
                [&](int code, const FrameHeader&, const FrameData&) { result = code; });
            QTRY_VERIFY(result != 99);
        }
        QFile file(trace);
        QVERIFY(file.open(QIODevice::ReadOnly));
        const QStringList lines = QString::fromUtf8(file.readAll()).split('\n', Qt::SkipEmptyParts);
        QCOMPARE(lines.size(), 3);
        QVERIFY2(lines[2].contains(QStringLiteral("attempt 3/3: sent mark{}")),
                 qPrintable(lines[2]));

        deps.tracePath.clear();
        TFMain plain(deps);
        QVERIFY(!plain.findChild<QLabel*>(QStringLiteral("lTrace")));
    }
    void init() {
        prompter = new ScriptedPrompter;
        SetAppPrompter(prompter);
        settings = new MemorySettingsStore;
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
        ports = nullptr;
        delete runner;
        delete link;
    }

    void startsWithNothingOpenAndEditingOff() {
        QCOMPARE(w->windowTitle(), QStringLiteral("Vardex 2"));
        QCOMPARE(w->bbVardex->text(), QStringLiteral("Отсутствует"));
        QCOMPARE(w->edTimeOpen->text(), QStringLiteral("1"));
        QCOMPARE(w->edRetryRead->text(), QStringLiteral("1"));
        QVERIFY(!w->FileOpen);
        for (QWidget* c : std::initializer_list<QWidget*>{
                 w->udTimeOpen, w->udRetryRead, w->cboxType, w->bbVardex, w->lvDB, w->tbAdd,
                 w->tbEdit, w->tbDel, w->tbFindKey}) {
            QVERIFY2(!c->isEnabled(), qPrintable(c->objectName()));
        }
        QVERIFY(!w->actSave->isEnabled());
        QVERIFY(!w->actSync->isEnabled());
        QVERIFY(w->actNew->isEnabled());
        QVERIFY(w->actOpen->isEnabled());
        QVERIFY(w->actHelpProgram->isEnabled());
        // Every control is found by its name.
        for (const char* name :
             {"tbNew", "tbOpen", "tbSave", "tbSync", "tbDBKeys", "lvDB", "cboxType", "cboxPort",
              "udTimeOpen", "edTimeOpen", "udRetryRead", "edRetryRead", "bbVardex", "StatusBar"}) {
            QVERIFY2(w->findChild<QWidget*>(QString::fromUtf8(name)), name);
        }
        QCOMPARE(w->cboxType->itemText(0), QStringLiteral("Ключи iButton (TouchMemory)"));
        QCOMPARE(w->cboxType->itemText(1), QStringLiteral("Карты Proxy (EMMarin 3+5)"));
        QCOMPARE(w->tbNew->toolTip(), QStringLiteral("Создать пустой файл"));
    }

    void portListRememberedAndWrittenBack() {
        settings->value = QStringLiteral("/dev/ttyS2");
        Make({QStringLiteral("/dev/ttyUSB1"), QStringLiteral("/dev/ttyS2"),
              QStringLiteral("/dev/ttyS10")});
        QCOMPARE(w->cboxPort->count(), 3);
        QCOMPARE(w->cboxPort->itemText(0), QStringLiteral("/dev/ttyS10"));
        QCOMPARE(w->cboxPort->itemText(1), QStringLiteral("/dev/ttyS2"));
        QCOMPARE(w->cboxPort->itemText(2), QStringLiteral("/dev/ttyUSB1"));
        QCOMPARE(w->SelectedPortPath(), QStringLiteral("/dev/ttyS2"));
        QCOMPARE(w->SelectedPort, 2);

        // The operator's choice goes back to the store.
        w->cboxPort->setCurrentIndex(2);
        emit w->cboxPort->activated(2);
        QCOMPARE(settings->value, QStringLiteral("/dev/ttyUSB1"));
        QCOMPARE(w->SelectedPort, 3);

        // A remembered port that is gone (an adapter unplugged at start) stays the
        // choice, shown as absent, instead of being replaced by the first in the list.
        settings->value = QStringLiteral("/dev/ttyACM0");
        Make({QStringLiteral("/dev/ttyUSB1"), QStringLiteral("/dev/ttyS2")});
        QCOMPARE(w->SelectedPortPath(), QStringLiteral("/dev/ttyACM0"));
        QCOMPARE(w->cboxPort->itemData(w->cboxPort->currentIndex(), TFMain::PortDescriptionRole)
                     .toString(),
                 QStringLiteral("не подключён"));
        QCOMPARE(settings->value, QStringLiteral("/dev/ttyACM0"));

        // A typed path (a pseudo-terminal is never listed) joins the list in its place.
        w->cboxPort->setFocus();
        w->cboxPort->lineEdit()->selectAll();
        QTest::keyClicks(w->cboxPort->lineEdit(), QStringLiteral("/dev/pts/3"));
        QTest::keyClick(w->cboxPort->lineEdit(), Qt::Key_Return);
        QCOMPARE(w->cboxPort->itemText(0), QStringLiteral("/dev/pts/3"));
        QCOMPARE(w->SelectedPortPath(), QStringLiteral("/dev/pts/3"));
        QCOMPARE(settings->value, QStringLiteral("/dev/pts/3"));

        // A path typed without Enter is still the one the action opens.
        w->cboxPort->lineEdit()->selectAll();
        QTest::keyClicks(w->cboxPort->lineEdit(), QStringLiteral("/dev/pts/4"));
        QVERIFY(w->OpenLink());
        w->CloseLink();
        QCOMPARE(link->lastPath, std::string("/dev/pts/4"));
        QCOMPARE(w->SelectedPortPath(), QStringLiteral("/dev/pts/4"));
        QCOMPARE(w->cboxPort->itemText(1), QStringLiteral("/dev/pts/4"));
        QCOMPARE(settings->value, QStringLiteral("/dev/pts/4"));

        // --port adds its device and selects it.
        Make({QStringLiteral("/dev/ttyS2")}, QStringLiteral("/dev/pts/7"));
        QCOMPARE(w->cboxPort->count(), 2);
        QCOMPARE(w->SelectedPortPath(), QStringLiteral("/dev/pts/7"));
    }

    void emptyPortListSelectsNothing() {
        settings->value.reset();
        Make({});
        QCOMPARE(w->cboxPort->currentIndex(), -1);
        QCOMPARE(w->SelectedPort, -1);
        QVERIFY(!settings->value.has_value());
        w->actNewFromContrExecute();
        QCOMPARE(prompter->records.size(), size_t(1));
        QCOMPARE(prompter->records[0].caption, QStringLiteral("Ошибка"));
        QCOMPARE(prompter->records[0].text, QStringLiteral("Не выбран порт подключения!"));
        QCOMPARE(prompter->records[0].icon, PromptIcon::Error);
        QCOMPARE(link->opens, 0);
    }

    // The port box emptied (and Enter pressed): the next action says there is no port,
    // it does not go on quietly with the one selected before.
    void anEmptiedPortBoxIsNoPort() {
        settings->value.reset();
        Make({QStringLiteral("/dev/ttyS0"), QStringLiteral("/dev/ttyS1")});
        QCOMPARE(w->SelectedPortPath(), QStringLiteral("/dev/ttyS0"));
        w->cboxPort->setFocus();
        w->cboxPort->lineEdit()->selectAll();
        QTest::keyClick(w->cboxPort->lineEdit(), Qt::Key_Backspace);
        QTest::keyClick(w->cboxPort->lineEdit(), Qt::Key_Return);
        prompter->records.clear();
        QVERIFY(!w->OpenLink());
        QCOMPARE(prompter->records.size(), size_t(1));
        QCOMPARE(prompter->records[0].text, QStringLiteral("Не выбран порт подключения!"));
        QCOMPARE(link->opens, 0);
    }

    void openShowsTheFileWithoutTouchingControllerOrFile() {
        const QString first = SampleDb(QStringLiteral("first.vx2"), 2, 2);
        Open(first);
        const QString path = SampleDb(QStringLiteral("keys.vx2"));
        const QByteArray before = ReadAll(path);
        Open(path);

        QCOMPARE(prompter->records.back().kind, ScriptedPrompter::Record::Open);
        const FileDialogOptions& dialogOptions = prompter->records.back().dialogOptions;
        QCOMPARE(dialogOptions.title, QStringLiteral("Открыть файл базы ключей"));
        QCOMPARE(dialogOptions.filter, QStringLiteral("Файл базы ключей (*.vx2)|*.vx2"));
        QVERIFY(dialogOptions.fileMustExist);
        QVERIFY(dialogOptions.fileName.isEmpty());

        QCOMPARE(w->windowTitle(), QStringLiteral("Vardex 2 - ") + path);
        QVERIFY(w->FileOpen);
        QCOMPARE(Captions(*w), (QStringList{QStringLiteral("XX XX XXXXXX 000001"),
                                            QStringLiteral("XX XX XXXXXX 0A1B2C"),
                                            QStringLiteral("XX XX XXXXXX 12ABCD")}));
        QCOMPARE(w->Keys()->Row(2).description, QStringLiteral("Иванов"));
        QCOMPARE(w->lvDB->model()->rowCount(), 3);
        QCOMPARE(w->udTimeOpen->value(), 7);
        QCOMPARE(w->edTimeOpen->text(), QStringLiteral("7"));
        QCOMPARE(w->udRetryRead->value(), 4);
        QCOMPARE(w->TimeOpen, 7);
        QCOMPARE(w->bbVardex->text(), QStringLiteral("XX XX XXXXXX 12ABCD"));
        QVERIFY(w->udTimeOpen->isEnabled());
        QVERIFY(w->lvDB->isEnabled());
        QVERIFY(runner->sent.empty());
        QCOMPARE(link->opens, 0);
        QCOMPARE(ReadAll(path), before);

        QCOMPARE(w->FindRow(0x0A1B2C), 1);
        w->SelectRow(1);
        QCOMPARE(w->SelectedKeyCode().value_or(0), KeyCode(0x0A1B2C));
    }

    // vardex2 doors.vx2: the file is open at the first show, as "&Открыть" opens it; a file
    // that cannot be read is told and leaves the window empty.
    void fileOnTheCommandLineIsOpenedAtStart() {
        const QString path = SampleDb(QStringLiteral("doors.vx2"));
        Make({QStringLiteral("/dev/ttyS0")}, {}, path);
        QCOMPARE(w->windowTitle(), QStringLiteral("Vardex 2 - ") + path);
        QVERIFY(w->FileOpen);
        QCOMPARE(w->lvDB->model()->rowCount(), 3);
        QVERIFY(w->lvDB->isEnabled());
        QVERIFY(runner->sent.empty());

        const size_t told = prompter->records.size();
        Make({QStringLiteral("/dev/ttyS0")}, {}, dir.filePath(QStringLiteral("missing.vx2")));
        QCOMPARE(w->windowTitle(), QStringLiteral("Vardex 2"));
        QVERIFY(!w->FileOpen);
        QVERIFY(!w->lvDB->isEnabled());
        QCOMPARE(prompter->records.size(), told + 1);
    }

    // The search leaves rows in the view; the count shows them against the whole list,
    // and the row chosen in the filtered view is the right key of the whole list.
    void searchFiltersTheViewNotTheList() {
        Open(SampleDb(QStringLiteral("search.vx2")));
        QCOMPARE(w->searchBar->lFound->text(), QStringLiteral("Всего: 3"));
        bool ctrlF = false;
        for (QShortcut* sc : w->findChildren<QShortcut*>())
            ctrlF = ctrlF || sc->key() == QKeySequence(QKeySequence::Find);
        QVERIFY(ctrlF);
        w->searchBar->edSearch->setText(QStringLiteral("ИВАН"));
        QCOMPARE(w->lvDB->model()->rowCount(), 1);
        QCOMPARE(w->searchBar->lFound->text(), QStringLiteral("Найдено: 1 из 3"));
        QCOMPARE(w->Keys()->Count(), 3);
        w->lvDB->setCurrentIndex(w->lvDB->model()->index(0, 0));
        QCOMPARE(w->SelectedKeyCode().value_or(0), KeyCode(0x12ABCD));
        // (A tooltip shows the text as typed: its blanks are kept as no-break spaces.)
        const QString tip = w->lvDB->model()
                                ->index(0, 0)
                                .data(Qt::ToolTipRole)
                                .toString()
                                .replace(QChar::Nbsp, u' ');
        QVERIFY2(tip.contains(QStringLiteral("EM-Marine: 018,43981")), qPrintable(tip));
        QVERIFY2(tip.contains(QStringLiteral("0001223629")), qPrintable(tip));
        // A number in another form, then Esc.
        w->searchBar->edSearch->setText(QStringLiteral("0A1b2c"));
        QCOMPARE(w->lvDB->model()->rowCount(), 1);
        QTest::keyClick(w->searchBar->edSearch, Qt::Key_Escape);
        QCOMPARE(w->searchBar->edSearch->text(), QString());
        QCOMPARE(w->lvDB->model()->rowCount(), 3);
        // Selecting a row the search hides ends the search.
        w->searchBar->edSearch->setText(QStringLiteral("иванов"));
        w->SelectRow(w->FindRow(0x000001));
        QCOMPARE(w->SelectedKeyCode().value_or(0), KeyCode(0x000001));
        QCOMPARE(w->lvDB->model()->rowCount(), 3);
        // "Сохранить список в CSV..." writes the whole list, whatever the search shows.
        w->searchBar->edSearch->setText(QStringLiteral("иванов"));
        const QString csv = dir.filePath(QStringLiteral("list.csv"));
        prompter->AnswerFile(csv);
        w->actSaveCsvExecute();
        const QByteArray bytes = ReadAll(csv);
        QVERIFY2(bytes.startsWith("\xEF\xBB\xBF"
                                  "Карта(ключ);Описание\r\nXX XX XXXXXX 000001;"),
                 bytes.constData());
        QCOMPARE(bytes.count("\r\n"), 4);
    }

    // The search keeps up with a list that changes under it (add, edit as remove and add,
    // delete, a format switch), whether its index was built before or not, and after so
    // many changes that it is built anew.
    void searchFollowsTheChangingList() {
        KeyListModel keys;
        int format = TypeFormatEmMarine;
        KeyFilterModel filter(&keys, &format);
        auto shown = [&] {
            QList<KeyCode> codes;
            for (int r = 0; r < filter.rowCount(); ++r)
                codes << keys.Row(filter.mapToSource(filter.index(r, 0)).row()).code;
            std::sort(codes.begin(), codes.end());
            return codes;
        };
        auto row = [&](KeyCode code, const char* description) {
            return KeyRow{code, QString::fromStdString(Format(format, code)),
                          QString::fromUtf8(description)};
        };
        keys.Reset({row(0x000001, "Иванов"), row(0x12ABCD, "Сидоров"), row(0x0A1B2C, "склад")});
        filter.SetText(QStringLiteral("ИВАН"));  // before the idle build
        QCOMPARE(shown(), QList<KeyCode>({0x000001}));
        QCoreApplication::processEvents();
        keys.Add(row(0x000005, "Иванова Ёлка"));
        QCOMPARE(shown(), QList<KeyCode>({0x000001, 0x000005}));
        QCOMPARE(filter.Found(), 2);
        keys.Update(keys.FindRow(0x000001), row(0x000001, "Петров"));
        QCOMPARE(shown(), QList<KeyCode>({0x000005}));
        filter.SetText(QStringLiteral("ёлк"));
        QCOMPARE(shown(), QList<KeyCode>({0x000005}));
        keys.Remove(keys.FindRow(0x000005));
        QCOMPARE(filter.Found(), 0);
        // Many changes: the dead entries outnumber the live ones.
        filter.SetText(QStringLiteral("петров"));
        for (int i = 0; i < 10; ++i) {
            keys.Add(row(0x100 + i, "Петрова"));
            keys.Remove(keys.FindRow(0x000001));
            keys.Add(row(0x000001, "Петров"));
        }
        QCOMPARE(shown().size(), 11);
        for (int i = 0; i < 10; ++i)
            keys.Remove(keys.FindRow(0x100 + i));
        QCOMPARE(shown(), QList<KeyCode>({0x000001}));
        // A number is read the way the list shows it after a switch.
        filter.SetText(QStringLiteral("018,43981"));
        QCOMPARE(shown(), QList<KeyCode>({0x12ABCD}));
        format = TypeFormatIButton;
        keys.Reformat(format);
        filter.SetText(QStringLiteral("12abcd"));
        QCOMPARE(shown(), QList<KeyCode>({0x12ABCD}));
        filter.SetText(QString());
        QCOMPARE(filter.Found(), 3);
    }

    void cancelledOpenKeepsEverything() {
        const QString path = SampleDb(QStringLiteral("keep.vx2"));
        Open(path);
        w->actOpenExecute();  // no file scripted: cancelled
        QCOMPARE(w->windowTitle(), QStringLiteral("Vardex 2 - ") + path);
        QVERIFY(w->FileOpen);
        QVERIFY(w->cboxType->isEnabled());
    }

    void formatSwitchRerendersAndWritesOnlyTheFormat() {
        const QString path = SampleDb(QStringLiteral("format.vx2"));
        Open(path);
        w->SelectRow(2);
        const QByteArray before = ReadAll(path);
        w->cboxType->setCurrentIndex(1);
        emit w->cboxType->activated(1);

        QCOMPARE(w->TypeFormat, 1);
        QCOMPARE(w->bbVardex->text(), QStringLiteral("018,43981"));
        QCOMPARE(Captions(*w),
                 (QStringList{QStringLiteral("000,00001"), QStringLiteral("010,06956"),
                              QStringLiteral("018,43981")}));
        QCOMPARE(w->SelectedKeyCode().value_or(0), KeyCode(0x12ABCD));
        QByteArray expected = before;
        expected.replace("TypeFormat=0", "TypeFormat=1");
        QCOMPARE(ReadAll(path), expected);
        QVERIFY(runner->sent.empty());

        // A write that fails puts the combo box back.
        w->CurrentFile = dir.filePath(QStringLiteral("gone/format.vx2"));
        w->cboxType->setCurrentIndex(0);
        emit w->cboxType->activated(0);
        QCOMPARE(w->cboxType->currentIndex(), 1);
        QCOMPARE(w->TypeFormat, 1);
        QCOMPARE(prompter->records.back().caption, QStringLiteral("Ошибка"));
        QCOMPARE(w->Keys()->Row(0).caption, QStringLiteral("000,00001"));
    }

    // A hand-edited file with times outside their range: the window shows, sends and
    // writes the nearest values in range, says so once when the file is opened (not again
    // when someone else's change leaves the times as they were), and opening writes nothing.
    void timesOutsideTheirRangeShownAsTheNearestAndToldOnce() {
        const QString path = SampleDb(QStringLiteral("hand.vx2"), 801, -1);
        const QByteArray before = ReadAll(path);
        // Every box so far, as "caption|icon|text".
        const auto boxes = [this] {
            QStringList texts;
            for (const auto& r : prompter->records) {
                if (r.kind == ScriptedPrompter::Record::Box) {
                    texts << r.caption + QLatin1Char('|') + QString::number(int(r.icon)) +
                                 QLatin1Char('|') + r.text;
                }
            }
            return texts;
        };
        const QString warning =
            QStringLiteral("Настройки контроллера|%1|").arg(int(PromptIcon::Warning));
        const QString told =
            warning +
            QStringLiteral(
                "В файле время открывания замка 801 вне пределов 1–255: используется 255\n"
                "В файле время повторного считывания карты(ключа) -1 вне пределов 0–255: "
                "используется 0");
        Open(path);
        QVERIFY(w->FileOpen);
        QCOMPARE(w->udTimeOpen->value(), 255);
        QCOMPARE(w->edTimeOpen->text(), QStringLiteral("255"));
        QCOMPARE(w->TimeOpen, 255);
        QCOMPARE(w->udRetryRead->value(), 0);
        QCOMPARE(w->edRetryRead->text(), QStringLiteral("0"));
        QCOMPARE(w->RetryRead, 0);
        QCOMPARE(boxes(), QStringList{told});
        QVERIFY(runner->sent.empty());
        QCOMPARE(ReadAll(path), before);

        // Someone else adds a key: the list is read again, the times told no more.
        QVERIFY(SaveKey(path.toStdString(), 0x999999, "").ok);
        QVERIFY(w->ReloadIfChanged());
        QVERIFY(w->FindRow(0x999999) >= 0);
        QCOMPARE(boxes(), QStringList{told});
        // ... but a different value outside the range is told.
        QVERIFY(SaveSettings(path.toStdString(), 0, -1, 0).ok);
        QVERIFY(w->ReloadIfChanged());
        QCOMPARE(w->udTimeOpen->value(), 1);
        QCOMPARE(boxes().size(), 2);
        QCOMPARE(
            boxes().back(),
            warning + QStringLiteral(
                          "В файле время открывания замка 0 вне пределов 1–255: используется 1\n"
                          "В файле время повторного считывания карты(ключа) -1 вне пределов 0–255: "
                          "используется 0"));
        QVERIFY(runner->sent.empty());

        // A step of one time sends and writes the other as shown.
        w->udRetryRead->stepBy(1);
        QTRY_COMPARE(w->udRetryRead->value(), 1);
        QCOMPARE(runner->sent.size(), size_t(1));
        QCOMPARE(int(runner->sent[0].data[1]), 1);
        QCOMPARE(int(runner->sent[0].data[2]), 1);
        DbModel m;
        QVERIFY(LoadDbFile(path.toStdString(), m).ok);
        QCOMPARE(m.TimeOpen, 1);
        QCOMPARE(m.RetryRead, 1);
        QVERIFY(!m.TimeOpenInFile && !m.RetryReadInFile);
        QCOMPARE(boxes().size(), 2);

        // Opening the file again is a new opening: told again.
        QVERIFY(SaveSettings(path.toStdString(), 801, -1, 0).ok);
        Open(path);
        QCOMPARE(boxes().size(), 3);
        QCOMPARE(boxes().back(), told);
    }

    void timeChangeGoesToControllerThenFile() {
        const QString path = SampleDb(QStringLiteral("times.vx2"));
        Open(path);
        w->udTimeOpen->stepBy(1);
        QTRY_COMPARE(w->udTimeOpen->value(), 8);
        QCOMPARE(w->edTimeOpen->text(), QStringLiteral("8"));
        QCOMPARE(w->TimeOpen, 8);
        QCOMPARE(runner->sent.size(), size_t(1));
        QCOMPARE(Command(runner->sent[0]), 0x23);
        QCOMPARE(int(runner->sent[0].data[0]), 5);
        QCOMPARE(int(runner->sent[0].data[1]), 8);
        QCOMPARE(int(runner->sent[0].data[2]), 4);
        QCOMPARE(link->opens, 1);
        QCOMPARE(link->closes, 1);
        DbModel m;
        QVERIFY(LoadDbFile(path.toStdString(), m).ok);
        QCOMPARE(m.TimeOpen, 8);

        w->udRetryRead->stepBy(-1);
        QTRY_COMPARE(w->udRetryRead->value(), 3);
        QCOMPARE(int(runner->sent[1].data[1]), 8);
        QCOMPARE(int(runner->sent[1].data[2]), 3);
        QVERIFY(LoadDbFile(path.toStdString(), m).ok);
        QCOMPARE(m.RetryRead, 3);
        QCOMPARE(m.TimeOpen, 8);
    }

    void silentControllerLeavesTheTime() {
        const QString path = SampleDb(QStringLiteral("silent.vx2"));
        Open(path);
        const QByteArray before = ReadAll(path);
        runner->results = {TimedOut};
        QVERIFY(!w->udTimeOpenChangingEx(8));
        QCOMPARE(w->udTimeOpen->value(), 7);
        QCOMPARE(w->TimeOpen, 7);
        QCOMPARE(ReadAll(path), before);
        QCOMPARE(prompter->records.back().caption, QStringLiteral("Ошибка связи с контроллером"));
        QCOMPARE(link->closes, link->opens);

        // A line that cannot be opened stops before any request.
        link->fail = true;
        QVERIFY(!w->udRetryReadChangingEx(5));
        QCOMPARE(prompter->records.back().caption, QStringLiteral("Ошибка подключения"));
        QCOMPARE(prompter->records.back().text, QStringLiteral("Порт занят"));
        QCOMPARE(runner->sent.size(), size_t(1));
    }

    // A file that cannot be written is found out before the controller is touched.
    void unwritableFileStopsTheTimeBeforeAnyRequest() {
        Open(SampleDb(QStringLiteral("back.vx2")));
        w->CurrentFile = dir.filePath(QStringLiteral("gone/back.vx2"));
        QVERIFY(!w->udRetryReadChangingEx(5));
        QCOMPARE(runner->sent.size(), size_t(0));
        QCOMPARE(link->opens, 0);
        QCOMPARE(w->RetryRead, 4);
        QCOMPARE(w->udRetryRead->value(), 4);
        QCOMPARE(prompter->records.back().caption, QStringLiteral("Ошибка"));
    }

    // Another program holding the file's lock keeps every change of the window off the
    // controller: the time, the delete and the vardex say why and send nothing.
    void fileLockedElsewhereSendsNothing() {
        const QString path = SampleDb(QStringLiteral("locked.vx2"));
        Open(path);
        int toChild[2];
        int fromChild[2];
        QVERIFY(::pipe(toChild) == 0 && ::pipe(fromChild) == 0);
        const pid_t pid = ::fork();
        if (pid == 0) {
            DbLock held;
            const char ok = LockDbForWrite(path.toStdString(), held) ? 'y' : 'n';
            (void)!::write(fromChild[1], &ok, 1);
            char done;
            (void)!::read(toChild[0], &done, 1);
            ::_exit(0);
        }
        char ok = 0;
        QVERIFY(::read(fromChild[0], &ok, 1) == 1);
        QCOMPARE(ok, 'y');
        SetLockWaitForTesting(100);
        const QByteArray before = ReadAll(path);

        QVERIFY(!w->udTimeOpenChangingEx(8));
        prompter->AnswerBox(PromptAnswer::Yes);
        w->SelectRow(0);
        w->tbDelClick();

        SetLockWaitForTesting(0);
        (void)!::write(toChild[1], "x", 1);
        ::waitpid(pid, nullptr, 0);
        for (int fd : {toChild[0], toChild[1], fromChild[0], fromChild[1]})
            ::close(fd);

        QCOMPARE(runner->sent.size(), size_t(0));
        QCOMPARE(link->opens, 0);
        QCOMPARE(ReadAll(path), before);
        QCOMPARE(w->TimeOpen, 7);
        QCOMPARE(prompter->records.back().caption, QStringLiteral("Ошибка"));
        QVERIFY(prompter->records.back().text.contains(QStringLiteral("другая программа")));
    }

    // The delete looks at the file again once it holds the lock: a key another program
    // removed while the question was on screen is not sent to the controller again, and
    // the window's own delete is not taken for an outside change afterwards.
    void deleteLooksAtTheFileUnderTheLockAndKnowsItsOwnWrite() {
        const QString path = SampleDb(QStringLiteral("del.vx2"));
        Open(path);
        w->SelectRow(w->FindRow(0x0A1B2C));
        prompter->onPrompt = [&](const ScriptedPrompter::Record&) {
            QVERIFY(RemoveKey(path.toStdString(), 0x0A1B2C).ok);  // meanwhile, elsewhere
        };
        prompter->AnswerBox(PromptAnswer::Yes);
        w->tbDelClick();
        prompter->onPrompt = nullptr;
        QVERIFY(runner->sent.empty());
        QVERIFY(prompter->records.back().text.startsWith(
            QStringLiteral("Карта(ключ) с номером XX XX XXXXXX 0A1B2C удалена из базы")));
        QCOMPARE(w->FindRow(0x0A1B2C), -1);

        w->SelectRow(w->FindRow(0x000001));
        prompter->AnswerBox(PromptAnswer::Yes);
        w->tbDelClick();
        QCOMPARE(runner->sent.size(), size_t(1));
        QCOMPARE(w->FindRow(0x000001), -1);
        QVERIFY(!w->ReloadIfChanged());  // its own write
    }

    void timeChangesWithoutAFileOrOutOfRangeSendNothing() {
        QVERIFY(w->udTimeOpenChangingEx(2));  // nothing open: let through
        Open(SampleDb(QStringLiteral("range.vx2")));
        QVERIFY(w->udTimeOpenChangingEx(0));
        QVERIFY(w->udRetryReadChangingEx(256));
        QVERIFY(runner->sent.empty());
    }

    void newFileAsksTwiceThenChecksClearsAndReadsVardex() {
        const QString old = SampleDb(QStringLiteral("old.vx2"));
        Open(old);
        runner->makeReply = [](const FrameHeader& req, FrameHeader& reply, FrameData& data) {
            if (req[1] == ReadKey) {
                reply[4] = 3;
                data[0] = 3;
                data[1] = 0x00;
                data[2] = 0x00;
                data[3] = 0x2A;
            }
        };
        const QString path = dir.filePath(QStringLiteral("new_db2.vx2"));
        prompter->AnswerBox(PromptAnswer::Yes);
        prompter->AnswerBox(PromptAnswer::Yes);
        prompter->AnswerFile(path);
        const size_t first = prompter->records.size();
        w->actNewExecute();

        const auto& r = prompter->records;
        QCOMPARE(r.size(), first + 3);
        QCOMPARE(r[first].caption, QStringLiteral("Создание нового файла"));
        QCOMPARE(r[first].text, QStringLiteral("Для создания нового файла необходимо очистить "
                                               "контроллер!\rДля продолжения нажмите на кнопку "
                                               "\"Да\"\rДля отмены нажмите на кнопку \"Нет\""));
        QCOMPARE(r[first].icon, PromptIcon::Question);
        QCOMPARE(r[first].buttons, PromptButtons::YesNo);
        QCOMPARE(r[first + 1].text,
                 QStringLiteral("Внимание! Все данные в контроллере будут удалены!\rПродолжить?"));
        QCOMPARE(r[first + 1].icon, PromptIcon::Warning);
        // Two Enters never clear the controller: the warning's default is No.
        QCOMPARE(r[first + 1].buttons, PromptButtons::YesNoDefaultNo);
        const FileDialogOptions& dialogOptions = r[first + 2].dialogOptions;
        QCOMPARE(r[first + 2].kind, ScriptedPrompter::Record::Save);
        QCOMPARE(dialogOptions.title, QStringLiteral("Укажите имя нового файла"));
        QCOMPARE(dialogOptions.filter, QStringLiteral("Файл базы ключей(*.vx2)|*.vx2"));
        QCOMPARE(dialogOptions.fileName, QStringLiteral("new_db2.vx2"));
        QVERIFY(dialogOptions.overwritePrompt);

        QCOMPARE(runner->sent.size(), size_t(4));
        QCOMPARE(Command(runner->sent[0]), 0x02);
        QCOMPARE(Command(runner->sent[1]), 0x01);
        QCOMPARE(Command(runner->sent[2]), 0x61);
        QCOMPARE(Command(runner->sent[3]), 0x63);  // the times the file is to hold
        QVERIFY(runner->sent[1].atMs - runner->sent[0].atMs >= 100);
        QVERIFY(runner->sent[2].atMs - runner->sent[1].atMs >= 100);
        QCOMPARE(link->opens, 1);
        QCOMPARE(link->closes, 1);

        QCOMPARE(w->windowTitle(), QStringLiteral("Vardex 2 - ") + path);
        QCOMPARE(w->Keys()->Count(), 0);
        QCOMPARE(w->Vardex, KeyCode(42));
        QCOMPARE(w->udTimeOpen->value(), 1);
        QVERIFY(w->FileOpen);
        QVERIFY(w->cboxType->isEnabled());
        QCOMPARE(ReadAll(path), QByteArray("[ControllerSettings]\r\nTimeOpen=1\r\nRetryRead=1\r\n"
                                           "TypeFormat=0\r\nVardex=42\r\n"));
    }

    void newFileStopsAtNoOrAtAFailedStep() {
        const QString old = SampleDb(QStringLiteral("stay.vx2"));
        Open(old);
        w->actNewExecute();  // first question answered No
        QCOMPARE(link->opens, 0);
        prompter->AnswerBox(PromptAnswer::Yes);
        w->actNewExecute();  // second answered No
        QCOMPARE(link->opens, 0);

        const QString fresh = dir.filePath(QStringLiteral("fresh.vx2"));
        prompter->AnswerBox(PromptAnswer::Yes);
        prompter->AnswerBox(PromptAnswer::Yes);
        prompter->AnswerFile(fresh);
        runner->results = {Ok, WriteFailed};
        w->actNewExecute();  // the clear fails: no vardex read, no file
        QCOMPARE(runner->sent.size(), size_t(2));
        QCOMPARE(prompter->records.back().caption, QStringLiteral("Ошибка связи с контроллером"));
        QCOMPARE(link->closes, 1);
        QVERIFY(!QFile::exists(fresh));

        // The save dialog comes before any traffic: cancelling it keeps the previous file
        // and the controller as they are.
        const QByteArray before = ReadAll(old);
        prompter->AnswerBox(PromptAnswer::Yes);
        prompter->AnswerBox(PromptAnswer::Yes);
        w->actNewExecute();
        QCOMPARE(runner->sent.size(), size_t(2));
        QCOMPARE(link->opens, 1);
        QCOMPARE(prompter->records.back().kind, ScriptedPrompter::Record::Save);
        QCOMPARE(w->windowTitle(), QStringLiteral("Vardex 2 - ") + old);
        QCOMPARE(w->Keys()->Count(), 3);
        QVERIFY(w->lvDB->isEnabled());
        QCOMPARE(ReadAll(old), before);
        QCOMPARE(link->closes, 1);

        // A file that cannot be written is refused before the link is opened.
        QVERIFY(QFile::setPermissions(old, QFileDevice::ReadOwner));
        prompter->AnswerBox(PromptAnswer::Yes);
        prompter->AnswerBox(PromptAnswer::Yes);
        prompter->AnswerFile(old);
        w->actNewExecute();
        QCOMPARE(runner->sent.size(), size_t(2));
        QCOMPARE(link->opens, 1);
        QVERIFY(prompter->records.back().text.contains(QStringLiteral("Отказано в доступе")));
        QCOMPARE(ReadAll(old), before);
    }

    // "Адрес на линии": written to the file alone, and stamped on every request after it.
    void addressGoesToTheFileAndEveryRequest() {
        const QString path = SampleDb(QStringLiteral("door.vx2"));
        const QByteArray alone = ReadAll(path);
        Open(path);
        QCOMPARE(w->udAddress->value(), 0);
        QVERIFY(w->udAddress->isEnabled());
        w->udAddress->stepBy(7);
        QTRY_COMPARE(w->udAddress->value(), 7);
        QVERIFY(runner->sent.empty());
        QCOMPARE(link->opens, 0);
        DbModel m;
        QVERIFY(LoadDbFile(path.toStdString(), m).ok);
        QCOMPARE(m.Address, 7);
        w->udAddress->stepBy(-7);  // back to 0: the file of a controller alone again
        QTRY_COMPARE(w->udAddress->value(), 0);
        QCOMPARE(ReadAll(path), alone);

        w->udAddress->stepBy(12);
        QTRY_COMPARE(w->udAddress->value(), 12);
        w->udTimeOpen->stepBy(1);
        QTRY_COMPARE(w->udTimeOpen->value(), 8);
        QCOMPARE(runner->sent.size(), size_t(1));
        QCOMPARE(int(runner->sent[0].header[0]), 12);
        QVERIFY(LoadDbFile(path.toStdString(), m).ok);
        QCOMPARE(m.Address, 12);  // the time's write kept it
        QCOMPARE(m.TimeOpen, 8);

        // Another file opened: its own address (none: 0) from then on.
        Open(SampleDb(QStringLiteral("other.vx2")));
        QCOMPARE(w->udAddress->value(), 0);
        w->udTimeOpen->stepBy(1);
        QTRY_COMPARE(runner->sent.size(), size_t(2));
        QCOMPARE(int(runner->sent[1].header[0]), 0);
    }
};

QTEST_MAIN(TestMainWindow)
#include "test_main_window.moc"
