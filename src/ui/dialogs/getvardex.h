// Reads a new vardex at the reader, or resets it with "Сбросить", and on "ОК" writes it
// into the controller, then into the database file; closes only when the controller has
// accepted it.
#pragma once

#include <functional>
#include <string>

#include "ui/dialogs/getkey.h"

class TFGetVardex : public TFReaderPoll {
    Q_OBJECT
  public:
    // inKeyList: whether a code is in the main window's key list (a vardex may not be);
    // path: the database file the new vardex goes into once the controller holds it.
    TFGetVardex(QWidget* owner, int typeFormat, KeyCode oldVardex,
                std::function<bool(KeyCode)> inKeyList, std::string path,
                TRequester& runner = AppRunner());

    KeyCode OldVardex;
    KeyCode NewVardex;
    bool InFile = false;  // after OK: the database file holds NewVardex too
    QLineEdit* edGetKey = nullptr;

    void bbClearClick();
    void bbOKClick();

  protected:
    void KeyRead(KeyCode code) override;

  private:
    std::function<bool(KeyCode)> inKeyList_;
    std::string path_;
};
