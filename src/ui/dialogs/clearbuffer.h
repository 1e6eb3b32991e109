// The link check (command 0x02) and the full clear (0x01) of the controller.
#pragma once

#include <QVariant>

#include "ui/dialogs/wait.h"

class TFClearBuffer : public TFWait {
    Q_OBJECT
  public:
    enum class Mode { Check, Clear };
    TFClearBuffer(QWidget* owner, Mode mode, TRequester& runner = AppRunner());

    // The link check that comes before the key capture dialogs, the vardex dialog and a
    // new file: true when the controller answered, after the pause that every dialog
    // keeps before the next request. The check dialog takes the caller's help topic.
    static bool CheckLink(QWidget* owner, TRequester& runner, const QVariant& helpContext = {});

  protected:
    void ReplyReceived() override {}
};
