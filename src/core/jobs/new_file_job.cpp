#include "core/jobs/new_file_job.h"

#include "core/keys/journal.h"
#include "core/keys/journaled.h"

namespace {

// The texts of the wait dialogs of the three requests.
const char* const StepText[] = {"Проверка связи с контроллером", "Полная очистка контроллера",
                                "Чтение вардекса"};

}  // namespace

TNewFileJob::TNewFileJob(TJobHost& host) : TJob(host) {
    host_.SetProgressMax(3);
    host_.SetProgressPosition(0);
}

void TNewFileJob::Start() {
    host_.PostStep(0);
}

void TNewFileJob::OnStep(int step) {
    if (TakeCancel())
        return;
    if (step < 0 || step > 2)
        return;
    Step = step;
    host_.AddLine(std::string(StepText[step]) + " ... ");
    host_.SendRequest(step == 0   ? MakeCheckLink()
                      : step == 1 ? MakeClearAll()
                                  : MakeReadKey(VardexSlot));
}

void TNewFileJob::OnCompletion(int result, const FrameHeader& reply, const FrameData& replyData) {
    if (TakeCancel())
        return;
    if (!IsSuccess(result)) {
        CanClose = true;
        host_.Failed({"Ошибка связи с контроллером", ResultText(result), BoxIcon::Error});
        return;
    }
    host_.AppendToLastLine("OK!");
    host_.SetProgressPosition(Step + 1);
    if (Step < 2) {
        host_.ContinueAfterPause(Step + 1);
        return;
    }
    VardexCode = reply[4] != 0 ? DecodeKey(replyData) : 0;
    CanClose = true;
    complete_ = true;
    host_.Finished({"", "", BoxIcon::Information});
}

DbResult WriteNewDbFile(const std::string& path, KeyCode vardex, int address) {
    DbModel model;
    model.Vardex = vardex;
    model.Address = address;
    return journaled::WriteDbFile(path, model, journal::kNewFile);
}
