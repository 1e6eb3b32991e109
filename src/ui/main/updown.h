// A number field with up-down arrows whose every change is first offered to a handler
// with the proposed value. The handler runs after the key or click has been handled
// (never inside the spin box's own event handling, since it opens modal dialogs), and
// the value moves only when the handler allows it.
//
// An arrow (click or key) proposes one step per press. A number typed into the field is
// proposed once, on Enter or when the focus moves on to another control of the window;
// Esc puts the field back to its value.
#pragma once

#include <QSpinBox>
#include <functional>
#include <optional>

class TUpDown : public QSpinBox {
    Q_OBJECT
  public:
    TUpDown(const QString& fieldName, QWidget* parent = nullptr);

    // Returns true to let the proposed value through.
    std::function<bool(int proposed)> OnChanging;

    // Moves the control without asking (loading a file).
    void SetPosition(int value);
    bool Busy() const { return busy_; }

    void stepBy(int steps) override;

  protected:
    void keyPressEvent(QKeyEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;
    // Every step goes to the controller and into the file: only the arrows (and the
    // arrow keys) make one, never a turn of the mouse wheel passing over the field.
    void wheelEvent(QWheelEvent* event) override;
    // The spin box's own reading of the text would set the value unasked (on Enter, on
    // leaving the field): it reads the value the control has; a typed number is offered
    // by this class instead.
    int valueFromText(const QString& text) const override;

  signals:
    void ChangeSettled();  // a proposed change has been allowed or refused

  private:
    void Propose(int proposed);
    void Offer(int proposed);
    // The number typed and not yet offered, if the text differs from the value.
    std::optional<int> Typed() const;
    void Restore();   // the field shows the value again
    void EndPress();  // stops the auto-repeat of a held arrow
    bool busy_ = false;
};
