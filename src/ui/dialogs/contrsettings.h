// Writes the lock-open time and the repeat-read time into the controller (command 0x23).
#pragma once

#include "ui/dialogs/wait.h"

class TFContrSettings : public TFWait {
    Q_OBJECT
  public:
    TFContrSettings(QWidget* owner, const QString& text, int timeOpen, int retryRead,
                    TRequester& runner = AppRunner());

  protected:
    void ReplyReceived() override {}
};
