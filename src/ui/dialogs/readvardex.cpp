#include "ui/dialogs/readvardex.h"

#include "core/link/command_set.h"

TFReadVardex::TFReadVardex(QWidget* owner, TRequester& runner)
    : TFWait(owner, runner, QStringLiteral("Чтение вардекса")) {
    setObjectName(QStringLiteral("TFReadVardex"));
    const RequestFrame f = MakeReadKey(VardexSlot);
    SetRequest(f.header, f.data);
}

void TFReadVardex::ReplyReceived() {
    Vardex = Reply[4] != 0 ? static_cast<KeyCode>(DecodeKey(ReplyData)) : 0;
}
