// TFEditKey: adds a key or edits one row of the main window's key list. The number is
// typed into a masked field or read at the controller's reader ("Вычитать"); a new or
// changed number goes to the controller first and to the file second, a description
// only to the file.
#pragma once

#include <QDialog>

#include "core/keys/key_code.h"

class QLabel;
class QLineEdit;
class QPushButton;
class TKeyNumberEdit;
class TFMain;

class TFEditKey : public QDialog {
    Q_OBJECT
  public:
    // row: the list row to edit, or -1 for a new key.
    TFEditKey(TFMain& owner, int typeFormat, int row);

    bool Run() { return exec() == QDialog::Accepted; }

    const int TypeFormat;
    int Row;            // -1 for a new key
    KeyCode OldNumber;  // the row's code, 0 for a new key

    QLabel* lKeyNumber = nullptr;
    TKeyNumberEdit* edKeyNumber = nullptr;
    QLabel* lNumberHint = nullptr;  // why the number is no key, under the field
    QPushButton* bbGetKey = nullptr;
    QLabel* lDescription = nullptr;
    QLineEdit* edDescription = nullptr;
    QPushButton* bbOK = nullptr;
    QPushButton* bbCancel = nullptr;

    // The number field's entered value (input positions only, blanks as spaces).
    std::string EnteredNumber() const;

    void edKeyNumberChange();
    void bbGetKeyClick();
    void bbOKClick();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void ShowNumberHint(const QString& text);
    // The iButton field refuses to be left with required positions unfilled.
    bool RefuseIncompleteNumber();
    // The row has gone from the list: what is left in the dialog is a new key.
    void BecomeNewKey();

    TFMain& owner_;
};
