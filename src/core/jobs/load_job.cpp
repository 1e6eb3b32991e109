#include "core/jobs/load_job.h"

#include "core/keys/journaled.h"

#include <unordered_set>

namespace {

const char* const SuccessText = "Чтение из контроллера завершено успешно!";

}  // namespace

TLoadJob::TLoadJob(TJobHost& host) : TControllerRead(host) {}

void TLoadJob::ReadFinished() {
    LaterStep(CountCheckStep);  // the pause after the last slot is behind us
}

void TLoadJob::LaterStep(int step) {
    if (TakeCancel() || step != CountCheckStep)
        return;
    Step = CountCheckStep;
    host_.AddLine("");
    host_.AddLine(CountCheckText);
    host_.SendRequest(MakeReadKeyCount());
}

void TLoadJob::LaterCompletion(int result, const FrameHeader&, const FrameData& replyData) {
    if (TakeCancel())
        return;
    if (!IsSuccess(result)) {
        ReadFailed(result);
        return;
    }
    const int count = DecodeKeyCount(replyData);
    host_.AppendToLastLine("OK!");
    host_.AddLine("Кол-во карт(ключей) в контроллере: " + std::to_string(count));
    if (count != KeyCount) {
        Fail(CountMismatchText(count, KeyCount));
        return;
    }
    CanClose = true;
    complete_ = true;
    host_.ClosePort();
    host_.AddLine("");
    host_.AddLine(SuccessText);
    host_.Finished(
        {"", std::string(SuccessText) + "\rМожно сохранить данные в файл!", BoxIcon::Information});
}

void TLoadJob::ReadFailed(int result) {
    Fail("Описание ошибки: " + ResultText(result));
}

void TLoadJob::Fail(const std::string& description) {
    CanClose = true;
    host_.AddLine("Ошибка при импорте из контроллера!");
    host_.AddLine(description);
    host_.Failed({"Ошибка при импорте из контроллера", description, BoxIcon::Error});
}

DbModel TLoadJob::NewFileModel() const {
    DbModel model;
    model.TimeOpen = TimeOpen;
    model.RetryRead = RetryRead;
    model.TypeFormat = TypeFormatIButton;
    model.Vardex = VardexCode;
    model.Address = Address;
    model.keys.reserve(SlotCodes.size());
    // A key's number is its entry name in the file: a code read from two slots is one
    // entry, at the place of its first slot (as writing it twice would leave it).
    std::unordered_set<KeyCode> seen;
    seen.reserve(SlotCodes.size() * 2);
    for (KeyCode code : SlotCodes) {
        if (seen.insert(code).second)
            model.keys.push_back({code, DefaultDescription(code)});
    }
    return model;
}

DbResult TLoadJob::SaveTo(const std::string& path, DbModel& loaded) const {
    if (!complete_)
        return {false, "Чтение из контроллера не завершено"};
    DbResult written = journaled::WriteDbFile(path, NewFileModel(), journal::kLoad);
    if (!written)
        return written;
    DbModel model;
    DbResult read = LoadDbFile(path, model);
    if (!read)
        return read;
    loaded = std::move(model);
    return read;
}
