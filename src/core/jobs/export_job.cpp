#include "core/jobs/export_job.h"

#include <algorithm>

#include "core/jobs/controller_read.h"
#include "core/jobs/keys_guard.h"
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
    host_.SetProgressMax(static_cast<int>(source_.keys.size()) + 4);
    host_.SetProgressPosition(0);
}

void TExportJob::Start() {
    host_.PostStep(0);
}

int TExportJob::ExpectedCount() const {
    std::vector<KeyCode> codes;
    codes.reserve(source_.keys.size());
    for (const ExportKey& key : source_.keys)
        codes.push_back(key.code & 0xFFFFFF);
    std::sort(codes.begin(), codes.end());
    return static_cast<int>(std::unique(codes.begin(), codes.end()) - codes.begin());
}

void TExportJob::RereadBeforeWriting(const std::string& path, int typeFormat) {
    path_ = path;
    typeFormat_ = typeFormat;
}

bool TExportJob::Reread() {
    if (path_.empty())
        return true;
    if (DbResult locked = LockDbForWrite(path_, lock_); !locked) {
        FailWith(locked.error);
        return false;
    }
    DbModel model;
    const DbResult read = LoadDbFile(path_, model);
    if (const std::optional<JobBox> refusal = RefusePartialRead(read)) {
        FailWith(refusal->text);
        return false;
    }
    const std::string journalPath = source_.databasePath;
    source_ = ExportSourceOf(model, typeFormat_);
    source_.databasePath = journalPath;
    host_.SetProgressMax(static_cast<int>(source_.keys.size()) + 4);
    return true;
}

void TExportJob::OnStep(int step) {
    if (TakeCancelAndJournal()) {
        lock_.Release();
        return;
    }
    if (step == ClearStep && (!Reread() || !BeginIntent()))
        return;
    const int count = static_cast<int>(source_.keys.size());
    switch (step) {
        case ClearStep:
            Step = ClearStep;
            host_.AddLine("Полная очистка контроллера ... ");
            host_.SendRequest(MakeClearAll());
            break;
        case SettingsStep:
            Step = SettingsStep;
            host_.AddLine("");
            host_.AddLine("Запись настроек контроллера ... ");
            host_.SendRequest(MakeWriteSettings(TimeOpenInRange(source_.TimeOpen),
                                                RetryReadInRange(source_.RetryRead)));
            break;
        case VardexStep:
            Step = VardexStep;
            host_.AddLine("");
            host_.AddLine("Установка вардекса " + source_.VardexCaption + " ... ");
            // No vardex is sent as the all-ones record.
            host_.SendRequest(
                MakeWriteKey(source_.Vardex, source_.Vardex != 0, true, KeyFiller::Export));
            break;
        case KeysStep: {
            if (count == 0 || KeyIndex >= count) {
                OnStep(CountCheckStep);
                return;
            }
            if (Step < KeysStep) {
                KeyIndex = 0;
                host_.AddLine("");
                host_.AddLine("Запись базы карт(ключей) в контроллер ... ");
            }
            Step = KeysStep;
            const ExportKey& key = source_.keys[static_cast<size_t>(KeyIndex)];
            host_.AddLine("Карта(ключ) " + key.caption + " - " + key.description + " ... ");
            host_.SendRequest(MakeWriteKey(key.code, true, false, KeyFiller::Export));
            ++KeyIndex;
            break;
        }
        case CountCheckStep:
            Step = CountCheckStep;
            host_.AddLine("");
            host_.AddLine(CountCheckText);
            host_.SendRequest(MakeReadKeyCount());
            break;
        default:
            break;
    }
}

void TExportJob::OnCompletion(int result, const FrameHeader&, const FrameData& replyData) {
    if (TakeCancelAndJournal()) {
        lock_.Release();
        return;
    }
    if (!IsSuccess(result)) {
        Fail(result);
        return;
    }
    if (Step < ClearStep || Step > CountCheckStep)
        return;
    host_.AppendToLastLine("OK!");
    host_.SetProgressPosition(++position_);
    if (Step == CountCheckStep) {
        const int held = DecodeKeyCount(replyData);
        host_.AddLine("Кол-во карт(ключей) в контроллере: " + std::to_string(held));
        if (held != ExpectedCount()) {
            FailWith(CountMismatchText(held, ExpectedCount()));
            return;
        }
        Finish();
        return;
    }
    host_.ContinueAfterPause(Step < KeysStep ? Step + 1 : KeysStep);
}

bool TExportJob::TakeCancelAndJournal() {
    if (!TakeCancel())
        return false;
    Journal("Прервано");
    return true;
}

bool TExportJob::BeginIntent() {
    if (source_.databasePath.empty())
        return true;
    // No intent in the journal, no clear: an export cut short must leave its trace.
    const std::string error =
        intent_.Begin(source_.databasePath,
                      {journal::kExport, "", "", "", journaled::KeyCount(source_.keys.size()), ""});
    if (error.empty())
        return true;
    FailWith(error);
    return false;
}

void TExportJob::Journal(const std::string& outcome) {
    // Only an export that has begun (its intent written) has anything to say.
    if (!intent_.Open())
        return;
    intent_.End({journal::kExport, "", "", "", journaled::KeyCount(source_.keys.size()), outcome},
                outcome == journal::kOk);
}

void TExportJob::Finish() {
    lock_.Release();
    CanClose = true;
    Journal(journal::kOk);
    host_.AddLine("");
    host_.AddLine(SuccessText);
    host_.ClosePort();
    host_.Finished({"", SuccessText, BoxIcon::Information});
}

void TExportJob::Fail(int result) {
    FailWith("Описание ошибки: " + ResultText(result));
}

void TExportJob::FailWith(const std::string& description) {
    lock_.Release();
    CanClose = true;
    host_.ClosePort();
    Journal(description);
    host_.AddLine("Ошибка при экспорте");
    host_.AddLine(description);
    host_.Failed({"Ошибка при экспорте", description, BoxIcon::Error});
}
