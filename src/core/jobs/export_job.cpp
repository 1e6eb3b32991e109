#include "core/jobs/export_job.h"

#include <algorithm>

#include "core/keys/cp1251.h"
#include "core/keys/display_list.h"
#include "core/keys/journal.h"
#include "core/keys/journaled.h"

namespace {

const char* const SuccessText = "Экспорт в контроллер выполнен успешно!";

}  // namespace

std::string VardexCaption(int typeFormat, KeyCode vardex) {
    return vardex == 0 ? std::string("Отсутствует") : Format(typeFormat, vardex);
}

ExportSource ExportSourceOf(const DbModel& model, int typeFormat) {
    ExportSource source;
    source.TimeOpen = TimeOpenInRange(model.TimeOpen);
    source.RetryRead = RetryReadInRange(model.RetryRead);
    source.Vardex = model.Vardex;
    source.VardexCaption = VardexCaption(typeFormat, model.Vardex);
    source.keys.reserve(model.keys.size());
    for (const DisplayRow& row : SortedDisplayRows(typeFormat, model.keys))
        source.keys.push_back(
            {row.code, std::string(row.Text()), Cp1251ToUtf8(model.keys[row.key].description)});
    return source;
}

TExportJob::TExportJob(TJobHost& host, ExportSource source)
    : TJob(host), source_(std::move(source)) {
    host_.SetProgressMax(static_cast<int>(source_.keys.size()) + 3);
    host_.SetProgressPosition(0);
}

void TExportJob::Start() {
    host_.PostStep(0);
}

void TExportJob::OnStep(int step) {
    if (TakeCancelAndJournal())
        return;
    const int count = static_cast<int>(source_.keys.size());
    switch (step) {
        case 0:
            Step = 0;
            host_.AddLine("Полная очистка контроллера ... ");
            host_.SendRequest(MakeClearAll());
            break;
        case 1:
            Step = 1;
            host_.AddLine("");
            host_.AddLine("Запись настроек контроллера ... ");
            host_.SendRequest(MakeWriteSettings(TimeOpenInRange(source_.TimeOpen),
                                                RetryReadInRange(source_.RetryRead)));
            break;
        case 2:
            Step = 2;
            host_.AddLine("");
            host_.AddLine("Установка вардекса " + source_.VardexCaption + " ... ");
            // No vardex is sent as the all-ones record.
            host_.SendRequest(
                MakeWriteKey(source_.Vardex, source_.Vardex != 0, true, KeyFiller::Export));
            break;
        case 3: {
            if (count == 0 || KeyIndex >= count) {
                Finish();
                return;
            }
            if (Step < 3) {
                KeyIndex = 0;
                host_.AddLine("");
                host_.AddLine("Запись базы карт(ключей) в контроллер ... ");
            }
            Step = 3;
            const ExportKey& key = source_.keys[static_cast<size_t>(KeyIndex)];
            host_.AddLine("Карта(ключ) " + key.caption + " - " + key.description + " ... ");
            host_.SendRequest(MakeWriteKey(key.code, true, false, KeyFiller::Export));
            ++KeyIndex;
            break;
        }
        default:
            break;
    }
}

void TExportJob::OnCompletion(int result, const FrameHeader&, const FrameData&) {
    if (TakeCancelAndJournal())
        return;
    if (!IsSuccess(result)) {
        Fail(result);
        return;
    }
    if (Step < 0 || Step > 3)
        return;
    host_.AppendToLastLine("OK!");
    host_.SetProgressPosition(++position_);
    host_.ContinueAfterPause(Step < 3 ? Step + 1 : 3);
}

bool TExportJob::TakeCancelAndJournal() {
    if (!TakeCancel())
        return false;
    Journal("Прервано");
    return true;
}

void TExportJob::Journal(const std::string& outcome) {
    if (journaled_ || source_.databasePath.empty())
        return;
    journaled_ = true;
    journal::Record(
        source_.databasePath,
        {journal::kExport, "", "", "", journaled::KeyCount(source_.keys.size()), outcome},
        outcome == journal::kOk);
}

void TExportJob::Finish() {
    CanClose = true;
    Journal(journal::kOk);
    host_.AddLine("");
    host_.AddLine(SuccessText);
    host_.ClosePort();
    host_.Finished({"", SuccessText, BoxIcon::Information});
}

void TExportJob::Fail(int result) {
    CanClose = true;
    host_.ClosePort();
    const std::string description = "Описание ошибки: " + ResultText(result);
    Journal(description);
    host_.AddLine("Ошибка при экспорте");
    host_.AddLine(description);
    host_.Failed({"Ошибка при экспорте", description, BoxIcon::Error});
}
