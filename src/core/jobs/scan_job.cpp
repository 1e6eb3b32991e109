#include "core/jobs/scan_job.h"

#include <cstdio>

#include "core/link/line.h"

namespace {

std::string Hex(const std::uint8_t* bytes, int count) {
    std::string text;
    char part[4];
    for (int i = 0; i < count; ++i) {
        std::snprintf(part, sizeof part, i == 0 ? "%02X" : " %02X", bytes[i]);
        text += part;
    }
    return text;
}

const char* const SharedAddress = "два контроллера с одним адресом (их ответы накладываются)";

}  // namespace

std::string ScanEntry::Text() const {
    std::string text = "Адрес " + std::to_string(address) + ": ";
    if (!doubtful)
        return text + "контроллер, карт(ключей): " + std::to_string(keyCount);
    return text + "сомнительный ответ (" + seen + "); вероятная причина: " + cause;
}

TScanJob::TScanJob(TJobHost& host, TScanSink* sink, const ScanSettings& settings)
    : TJob(host), sink_(sink), settings_(settings), address_(settings.from) {}

int TScanJob::ScheduleMs() {
    // DTR off and the address byte (4 + 4 ms), the header (10 ms), the wait before the
    // reply (116 ms); the bytes themselves go out within those waits.
    return 2 * WaitCharsMs(2) + WaitCharsMs(7) + WaitCharsMs(100);
}

int TScanJob::SilentAddressMs(int timeoutMs) {
    return ScheduleMs() + timeoutMs;
}

int TScanJob::MsLeft() const {
    return (Total() - done_) * SilentAddressMs(settings_.timeoutMs);
}

void TScanJob::Start() {
    host_.AddLine("Поиск контроллеров на линии, адреса " + std::to_string(settings_.from) + "–" +
                  std::to_string(settings_.to));
    host_.SetProgressMax(Total());
    host_.SetProgressPosition(0);
    host_.PostStep(0);
}

void TScanJob::OnStep(int) {
    if (CancelRequested) {
        stopped_ = true;
        End();
        return;
    }
    confirming_ = false;
    Send(CheckLink);
}

void TScanJob::Send(CommandCode command) {
    RequestFrame request = command == CheckLink ? MakeCheckLink() : MakeReadKeyCount();
    request.header[0] = static_cast<std::uint8_t>(address_);
    // One attempt, a short wait, no quiet wait after a time-out: an empty address costs
    // only its schedule and the time-out.
    request.options.attempts = 1;
    request.options.replyTimeoutMs = settings_.timeoutMs;
    request.options.quietAfterTimeOut = false;
    request.options.reportStrayBytes = true;
    host_.SendRequest(request);
}

void TScanJob::OnCompletion(int result, const FrameHeader& reply, const FrameData& replyData) {
    (void)replyData;
    if (result == WriteFailed) {
        // The port itself failed: no address can be judged any more.
        CanClose = true;
        host_.ClosePort();
        host_.AddLine("Ошибка при поиске контроллеров: " + ResultText(result));
        host_.Failed({"Ошибка при поиске контроллеров", ResultText(result), BoxIcon::Error});
        return;
    }
    ScanEntry entry;
    entry.address = address_;
    entry.doubtful = true;
    if (result == StrayBytes) {
        entry.seen = "байты на линии, когда ответа не ждали: " + Hex(reply.data(), 6);
        if (strayAgain_) {
            // Bytes again before the same request: noise, and this address cannot be judged.
            entry.cause = "помеха на линии";
            Judge(entry);
            return;
        }
        // Bytes came when no address was due, and this request goes again. After an
        // address listed as doubtful they are the rest of its garbled answer, already told;
        // otherwise most likely a late reply of the address before, listed against it.
        strayAgain_ = true;
        if (!previousDoubtful_) {
            entry.address = previous_ >= 0 ? previous_ : address_;
            entry.cause =
                "запоздалый ответ контроллера (увеличьте время ожидания) или помеха "
                "на линии";
            Record(entry);
        }
        Send(confirming_ ? ReadKeyCount : CheckLink);
        return;
    }
    const bool answered = result == Ok || result == NotRun;
    if (!confirming_) {
        if (result == TimedOut) {
            Next();  // nobody there
            return;
        }
        if (answered && reply[0] == address_) {
            confirming_ = true;
            Send(ReadKeyCount);
            return;
        }
        entry.seen = "проверка связи: получено " + Hex(reply.data(), 6);
        entry.cause = answered ? "ответ с адресом " + std::to_string(reply[0]) +
                                     ": запоздалый ответ другого контроллера или помеха"
                               : SharedAddress;
        Judge(entry);
        return;
    }
    if (answered && reply[0] == address_ && reply[2] == 0 && reply[4] == 2) {
        entry.doubtful = false;
        entry.keyCount = DecodeKeyCount(replyData);
        Judge(entry);
        return;
    }
    if (result == TimedOut) {
        entry.seen = "ответ на проверку связи, но не на запрос числа карт(ключей)";
        entry.cause = "запоздалый ответ предыдущего адреса или помеха на линии";
    } else if (!answered) {
        entry.seen = "запрос числа карт(ключей): получено " + Hex(reply.data(), 6);
        entry.cause = SharedAddress;
    } else {
        entry.seen = "запрос числа карт(ключей): получено " + Hex(reply.data(), 6);
        entry.cause = reply[0] != address_ ? "ответ с адресом " + std::to_string(reply[0])
                      : reply[2] != 0      ? "контроллер отказал в запросе"
                                           : "ответ неверной длины";
    }
    Judge(entry);
}

void TScanJob::Record(const ScanEntry& entry) {
    entries_.push_back(entry);
    // A sink shows the answers itself (the window's list, the command line's output);
    // without one they go into the log.
    if (sink_)
        sink_->ScanAnswered(entry);
    else
        host_.AddLine(entry.Text());
}

void TScanJob::Judge(const ScanEntry& entry) {
    Record(entry);
    Next(entry.doubtful);
}

void TScanJob::Next(bool doubtful) {
    previous_ = address_;
    previousDoubtful_ = doubtful;
    confirming_ = false;
    strayAgain_ = false;
    ++done_;
    host_.SetProgressPosition(done_);
    if (address_ >= settings_.to) {
        complete_ = true;
        End();
        return;
    }
    ++address_;
    host_.PostStep(address_);
}

void TScanJob::End() {
    CanClose = true;
    host_.ClosePort();
    int found = 0, doubtful = 0;
    for (const ScanEntry& e : entries_)
        (e.doubtful ? doubtful : found) += 1;
    std::string text = stopped_ ? "Поиск остановлен. " : "Поиск завершён. ";
    if (entries_.empty()) {
        text += "Контроллеры не найдены";
    } else {
        text += "Найдено контроллеров: " + std::to_string(found);
        if (doubtful > 0)
            text += ", сомнительных ответов: " + std::to_string(doubtful);
    }
    host_.AddLine("");
    host_.AddLine(text);
    host_.Finished({"", text, BoxIcon::Information});
}
