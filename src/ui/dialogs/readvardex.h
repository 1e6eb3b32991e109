// Reads the vardex record (command 0x61, record 0xFFFF) on its own.
#pragma once

#include "core/keys/key_code.h"
#include "ui/dialogs/wait.h"

class TFReadVardex : public TFWait {
    Q_OBJECT
  public:
    explicit TFReadVardex(QWidget* owner, TRequester& runner = AppRunner());

    // The vardex read; 0 when the controller has none (or sent no payload).
    KeyCode Vardex = 0;

  protected:
    void ReplyReceived() override;
};
