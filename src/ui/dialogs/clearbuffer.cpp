#include "ui/dialogs/clearbuffer.h"

#include <QLabel>

#include "core/jobs/job_host.h"
#include "core/link/command_set.h"

TFClearBuffer::TFClearBuffer(QWidget* owner, Mode mode, TRequester& runner)
    : TFWait(owner, runner, QStringLiteral("Проверка связи с контроллером")) {
    setObjectName(QStringLiteral("TFClearBuffer"));
    if (mode == Mode::Clear) {
        lInfo->setText(QStringLiteral("Полная очистка контроллера"));
        const RequestFrame f = MakeClearAll();
        SetRequest(f.header, f.data);
    } else {
        const RequestFrame f = MakeCheckLink();
        SetRequest(f.header, f.data);
    }
}

bool TFClearBuffer::CheckLink(QWidget* owner, TRequester& runner, const QVariant& helpContext) {
    {
        TFClearBuffer check(owner, Mode::Check, runner);
        if (helpContext.isValid()) {
            check.setProperty("HelpContext", helpContext);
        }
        if (!check.Run()) {
            return false;
        }
    }
    PauseMs(JobPauseMs);
    return true;
}
