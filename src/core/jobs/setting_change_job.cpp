#include "core/jobs/setting_change_job.h"

#include "core/keys/journaled.h"

std::string SettingChangeText(const SettingChange& change) {
    switch (change.kind) {
        case SettingChange::Kind::SetVardex:
            return "Установка вардекса";
        case SettingChange::Kind::ResetVardex:
            return "Сброс вардекса";
        case SettingChange::Kind::Times:
            break;
    }
    return change.timeOpenChanged ? "Сохранение времени открывания замка"
                                  : "Сохранение времени повторного считывания карты(ключа)";
}

journal::Entry TSettingChangeJob::Entry(const DbModel& before) const {
    switch (change_.kind) {
        case SettingChange::Kind::SetVardex:
            return journaled::VardexSet(before, change_.vardex);
        case SettingChange::Kind::ResetVardex:
            return journaled::VardexSet(before, 0);
        case SettingChange::Kind::Times:
            break;
    }
    return journaled::TimesSet(before, change_.timeOpen, change_.retryRead);
}

TSettingChangeJob::TSettingChangeJob(TJobHost& host, SettingChange change)
    : TJob(host), change_(std::move(change)) {
    host_.SetProgressMax(1);
    host_.SetProgressPosition(0);
}

void TSettingChangeJob::Start() {
    host_.PostStep(0);
}

void TSettingChangeJob::OnStep(int) {
    if (TakeCancel())
        return;
    // No intent in the journal, no request: a change cut short must leave its trace.
    asked_ = Entry(journaled::Before(change_.path));
    if (const std::string error = intent_.Begin(change_.path, asked_); !error.empty()) {
        CanClose = true;
        FileFailed = true;
        host_.Failed({"Ошибка", error, BoxIcon::Error});
        return;
    }
    host_.AddLine(SettingChangeText(change_) + " ... ");
    switch (change_.kind) {
        case SettingChange::Kind::SetVardex:
            host_.SendRequest(MakeWriteKey(change_.vardex, true, true, KeyFiller::KeyDialog));
            return;
        case SettingChange::Kind::ResetVardex:
            host_.SendRequest(MakeWriteKey(change_.vardex, false, true, KeyFiller::KeyDialog));
            return;
        case SettingChange::Kind::Times:
            host_.SendRequest(MakeWriteSettings(change_.timeOpen, change_.retryRead));
            return;
    }
}

void TSettingChangeJob::OnCompletion(int result, const FrameHeader&, const FrameData&) {
    CanClose = true;
    if (!IsSuccess(result)) {
        Result = result;
        // Nothing changed, but the journal says what was asked and why it did not happen.
        journal::Entry refused = asked_;
        refused.outcome = ResultText(result);
        intent_.End(refused, false);
        host_.Failed({"Ошибка связи с контроллером", ResultText(result), BoxIcon::Error});
        return;
    }
    host_.AppendToLastLine("OK!");
    host_.SetProgressPosition(1);
    InController = true;
    const DbResult r =
        change_.kind == SettingChange::Kind::Times
            ? ::SaveSettings(change_.path, change_.timeOpen, change_.retryRead, change_.typeFormat)
            : ::SaveVardex(change_.path,
                           change_.kind == SettingChange::Kind::SetVardex ? change_.vardex : 0);
    journal::Entry outcome = asked_;
    outcome.outcome = journaled::Outcome(r);
    intent_.End(outcome, r.ok);
    if (!r) {
        FileFailed = true;
        host_.Failed({"Ошибка", r.error, BoxIcon::Error});
        return;
    }
    InFile = true;
    host_.ClosePort();
    host_.Finished({"", "", BoxIcon::Information});
}
