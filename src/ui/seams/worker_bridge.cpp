#include "ui/seams/worker_bridge.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

TCommands::Completion PostToUi(QObject* receiver, CommandRunner::Done done) {
    // The guard is only read on the user-interface thread; the worker merely copies it
    // into the posted call, which goes to the application object that outlives every
    // dialog.
    QPointer<QObject> guard(receiver);
    auto shared = std::make_shared<CommandRunner::Done>(std::move(done));
    return [guard, shared](int result, const FrameHeader& reply, const FrameData& replyData) {
        QCoreApplication* app = QCoreApplication::instance();
        if (!app) {
            return;
        }
        QMetaObject::invokeMethod(
            app,
            [guard, shared, result, reply, replyData]() {
                if (guard) {
                    (*shared)(result, reply, replyData);
                }
            },
            Qt::QueuedConnection);
    };
}

void TCommandsRunner::Load(const FrameHeader& request, const FrameData& requestData,
                           QObject* receiver, Done done) {
    worker_.Load(request, requestData, PostToUi(receiver, std::move(done)));
}

void PauseMs(int ms) {
    QEventLoop loop;
    QTimer::singleShot(ms, Qt::PreciseTimer, &loop, &QEventLoop::quit);
    loop.exec();
}

namespace {

// Stands in before the main window has created the worker: nothing reaches a
// controller, so every request reports a write failure.
class NoRunner : public CommandRunner {
  public:
    void Load(const FrameHeader&, const FrameData&, QObject* receiver, Done done) override {
        QPointer<QObject> guard(receiver);
        QMetaObject::invokeMethod(
            QCoreApplication::instance(),
            [guard, done]() {
                if (guard) {
                    done(WriteFailed, FrameHeader{}, FrameData{});
                }
            },
            Qt::QueuedConnection);
    }
};

CommandRunner* g_runner = nullptr;

}  // namespace

CommandRunner& AppRunner() {
    static NoRunner none;
    return g_runner ? *g_runner : none;
}

void SetAppRunner(CommandRunner* runner) {
    g_runner = runner;
}
