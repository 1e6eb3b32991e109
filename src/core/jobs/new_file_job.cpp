#include "core/jobs/new_file_job.h"

#include "core/keys/journal.h"
#include "core/keys/journaled.h"

namespace {

// The texts of the wait dialogs of the four requests.
const char* const StepText[] = {"Проверка связи с контроллером", "Полная очистка контроллера",
                                "Чтение вардекса", "Чтение настроек контроллера"};
constexpr int Steps = 4;

DbModel NewDbModel(KeyCode vardex, int timeOpen, int retryRead, int address) {
    DbModel model;
    model.Vardex = vardex;
    model.TimeOpen = TimeOpenInRange(timeOpen);
    model.RetryRead = RetryReadInRange(retryRead);
    model.Address = address;
    return model;
}

}  // namespace

TNewFileJob::TNewFileJob(TJobHost& host) : TJob(host) {
    host_.SetProgressMax(Steps);
    host_.SetProgressPosition(0);
}

void TNewFileJob::Start() {
    host_.PostStep(CheckStep);
}

void TNewFileJob::OnStep(int step) {
    if (TakeCancel()) {
        EndIntent("Прервано");
        return;
    }
    if (step < CheckStep || step > SettingsStep)
        return;
    if (step == ClearStep && !path_.empty()) {
        // No intent in the journal, no clear: a new file cut short must leave its trace.
        if (const std::string error = intent_.Begin(path_, {journal::kNewFile, "", "", "", "", ""});
            !error.empty()) {
            CanClose = true;
            host_.Failed({"Ошибка", error, BoxIcon::Error});
            return;
        }
    }
    Step = step;
    host_.AddLine(std::string(StepText[step]) + " ... ");
    host_.SendRequest(step == CheckStep    ? MakeCheckLink()
                      : step == ClearStep  ? MakeClearAll()
                      : step == VardexStep ? MakeReadKey(VardexSlot)
                                           : MakeReadSettings());
}

void TNewFileJob::OnCompletion(int result, const FrameHeader& reply, const FrameData& replyData) {
    if (TakeCancel()) {
        EndIntent("Прервано");
        return;
    }
    if (!IsSuccess(result) && Step == SettingsStep) {
        // The controller is cleared and its vardex known: the file is made all the same,
        // with the times a new file has, and the log says so.
        host_.AddLine("Настройки контроллера не прочитаны: " + ResultText(result) +
                      ". В файл записаны времена по умолчанию: " + std::to_string(TimeOpen) +
                      " и " + std::to_string(RetryRead) + " сек.");
    } else if (!IsSuccess(result)) {
        CanClose = true;
        EndIntent(ResultText(result));
        host_.Failed({"Ошибка связи с контроллером", ResultText(result), BoxIcon::Error});
        return;
    } else {
        host_.AppendToLastLine("OK!");
    }
    host_.SetProgressPosition(Step + 1);
    if (Step == VardexStep)
        VardexCode = reply[4] != 0 ? DecodeKey(replyData) : 0;
    if (Step == SettingsStep && IsSuccess(result) && reply[4] >= 2) {
        DecodeSettings(replyData, TimeOpen, RetryRead);
        SettingsRead = true;
    }
    if (Step < SettingsStep) {
        host_.ContinueAfterPause(Step + 1);
        return;
    }
    CanClose = true;
    complete_ = true;
    host_.Finished({"", "", BoxIcon::Information});
}

void TNewFileJob::EndIntent(const std::string& outcome) {
    if (intent_.Open())
        intent_.End({journal::kNewFile, "", "", "", journaled::KeyCount(0), outcome},
                    outcome == journal::kOk);
}

DbResult TNewFileJob::WriteFile(const std::string& path, int address) {
    const DbModel model = NewDbModel(VardexCode, TimeOpen, RetryRead, address);
    if (!intent_.Open())
        return journaled::WriteDbFile(path, model, journal::kNewFile);
    DbResult r = ::WriteDbFile(path, model);
    EndIntent(journaled::Outcome(r));
    return r;
}

DbResult WriteNewDbFile(const std::string& path, KeyCode vardex, int timeOpen, int retryRead,
                        int address) {
    return journaled::WriteDbFile(path, NewDbModel(vardex, timeOpen, retryRead, address),
                                  journal::kNewFile);
}
