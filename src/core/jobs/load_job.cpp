#include "core/jobs/load_job.h"

#include <cstdlib>
#include <unordered_set>

namespace {

const char* const SuccessText = "Чтение из контроллера завершено успешно!";

}  // namespace

TLoadJob::TLoadJob(TJobHost& host) : TJob(host) {}

void TLoadJob::Start() {
    host_.PostStep(-1);
}

void TLoadJob::OnStep(int step) {
    if (TakeCancel())
        return;
    switch (step) {
        case -1:
            Step = -1;
            host_.AddLine("Проверка связи с контроллером ... ");
            host_.SendRequest(MakeReadKeyCount());
            break;
        case 0:
            Step = 0;
            host_.AddLine("");
            host_.AddLine("Чтение настроек контроллера ... ");
            host_.SendRequest(MakeReadSettings());
            break;
        case 1:
            Step = 1;
            host_.AddLine("");
            host_.AddLine("Чтение вардекса:");
            host_.SendRequest(MakeReadKey(VardexSlot));
            break;
        case 2:
            if (Step < 2) {
                Step = 2;
                host_.AddLine("");
                host_.AddLine("Чтение базы карт(ключей) контроллера:");
            }
            if (KeyIndex >= KeyCount) {
                Finish();
                return;
            }
            host_.SendRequest(MakeReadKey(static_cast<std::uint16_t>(KeyIndex)));
            ++KeyIndex;
            break;
        default:
            break;
    }
}

void TLoadJob::Advance() {
    host_.SetProgressPosition(++position_);
}

void TLoadJob::OnCompletion(int result, const FrameHeader&, const FrameData& replyData) {
    if (TakeCancel())
        return;
    if (!IsSuccess(result)) {
        Fail(result);
        return;
    }
    switch (Step) {
        case -1:
            KeyCount = DecodeKeyCount(replyData);
            host_.SetProgressMax(KeyCount + 2);
            host_.AppendToLastLine("OK!");
            host_.AddLine("Кол-во карт(ключей) в контроллере: " + std::to_string(KeyCount));
            host_.ContinueAfterPause(0);
            break;
        case 0:
            DecodeSettings(replyData, TimeOpen, RetryRead);
            Advance();
            host_.AppendToLastLine("OK!");
            host_.AddLine("Время открывания замка " + std::to_string(TimeOpen) + " сек.");
            host_.AddLine("Повторное считывание карты(ключа) " + std::to_string(RetryRead) +
                          " сек.");
            host_.ContinueAfterPause(1);
            break;
        case 1:
            VardexCode = DecodeKey(replyData);
            Advance();
            host_.AppendToLastLine("OK!");
            host_.AddLine(VardexCode == 0 ? std::string("Вардекс: отсутствует")
                                          : "Вардекс: " + Format(TypeFormatIButton, VardexCode));
            host_.ContinueAfterPause(2);
            break;
        case 2: {
            KeyCode code = DecodeKey(replyData);
            KeyList.push_back(std::to_string(code));
            Advance();
            host_.AddLine("Карта(ключ) №" + std::to_string(KeyIndex) + ": " +
                          Format(TypeFormatIButton, code));
            host_.ContinueAfterPause(2);
            break;
        }
        default:
            break;
    }
}

void TLoadJob::Finish() {
    CanClose = true;
    complete_ = true;
    host_.ClosePort();
    host_.AddLine("");
    host_.AddLine(SuccessText);
    host_.Finished(
        {"", std::string(SuccessText) + "\rМожно сохранить данные в файл!", BoxIcon::Information});
}

void TLoadJob::Fail(int result) {
    CanClose = true;
    const std::string description = "Описание ошибки: " + ResultText(result);
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
    model.keys.reserve(KeyList.size());
    // A key's number is its entry name in the file: a code read from two slots is one
    // entry, at the place of its first slot (as writing it twice would leave it).
    std::unordered_set<KeyCode> seen;
    seen.reserve(KeyList.size() * 2);
    for (const auto& text : KeyList) {
        KeyCode code = static_cast<KeyCode>(std::strtoul(text.c_str(), nullptr, 10));
        if (seen.insert(code).second)
            model.keys.push_back({code, text});
    }
    return model;
}

DbResult TLoadJob::SaveTo(const std::string& path, DbModel& loaded) const {
    if (!complete_)
        return {false, "Чтение из контроллера не завершено"};
    DbResult written = WriteDbFile(path, NewFileModel());
    if (!written)
        return written;
    DbModel model;
    DbResult read = LoadDbFile(path, model);
    if (!read)
        return read;
    loaded = std::move(model);
    return read;
}
