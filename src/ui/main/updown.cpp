#include "ui/main/updown.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTimer>
#include <QWheelEvent>

TUpDown::TUpDown(const QString& fieldName, QWidget* parent) : QSpinBox(parent) {
    lineEdit()->setObjectName(fieldName);
    lineEdit()->setMaxLength(3);
    setButtonSymbols(QAbstractSpinBox::UpDownArrows);
    setAccelerated(false);
    setKeyboardTracking(false);
}

void TUpDown::wheelEvent(QWheelEvent* event) {
    event->ignore();
}

int TUpDown::valueFromText(const QString&) const {
    return value();
}

void TUpDown::SetPosition(int value) {
    const QSignalBlocker block(this);
    setValue(value);
    Restore();
}

void TUpDown::Restore() {
    lineEdit()->setText(textFromValue(value()));
}

std::optional<int> TUpDown::Typed() const {
    bool ok = false;
    const int typed = lineEdit()->text().trimmed().toInt(&ok);
    if (!ok || lineEdit()->text() == textFromValue(value())) {
        return std::nullopt;
    }
    return typed;
}

void TUpDown::stepBy(int steps) {
    if (busy_) {
        return;  // one change at a time: the previous one is still with the controller
    }
    Restore();  // an arrow steps from the value, not from a number half typed
    const int proposed = value() + steps * singleStep();
    if (proposed < minimum() || proposed > maximum() || !OnChanging) {
        QSpinBox::stepBy(steps);
        return;
    }
    Propose(proposed);
}

void TUpDown::Propose(int proposed) {
    busy_ = true;
    QTimer::singleShot(0, this, [this, proposed]() { Offer(proposed); });
}

void TUpDown::Offer(int proposed) {
    // The arrow is held no longer: the modal dialog that the handler opens takes the
    // mouse, so the release would never reach the spin box and its auto-repeat would go
    // on stepping, one controller command after another. Each click is one step.
    EndPress();
    const bool allowed = !OnChanging || OnChanging(proposed);
    busy_ = false;
    if (allowed) {
        SetPosition(proposed);
    } else {
        Restore();
    }
    emit ChangeSettled();
}

void TUpDown::keyPressEvent(QKeyEvent* event) {
    switch (event->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
            // A held arrow key repeats; each repeat would be one more controller command.
            if (event->isAutoRepeat()) {
                event->accept();
                return;
            }
            break;
        case Qt::Key_Return:
        case Qt::Key_Enter:
            if (const std::optional<int> typed = Typed()) {
                event->accept();
                if (busy_) {
                    return;
                }
                if (*typed < minimum() || *typed > maximum()) {
                    Restore();
                    return;
                }
                Propose(*typed);
                return;
            }
            break;
        case Qt::Key_Escape:
            if (Typed()) {
                Restore();
                event->accept();
                return;
            }
            break;
        default:
            break;
    }
    QSpinBox::keyPressEvent(event);
}

void TUpDown::focusOutEvent(QFocusEvent* event) {
    const std::optional<int> typed = Typed();
    const QString text = lineEdit()->text();
    QSpinBox::focusOutEvent(event);
    if (!typed) {
        return;
    }
    const Qt::FocusReason reason = event->reason();
    if (reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason) {
        // Another window or a menu took the focus for a moment: the number stays typed.
        lineEdit()->setText(text);
        return;
    }
    // Moved on to another control of this window: the number typed is offered once.
    if (!busy_ && *typed >= minimum() && *typed <= maximum()) {
        Propose(*typed);
    } else {
        Restore();
    }
}

void TUpDown::EndPress() {
    QMouseEvent release(QEvent::MouseButtonRelease, QPointF(), QPointF(), Qt::LeftButton,
                        Qt::NoButton, Qt::NoModifier);
    QSpinBox::mouseReleaseEvent(&release);
}
