#include "ui/dialogs/keysave.h"

#include "core/link/command_set.h"

TFKeySave::TFKeySave(QWidget* owner, const QString& text, KeyCode code, bool store, bool vardex,
                     TRequester& runner)
    : TFWait(owner, runner, text) {
    setObjectName(QStringLiteral("TFKeySave"));
    const RequestFrame f = MakeWriteKey(code, store, vardex, KeyFiller::KeyDialog);
    SetRequest(f.header, f.data);
}
