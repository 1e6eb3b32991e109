// Stand-ins for the worker and the line, for tests of the windows.
#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QTimer>
#include <deque>
#include <functional>
#include <vector>

#include "ui/main/main_window.h"
#include "ui/seams/worker_bridge.h"

// Answers each loaded request with the next scripted
// result (Ok when none is left); can hold a request until the test releases it.
class FakeRunner : public TRequester {
  public:
    struct Sent {
        FrameHeader header;
        FrameData data;
        qint64 atMs;
    };

    FakeRunner() { clock.start(); }

    // `done` comes wrapped by the program's own bridge (LoadOnUi), so the answer reaches
    // the dialog the way the worker's does: queued, and only while the dialog exists.
    void Load(const FrameHeader& request, const FrameData& requestData, Completion done) override {
        sent.push_back({request, requestData, clock.elapsed()});
        int result = Ok;
        if (!results.empty()) {
            result = results.front();
            results.pop_front();
        }
        FrameHeader reply{};
        FrameData replyData{};
        if (makeReply) {
            makeReply(request, reply, replyData);
        }
        if (hold) {
            held = [done, result, reply, replyData]() { done(result, reply, replyData); };
            return;
        }
        done(result, reply, replyData);
    }

    // Back to answering every request at once with Ok, nothing sent yet.
    void Reset() {
        sent.clear();
        results.clear();
        makeReply = nullptr;
        hold = false;
        held = nullptr;
    }

    void Release() {
        auto f = std::move(held);
        held = nullptr;
        if (f) {
            f();
        }
    }

    std::vector<Sent> sent;
    std::deque<int> results;
    std::function<void(const FrameHeader&, FrameHeader&, FrameData&)> makeReply;
    bool hold = false;
    std::function<void()> held;
    QElapsedTimer clock;
};

class FakeLink : public LinkControl {
  public:
    bool Open(const std::string& path, std::string& error) override {
        ++opens;
        lastPath = path;
        if (fail) {
            error = "Порт занят";
            return false;
        }
        open = true;
        return true;
    }
    void Close() override {
        ++closes;
        open = false;
    }
    int opens = 0;
    int closes = 0;
    bool open = false;
    bool fail = false;
    std::string lastPath;
};

// Runs `act` on the next modal dialog of type T as soon as it is on screen.
template <class T>
void OnModal(std::function<void(T*)> act) {
    auto* timer = new QTimer;
    timer->setInterval(5);
    QObject::connect(timer, &QTimer::timeout, [timer, act] {
        if (auto* d = qobject_cast<T*>(QApplication::activeModalWidget())) {
            timer->stop();
            timer->deleteLater();
            act(d);
        }
    });
    timer->start();
}
