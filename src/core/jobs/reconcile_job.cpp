#include "core/jobs/reconcile_job.h"

#include <algorithm>

#include "core/jobs/keys_guard.h"
#include "core/keys/backup.h"
#include "core/keys/journal.h"
#include "core/keys/journaled.h"

namespace {

const char* const Caption = "Сверка с контроллером";
const char* const AgreeText = "Файл и контроллер совпадают";
const char* const SuccessText = "Сверка с контроллером завершена успешно!";

// One journal line per apply, whatever its end: what was done, and the outcome, under the
// id of the intent written before the first change.
void Journal(journaled::Change& intent, const std::string& databasePath, const std::string& summary,
             const std::string& outcome) {
    journal::Entry entry;
    entry.operation = journal::kReconcile;
    entry.newValue = summary;
    entry.outcome = outcome;
    if (intent.Open())
        intent.End(entry);
    else
        journal::Record(databasePath, entry);
}

std::string VardexCaptionOf(int typeFormat, KeyCode vardex) {
    return vardex == 0 ? std::string("Отсутствует") : Format(typeFormat, vardex);
}

}  // namespace

TReconcileJob::TReconcileJob(TJobHost& host, ReconcileOptions options)
    : TControllerRead(host), options_(std::move(options)) {
    if (options_.backupFolder.empty())
        options_.backupFolder = BackupFolder();
    if (!options_.now)
        options_.now = [] { return std::time(nullptr); };
}

void TReconcileJob::OnStep(int step) {
    if (CancelRequested && phase_ == ReconcilePhase::Applying) {
        StopApply();
        return;
    }
    if (CancelRequested && phase_ == ReconcilePhase::Reading)
        phase_ = ReconcilePhase::Cancelled;
    TControllerRead::OnStep(step);
}

void TReconcileJob::OnCompletion(int result, const FrameHeader& reply, const FrameData& replyData) {
    if (CancelRequested && phase_ == ReconcilePhase::Reading)
        phase_ = ReconcilePhase::Cancelled;
    TControllerRead::OnCompletion(result, reply, replyData);
}

void TReconcileJob::ReadFailed(int result) {
    CanClose = true;
    phase_ = ReconcilePhase::Failed;
    const std::string description = "Описание ошибки: " + ResultText(result);
    host_.AddLine("Ошибка при чтении из контроллера!");
    host_.AddLine(description);
    host_.Failed({"Ошибка при сверке с контроллером", description, BoxIcon::Error});
}

void TReconcileJob::ReadFinished() {
    CanClose = true;
    ControllerImage image;
    image.TimeOpen = TimeOpen;
    image.RetryRead = RetryRead;
    image.Vardex = VardexCode;
    image.slotCodes = SlotCodes;

    // The list is shown at once; the copy is written before the operator can answer, and
    // without it nothing is applied.
    diff_ = CompareWithFile(image, options_.file, options_.typeFormat);
    phase_ = diff_.Agree() ? ReconcilePhase::Done : ReconcilePhase::Review;
    if (options_.differencesReady)
        options_.differencesReady(diff_);

    BackupResult copy =
        WriteBackup(options_.backupFolder, options_.databasePath,
                    BackupModel(image, options_.file, options_.typeFormat), options_.now());
    host_.AddLine("");
    if (!copy.result) {
        phase_ = ReconcilePhase::Failed;
        host_.ClosePort();
        const std::string text = "Копия данных контроллера не сохранена: " + copy.result.error;
        host_.AddLine(text);
        host_.Failed({"Ошибка при сверке с контроллером", text, BoxIcon::Error});
        return;
    }
    backupPath_ = copy.path;
    host_.AddLine("Копия данных контроллера сохранена в файл " + backupPath_);
    host_.AddLine("");
    host_.AddLine(SummaryLine(diff_));
    // Told once, here: the apply leaves such a code alone (removing it to repair the
    // slots would take it from the door meanwhile), and the verify expects it as it is.
    for (const DiffItem& item : diff_.items) {
        if (item.kind == DiffKind::Duplicate)
            host_.AddLine("Карта(ключ) " + item.text + " записана в контроллере " +
                          std::to_string(item.slotCount) + " раз(а)");
        if (item.kind == DiffKind::Invalid)
            host_.AddLine(InvalidEntryLine(item));
    }
    if (diff_.Agree()) {
        agree_ = true;
        host_.AddLine(AgreeText);
        host_.ClosePort();
        host_.Finished({"", AgreeText, BoxIcon::Information});
    }
}

void TReconcileJob::Collect(std::vector<Action>& stores, std::vector<Action>& settings,
                            std::vector<Action>& removals, std::vector<DbKey>& adopt) const {
    for (size_t i = 0; i < diff_.items.size(); ++i) {
        const DiffItem& item = diff_.items[i];
        if (!item.ticked || ShownOnly(item.kind))
            continue;
        switch (item.kind) {
            case DiffKind::Write:
                stores.push_back({ActionKind::Store, i});
                break;
            case DiffKind::Times:
                settings.push_back({ActionKind::Settings, i});
                break;
            case DiffKind::Vardex:
                settings.push_back({ActionKind::Vardex, i});
                break;
            case DiffKind::Extra:
                if (item.adopt) {
                    adopt.push_back({item.code, item.description});
                } else {
                    // One removal per slot that holds it: a controller that clears one
                    // slot per request and one that clears them all end the same.
                    for (int slot = 0; slot < std::max(item.slotCount, 1); ++slot)
                        removals.push_back({ActionKind::Remove, i});
                }
                break;
            case DiffKind::Duplicate:
            case DiffKind::Invalid:
                break;
        }
    }
}

bool TReconcileJob::FailBeforeWrites(const std::string& text) {
    phase_ = ReconcilePhase::Failed;
    CanClose = true;
    lock_.Release();
    host_.ClosePort();
    if (intent_.Open())
        Journal(intent_, options_.databasePath, SummaryLine(diff_), text);
    host_.AddLine("");
    host_.AddLine(text);
    host_.Failed({"Ошибка при сверке с контроллером", text, BoxIcon::Error});
    return false;
}

bool TReconcileJob::RereadUnderLock() {
    if (DbResult locked = LockDbForWrite(options_.databasePath, lock_); !locked)
        return FailBeforeWrites(locked.error);
    DbModel now;
    const DbResult read = LoadDbFile(options_.databasePath, now);
    if (const std::optional<JobBox> refusal = RefusePartialRead(read))
        return FailBeforeWrites(refusal->text);
    // The answer was given on the list shown; what is written follows the file as it is
    // now. A difference kept keeps the operator's choice; one that is new is a key the
    // file gained (written) or lost (its removal was never asked for: left alone).
    Differences fresh = CompareWithFile(diff_.controller, now, options_.typeFormat);
    bool changed = fresh.items.size() != diff_.items.size();
    for (size_t i = 0; i < fresh.items.size(); ++i) {
        DiffItem& item = fresh.items[i];
        auto old = std::find_if(diff_.items.begin(), diff_.items.end(), [&](const DiffItem& d) {
            return d.kind == item.kind && (d.code == item.code || item.kind == DiffKind::Times) &&
                   d.text == item.text;
        });
        if (old != diff_.items.end()) {
            item.ticked = old->ticked;
            item.adopt = old->adopt;
        } else {
            changed = true;
            item.ticked = item.kind != DiffKind::Extra && item.kind != DiffKind::Duplicate;
        }
    }
    options_.file = std::move(now);
    diff_ = std::move(fresh);
    if (changed) {
        host_.AddLine("");
        host_.AddLine("Файл базы изменён после чтения, различия пересчитаны: " +
                      SummaryLine(diff_));
    }
    return true;
}

bool TReconcileJob::Apply() {
    if (phase_ != ReconcilePhase::Review)
        return false;
    plan_.clear();
    std::vector<Action> stores, settings, removals;
    std::vector<DbKey> adopt;
    Collect(stores, settings, removals, adopt);
    if (stores.empty() && settings.empty() && removals.empty() && adopt.empty())
        return false;
    const std::string question = "Записать различия в контроллер?\r" + SummaryLine(diff_);
    if (!host_.AskYesNo({Caption, question, BoxIcon::Question}))
        return false;
    // From here to the end of the apply the file is held: another writer cannot change
    // it between what is worked out here and the controller's writes.
    if (!RereadUnderLock())
        return false;
    stores.clear();
    settings.clear();
    removals.clear();
    adopt.clear();
    Collect(stores, settings, removals, adopt);
    // No intent in the journal, no change: an apply cut short must leave its trace.
    if (const std::string error = intent_.Begin(
            options_.databasePath, {journal::kReconcile, "", "", "", SummaryLine(diff_), ""});
        !error.empty())
        return FailBeforeWrites(error);

    if (!adopt.empty()) {
        // Keys taken from the controller into the file go in one write; their
        // descriptions are their numbers in decimal, as a load gives them.
        DbResult written = journaled::SaveKeys(options_.databasePath, adopt, journal::kReconcile);
        if (!written)
            return FailBeforeWrites("Карты(ключи) не добавлены в файл: " + written.error);
        adopted_ = adopt;
        host_.AddLine("");
        host_.AddLine("Добавлено в файл карт(ключей): " + std::to_string(adopt.size()));
    }

    // A key that stays is never absent: the missing keys go in before anything is
    // removed, unless the controller cannot hold them all at once.
    removalsFirst_ = KeyCount + static_cast<int>(stores.size()) > MaxControllerKeys;
    if (removalsFirst_)
        plan_.insert(plan_.end(), removals.begin(), removals.end());
    plan_.insert(plan_.end(), stores.begin(), stores.end());
    plan_.insert(plan_.end(), settings.begin(), settings.end());
    if (!removalsFirst_)
        plan_.insert(plan_.end(), removals.begin(), removals.end());
    // What the controller will really hold: every slot it reported (a code held twice
    // stays so), the stored keys, less every slot of the removed ones.
    expected_ =
        diff_.controllerSlots + static_cast<int>(stores.size()) - static_cast<int>(removals.size());

    phase_ = ReconcilePhase::Applying;
    CanClose = false;
    CancelRequested = false;
    applyIndex_ = 0;
    position_ = 0;
    host_.SetProgressMax(static_cast<int>(plan_.size()) + 1);
    host_.SetProgressPosition(0);
    if (removalsFirst_) {
        host_.AddLine("");
        host_.AddLine(
            "Удаление выполняется до записи: с новыми карт(ключами) в контроллере было "
            "бы " +
            std::to_string(KeyCount + static_cast<int>(stores.size())) +
            " карт(ключей), а он вмещает " + std::to_string(MaxControllerKeys));
    }
    host_.PostStep(plan_.empty() ? VerifyStep : ApplyStep);
    return true;
}

void TReconcileJob::SendAction(Action& action) {
    const DiffItem& item = diff_.items[action.item];
    const bool groupStart = applyIndex_ == 0 || plan_[applyIndex_ - 1].kind != action.kind;
    switch (action.kind) {
        case ActionKind::Store:
            if (groupStart) {
                host_.AddLine("");
                host_.AddLine("Запись карт(ключей) в контроллер:");
            }
            host_.AddLine("Карта(ключ) " + item.text + " - " + item.description + " ... ");
            host_.SendRequest(MakeWriteKey(item.code, true, false, KeyFiller::KeyDialog));
            break;
        case ActionKind::Remove:
            if (groupStart) {
                host_.AddLine("");
                host_.AddLine("Удаление карт(ключей) из контроллера:");
            }
            host_.AddLine("Карта(ключ) " + item.text + " ... ");
            host_.SendRequest(MakeWriteKey(item.code, false, false, KeyFiller::KeyDialog));
            break;
        case ActionKind::Settings:
            host_.AddLine("");
            host_.AddLine("Запись настроек контроллера ... ");
            host_.SendRequest(MakeWriteSettings(diff_.fileTimeOpen, diff_.fileRetryRead));
            break;
        case ActionKind::Vardex:
            host_.AddLine("");
            host_.AddLine("Установка вардекса " +
                          VardexCaptionOf(options_.typeFormat, diff_.fileVardex) + " ... ");
            // No vardex in the file is sent as the all-ones removal record.
            host_.SendRequest(
                MakeWriteKey(diff_.fileVardex, diff_.fileVardex != 0, true, KeyFiller::KeyDialog));
            break;
    }
}

void TReconcileJob::LaterStep(int step) {
    if (step == ApplyStep) {
        Step = ApplyStep;
        if (applyIndex_ >= plan_.size()) {
            LaterStep(VerifyStep);
            return;
        }
        SendAction(plan_[applyIndex_]);
    } else if (step == VerifyStep) {
        Step = VerifyStep;
        host_.AddLine("");
        host_.AddLine(CountCheckText);
        host_.SendRequest(MakeReadKeyCount());
    }
}

void TReconcileJob::LaterCompletion(int result, const FrameHeader&, const FrameData& replyData) {
    if (phase_ != ReconcilePhase::Applying)
        return;
    if (IsSuccess(result)) {
        host_.AppendToLastLine("OK!");
        host_.SetProgressPosition(++position_);
        if (Step == ApplyStep)
            plan_[applyIndex_++].done = true;
    }
    if (CancelRequested) {
        StopApply();
        return;
    }
    if (!IsSuccess(result)) {
        FailApply("Описание ошибки: " + ResultText(result));
        return;
    }
    if (Step == ApplyStep)
        host_.ContinueAfterPause(ApplyStep);
    else
        Verify(DecodeKeyCount(replyData));
}

void TReconcileJob::Verify(int count) {
    lock_.Release();
    verified_ = count;
    phase_ = ReconcilePhase::Done;
    CanClose = true;
    host_.AddLine("Кол-во карт(ключей) в контроллере: " + std::to_string(count));
    host_.ClosePort();
    const bool allApplied =
        std::none_of(diff_.items.begin(), diff_.items.end(), [](const DiffItem& item) {
            return item.kind == DiffKind::Invalid ||
                   (item.kind != DiffKind::Duplicate && !item.ticked);
        });
    agree_ = count == expected_ && allApplied;
    Journal(intent_, options_.databasePath, DoneSummary(),
            count == expected_ ? std::string(journal::kOk)
                               : "Кол-во карт(ключей) в контроллере " + std::to_string(count) +
                                     ", ожидалось " + std::to_string(expected_));
    if (count != expected_) {
        const std::string text = CountMismatchText(count, expected_);
        host_.AddLine(text);
        host_.AddLine("");
        host_.AddLine("Сверка с контроллером завершена с расхождением.");
        host_.Finished({"", text, BoxIcon::Warning});
        return;
    }
    host_.AddLine("");
    host_.AddLine(SuccessText);
    host_.Finished({"", SuccessText, BoxIcon::Information});
}

std::string TReconcileJob::DoneSummary() const {
    int stores = 0, storesDone = 0, removals = 0, removalsDone = 0;
    std::string settings, vardex;
    for (size_t i = 0; i < plan_.size(); ++i) {
        const Action& action = plan_[i];
        switch (action.kind) {
            case ActionKind::Store:
                ++stores;
                storesDone += action.done;
                break;
            case ActionKind::Remove:
                // A key held in several slots has one removal each, side by side: it
                // counts once, as removed when its last removal is done.
                if (i + 1 < plan_.size() && plan_[i + 1].kind == ActionKind::Remove &&
                    plan_[i + 1].item == action.item)
                    break;
                ++removals;
                removalsDone += action.done;
                break;
            case ActionKind::Settings:
                settings = action.done ? "записаны" : "не записаны";
                break;
            case ActionKind::Vardex:
                vardex = action.done ? "записан" : "не записан";
                break;
        }
    }
    std::string text = "Записано карт(ключей): " + std::to_string(storesDone) + " из " +
                       std::to_string(stores) + ", удалено: " + std::to_string(removalsDone) +
                       " из " + std::to_string(removals);
    if (!settings.empty())
        text += ", настройки " + settings;
    if (!vardex.empty())
        text += ", вардекс " + vardex;
    if (!adopted_.empty())
        text += ", добавлено в файл: " + std::to_string(adopted_.size());
    return text;
}

void TReconcileJob::FailApply(const std::string& description) {
    lock_.Release();
    phase_ = ReconcilePhase::Failed;
    CanClose = true;
    host_.ClosePort();
    const std::string summary = DoneSummary();
    Journal(intent_, options_.databasePath, summary, description);
    host_.AddLine("Ошибка при записи в контроллер!");
    host_.AddLine(description);
    host_.AddLine(summary);
    host_.AddLine("Повторный запуск сверки допишет остальное.");
    host_.Failed(
        {"Ошибка при сверке с контроллером", description + "\r" + summary, BoxIcon::Error});
}

void TReconcileJob::StopApply() {
    lock_.Release();
    phase_ = ReconcilePhase::Cancelled;
    CanClose = true;
    host_.AddLine("");
    host_.AddLine("Сверка прервана.");
    host_.AddLine(DoneSummary());
    Journal(intent_, options_.databasePath, DoneSummary(), "Сверка прервана");
    host_.CloseJob(JobEnd::Cancel);
}
