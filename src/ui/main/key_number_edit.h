// The key dialog's number field: it takes what the key-number reader takes (key_number.h)
// in any printed form, and nothing is squeezed into a mask that would drop digits. A
// paste (keyboard, context menu, drop) of a number is shown the way the list shows it;
// a text that is no key number is refused with its reason, never guessed at.
#pragma once

#include <QLineEdit>

#include "core/keys/key_number.h"

class TKeyNumberEdit : public QLineEdit {
    Q_OBJECT
  public:
    TKeyNumberEdit(int typeFormat, QWidget* parent = nullptr);

    // The field's text read as a key number.
    KeyNumber Number() const;
    // Something is typed that is no key number.
    bool Refused() const;
    // Reads `text` as a key number: on success the field shows it and true.
    bool PasteText(const QString& text);
    // Why the field's text is no key, with the forms that are read, for the line under
    // it; empty while nothing is typed, or it is a key.
    QString Problem() const;

  signals:
    // A paste was refused (the reason), or the field changed since ("").
    void PasteRefused(const QString& reason);

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dropEvent(QDropEvent* event) override;

  private:
    const int typeFormat_;
};
