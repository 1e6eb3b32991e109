#include "core/jobs/key_edit_job.h"

#include "core/keys/database.h"
#include "core/keys/journaled.h"

std::string AddingKeyText(int typeFormat, KeyCode code) {
    return "Добавление карты(ключа) " + Format(typeFormat, code);
}

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
    host_.PostStep(edit_.kind == KeyEdit::Kind::Add ? StoreNew : RemoveOld);
}

void TKeyEditJob::OnStep(int step) {
    if (TakeCancel())
        return;
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
    const DbResult r = store ? journaled::SaveKey(edit_.path, code, edit_.description)
                             : journaled::RemoveKey(edit_.path, code);
    if (r)
        return true;
    FileFailed = true;
    CanClose = true;
    host_.Failed({"Ошибка", r.error, BoxIcon::Error});
    return false;
}

void TKeyEditJob::OnCompletion(int result, const FrameHeader&, const FrameData&) {
    if (!IsSuccess(result)) {
        Result = result;
        CanClose = true;
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
            if (TakeCancel())
                return;
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

void TKeyEditJob::End() {
    CanClose = true;
    host_.ClosePort();
    host_.Finished({"", "", BoxIcon::Information});
}
