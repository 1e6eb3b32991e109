#include "ui/main/key_number_edit.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>

#include "core/keys/key_code.h"
#include "core/keys/key_number.h"

TKeyNumberEdit::TKeyNumberEdit(int typeFormat, QWidget* parent)
    : QLineEdit(parent), typeFormat_(typeFormat) {
    setInputMask(QString::fromStdString(GetEntryMask(typeFormat).qtInputMask));
    setAcceptDrops(true);
}

bool TKeyNumberEdit::PasteText(const QString& text) {
    const KeyNumber number = ParseKeyNumber(typeFormat_, text.toStdString());
    if (!number) {
        emit PasteRefused(QString::fromStdString(number.reason));
        return false;
    }
    setText(QString::fromStdString(Format(typeFormat_, number.code)));
    emit PasteRefused(QString());
    return true;
}

QString TKeyNumberEdit::Problem() const {
    const std::string entered = EnteredValue(typeFormat_, displayText().toStdString());
    const std::size_t full = typeFormat_ == TypeFormatIButton ? 6 : 8;
    // Still being typed, or all zeros as a new entry starts: nothing to say yet.
    if (entered.size() < full || entered.find(' ') != std::string::npos ||
        entered.find_first_not_of('0') == std::string::npos || Complete(typeFormat_, entered))
        return {};
    const KeyNumber number = ParseKeyNumber(typeFormat_, displayText().toStdString());
    return number ? QString() : QString::fromStdString(number.reason);
}

void TKeyNumberEdit::keyPressEvent(QKeyEvent* event) {
    if (event->matches(QKeySequence::Paste)) {
        if (!isReadOnly())
            PasteText(QApplication::clipboard()->text());
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void TKeyNumberEdit::contextMenuEvent(QContextMenuEvent* event) {
    QMenu* menu = createStandardContextMenu();
    for (QAction* action : menu->actions()) {
        if (action->objectName() == QLatin1String("edit-paste")) {
            disconnect(action, &QAction::triggered, nullptr, nullptr);
            connect(action, &QAction::triggered, this,
                    [this] { PasteText(QApplication::clipboard()->text()); });
        }
    }
    menu->setAttribute(Qt::WA_DeleteOnClose);
    menu->popup(event->globalPos());
}

void TKeyNumberEdit::dragEnterEvent(QDragEnterEvent* event) {
    if (event->mimeData()->hasText())
        event->acceptProposedAction();
}

void TKeyNumberEdit::dropEvent(QDropEvent* event) {
    if (event->mimeData()->hasText()) {
        PasteText(event->mimeData()->text());
        event->acceptProposedAction();
    }
}
