// The link check (command 0x02) and the full clear (0x01) of the controller.
#pragma once

#include "ui/dialogs/wait.h"

class TFClearBuffer : public TFWait {
    Q_OBJECT
  public:
    enum class Mode { Check, Clear };
    TFClearBuffer(QWidget* owner, Mode mode, TRequester& runner = AppRunner());

  protected:
    void ReplyReceived() override {}
};
