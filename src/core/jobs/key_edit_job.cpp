#include "core/jobs/key_edit_job.h"

#include "core/keys/database.h"
#include "core/keys/journaled.h"

std::string AddingKeyText(int typeFormat, KeyCode code) {
    return "Добавление карты(ключа) " + Format(typeFormat, code);
}

namespace {

// The controller took the change and the file did not: the door already obeys it.
std::string InControllerOnly(const std::string& error) {
    return "Карта(ключ) записана в контроллер, но не в файл базы: " + error;
}
std::string GoneFromControllerOnly(const std::string& error) {
    return "Карта(ключ) удалена из контроллера, но осталась в файле базы: " + error;
}

const char* const Interrupted = "Прервано";

}  // namespace

std::string RemovingKeyText(int typeFormat, KeyCode code) {
    return "Удаление карты(ключа) " + Format(typeFormat, code);
}

TKeyEditJob::TKeyEditJob(TJobHost& host, KeyEdit edit) : TJob(host), edit_(std::move(edit)) {
    host_.SetProgressMax(edit_.kind == KeyEdit::Kind::Change ? 2 : 1);
    host_.SetProgressPosition(0);
}

bool TKeyEditJob::Complete() const {
    switch (edit_.kind) {
        case KeyEdit::Kind::Add:
            return NewInController && NewInFile;
        case KeyEdit::Kind::Remove:
            return OldGoneFromController && OldGoneFromFile;
        case KeyEdit::Kind::Change:
            break;
    }
    return OldGoneFromController && OldGoneFromFile && NewInController && NewInFile;
}

void TKeyEditJob::Start() {
    const DbModel before = journaled::Before(edit_.path);
    switch (edit_.kind) {
        case KeyEdit::Kind::Add:
            asked_ = journaled::KeyAdded(before, edit_.newCode, edit_.description);
            break;
        case KeyEdit::Kind::Remove:
            asked_ = journaled::KeyRemoved(before, edit_.oldCode);
            break;
        case KeyEdit::Kind::Change:
            removed_ = journaled::KeyRemoved(before, edit_.oldCode);
            oldDescription_ = removed_.description;
            asked_ =
                journaled::KeyRenumbered(before, edit_.oldCode, edit_.newCode, edit_.description);
            break;
    }
    // No intent in the journal, no request: a change cut short must leave its trace.
    if (const std::string error = intent_.Begin(edit_.path, asked_); !error.empty()) {
        FileFailed = true;
        CanClose = true;
        host_.Failed({"Ошибка", error, BoxIcon::Error});
        return;
    }
    host_.PostStep(edit_.kind == KeyEdit::Kind::Add ? StoreNew : RemoveOld);
}

void TKeyEditJob::OnStep(int step) {
    if (TakeCancel()) {
        // Before the first request, or between the two halves of a number change: the
        // intent gets its outcome.
        Journal(Interrupted);
        return;
    }
    step_ = step;
    if (step == RemoveOld) {
        host_.AddLine(RemovingKeyText(edit_.typeFormat, edit_.oldCode) + " ... ");
        host_.SendRequest(MakeWriteKey(edit_.oldCode, false, false, KeyFiller::KeyDialog));
    } else {
        host_.AddLine(AddingKeyText(edit_.typeFormat, edit_.newCode) + " ... ");
        host_.SendRequest(MakeWriteKey(edit_.newCode, true, false, KeyFiller::KeyDialog));
    }
}

bool TKeyEditJob::WriteFile(bool store, KeyCode code) {
    const DbResult r =
        store ? ::SaveKey(edit_.path, code, edit_.description) : ::RemoveKey(edit_.path, code);
    if (r)
        return true;
    FileFailed = true;
    CanClose = true;
    Journal(r.error);
    host_.Failed({"Ошибка", r.error, BoxIcon::Error});
    return false;
}

void TKeyEditJob::OnCompletion(int result, const FrameHeader&, const FrameData&) {
    if (!IsSuccess(result)) {
        Result = result;
        CanClose = true;
        Journal(ResultText(result));
        host_.Failed({"Ошибка связи с контроллером", ResultText(result), BoxIcon::Error});
        return;
    }
    host_.AppendToLastLine("OK!");
    host_.SetProgressPosition(step_ == StoreNew && edit_.kind == KeyEdit::Kind::Change ? 2 : 1);
    if (step_ == RemoveOld) {
        OldGoneFromController = true;
        if (!WriteFile(false, edit_.oldCode))
            return;
        OldGoneFromFile = true;
        if (edit_.kind == KeyEdit::Kind::Change) {
            // A cancel between the two requests is honoured only here, never inside one.
            if (TakeCancel()) {
                Journal(Interrupted);
                return;
            }
            host_.ContinueAfterPause(StoreNew);
            return;
        }
        End();
        return;
    }
    NewInController = true;
    if (!WriteFile(true, edit_.newCode))
        return;
    NewInFile = true;
    End();
}

void TKeyEditJob::Journal(const std::string& error) {
    if (Complete()) {
        intent_.End(asked_);
        // A number change may bring a new description too; that is a change of its own.
        if (edit_.kind == KeyEdit::Kind::Change && asked_.description != oldDescription_)
            journal::Record(
                edit_.path,
                {journal::kKeyDescription, journal::KeyField(edit_.typeFormat, edit_.newCode),
                 asked_.description, oldDescription_, asked_.description, journal::kOk});
        return;
    }
    const bool change = edit_.kind == KeyEdit::Kind::Change;
    if (change && OldGoneFromController) {
        journal::Entry removed = removed_;
        if (!OldGoneFromFile)
            removed.outcome = GoneFromControllerOnly(error);
        journal::Record(edit_.path, removed, false);  // the failure is being told
    }
    std::string outcome = error;
    if (NewInController)
        outcome = InControllerOnly(error);
    else if (!change && OldGoneFromController)
        outcome = GoneFromControllerOnly(error);
    journal::Entry refused = asked_;
    refused.outcome = outcome;
    intent_.End(refused, false);  // the failure is being told
}

void TKeyEditJob::End() {
    Journal();
    CanClose = true;
    host_.ClosePort();
    host_.Finished({"", "", BoxIcon::Information});
}
