// TFEditKey: adds a key or edits one row of the main window's key list. The number is
// typed in any printed form or read at the controller's reader ("Вычитать"); a new or
// changed number goes to the controller first and to the file second, a description
// only to the file.
#pragma once

#include <QDialog>

#include "core/keys/database.h"
#include "core/keys/key_code.h"

class KeyListModel;
class QLabel;
class QLineEdit;
class QPushButton;
class TKeyNumberEdit;
class TRequester;

// What the key dialog needs of the window that opened it: the open database, the link,
// the worker and the rows of its key list.
class TKeyEditSite {
  public:
    virtual ~TKeyEditSite() = default;
    virtual QString DatabasePath() const = 0;
    virtual TRequester& Requester() const = 0;
    virtual bool OpenLink() = 0;  // shows the link's own message on failure
    virtual void CloseLink() = 0;
    virtual KeyListModel* Keys() const = 0;
    virtual int FindRow(KeyCode code) const = 0;
    // Makes sure the file can be written and locks it for the whole change; shows why
    // not and returns false.
    virtual bool LockForChange(DbLock& lock, QWidget* parent) = 0;
    // Under that lock: reads the file again when another writer has changed it since the
    // list was read (keeping the selection); true when it did.
    virtual bool ReloadIfChanged() = 0;
    // The dialog's job has written the file: the window's own change, not another's.
    virtual void FileWritten() = 0;
    // Writes the description alone into the file; shows its error and returns false.
    virtual bool SaveKey(KeyCode code, const QString& description, const QString& path = {}) = 0;
    virtual int AddKeyRow(KeyCode code, const QString& description) = 0;
    virtual int UpdateKeyRow(int row, KeyCode code, const QString& description) = 0;
    virtual void RemoveKeyRow(int row) = 0;
    virtual void SelectRow(int row) = 0;  // selected and scrolled into view
};

class TFEditKey : public QDialog {
    Q_OBJECT
  public:
    // row: the list row to edit, or -1 for a new key.
    TFEditKey(QWidget* owner, TKeyEditSite& site, int typeFormat, int row);

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

    void edKeyNumberChange();
    void bbGetKeyClick();
    void bbOKClick();

  protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

  private:
    void ShowNumberHint(const QString& text);
    // The number field refuses to be left holding a text that is no key number.
    bool RefuseIncompleteNumber();
    // The row has gone from the list: what is left in the dialog is a new key.
    void BecomeNewKey();

    TKeyEditSite& owner_;
};
