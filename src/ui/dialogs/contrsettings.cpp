#include "ui/dialogs/contrsettings.h"

#include "core/link/command_set.h"

TFContrSettings::TFContrSettings(QWidget* owner, const QString& text, int timeOpen, int retryRead,
                                 TRequester& runner)
    : TFWait(owner, runner, text) {
    setObjectName(QStringLiteral("TFContrSettings"));
    const RequestFrame f = MakeWriteSettings(timeOpen, retryRead);
    SetRequest(f.header, f.data);
}
