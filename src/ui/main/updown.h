// A read-only number field with up-down arrows whose every arrow step is first
// offered to a handler with the proposed value. The handler runs after the click has
// been handled (never inside the spin box's own mouse handling, since it opens modal
// dialogs), and the value moves only when the handler allows it.
#pragma once

#include <QSpinBox>
#include <functional>

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
    // Every step goes to the controller and into the file: only the arrows (and the
    // arrow keys) make one, never a turn of the mouse wheel passing over the field.
    void wheelEvent(QWheelEvent* event) override;

  signals:
    void ChangeSettled();  // a proposed step has been allowed or refused

  private:
    void Offer(int proposed);
    void EndPress();  // stops the auto-repeat of a held arrow
    bool busy_ = false;
};
