// The reconcile from the main window: its place in the menu, the list of differences with
// ticks and the per-key choice, one question, only the ticked differences written, and
// the adopted keys in the file and in the main list.
#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QTreeWidget>

#include "core/keys/cp1251.h"
#include "core/keys/database.h"
#include "core/link/command_set.h"
#include "fakes.h"
#include "support/scripted_controller.h"
#include "ui/dialogs/reconcile.h"
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
        timeOpen = 9;
        retryRead = 2;
    }
};

QTreeWidgetItem* Row(QTreeWidget* list, const QString& startsWith) {
    for (int i = 0; i < list->topLevelItemCount(); ++i) {
        if (list->topLevelItem(i)->text(0).startsWith(startsWith))
            return list->topLevelItem(i);
    }
    return nullptr;
}

}  // namespace

class TestReconcileDialog : public QObject {
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

  private slots:
    void initTestCase() { qputenv("XDG_DATA_HOME", dir.filePath(QStringLiteral("data")).toUtf8()); }
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

    void theActionFollowsTheCheckAndNeedsAnOpenFile() {
        QMenu* file = w->menuBar()->findChild<QMenu*>(QStringLiteral("miFile"));
        QVERIFY(file);
        const auto actions = file->actions();
        const int sync = static_cast<int>(actions.indexOf(w->actSync));
        QVERIFY(sync >= 0);
        QCOMPARE(actions.value(sync + 1), w->actReconcile);
        QCOMPARE(w->actReconcile->text(), QStringLiteral("Св&ерка с контроллером"));
        QCOMPARE(
            w->actReconcile->statusTip(),
            QStringLiteral("Сравнить файл с контроллером и записать в контроллер только различия"));
        QVERIFY(!w->actReconcile->isEnabled());
        prompter->AnswerFile(SampleDb(QStringLiteral("a.vx2")));
        w->actOpenExecute();
        QVERIFY(w->actReconcile->isEnabled());
    }

    void listsTheDifferencesAndWritesOnlyTheTickedOnes() {
        const QString path = SampleDb(QStringLiteral("r.vx2"));
        prompter->AnswerFile(path);
        w->actOpenExecute();
        controller.keys = {1, 0x30, 0x40};
        controller.vardex = 0x0A1B2C;
        bool listed = false, applied = false;
        size_t readRequests = 0;
        Poll([&] {
            auto* d = Shown<TFReconcile>();
            if (!d || !d->bbOK->isEnabled())
                return false;
            [&] {
                QCOMPARE(d->lvList->topLevelItemCount(), 4);
                // The keyboard goes on in the differences, the first one current.
                QCOMPARE(d->lvList->currentItem(), d->lvList->topLevelItem(0));
                QCOMPARE(d->mInfo->lineWrapMode(), QPlainTextEdit::WidgetWidth);
                QCOMPARE(
                    d->lSummary->text(),
                    QStringLiteral("Совпадает: 1, записать: 2, удалить: 2, добавить в файл: 0"));
                QTreeWidgetItem* store = Row(d->lvList, QStringLiteral("XX XX XXXXXX 0A1B2C"));
                QTreeWidgetItem* extra = Row(d->lvList, QStringLiteral("XX XX XXXXXX 000040"));
                QVERIFY(store && extra);
                QCOMPARE(store->text(0), QStringLiteral("XX XX XXXXXX 0A1B2C - Склад"));
                QCOMPARE(extra->text(1), QStringLiteral("удалить из контроллера"));
                // The operator may still close: nothing has been written.
                QVERIFY(d->Reconcile().CanClose);
                store->setCheckState(0, Qt::Unchecked);
                QVERIFY(!d->bbAdopt->isEnabled());
                extra->setSelected(true);
                QVERIFY(d->bbAdopt->isEnabled());
                d->bbAdopt->click();
                QCOMPARE(extra->text(1), QStringLiteral("добавить в файл"));
                QCOMPARE(d->lSummary->text(),
                         QStringLiteral("Совпадает: 1, записать: 1, удалить: 1, добавить в "
                                        "файл: 1, пропустить: 1"));
                readRequests = runner->sent.size();
                prompter->AnswerBox(PromptAnswer::No);
                d->bbOK->click();
                QCOMPARE(runner->sent.size(), readRequests);  // No: nothing written
                listed = true;
            }();
            prompter->AnswerBox(PromptAnswer::Yes);
            d->bbOK->click();
            Poll([&, d] {
                if (d->bbCancel->text() != QStringLiteral("Закрыть"))
                    return false;
                [&] {
                    QCOMPARE(runner->sent.size(), readRequests + 3);
                    QCOMPARE(runner->sent[readRequests].data[3], std::uint8_t(0xCD));  // store
                    QCOMPARE(runner->sent[readRequests + 1].data[3], std::uint8_t(0x30));
                    QCOMPARE(runner->sent[readRequests + 1].data[4], std::uint8_t(0xFF));  // remove
                    QCOMPARE(runner->sent[readRequests + 2].header[1], std::uint8_t(ReadKeyCount));
                    QCOMPARE(d->mInfo->toPlainText().split(QLatin1Char('\n')).last(),
                             QStringLiteral("Сверка с контроллером завершена успешно!"));
                    applied = true;
                }();
                d->bbCancel->click();
                return true;
            });
            return true;
        });
        w->actReconcileExecute();
        QVERIFY(listed);
        QVERIFY(applied);
        QCOMPARE(controller.keys, (std::vector<std::uint32_t>{1, 0x40, 0x12ABCD}));
        QVERIFY(w->FindRow(0x40) >= 0);
        // The adopted key was the window's own write, not another program's.
        QVERIFY(!w->ReloadIfChanged());
        QFile f(path);
        QVERIFY(f.open(QIODevice::ReadOnly));
        QVERIFY(f.readAll().endsWith("64=64\r\n"));  // named as a load names it
        QVERIFY(!link->open);
        QCOMPARE(QDir(dir.filePath(QStringLiteral("data/Vardex2/backups")))
                     .entryList(QDir::Files)
                     .size(),
                 1);
    }

    // Cancel between two writes: the dialog stays and says what was and was not written.
    void aCancelMidWayShowsWhatWasDone() {
        prompter->AnswerFile(SampleDb(QStringLiteral("c.vx2")));
        w->actOpenExecute();
        controller.keys = {1};
        controller.vardex = 0x0A1B2C;
        bool cancelled = false;
        QString closeCaption;
        Poll([&] {
            auto* d = Shown<TFReconcile>();
            if (!d || !d->bbOK->isEnabled())
                return false;
            prompter->AnswerBox(PromptAnswer::Yes);
            runner->hold = true;
            d->bbOK->click();
            Poll([&, d] {
                if (!runner->held)
                    return false;
                d->bbCancel->click();
                runner->Release();
                Poll([&, d] {
                    if (!d->Reconcile().CanClose)
                        return false;
                    cancelled = d->isVisible();
                    closeCaption = d->bbCancel->text();
                    d->bbCancel->click();
                    return true;
                });
                return true;
            });
            return true;
        });
        w->actReconcileExecute();
        QVERIFY(cancelled);
        QCOMPARE(closeCaption, QStringLiteral("Закрыть"));
        QCOMPARE(
            prompter->records.back().text,
            QStringLiteral("Сверка прервана.\rЗаписано карт(ключей): 1 из 2, удалено: 0 из 0"));
    }

    // A change from outside while an action runs is read once the action has ended, not
    // in the middle of it (between its modal windows).
    void anOutsideChangeWaitsForTheRunningAction() {
        const QString path = SampleDb(QStringLiteral("o.vx2"));
        prompter->AnswerFile(path);
        w->actOpenExecute();
        bool during = true;
        w->RunAction([&] {
            DbModel m;
            m.keys = {{0x77, Cp("Снаружи")}};
            WriteDbFile(path.toStdString(), m);
            w->FileChangedOutside();
            during = w->FindRow(0x77) >= 0;
        });
        QVERIFY(!during);
        QTRY_VERIFY(w->FindRow(0x77) >= 0);
    }
};

QTEST_MAIN(TestReconcileDialog)
#include "test_reconcile_dialog.moc"
