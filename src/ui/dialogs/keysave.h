// Stores or removes one key record, or the vardex, in the controller (command 0x22).
#pragma once

#include "core/keys/key_code.h"
#include "ui/dialogs/wait.h"

class TFKeySave : public TFWait {
    Q_OBJECT
  public:
    // store: write the record; otherwise remove it. vardex: the vardex record.
    TFKeySave(QWidget* owner, const QString& text, KeyCode code, bool store, bool vardex,
              TRequester& runner = AppRunner());

  protected:
    void ReplyReceived() override {}
};
