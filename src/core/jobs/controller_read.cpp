#include "core/jobs/controller_read.h"

const char* const CountCheckText = "Проверка кол-ва карт(ключей) в контроллере ... ";

std::string CountMismatchText(int count, int expected) {
    return "Кол-во карт(ключей) в контроллере " + std::to_string(count) +
           " не совпадает с ожидаемым " + std::to_string(expected) + "!";
}

TControllerRead::TControllerRead(TJobHost& host) : TJob(host) {}

void TControllerRead::Start() {
    host_.PostStep(CountStep);
}

void TControllerRead::OnStep(int step) {
    if (TakeCancel())
        return;
    switch (step) {
        case CountStep:
            Step = CountStep;
            host_.AddLine("Проверка связи с контроллером ... ");
            host_.SendRequest(MakeReadKeyCount());
            break;
        case SettingsStep:
            Step = SettingsStep;
            host_.AddLine("");
            host_.AddLine("Чтение настроек контроллера ... ");
            host_.SendRequest(MakeReadSettings());
            break;
        case VardexStep:
            Step = VardexStep;
            host_.AddLine("");
            host_.AddLine("Чтение вардекса:");
            host_.SendRequest(MakeReadKey(VardexSlot));
            break;
        case KeysStep:
            if (Step < KeysStep) {
                Step = KeysStep;
                host_.AddLine("");
                host_.AddLine("Чтение базы карт(ключей) контроллера:");
            }
            if (KeyIndex >= KeyCount) {
                ReadFinished();
                return;
            }
            host_.SendRequest(MakeReadKey(static_cast<std::uint16_t>(KeyIndex)));
            ++KeyIndex;
            break;
        default:
            if (step >= AfterRead)
                LaterStep(step);
            break;
    }
}

void TControllerRead::Advance() {
    host_.SetProgressPosition(++position_);
}

void TControllerRead::OnCompletion(int result, const FrameHeader& reply,
                                   const FrameData& replyData) {
    if (Step >= AfterRead) {
        LaterCompletion(result, reply, replyData);
        return;
    }
    if (TakeCancel())
        return;
    if (!IsSuccess(result)) {
        ReadFailed(result);
        return;
    }
    switch (Step) {
        case CountStep:
            KeyCount = DecodeKeyCount(replyData);
            KeyList.reserve(static_cast<size_t>(KeyCount));
            SlotCodes.reserve(static_cast<size_t>(KeyCount));
            host_.SetProgressMax(KeyCount + 2);
            host_.AppendToLastLine("OK!");
            host_.AddLine("Кол-во карт(ключей) в контроллере: " + std::to_string(KeyCount));
            host_.ContinueAfterPause(SettingsStep);
            break;
        case SettingsStep:
            DecodeSettings(replyData, TimeOpen, RetryRead);
            Advance();
            host_.AppendToLastLine("OK!");
            host_.AddLine("Время открывания замка " + std::to_string(TimeOpen) + " сек.");
            host_.AddLine("Повторное считывание карты(ключа) " + std::to_string(RetryRead) +
                          " сек.");
            host_.ContinueAfterPause(VardexStep);
            break;
        case VardexStep:
            VardexCode = DecodeKey(replyData);
            Advance();
            host_.AppendToLastLine("OK!");
            host_.AddLine(VardexCode == 0 ? std::string("Вардекс: отсутствует")
                                          : "Вардекс: " + Format(TypeFormatIButton, VardexCode));
            host_.ContinueAfterPause(KeysStep);
            break;
        case KeysStep: {
            KeyCode code = DecodeKey(replyData);
            KeyList.push_back(std::to_string(code));
            SlotCodes.push_back(code);
            Advance();
            host_.AddLine("Карта(ключ) №" + std::to_string(KeyIndex) + ": " +
                          Format(TypeFormatIButton, code));
            host_.ContinueAfterPause(KeysStep);
            break;
        }
        default:
            break;
    }
}
