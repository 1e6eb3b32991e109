#include "core/jobs/check_job.h"

#include <algorithm>
#include <numeric>

#include "core/keys/database.h"

TCheckJob::TCheckJob(TJobHost& host, TCheckKeys& keys, int typeFormat,
                     const std::vector<KeyCode>& known)
    : TJob(host), keys_(keys), typeFormat_(typeFormat), known_(known.begin(), known.end()) {
    host_.SetProgressMax(1);
    host_.SetProgressPosition(0);
}

void TCheckJob::Start() {
    host_.PostStep(0);
}

void TCheckJob::OnStep(int step) {
    if (TakeCancel())
        return;
    if (step == 0) {
        Step = 0;
        host_.SendRequest(MakeReadKeyCount());
    } else if (step == 1) {
        if (KeyIndex >= KeyCount) {
            Finish();
            return;
        }
        Step = 1;
        host_.SendRequest(MakeReadKey(static_cast<std::uint16_t>(KeyIndex)));
        ++KeyIndex;
    }
}

void TCheckJob::OnCompletion(int result, const FrameHeader&, const FrameData& replyData) {
    if (TakeCancel())
        return;
    if (!IsSuccess(result)) {
        Fail(result);
        return;
    }
    if (Step == 0) {
        KeyCount = DecodeKeyCount(replyData);
        host_.SetProgressMax(KeyCount);
    } else {
        host_.SetProgressPosition(KeyIndex);  // the key just read is the KeyIndex-th
        KeyCode code = DecodeKey(replyData);
        // Each missing code is listed once, however many slots hold it.
        if (known_.insert(code).second) {
            missing_.push_back({code, Format(typeFormat_, code)});
            keys_.OfferMissingKey(code, missing_.back().text);
        }
    }
    host_.ContinueAfterPause(1);
}

void TCheckJob::Finish() {
    CanClose = true;
    if (!missing_.empty()) {
        host_.Finished({"", "В контроллере обнаружены карты(ключи), отсутствующие в базе данных!",
                        BoxIcon::Information});
    } else {
        host_.Finished({"",
                        "В контроллере не обнаружены карты(ключи), отсутствующие в базе данных!",
                        BoxIcon::Information});
        host_.CloseJob(JobEnd::Cancel);
    }
}

void TCheckJob::Fail(int result) {
    CanClose = true;
    host_.Failed(
        {"Ошибка", "Ошибка получения карт(ключей)\r" + ResultText(result), BoxIcon::Error});
}

void TCheckJob::SetTicked(KeyCode code, bool ticked) {
    for (auto& key : missing_) {
        if (key.code == code)
            key.ticked = ticked;
    }
}

bool TCheckJob::AnyToAdd() const {
    return std::any_of(missing_.begin(), missing_.end(),
                       [](const MissingKey& key) { return key.ticked && !key.added; });
}

int TCheckJob::Add() {
    if (!host_.AskYesNo(
            {"Добавление карт(ключей)",
             "Вы действительно хотите добавить в базу данных отсутствующие карты(ключи)?",
             BoxIcon::Question}))
        return 0;
    std::vector<size_t> order(missing_.size());
    std::iota(order.begin(), order.end(), size_t{0});
    std::stable_sort(order.begin(), order.end(),
                     [this](size_t a, size_t b) { return missing_[a].text < missing_[b].text; });
    // The file as it is once the question is answered, held until the keys are in it.
    DbLock lock;
    std::unordered_set<KeyCode> inFileNow;
    if (!path_.empty()) {
        DbModel now;
        DbResult r = LockDbForWrite(path_, lock);
        if (r)
            r = LoadDbFile(path_, now);
        if (!r) {
            host_.Failed({"Ошибка", r.error, BoxIcon::Error});
            return 0;
        }
        for (const DbKey& key : now.keys)
            inFileNow.insert(key.code);
    }
    TCheckKeys::Keys batch;
    std::vector<size_t> taken, there;
    for (size_t i : order) {
        const MissingKey& key = missing_[i];
        if (!key.ticked || key.added)
            continue;
        if (inFileNow.count(key.code)) {
            there.push_back(i);  // added meanwhile by another writer
            continue;
        }
        batch.emplace_back(key.code, DefaultDescription(key.code));
        taken.push_back(i);
    }
    if (!batch.empty() && !keys_.AddMissingKeys(batch))
        return 0;
    for (size_t i : taken)
        missing_[i].added = true;
    for (size_t i : there)
        missing_[i].added = true;
    host_.CloseJob(JobEnd::Ok);
    return static_cast<int>(batch.size());
}
