// The load, export and check dialogs opened from the main window: their logs and
// progress, the save that makes the new file current only once it is whole, the close
// refused while a request is in flight, "Закрыть", and keys added once.
#include <QApplication>
#include <QFile>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>
#include <algorithm>
#include <stdexcept>

#include "core/jobs/export_job.h"
#include "core/keys/cp1251.h"
#include "core/keys/database.h"
#include "core/link/command_set.h"
#include "fakes.h"
#include "support/scripted_controller.h"
#include "ui/dialogs/getvardex.h"
#include "ui/dialogs/readcontr.h"
#include "ui/dialogs/synccontr.h"
#include "ui/dialogs/writecontr.h"
#include "ui/seams/prompter.h"
#include "ui/seams/ui_platform.h"
#include "ui_helpers.h"

namespace {

std::string Cp(const char* utf8) {
    std::string out;
    Utf8ToCp1251(utf8, out);
    return out;
}

// The controller behind the fake runner's replies.
struct FakeState : ScriptedController {
    FakeState() {
        timeOpen = 7;
        retryRead = 4;
    }
};

QStringList LogOf(QPlainTextEdit* m) {
    return m->toPlainText().split(QLatin1Char('\n'));
}

QByteArray ReadAll(const QString& path) {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    return f.readAll();
}

}  // namespace

class TestJobsDialogs : public QObject {
    Q_OBJECT

    QTemporaryDir dir;
    ScriptedPrompter* prompter = nullptr;
    MemorySettingsStore settings;
    FixedPortDirectory ports{{QStringLiteral("/dev/ttyS0")}};
    FakeRunner* runner = nullptr;
    FakeLink* link = nullptr;
    FakeState controller;
    TFMain* w = nullptr;

    QString SampleDb(const QString& name) {
        DbModel m;
        m.TimeOpen = 9;
        m.RetryRead = 2;
        m.Vardex = 0x0A1B2C;
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
        runner = new FakeRunner;
        link = new FakeLink;
        controller = FakeState();
        runner->makeReply = [this](const FrameHeader& h, FrameHeader& reply, FrameData& data) {
            controller.Reply(h, runner->sent.back().data, reply, data);
        };
        MainDeps deps;
        deps.settings = &settings;
        deps.ports = &ports;
        deps.runner = runner;
        deps.link = link;
        w = new TFMain(deps);
        w->show();
    }
    void cleanup() {
        delete w;
        SetAppPrompter(nullptr);
        delete prompter;
        delete runner;
        delete link;
    }

    void loadLogsThenSavesAndOpensTheNewFileOnlyWhenWhole() {
        const QString old = SampleDb(QStringLiteral("old.vx2"));
        Open(old);
        controller.keys = {0x12ABCD, 5, 0x12ABCD};
        controller.vardex = 0x0A1B2C;
        const QString bad = dir.filePath(QStringLiteral("missing/new.vx2"));
        const QString good = dir.filePath(QStringLiteral("new_contr.vx2"));
        bool checked = false;
        Poll([&] {
            auto* d = Shown<TFReadContr>();
            if (!d || !d->bbOK->isEnabled())
                return false;
            [&] {
                QCOMPARE(LogOf(d->mInfo),
                         QStringList({"Проверка связи с контроллером ... OK!",
                                      "Кол-во карт(ключей) в контроллере: 3", "",
                                      "Чтение настроек контроллера ... OK!",
                                      "Время открывания замка 7 сек.",
                                      "Повторное считывание карты(ключа) 4 сек.", "",
                                      "Чтение вардекса:OK!", "Вардекс: XX XX XXXXXX 0A1B2C", "",
                                      "Чтение базы карт(ключей) контроллера:",
                                      "Карта(ключ) №1: XX XX XXXXXX 12ABCD",
                                      "Карта(ключ) №2: XX XX XXXXXX 000005",
                                      "Карта(ключ) №3: XX XX XXXXXX 12ABCD", "",
                                      "Проверка кол-ва карт(ключей) в контроллере ... OK!",
                                      "Кол-во карт(ключей) в контроллере: 3", "",
                                      "Чтение из контроллера завершено успешно!"}));
                QCOMPARE(d->ProgressBar->maximum(), 5);
                QCOMPARE(d->ProgressBar->value(), 5);
                QCOMPARE(prompter->records.back().text,
                         QStringLiteral("Чтение из контроллера завершено успешно!\rМожно "
                                        "сохранить данные в файл!"));
                QCOMPARE(prompter->records.back().caption, QStringLiteral("Vardex 2"));
                // A save that fails leaves everything as it was and the dialog open.
                prompter->AnswerFile(bad);
                d->bbOK->click();
                QVERIFY(d->isVisible());
                QCOMPARE(w->CurrentFile, old);
                QCOMPARE(w->Keys()->Count(), 3);
                QCOMPARE(prompter->records.back().caption, QStringLiteral("Ошибка"));
                QCOMPARE(prompter->records[prompter->records.size() - 2].dialogOptions.fileName,
                         QStringLiteral("new_contr.vx2"));
                checked = true;
            }();
            prompter->AnswerFile(good);
            d->bbOK->click();
            return true;
        });
        w->actNewFromContrExecute();
        QVERIFY(checked);
        QVERIFY(!Shown<TFReadContr>());
        QCOMPARE(w->CurrentFile, good);
        QVERIFY(w->FileOpen);
        QCOMPARE(w->Keys()->Count(), 2);
        QCOMPARE(w->TimeOpen, 7);
        QCOMPARE(ReadAll(good), QByteArray("[ControllerSettings]\r\nTimeOpen=7\r\nRetryRead=4\r\n"
                                           "TypeFormat=0\r\nVardex=662316\r\n[VardexDB2]\r\n"
                                           "1223629=1223629\r\n5=5\r\n"));
        QVERIFY(!QFile::exists(bad));
        QVERIFY(!link->open);
        QCOMPARE(runner->sent.size(), size_t(7));
        for (size_t i = 1; i < runner->sent.size(); ++i)
            QVERIFY(runner->sent[i].atMs - runner->sent[i - 1].atMs >= 99);
    }

    // After a complete read Enter saves; Esc, Cancel and the close box ask before the read
    // is thrown away, No (the default) keeping the dialog open.
    void aFinishedLoadIsSavedByEnterAndNotThrownAway() {
        controller.keys = {0x12ABCD};
        const QString question = QStringLiteral(
            "Данные, прочитанные из контроллера, не сохранены. Закрыть окно без сохранения?");
        const QString saved = dir.filePath(QStringLiteral("kept.vx2"));
        int asked = 0;
        Poll([&] {
            auto* d = Shown<TFReadContr>();
            if (!d || !d->bbOK->isEnabled())
                return false;
            [&] {
                QVERIFY(d->bbOK->isDefault());
                QVERIFY(!d->bbCancel->isDefault());
                for (auto close : std::initializer_list<std::function<void()>>{
                         [d] { QTest::keyClick(d, Qt::Key_Escape); }, [d] { d->bbCancel->click(); },
                         [d] { d->close(); }}) {
                    close();
                    QVERIFY(d->isVisible());
                    QCOMPARE(prompter->records.back().text, question);
                    QCOMPARE(prompter->records.back().buttons, PromptButtons::YesNoDefaultNo);
                    ++asked;
                }
            }();
            prompter->AnswerFile(saved);
            QTest::keyClick(d->focusWidget() ? d->focusWidget() : d, Qt::Key_Return);
            return true;
        });
        w->actNewFromContrExecute();
        QCOMPARE(asked, 3);
        QVERIFY(!Shown<TFReadContr>());
        QCOMPARE(w->CurrentFile, saved);

        // Answered Yes, the dialog closes and nothing is saved.
        Poll([&] {
            auto* d = Shown<TFReadContr>();
            if (!d || !d->bbOK->isEnabled())
                return false;
            prompter->AnswerBox(PromptAnswer::Yes);
            QTest::keyClick(d, Qt::Key_Escape);
            return true;
        });
        w->actNewFromContrExecute();
        QVERIFY(!Shown<TFReadContr>());
        QCOMPARE(w->CurrentFile, saved);
        QCOMPARE(prompter->records.back().text, question);
    }

    void loadCancelInFlightClosesOnlyAtTheCompletion() {
        controller.keys = {1, 2};
        runner->hold = true;
        bool refused = false;
        Poll([&] {
            auto* d = Shown<TFReadContr>();
            if (!d || !runner->held)
                return false;
            d->close();  // the close box: refused, and asks for nothing
            d->bbCancel->click();
            refused = d->isVisible();
            runner->Release();
            return true;
        });
        w->actNewFromContrExecute();
        QVERIFY(refused);
        QVERIFY(!Shown<TFReadContr>());
        QCOMPARE(runner->sent.size(), size_t(1));
        QVERIFY(w->CurrentFile.isEmpty());
        QVERIFY(!link->open);
    }

    void exportWritesTheListInItsOrderAndEndsWithClose() {
        Open(SampleDb(QStringLiteral("e.vx2")));
        prompter->AnswerBox(PromptAnswer::Yes);
        prompter->AnswerBox(PromptAnswer::Yes);
        bool checked = false;
        Poll([&] {
            auto* d = Shown<TFWriteContr>();
            if (!d || d->bbCancel->text() != QStringLiteral("Закрыть"))
                return false;
            [&] {
                QCOMPARE(LogOf(d->mInfo),
                         QStringList({"Полная очистка контроллера ... OK!", "",
                                      "Запись настроек контроллера ... OK!", "",
                                      "Установка вардекса XX XX XXXXXX 0A1B2C ... OK!", "",
                                      "Запись базы карт(ключей) в контроллер ... ",
                                      "Карта(ключ) XX XX XXXXXX 000001 -  ... OK!",
                                      "Карта(ключ) XX XX XXXXXX 0A1B2C - Склад ... OK!",
                                      "Карта(ключ) XX XX XXXXXX 12ABCD - Иванов ... OK!", "",
                                      "Проверка кол-ва карт(ключей) в контроллере ... OK!",
                                      "Кол-во карт(ключей) в контроллере: 3", "",
                                      "Экспорт в контроллер выполнен успешно!"}));
                QCOMPARE(d->ProgressBar->maximum(), 7);
                QCOMPARE(d->ProgressBar->value(), 7);
                QCOMPARE(prompter->records.back().text,
                         QStringLiteral("Экспорт в контроллер выполнен успешно!"));
                checked = true;
            }();
            d->bbCancel->click();
            return true;
        });
        w->actSaveExecute();
        QVERIFY(checked);
        QVERIFY(!Shown<TFWriteContr>());
        QCOMPARE(runner->sent.size(), size_t(7));
        QCOMPARE(int(runner->sent[0].header[1]), 0x01);
        QCOMPARE(int(runner->sent[1].data[1]), 9);
        QCOMPARE(int(runner->sent[2].header[3]), 0xFF);
        QCOMPARE(int(runner->sent[3].data[3]), 0x01);
        QCOMPARE(int(runner->sent[4].data[1]), 0x0A);
        QCOMPARE(int(runner->sent[5].data[1]), 0x12);
        QVERIFY(link->closes >= 2);  // by the finish and by the window
        QVERIFY(!link->open);
    }

    void exportFailureAtAKeyStopsThere() {
        Open(SampleDb(QStringLiteral("f.vx2")));
        prompter->AnswerBox(PromptAnswer::Yes);
        prompter->AnswerBox(PromptAnswer::Yes);
        runner->results = {0, 0, 0, 0, 4};
        bool checked = false;
        Poll([&] {
            auto* d = Shown<TFWriteContr>();
            if (!d || d->bbCancel->text() != QStringLiteral("Закрыть"))
                return false;
            [&] {
                const QStringList log = LogOf(d->mInfo);
                QCOMPARE(log.mid(log.size() - 4),
                         QStringList({"Карта(ключ) XX XX XXXXXX 0A1B2C - Склад ... ",
                                      "Ошибка при экспорте",
                                      "Описание ошибки: Истекло время ожидания ответа от "
                                      "контроллера.",
                                      "Возможно контроллер не подключен"}));
                QCOMPARE(d->ProgressBar->value(), 4);
                QCOMPARE(prompter->records.back().caption, QStringLiteral("Ошибка при экспорте"));
                QCOMPARE(prompter->records.back().icon, PromptIcon::Error);
                checked = true;
            }();
            d->bbCancel->click();
            return true;
        });
        w->actSaveExecute();
        QVERIFY(checked);
        QCOMPARE(runner->sent.size(), size_t(5));
    }

    // Entries with no valid key number are told when the file opens, with their text, and
    // neither they nor a number made of them reach what the export sends (16777217 once
    // went into the controller as 000001).
    void entriesWithNoValidNumberAreToldAndNeverSent() {
        const QString path = dir.filePath(QStringLiteral("part.vx2"));
        {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(
                "[ControllerSettings]\r\nTimeOpen=9\r\nRetryRead=2\r\nTypeFormat=0\r\n"
                "Vardex=0\r\n[VardexDB2]\r\n1=first\r\nabc=x\r\n16777217=cut\r\n"
                "16777215=after\r\n");
        }
        DbModel model;
        QVERIFY(LoadDbFile(path.toStdString(), model).ok);
        prompter->records.clear();
        Open(path);
        QVERIFY(w->FileOpen);
        const QString told = QString::fromStdString(InvalidEntriesText(model));
        QVERIFY(told.contains(QStringLiteral("«abc», «16777217»")));
        QVERIFY(std::any_of(prompter->records.begin(), prompter->records.end(),
                            [&](const auto& r) { return r.text == told; }));
        QCOMPARE(w->Keys()->Count(), 2);
        const std::optional<ExportSource> source = w->ExportSourceOfFile();
        QVERIFY(source);
        QCOMPARE(source->keys.size(), size_t(2));
        QCOMPARE(source->keys[0].code, KeyCode(1));
        QCOMPARE(source->keys[1].code, KeyCode(0xFFFFFF));
    }

    // The pause between two steps of "&Новый файл" runs the event loop. A click on the
    // vardex button then (one that gets past the wait dialog's modality, as a script's
    // does) must not start the vardex action inside it: that would open and close the
    // link under the outer action, which would go on sending on a closed link.
    void aClickBetweenTheStepsOfAnActionStartsNothing() {
        Open(SampleDb(QStringLiteral("a.vx2")));
        prompter->AnswerBox(PromptAnswer::Yes);
        prompter->AnswerBox(PromptAnswer::Yes);
        prompter->AnswerFile(dir.filePath(QStringLiteral("new.vx2")));
        // Only reached when the click got through: the capture is cancelled at once.
        QTimer cancelCapture;
        cancelCapture.setInterval(5);
        connect(&cancelCapture, &QTimer::timeout, [] {
            if (auto* d = qobject_cast<TFGetVardex*>(QApplication::activeModalWidget()))
                d->reject();
        });
        cancelCapture.start();
        bool clicked = false;
        Poll([&] {
            // The link check has been answered: the pause before the clear.
            if (runner->sent.size() != 1)
                return false;
            w->bbVardex->click();
            clicked = true;
            return true;
        });
        const int opens = link->opens;
        w->actNewExecute();
        QVERIFY(clicked);
        QCOMPARE(link->opens, opens + 1);
        QCOMPARE(runner->sent.size(), size_t(4));
        QCOMPARE(int(runner->sent[1].header[1]), 0x01);
        QCOMPARE(w->CurrentFile, dir.filePath(QStringLiteral("new.vx2")));
    }

    // An error that escapes an action (here thrown from inside its file dialog) is shown
    // with its text; the program goes on.
    void anErrorThatEscapesAnActionIsShownWithItsText() {
        int boxes = 0;
        prompter->onPrompt = [&](const ScriptedPrompter::Record&) {
            if (++boxes == 1)
                throw std::runtime_error("Недостаточно памяти");
        };
        w->actOpen->trigger();
        prompter->onPrompt = nullptr;
        QCOMPARE(boxes, 2);
        QCOMPARE(prompter->records.back().caption, QStringLiteral("Ошибка"));
        QCOMPARE(prompter->records.back().text, QStringLiteral("Недостаточно памяти"));
        QVERIFY(!w->ActionRunning());
        // The next action runs as usual.
        Open(SampleDb(QStringLiteral("after.vx2")));
        QVERIFY(w->FileOpen);
    }

    void syncListsEachMissingKeyOnceAndAddsTheTickedOnes() {
        const QString path = SampleDb(QStringLiteral("s.vx2"));
        Open(path);
        controller.keys = {0x30, 1, 0x30, 0x40};
        bool checked = false;
        Poll([&] {
            auto* d = Shown<TFSyncContr>();
            if (!d || d->lInfo->isVisible())
                return false;
            [&] {
                QCOMPARE(d->lvList->topLevelItemCount(), 2);
                QCOMPARE(d->lvList->topLevelItem(0)->text(0),
                         QStringLiteral("XX XX XXXXXX 000030"));
                QVERIFY(d->bbOK->isEnabled());
                QCOMPARE(prompter->records.back().text,
                         QStringLiteral("В контроллере обнаружены карты(ключи), отсутствующие "
                                        "в базе данных!"));
                d->lvList->topLevelItem(0)->setCheckState(0, Qt::Unchecked);
                d->lvList->topLevelItem(1)->setCheckState(0, Qt::Unchecked);
                QVERIFY(!d->bbOK->isEnabled());
                d->lvList->topLevelItem(1)->setCheckState(0, Qt::Checked);
                QVERIFY(d->bbOK->isEnabled());
                prompter->AnswerBox(PromptAnswer::No);
                d->bbOK->click();
                QVERIFY(d->isVisible());
                QCOMPARE(w->Keys()->Count(), 3);
                checked = true;
            }();
            prompter->AnswerBox(PromptAnswer::Yes);
            d->bbOK->click();
            return true;
        });
        w->actSyncExecute();
        QVERIFY(checked);
        QVERIFY(!Shown<TFSyncContr>());
        QCOMPARE(w->Keys()->Count(), 4);
        QVERIFY(w->FindRow(0x40) >= 0);
        QVERIFY(w->FindRow(0x30) < 0);
        QVERIFY(ReadAll(path).endsWith("64=64\r\n"));  // named as a load names it
        QCOMPARE(w->Keys()->Row(w->FindRow(0x40)).description, QStringLiteral("64"));
        QVERIFY(!link->open);
    }

    void syncWithNothingMissingClosesAfterTheBox() {
        Open(SampleDb(QStringLiteral("n.vx2")));
        controller.keys = {1, 0x12ABCD};
        w->actSyncExecute();  // returns once the dialog has closed by itself
        QCOMPARE(prompter->records.back().text,
                 QStringLiteral("В контроллере не обнаружены карты(ключи), отсутствующие в "
                                "базе данных!"));
        QCOMPARE(w->Keys()->Count(), 3);
    }
};

QTEST_MAIN(TestJobsDialogs)
#include "test_jobs_dialogs.moc"
