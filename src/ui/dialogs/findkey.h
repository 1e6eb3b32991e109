// Reads a presented key so that the main window can look it up in its list; closes by
// itself as soon as a key has been read.
#pragma once

#include "ui/dialogs/getkey.h"

class TFFindKey : public TFReaderPoll {
    Q_OBJECT
  public:
    TFFindKey(QWidget* owner, int typeFormat, TRequester& runner = AppRunner());

    KeyCode ReadCode = 0;
    QLineEdit* edFindKey = nullptr;

  protected:
    void KeyRead(KeyCode code) override;
};
