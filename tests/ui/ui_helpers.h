// Qt helpers the window tests share.
#pragma once

#include <QApplication>
#include <QTimer>
#include <QWidget>
#include <functional>

// The dialog of type D on screen, or null.
template <class D>
D* Shown() {
    for (QWidget* w : QApplication::topLevelWidgets()) {
        if (auto* d = qobject_cast<D*>(w); d && d->isVisible())
            return d;
    }
    return nullptr;
}

// Runs `step` every 10 ms on the event loop (also inside a modal dialog) until it
// returns true.
inline void Poll(std::function<bool()> step) {
    auto* timer = new QTimer;
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, step] {
        if (step()) {
            timer->stop();
            timer->deleteLater();
        }
    });
    timer->start();
}
