#include "ui/dialogs/clearbuffer.h"

#include <QLabel>

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
