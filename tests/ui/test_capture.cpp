// The key capture dialogs: the link check that opens them, the poll with its pause, a key
// on the first or a later reply, a failure of the check or mid-poll, Cancel with a request
// in flight (also on the real worker over the virtual controller), and the vardex
// dialog's reset, duplicate and failed write.
#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>

#include "core/keys/database.h"
#include "core/link/serial_port.h"
#include "fakes.h"
#include "support/sim_process.h"
#include "ui/dialogs/findkey.h"
#include "ui/dialogs/getkey.h"
#include "ui/dialogs/getvardex.h"
#include "ui/seams/prompter.h"

namespace {

// Replies to 0x43: no key for the first `emptyReplies` polls, then `code`.
struct Reader {
    int emptyReplies = 0;
    KeyCode code = 0;
    int polls = 0;
    void operator()(const FrameHeader& request, FrameHeader& reply, FrameData& data) {
        if (request[1] != ReadPresentedKey)
            return;
        if (polls++ < emptyReplies)
            return;
        reply[4] = 4;
        data[0] = 4;
        data[1] = 0x01;  // p[0] is not part of the code
        data[2] = static_cast<std::uint8_t>(code >> 16);
        data[3] = static_cast<std::uint8_t>(code >> 8);
        data[4] = static_cast<std::uint8_t>(code);
    }
};

const QString CheckingText = QStringLiteral("Проверка связи с контроллером");

std::vector<int> Payload(const FakeRunner::Sent& s) {
    return std::vector<int>(s.data.begin() + 1, s.data.begin() + 1 + s.data[0]);
}

}  // namespace

class TestCapture : public QObject {
    Q_OBJECT
    ScriptedPrompter prompter;
    FakeRunner runner;
    QTemporaryDir dir;
    // A database for the vardex dialog to write its vardex into once the controller has it.
    std::string VardexDb() {
        const std::string path = dir.filePath(QStringLiteral("vardex.vx2")).toStdString();
        NewDbFile(path);
        return path;
    }

  private slots:
    void init() {
        prompter = ScriptedPrompter();
        SetAppPrompter(&prompter);
        runner.Reset();
    }
    void cleanup() { SetAppPrompter(nullptr); }

    void findKeyClosesAtOnceWithAKeyOnTheFirstReply() {
        runner.makeReply = Reader{0, 0x12ABCD};
        TFFindKey dialog(nullptr, 1, runner);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Поиск карты(ключа)"));
        QCOMPARE(dialog.edFindKey->text(), CheckingText);
        QVERIFY(dialog.bbOK == nullptr);
        QVERIFY(dialog.Run());
        QCOMPARE(dialog.ReadCode, KeyCode(0x12ABCD));
        QCOMPARE(dialog.edFindKey->text(), QStringLiteral("018,43981"));
        // The link check, the pause, the poll: the bytes the check dialog used to send.
        QCOMPARE(runner.sent.size(), size_t(2));
        QCOMPARE(runner.sent[0].header, MakeCheckLink().header);
        QCOMPARE(runner.sent[0].data, MakeCheckLink().data);
        const FrameHeader poll{0x00, 0x43, 0x00, 0x00, 0x00, 0x00};
        QCOMPARE(runner.sent[1].header, poll);
        QVERIFY2(runner.sent[1].atMs - runner.sent[0].atMs >= 100,
                 qPrintable(QString::number(runner.sent[1].atMs - runner.sent[0].atMs)));
        QVERIFY(!dialog.tBlink->isActive());
        QVERIFY(prompter.records.empty());
    }

    void getKeyPollsEvery100msAndWaitsForOk() {
        runner.makeReply = Reader{3, 0x0A1B2C};
        TFGetKey dialog(nullptr, 0, 0x000001, runner);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Считывание карты(ключа)"));
        QSignalSpy finished(&dialog, &QDialog::finished);
        dialog.open();
        // The check is on the line: the field says so and does not blink yet.
        QVERIFY(dialog.Checking());
        QCOMPARE(dialog.edGetKey->text(), CheckingText);
        QVERIFY(!dialog.tBlink->isActive());
        QTRY_VERIFY(dialog.tBlink->isActive());
        QCOMPARE(dialog.edGetKey->text(), QStringLiteral("ПОДНЕСИТЕ КАРТУ(КЛЮЧ) К СЧИТЫВАТЕЛЮ"));
        QVERIFY(!dialog.bbOK->isEnabled());
        QTRY_VERIFY(dialog.bbOK->isEnabled());
        QCOMPARE(runner.sent.size(), size_t(5));
        QCOMPARE(int(runner.sent[0].header[1]), 0x02);
        QCOMPARE(dialog.Polls(), 4);
        for (size_t i = 1; i < runner.sent.size(); ++i)
            QVERIFY2(runner.sent[i].atMs - runner.sent[i - 1].atMs >= 100,
                     qPrintable(QString::number(runner.sent[i].atMs - runner.sent[i - 1].atMs)));
        QCOMPARE(dialog.edGetKey->text(), QStringLiteral("XX XX XXXXXX 0A1B2C"));
        QCOMPARE(dialog.ReadCode, KeyCode(0x0A1B2C));
        QVERIFY(!dialog.tBlink->isActive());
        QTest::qWait(250);  // the poll has stopped: nothing more goes out
        QCOMPARE(runner.sent.size(), size_t(5));
        QCOMPARE(finished.count(), 0);
        dialog.bbOK->click();
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
    }

    void aFailureMidPollShowsOneBoxAndCancels() {
        runner.makeReply = Reader{100, 0};
        runner.results = {Ok, Ok, NotRun, TimedOut};  // the check, then three polls
        TFGetKey dialog(nullptr, 0, 0x000001, runner);
        QVERIFY(!dialog.Run());
        QCOMPARE(dialog.ReadCode, KeyCode(0x000001));  // the caller's number is kept
        QCOMPARE(runner.sent.size(), size_t(4));
        QCOMPARE(prompter.records.size(), size_t(1));
        QCOMPARE(prompter.records[0].caption, QStringLiteral("Ошибка связи с контроллером"));
        QCOMPARE(prompter.records[0].text, QString::fromStdString(ResultText(TimedOut)));
        QCOMPARE(prompter.records[0].icon, PromptIcon::Error);
        QTest::qWait(250);
        QCOMPARE(runner.sent.size(), size_t(4));
    }

    // The controller does not answer the check: the box the check dialog gave, and no poll.
    void aFailedLinkCheckPollsNothing() {
        runner.makeReply = Reader{0, 0x123456};
        runner.results = {WriteFailed};
        TFFindKey find(nullptr, 0, runner);
        QVERIFY(!find.Run());
        QCOMPARE(find.ReadCode, KeyCode(0));
        QCOMPARE(find.Polls(), 0);
        QCOMPARE(runner.sent.size(), size_t(1));
        QCOMPARE(int(runner.sent[0].header[1]), 0x02);
        QCOMPARE(prompter.records.size(), size_t(1));
        QCOMPARE(prompter.records[0].caption, QStringLiteral("Ошибка связи с контроллером"));
        QCOMPARE(prompter.records[0].text, QString::fromStdString(ResultText(WriteFailed)));
        QCOMPARE(prompter.records[0].icon, PromptIcon::Error);
        QTest::qWait(250);
        QCOMPARE(runner.sent.size(), size_t(1));
    }

    void cancelWithARequestInFlightClosesAtOnce() {
        runner.makeReply = Reader{0, 0x123456};
        runner.hold = true;
        auto* dialog = new TFFindKey(nullptr, 0, runner);
        QSignalSpy finished(dialog, &QDialog::finished);
        dialog->open();
        QTRY_VERIFY(bool(runner.held));
        dialog->bbCancel->click();
        QCOMPARE(finished.count(), 1);
        QCOMPARE(dialog->result(), int(QDialog::Rejected));
        QVERIFY(!dialog->Waiting());
        runner.Release();  // the late completion: the dialog still exists and ignores it
        QCoreApplication::processEvents();
        QCOMPARE(dialog->ReadCode, KeyCode(0));
        QCOMPARE(runner.sent.size(), size_t(1));

        // Esc and the close box act the same; a dialog destroyed before its completion
        // arrives is never touched.
        runner.held = nullptr;
        auto* second = new TFGetKey(nullptr, 0, 0, runner);
        second->open();
        QTRY_VERIFY(bool(runner.held));
        QTest::keyClick(second, Qt::Key_Escape);
        QVERIFY(!second->isVisible());
        delete second;
        runner.Release();
        QCoreApplication::processEvents();
        auto* third = new TFGetKey(nullptr, 0, 0, runner);
        third->open();
        QTRY_VERIFY(bool(runner.held));
        third->close();
        QVERIFY(!third->isVisible());
        delete third;
        runner.Release();
        QCoreApplication::processEvents();
        QVERIFY(prompter.records.empty());
        delete dialog;
    }

    // The real worker over the virtual controller: Cancel while a poll is on the line, the
    // port closed at once as the callers do, the dialog destroyed; the worker survives
    // and the next request goes through. Run under ASan and TSan.
    void cancelOnTheRealWorker() {
        SimProcess sim({"--reply-delay", "200"});
        TSerialPort port;
        std::string error;
        QVERIFY2(port.Open(sim.Port(), error), error.c_str());
        {
            TCommands worker(port);
            TCommands& real = worker;
            for (int round = 0; round < 3; ++round) {
                auto* dialog = new TFGetKey(nullptr, 0, 0, real);
                dialog->open();
                QTest::qWait(60 + 40 * round);  // somewhere inside the transaction
                dialog->bbCancel->click();
                port.Close();
                delete dialog;
                QVERIFY2(port.Open(sim.Port(), error), error.c_str());
            }
            QTRY_VERIFY(worker.Idle());
            sim.Present(0x0A0B0C);
            TFGetKey dialog(nullptr, 0, 0, real);
            OnModal<TFGetKey>([](TFGetKey* d) {
                QTRY_VERIFY(d->bbOK->isEnabled());
                d->bbOK->click();
            });
            QVERIFY(dialog.Run());
            QCOMPARE(dialog.ReadCode, KeyCode(0x0A0B0C));
            QTRY_VERIFY(worker.Idle());
        }
        port.Close();
        QVERIFY(prompter.records.empty());
    }

    void vardexResetWithNoneBeforeStillWritesTheResetRecord() {
        runner.makeReply = Reader{1000, 0};
        TFGetVardex dialog(
            nullptr, 0, 0, [](KeyCode) { return false; }, VardexDb(), runner);
        QCOMPARE(dialog.windowTitle(), QStringLiteral("Считывание вардекса"));
        QCOMPARE(dialog.edGetKey->text(), CheckingText);
        // "Сбросить" comes with the controller's answer to the check, as it used to.
        QVERIFY(!dialog.bbClear->isEnabled());
        OnModal<TFGetVardex>([](TFGetVardex* d) {
            QTRY_VERIFY(d->bbClear->isEnabled());
            QCOMPARE(d->edGetKey->text(), QStringLiteral("ПОДНЕСИТЕ ВАРДЕКС К СЧИТЫВАТЕЛЮ"));
            d->bbClear->click();
            QCOMPARE(d->edGetKey->text(), QStringLiteral("Отсутствует"));
            QVERIFY(d->bbOK->isEnabled());
            QVERIFY(!d->tBlink->isActive());
            d->bbOK->click();
        });
        QVERIFY(dialog.Run());
        QCOMPARE(dialog.NewVardex, KeyCode(0));
        const FakeRunner::Sent& write = runner.sent.back();
        QCOMPARE(int(write.header[1]), 0x22);
        QCOMPARE(int(write.header[3]), 0xFF);
        QCOMPARE(Payload(write), std::vector<int>(12, 0xFF));
    }

    // While the dialog waits, "Сбросить" has the focus; Enter must not reset the vardex
    // (OK is the default and is disabled until a vardex is read or reset).
    void enterWhileTheVardexDialogWaitsResetsNothing() {
        runner.makeReply = Reader{1000, 0};
        TFGetVardex dialog(
            nullptr, 0, 0x123456, [](KeyCode) { return false; }, VardexDb(), runner);
        bool checked = false;
        OnModal<TFGetVardex>([&checked](TFGetVardex* d) {
            QTRY_VERIFY(d->bbClear->isEnabled());
            d->bbClear->setFocus();
            QTest::keyClick(d->bbClear, Qt::Key_Return);
            QTest::keyClick(d, Qt::Key_Enter);
            QCOMPARE(d->NewVardex, KeyCode(0x123456));
            QVERIFY(!d->bbOK->isEnabled());
            QVERIFY(d->isVisible());
            QVERIFY(d->Waiting());
            checked = true;
            d->bbCancel->click();
        });
        QVERIFY(!dialog.Run());
        QVERIFY(checked);
    }

    void vardexAlreadyInTheListIsRefusedAndTheDialogStays() {
        runner.makeReply = Reader{0, 0x000005};
        TFGetVardex dialog(
            nullptr, 0, 0x000007, [](KeyCode c) { return c == 0x000005; }, VardexDb(), runner);
        OnModal<TFGetVardex>([this](TFGetVardex* d) {
            QTRY_VERIFY(d->bbOK->isEnabled());
            const size_t sent = runner.sent.size();
            d->bbOK->click();
            QCOMPARE(runner.sent.size(), sent);  // nothing written
            QVERIFY(d->isVisible());
            QCOMPARE(prompter.records.size(), size_t(1));
            QCOMPARE(prompter.records[0].caption, QStringLiteral("Ошибка"));
            QCOMPARE(prompter.records[0].text,
                     QStringLiteral("Карта(ключ) с номером XX XX XXXXXX 000005 уже "
                                    "зарегистрирована в базе карт(ключей)"));
            d->bbClear->click();  // reset instead
            d->bbOK->click();
        });
        QVERIFY(dialog.Run());
        QCOMPARE(dialog.NewVardex, KeyCode(0));
        QCOMPARE(Payload(runner.sent.back()), std::vector<int>(12, 0xFF));
    }

    void theSameVardexIsWrittenAgain() {
        runner.makeReply = Reader{0, 0x12ABCD};
        TFGetVardex dialog(
            nullptr, 0, 0x12ABCD, [](KeyCode) { return false; }, VardexDb(), runner);
        OnModal<TFGetVardex>([](TFGetVardex* d) {
            QTRY_VERIFY(d->bbOK->isEnabled());
            d->bbOK->click();
        });
        QVERIFY(dialog.Run());
        QCOMPARE(dialog.NewVardex, KeyCode(0x12ABCD));
        const FakeRunner::Sent& write = runner.sent.back();
        QCOMPARE(int(write.header[3]), 0xFF);
        QCOMPARE(Payload(write),
                 (std::vector<int>{0x12, 0xAB, 0xCD, 0, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    }

    void aFailedVardexWriteKeepsTheDialogOpen() {
        runner.makeReply = Reader{0, 0x0A0B0C};
        runner.results = {Ok, Ok, WriteFailed, Ok};  // the check, the poll, two writes
        TFGetVardex dialog(
            nullptr, 0, 0, [](KeyCode) { return false; }, VardexDb(), runner);
        OnModal<TFGetVardex>([this](TFGetVardex* d) {
            QTRY_VERIFY(d->bbOK->isEnabled());
            OnModal<TFGetVardex>([this](TFGetVardex* again) {
                // Back in the vardex dialog after the wait dialog reported the failure.
                QCOMPARE(prompter.records.size(), size_t(1));
                QCOMPARE(prompter.records[0].caption,
                         QStringLiteral("Ошибка связи с контроллером"));
                QVERIFY(again->isVisible());
                QCOMPARE(again->edGetKey->text(), QStringLiteral("XX XX XXXXXX 0A0B0C"));
                QVERIFY(again->bbOK->isEnabled());
                again->bbOK->click();  // the second write goes through
            });
            d->bbOK->click();
        });
        QVERIFY(dialog.Run());
        QCOMPARE(runner.sent.size(), size_t(4));
        QCOMPARE(dialog.NewVardex, KeyCode(0x0A0B0C));
    }
};

QTEST_MAIN(TestCapture)
#include "test_capture.moc"
