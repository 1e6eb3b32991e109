#include "ui/seams/worker_bridge.h"

#include "core/link/commands.h"

#include <QCoreApplication>

TRequester::Completion PostToUi(QObject* receiver, UiDone done) {
    // The guard is only read on the user-interface thread; the worker merely copies it
    // into the posted call, which goes to the application object that outlives every
    // dialog.
    QPointer<QObject> guard(receiver);
    auto shared = std::make_shared<UiDone>(std::move(done));
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

namespace {

// Stands in before the main window has created the worker: nothing reaches a
// controller, so every request reports a write failure.
class NoRunner : public TRequester {
  public:
    void Load(const FrameHeader&, const FrameData&, Completion done) override {
        done(WriteFailed, FrameHeader{}, FrameData{});
    }
};

TRequester* g_runner = nullptr;

}  // namespace

TRequester& AppRunner() {
    static NoRunner none;
    return g_runner ? *g_runner : none;
}

void SetAppRunner(TRequester* runner) {
    g_runner = runner;
}
