// The single-request wait dialogs: their requests, their failure boxes,
// and that nothing closes them while the request is in flight.
#include <QLabel>
#include <QSignalSpy>
#include <QTest>
#include <thread>

#include "fakes.h"
#include "ui/dialogs/clearbuffer.h"
#include "ui/seams/prompter.h"

namespace {
std::vector<int> Header5(const FrameHeader& h) {
    return std::vector<int>(h.begin(), h.begin() + 5);
}
int HeaderCrc(const FrameHeader& h) {
    std::uint8_t crc = 0;
    Crc8(h.data(), 5, crc);
    return crc;
}
}  // namespace

class TestWait : public QObject {
    Q_OBJECT
    ScriptedPrompter prompter;
    FakeRunner runner;

  private slots:
    void init() {
        prompter = ScriptedPrompter();
        SetAppPrompter(&prompter);
        runner.Reset();
    }
    void cleanup() { SetAppPrompter(nullptr); }

    void failureCodesShowTheirTextAndCancel_data() {
        QTest::addColumn<int>("code");
        QTest::addColumn<QString>("text");
        QTest::newRow("write") << 1 << QStringLiteral("Ошибка записи в контроллер");
        QTest::newRow("read") << 2 << QStringLiteral("Ошибка чтения из контроллера");
        QTest::newRow("bad link") << 3
                                  << QStringLiteral("Ошибка чтения из контроллера (плохая связь)");
        QTest::newRow("time-out") << 4
                                  << QStringLiteral(
                                         "Истекло время ожидания ответа от "
                                         "контроллера.\rВозможно контроллер не "
                                         "подключен");
    }
    void failureCodesShowTheirTextAndCancel() {
        QFETCH(int, code);
        QFETCH(QString, text);
        runner.results = {code};
        TFClearBuffer dialog(nullptr, TFClearBuffer::Mode::Check, runner);
        QVERIFY(!dialog.Run());
        QCOMPARE(dialog.ResultValue, code);
        QCOMPARE(prompter.records.size(), size_t(1));
        QCOMPARE(prompter.records[0].caption, QStringLiteral("Ошибка связи с контроллером"));
        QCOMPARE(prompter.records[0].text, text);
        QCOMPARE(prompter.records[0].icon, PromptIcon::Error);
        QCOMPARE(prompter.records[0].buttons, PromptButtons::Ok);
    }

    void notRunAndOkCountAsSuccess() {
        for (int code : {-1, 0}) {
            runner.results = {code};
            TFClearBuffer dialog(nullptr, TFClearBuffer::Mode::Clear, runner);
            QVERIFY(dialog.Run());
        }
        QVERIFY(prompter.records.empty());
    }

    void cannotBeClosedWhileWaiting() {
        runner.hold = true;
        TFClearBuffer dialog(nullptr, TFClearBuffer::Mode::Clear, runner);
        QSignalSpy finished(&dialog, &QDialog::finished);
        dialog.open();
        QTRY_VERIFY(bool(runner.held));
        QVERIFY(!dialog.CanClose);
        QCOMPARE(dialog.ResultValue, -1);

        dialog.close();  // the close box and Alt+F4 arrive as a close event
        QTest::keyClick(&dialog, Qt::Key_Escape);
        QTest::keyClick(&dialog, Qt::Key_F4, Qt::AltModifier);
        dialog.reject();
        QCoreApplication::processEvents();
        QVERIFY(dialog.isVisible());
        QCOMPARE(finished.count(), 0);

        runner.Release();
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(dialog.result(), int(QDialog::Accepted));
        QVERIFY(!dialog.isVisible());
    }

    void labelsAndBlinking() {
        TFClearBuffer check(nullptr, TFClearBuffer::Mode::Check, runner);
        QCOMPARE(check.lInfo->text(), QStringLiteral("Проверка связи с контроллером"));
        TFClearBuffer clear(nullptr, TFClearBuffer::Mode::Clear, runner);
        QCOMPARE(clear.lInfo->text(), QStringLiteral("Полная очистка контроллера"));
        QCOMPARE(check.size(), QSize(266, 99));
        QVERIFY(check.windowFlags() & Qt::FramelessWindowHint);

        const QColor before = check.lInfo->palette().color(QPalette::WindowText);
        QTest::qWait(350);
        QVERIFY(check.lInfo->palette().color(QPalette::WindowText) != before);
    }

    void requestsByteForByte() {
        {
            TFClearBuffer d(nullptr, TFClearBuffer::Mode::Check, runner);
            QVERIFY(d.Run());
        }
        {
            TFClearBuffer d(nullptr, TFClearBuffer::Mode::Clear, runner);
            QVERIFY(d.Run());
        }
        QCOMPARE(runner.sent.size(), size_t(2));
        const auto& s = runner.sent;
        QCOMPARE(Header5(s[0].header), (std::vector<int>{0x00, 0x02, 0x00, 0x00, 0x00}));
        QCOMPARE(HeaderCrc(s[0].header), 0x07);
        QCOMPARE(int(s[0].data[0]), 0);
        QCOMPARE(Header5(s[1].header), (std::vector<int>{0x00, 0x01, 0x00, 0x00, 0x00}));
    }

    // The worker's completion arrives on its own thread: it must run on the
    // user-interface thread, and not at all once its dialog is gone.
    void bridgeRunsOnUiThreadAndDropsGoneReceivers() {
        auto* alive = new QObject;
        auto* gone = new QObject;
        QThread* ran = nullptr;
        bool goneCalled = false;
        TRequester::Completion toAlive = PostToUi(
            alive,
            [&](int, const FrameHeader&, const FrameData&) { ran = QThread::currentThread(); });
        TRequester::Completion toGone =
            PostToUi(gone, [&](int, const FrameHeader&, const FrameData&) { goneCalled = true; });
        std::thread worker([&]() {
            toAlive(0, FrameHeader{}, FrameData{});
            toGone(0, FrameHeader{}, FrameData{});
        });
        worker.join();
        delete gone;
        QTRY_VERIFY(ran != nullptr);
        QCOMPARE(ran, QThread::currentThread());
        QCoreApplication::processEvents();
        QVERIFY(!goneCalled);
        delete alive;
    }
};

QTEST_MAIN(TestWait)
#include "test_wait.moc"
