#include "ui/main/updown.h"

#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTimer>
#include <QWheelEvent>

TUpDown::TUpDown(const QString& fieldName, QWidget* parent) : QSpinBox(parent) {
    lineEdit()->setObjectName(fieldName);
    lineEdit()->setReadOnly(true);
    lineEdit()->setMaxLength(3);
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    setAccelerated(false);
    setKeyboardTracking(false);
}

void TUpDown::wheelEvent(QWheelEvent* event) {
    event->ignore();
}

void TUpDown::SetPosition(int value) {
    const QSignalBlocker block(this);
    setValue(value);
}

void TUpDown::stepBy(int steps) {
    if (busy_) {
        return;  // one change at a time: the previous one is still with the controller
    }
    const int proposed = value() + steps * singleStep();
    if (proposed < minimum() || proposed > maximum() || !OnChanging) {
        QSpinBox::stepBy(steps);
        return;
    }
    busy_ = true;
    QTimer::singleShot(0, this, [this, proposed]() { Offer(proposed); });
}

void TUpDown::Offer(int proposed) {
    // The arrow is held no longer: the modal dialog that the handler opens takes the
    // mouse, so the release would never reach the spin box and its auto-repeat would go
    // on stepping, one controller command after another. Each click is one step.
    EndPress();
    const bool allowed = OnChanging(proposed);
    busy_ = false;
    if (allowed) {
        SetPosition(proposed);
    }
    emit ChangeSettled();
}

void TUpDown::keyPressEvent(QKeyEvent* event) {
    // A held arrow key repeats; each repeat would be one more controller command.
    if (event->isAutoRepeat()) {
        switch (event->key()) {
            case Qt::Key_Up:
            case Qt::Key_Down:
            case Qt::Key_PageUp:
            case Qt::Key_PageDown:
                event->accept();
                return;
            default:
                break;
        }
    }
    QSpinBox::keyPressEvent(event);
}

void TUpDown::EndPress() {
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(), QPointF(), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QSpinBox::mouseReleaseEvent(&release);
}
