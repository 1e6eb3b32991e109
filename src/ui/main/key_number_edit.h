// The key dialog's number field: the entry mask of the database's format, and a paste
// (keyboard, context menu, drop) that takes a number in any form people have in hand
// ("000000FBC52B" engraved on a key, "0004329479" printed on a card ...) and shows it
// the way the list does. A text that is no key number is refused with its reason, never
// squeezed into the mask.
#pragma once

#include <QLineEdit>

class TKeyNumberEdit : public QLineEdit {
    Q_OBJECT
  public:
    TKeyNumberEdit(int typeFormat, QWidget* parent = nullptr);

    // Reads `text` as a key number: on success the field shows it and true.
    bool PasteText(const QString& text);
    // Why the field's value is no key, for the line under it; empty while the value is
    // being typed, or is a key.
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
