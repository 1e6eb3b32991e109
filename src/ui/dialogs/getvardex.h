// Reads a new vardex at the reader, or resets it with "Сбросить", and on "ОК" writes it
// into the controller; closes only when the controller has accepted it.
#pragma once

#include <functional>

#include "ui/dialogs/getkey.h"

class TFGetVardex : public TFReaderPoll {
    Q_OBJECT
  public:
    // inKeyList: whether a code is in the main window's key list (a vardex may not be).
    TFGetVardex(QWidget* owner, int typeFormat, KeyCode oldVardex,
                std::function<bool(KeyCode)> inKeyList, TRequester& runner = AppRunner());

    KeyCode OldVardex;
    KeyCode NewVardex;
    QLineEdit* edGetKey = nullptr;

    void bbClearClick();
    void bbOKClick();

  protected:
    void KeyRead(KeyCode code) override;

  private:
    std::function<bool(KeyCode)> inKeyList_;
};
