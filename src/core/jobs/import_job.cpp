#include "core/jobs/import_job.h"

#include <algorithm>
#include <unordered_map>

#include "core/keys/cp1251.h"
#include "core/keys/journal.h"
#include "core/keys/journaled.h"

namespace {

constexpr int kPrepareStep = 0;
constexpr int kKeyStep = 1;
// A batch is written once its oldest key has waited this long: with a request and a
// pause per key, every accepted key is in the file within about a second.
constexpr auto kBatchAge = std::chrono::milliseconds(500);
const char* const FailCaption = "Ошибка при импорте";
// Keys under one intent in the journal: a job killed half-way names at most these.
constexpr int kBatchKeys = 50;

}  // namespace

std::string ImportQuestion(const ImportPlan& plan) {
    std::string question =
        "Добавить в контроллер и в файл карт(ключей): " + std::to_string(plan.newKeys.size());
    if (!plan.updates.empty())
        question += "\rИзменить в файле описаний: " + std::to_string(plan.updates.size());
    return question + "\rПродолжить?";
}

TImportJob::TImportJob(TJobHost& host, ImportPlan plan, Clock clock)
    : TJob(host), plan_(std::move(plan)), clock_(std::move(clock)) {
    if (!clock_)
        clock_ = [] { return std::chrono::steady_clock::now(); };
    host_.SetProgressMax(static_cast<int>(plan_.newKeys.size()));
    host_.SetProgressPosition(0);
}

void TImportJob::Start() {
    host_.PostStep(kPrepareStep);
}

std::string TImportJob::Summary() const {
    std::string s = "Добавлено карт(ключей): " + std::to_string(Added) + " из " +
                    std::to_string(plan_.newKeys.size());
    if (!plan_.updates.empty())
        s += "\rИзменено описаний: " + std::to_string(Updated) + " из " +
             std::to_string(plan_.updates.size());
    if (Stored > Added)
        s += "\rВ контроллере, но не в файле: " + std::to_string(Stored - Added);
    return s;
}

void TImportJob::OnStep(int step) {
    if (stopped_)
        return;  // the pause after the last accepted key, once the job had failed
    if (CancelRequested) {
        Cancelled = true;
        stopped_ = true;
        std::string fileError;
        if (!Flush(fileError))
            Error = fileError;
        End();
        CanClose = true;
        host_.ClosePort();
        host_.CloseJob(JobEnd::Cancel);
        return;
    }
    if (step == kPrepareStep) {
        // A file that cannot take the keys stops the job before the controller hears of it;
        // its lock is held to the job's end, so another open does not take the import's
        // batch under way for one cut short, and no other writer comes between.
        if (DbResult r = LockDbForWrite(plan_.path, lock_); !r) {
            Stop(r.error);
            return;
        }
    }
    if (step == kPrepareStep && !plan_.updates.empty()) {
        // The file before the controller: a file that cannot be written stops the job
        // before any key is sent.
        host_.AddLine("Изменение описаний в файле ... ");
        const DbModel before = journaled::Before(plan_.path);
        DbResult r = SaveKeys(plan_.path, plan_.updates);
        if (!r) {
            Stop(r.error);
            return;
        }
        JournalUpdates(before);
        Updated = static_cast<int>(plan_.updates.size());
        host_.AppendToLastLine("OK!");
        if (Written)
            Written({}, plan_.updates);
    }
    if (next_ >= plan_.newKeys.size()) {
        std::string fileError;
        if (!Flush(fileError)) {
            Stop(fileError);
            return;
        }
        stopped_ = true;
        End();
        CanClose = true;
        host_.ClosePort();
        host_.Finished({"", "Импорт завершён\r" + Summary(), BoxIcon::Information});
        return;
    }
    const DbKey& key = plan_.newKeys[next_];
    if (!batch_.Open()) {
        // No intent in the journal, no request: a batch cut short must leave its trace.
        const size_t count = std::min(plan_.newKeys.size() - next_, size_t{kBatchKeys});
        batchEntry_ = {journal::kImport,
                       journal::KeyField(plan_.typeFormat, key.code),
                       "",
                       "",
                       journaled::KeyCount(count),
                       ""};
        batchStored_ = 0;
        if (const std::string error = batch_.Begin(plan_.path, batchEntry_); !error.empty()) {
            Stop(error);
            return;
        }
    }
    host_.AddLine("Добавление карты(ключа) " + Format(plan_.typeFormat, key.code) + " ... ");
    host_.SendRequest(MakeWriteKey(key.code, true, false, KeyFiller::KeyDialog));
}

void TImportJob::OnCompletion(int result, const FrameHeader&, const FrameData&) {
    if (stopped_)
        return;
    if (!IsSuccess(result)) {
        std::string text = "Описание ошибки: " + ResultText(result);
        std::string fileError;
        if (!Flush(fileError))
            text += "\r" + fileError;
        Stop(text);
        return;
    }
    host_.AppendToLastLine("OK!");
    if (pending_.empty())
        pendingSince_ = clock_();
    pending_.push_back(plan_.newKeys[next_++]);
    ++Stored;
    ++batchStored_;
    host_.SetProgressPosition(Stored);
    if (batchStored_ >= kBatchKeys) {
        // The batch is whole: its keys into the file, then its outcome.
        std::string fileError;
        if (!Flush(fileError)) {
            Stop(fileError);
            return;
        }
        EndBatch();
    }
    // The pause runs while the file is written, so the write costs the import no time
    // unless it takes longer than the pause.
    host_.ContinueAfterPause(kKeyStep);
    if (clock_() - pendingSince_ >= kBatchAge) {
        std::string fileError;
        if (!Flush(fileError))
            Stop(fileError);  // the controller holds keys the file could not take
    }
}

bool TImportJob::Flush(std::string& error) {
    if (pending_.empty())
        return true;
    DbResult r = SaveKeys(plan_.path, pending_);
    if (!r) {
        error = r.error;
        return false;
    }
    Added += static_cast<int>(pending_.size());
    std::vector<DbKey> written;
    written.swap(pending_);
    if (Written)
        Written(written, {});
    return true;
}

void TImportJob::JournalUpdates(const DbModel& before) {
    // The descriptions replaced stay readable in the journal, a line per key.
    std::unordered_map<KeyCode, const std::string*> old;
    old.reserve(before.keys.size() * 2);
    for (const DbKey& key : before.keys)
        old.emplace(key.code, &key.description);  // the first entry, as the list finds it
    std::vector<journal::Entry> lines;
    lines.reserve(plan_.updates.size());
    for (const DbKey& key : plan_.updates) {
        const auto it = old.find(key.code);
        const std::string now = Cp1251ToUtf8(key.description);
        lines.push_back({journal::kKeyDescription, journal::KeyField(plan_.typeFormat, key.code),
                         now, it == old.end() ? std::string() : Cp1251ToUtf8(*it->second), now,
                         journal::kOk});
    }
    journal::Record(plan_.path, lines);
}

void TImportJob::EndBatch() {
    journal::Entry entry = batchEntry_;
    entry.newValue = journaled::KeyCount(static_cast<size_t>(batchStored_));
    entry.outcome = journal::kOk;
    batch_.End(entry);
}

void TImportJob::End() {
    std::string outcome = Error.empty() ? std::string(journal::kOk) : Error;
    if (Cancelled && Error.empty())
        outcome = "прервано";
    if (!pending_.empty())
        outcome = "Записано в контроллер, но не в файл: " + outcome;
    // The import's summary is the outcome of its last batch, or a line of its own when no
    // batch is open (none begun, or the last one whole).
    journal::Entry summary{journal::kImport,
                           "",
                           "",
                           "",
                           journaled::KeyCount(static_cast<std::size_t>(Added)) +
                               ", описаний: " + std::to_string(Updated),
                           outcome};
    if (batch_.Open()) {
        summary.key = batchEntry_.key;
        batch_.End(summary, outcome == journal::kOk);
    } else {
        journal::Record(plan_.path, summary);
    }
    host_.AddLine("");
    host_.AddLine(Summary());
    lock_.Release();
}

void TImportJob::Stop(const std::string& text) {
    stopped_ = true;
    Error = text;
    host_.AddLine(FailCaption);
    host_.AddLine(text);
    End();
    CanClose = true;
    host_.ClosePort();
    host_.Failed({FailCaption, text + "\r" + Summary(), BoxIcon::Error});
}
