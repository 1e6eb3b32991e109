#include "ui/main/key_number_edit.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QMenu>
#include <QMimeData>

#include "core/keys/key_code.h"
#include "core/keys/key_number.h"

namespace {

QString Shown(const std::string& text) {
    return QString::fromStdString(text).replace(QLatin1Char('\r'), QLatin1Char('\n'));
}

}  // namespace

TKeyNumberEdit::TKeyNumberEdit(int typeFormat, QWidget* parent)
    : QLineEdit(parent), typeFormat_(typeFormat) {
    // The shape of a number while the field is empty; the operator types over nothing.
    setPlaceholderText(QString::fromStdString(GetEntryMask(typeFormat).initialText));
    setAcceptDrops(true);
}

KeyNumber TKeyNumberEdit::Number() const {
    return ParseKeyNumber(typeFormat_, text().toStdString());
}

bool TKeyNumberEdit::Refused() const {
    return !text().trimmed().isEmpty() && !Number();
}

bool TKeyNumberEdit::PasteText(const QString& text) {
    const KeyNumber number = ParseKeyNumber(typeFormat_, text.toStdString());
    if (!number) {
        emit PasteRefused(Shown(KeyNumberRefusal(typeFormat_, number)));
        return false;
    }
    setText(QString::fromStdString(Format(typeFormat_, number.code)));
    emit PasteRefused(QString());
    return true;
}

QString TKeyNumberEdit::Problem() const {
    if (text().trimmed().isEmpty())
        return {};
    const KeyNumber number = Number();
    return number ? QString() : Shown(KeyNumberRefusal(typeFormat_, number));
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
