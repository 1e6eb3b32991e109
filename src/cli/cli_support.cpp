#include "cli/cli_support.h"
#include "core/keys/cp1251.h"
#include "core/keys/key_number.h"

#include <fcntl.h>
#include <pthread.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <optional>

#include "core/jobs/keys_guard.h"
#include "core/keys/journaled.h"

CliLink::CliLink()
    : commands_(std::make_unique<TCommands>(port_)),
      addressed_(std::make_unique<TAddressedRequester>(*commands_)) {}

CliLink::~CliLink() {
    commands_.reset();
    port_.Close();
}

bool CliLink::Open(const CliArgs& args, const DbModel* file) {
    int address = 0;
    if (args.address >= 0) {
        address = args.address;
    } else if (file) {
        if (const std::string bad = AddressOutOfRangeText(*file); !bad.empty()) {
            std::fprintf(stderr, "%s (или укажите --address)\n", bad.c_str());
            return false;
        }
        address = file->Address;
    }
    if (args.traceFile != nullptr) {
        std::FILE* out = args.traceFile;
        trace_ = std::make_unique<TLineTrace>(port_, [out](const std::string& line) {
            std::fputs(line.c_str(), out);
            std::fflush(out);
        });
        commands_ = std::make_unique<TCommands>(*trace_, trace_.get());
    }
    addressed_ =
        std::make_unique<TAddressedRequester>(*commands_, static_cast<std::uint8_t>(address));
    std::string error;
    if (port_.Open(args.port, error)) {
        return true;
    }
    std::string text = CliText(error);
    if (!text.empty() && text.back() != '\n') {
        text += '\n';
    }
    std::fprintf(stderr, "%s\n%s", TSerialPort::OpenErrorCaption(), text.c_str());
    return false;
}

int CliLink::Run(const RequestFrame& request, FrameHeader* reply, FrameData* replyData) {
    std::mutex mutex;
    std::condition_variable done;
    bool finished = false;
    int result = NotRun;
    FrameHeader gotReply{};
    FrameData gotData{};
    addressed_->LoadWith(request.header, request.data, request.options,
                         [&](int code, const FrameHeader& h, const FrameData& data) {
                             std::lock_guard lock(mutex);
                             result = code;
                             gotReply = h;
                             gotData = data;
                             finished = true;
                             done.notify_one();
                         });
    std::unique_lock lock(mutex);
    done.wait(lock, [&] { return finished; });
    if (reply) {
        *reply = gotReply;
    }
    if (replyData) {
        *replyData = gotData;
    }
    return RequestOutcome(result, gotReply);
}

int CliCloseStandardOutput(int status) {
    int err = 0;
    if (std::ferror(stdout))
        err = EIO;  // a write failed earlier; its errno is long gone
    errno = 0;
    if (std::fflush(stdout) != 0 && errno != 0)
        err = errno;
    // Closing is where a file system that reports late (NFS) says the data did not go.
    errno = 0;
    if (std::fclose(stdout) != 0 && errno != EBADF && err == 0)
        err = errno != 0 ? errno : EIO;
    if (err == 0)
        return status;
    std::fprintf(stderr, "Не удалось записать стандартный вывод: %s\n", ErrorText(err).c_str());
    return status == CliOk ? CliFailed : status;
}

int CliReadStandardInput(std::string& bytes, std::size_t maxSize) {
    bytes.clear();
    char buffer[65536];
    for (;;) {
        const ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            const int err = errno;
            bytes.clear();
            return err;
        }
        if (n == 0)
            return 0;
        if (bytes.size() + static_cast<std::size_t>(n) > maxSize) {
            bytes.clear();
            return FileTooLarge;
        }
        bytes.append(buffer, static_cast<std::size_t>(n));
    }
}

CliInterrupts::CliInterrupts() {
    sigemptyset(&set_);
    sigaddset(&set_, SIGINT);
    sigaddset(&set_, SIGTERM);
    sigaddset(&set_, SIGUSR2);  // the command is over: the waiter goes
    pthread_sigmask(SIG_BLOCK, &set_, nullptr);
    waiter_ = std::thread([this] { Wait(); });
}

CliInterrupts::~CliInterrupts() {
    pthread_kill(waiter_.native_handle(), SIGUSR2);
    waiter_.join();
}

void CliInterrupts::Wait() {
    for (;;) {
        int signal = 0;
        if (sigwait(&set_, &signal) != 0 || signal == SIGUSR2)
            return;
        if (signal_.exchange(signal) != 0)
            _exit(128 + signal);  // the second one: at once
        std::fprintf(stderr,
                     "\nОстановка после текущего запроса (ещё раз Ctrl+C — немедленно)...\n");
    }
}

std::string CliText(const std::string& text) {
    std::string out = text;
    for (char& c : out) {
        if (c == '\r') {
            c = '\n';
        }
    }
    return out;
}

std::FILE* CliLogFile(const CliArgs& args) {
    return args.quiet ? nullptr : stderr;
}

void CliLog(const CliArgs& args, const std::string& line) {
    if (std::FILE* log = CliLogFile(args)) {
        std::fprintf(log, "%s\n", CliText(line).c_str());
        std::fflush(log);
    }
}

bool CliDumbTerminal() {
    const char* term = std::getenv("TERM");
    return term == nullptr || *term == '\0' || std::string(term) == "dumb";
}

bool CliFormatOption(const CliArgs& args, int fileFormat, int& typeFormat) {
    if (args.format.empty()) {
        typeFormat = fileFormat;
    } else if (args.format == "ibutton" || args.format == "0") {
        typeFormat = TypeFormatIButton;
    } else if (args.format == "em" || args.format == "1") {
        typeFormat = TypeFormatEmMarine;
    } else {
        std::fprintf(stderr, "Неизвестный формат: %s (ibutton или em)\n", args.format.c_str());
        return false;
    }
    return true;
}

DbResult CliLoadDb(const std::string& path, DbModel& model) {
    DbResult r = LoadDbFile(path, model);
    if (!r.notice.empty()) {
        std::fprintf(stderr, "%s\n", CliText(r.notice).c_str());
    }
    if (r) {
        if (const std::string times = TimesOutOfRangeText(model); !times.empty()) {
            std::fprintf(stderr, "%s\n", times.c_str());
        }
        if (const std::string invalid = InvalidEntriesText(model); !invalid.empty()) {
            std::fprintf(stderr, "%s\n", invalid.c_str());
        }
        if (const std::string cut = journaled::TellInterruptedChanges(path); !cut.empty()) {
            std::fprintf(stderr, "%s: %s\n", journaled::kInterruptedCaption, CliText(cut).c_str());
        }
    }
    return r;
}

bool CliLoadWholeDb(const std::string& path, DbModel& model) {
    const DbResult r = CliLoadDb(path, model);
    if (const std::optional<JobBox> refusal = RefusePartialRead(r)) {
        std::fprintf(stderr, "%s: %s\n", refusal->caption.c_str(), CliText(refusal->text).c_str());
        return false;
    }
    return true;
}

int CliLinkStatus(int result) {
    if (CliLinkSucceeded(result))
        return CliOk;
    if (IsRefusal(result))
        return CliControllerRefused;
    if (result >= WriteFailed && result <= TimedOut)
        return CliLinkBase + result;
    return CliFailed;
}

int CliLinkFailure(int result) {
    if (CliLinkSucceeded(result)) {
        return CliOk;
    }
    std::fprintf(stderr, "%s\n", CliText(ResultText(result)).c_str());
    return CliLinkStatus(result);
}

namespace {

// "да", "д", "yes", "y" are Yes; "нет", "н", "no", "n" are No; anything else asks again.
int Classify(std::string answer) {
    while (!answer.empty() && std::isspace(static_cast<unsigned char>(answer.back()))) {
        answer.pop_back();
    }
    size_t start = 0;
    while (start < answer.size() && std::isspace(static_cast<unsigned char>(answer[start]))) {
        ++start;
    }
    answer = answer.substr(start);
    for (char& c : answer) {
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
    for (const char* yes : {"да", "д", "Да", "ДА", "Д", "yes", "y"}) {
        if (answer == yes) {
            return 1;
        }
    }
    for (const char* no : {"нет", "н", "Нет", "НЕТ", "Н", "no", "n"}) {
        if (answer == no) {
            return 0;
        }
    }
    return -1;
}

}  // namespace

CliAnswer CliAskYesNo(const std::string& caption, const std::string& question) {
    std::FILE* in = nullptr;
    std::FILE* out = nullptr;
    bool own = false;
    int tty = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (tty >= 0) {
        in = fdopen(tty, "r+");
        out = in;
        own = in != nullptr;
        if (!in) {
            ::close(tty);
        }
    }
    if (!in && isatty(STDIN_FILENO)) {
        in = stdin;
        out = stderr;
    }
    if (!in) {
        return CliAnswer::NoTerminal;
    }
    CliAnswer answer = CliAnswer::No;
    std::fprintf(out, "%s\n%s\n", caption.c_str(), CliText(question).c_str());
    for (;;) {
        std::fprintf(out, "Да/Нет? ");
        std::fflush(out);
        char line[256];
        if (!std::fgets(line, sizeof line, in)) {
            answer = CliAnswer::No;  // end of input: nobody said yes
            break;
        }
        const int kind = Classify(line);
        if (kind >= 0) {
            answer = kind ? CliAnswer::Yes : CliAnswer::No;
            break;
        }
    }
    if (own) {
        std::fclose(in);
    }
    return answer;
}

int CliConfirm(const CliArgs& args, const std::string& caption,
               const std::vector<std::string>& questions) {
    if (args.yes) {
        return CliOk;
    }
    for (const std::string& q : questions) {
        switch (CliAskYesNo(caption, q)) {
            case CliAnswer::Yes:
                continue;
            case CliAnswer::No:
                std::fprintf(stderr, "Отменено.\n");
                return CliRefused;
            case CliAnswer::NoTerminal:
                std::fprintf(stderr,
                             "%s: нет терминала, чтобы задать вопрос. Чтобы выполнить команду "
                             "без вопросов, укажите --yes.\n",
                             caption.c_str());
                return CliRefused;
        }
    }
    return CliOk;
}

int CliLockForChange(const std::string& path, DbLock& lock) {
    DbResult r = LockDbForWrite(path, lock);
    if (r)
        return CliOk;
    std::fprintf(stderr, "%s\n", CliText(r.error).c_str());
    return CliRefused;
}

namespace {
void Say(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
}
}  // namespace

bool ParseKeyArgument(int typeFormat, const std::string& text, KeyCode& code) {
    KeyNumber number = ParseKeyNumber(typeFormat, text);
    if (!number) {
        Say("Проверьте правильность ввода номера карты(ключа): \"" + text + "\"\n" +
            CliText(KeyNumberRefusal(typeFormat, number)));
        return false;
    }
    code = number.code;
    return true;
}

bool DescriptionArgument(const std::string& utf8, std::string& cp1251) {
    std::string bad;
    if (!Utf8ToCp1251(utf8, cp1251, &bad)) {
        Say("Символ \"" + bad +
            "\" нельзя сохранить в описании карты(ключа): файл базы хранит текст в кодировке "
            "Windows-1251");
        return false;
    }
    if (HasControlCharacters(cp1251)) {
        Say(DescriptionControlError);
        return false;
    }
    if (static_cast<int>(cp1251.size()) > MaxDescriptionLength) {
        Say("Описание карты(ключа) длиннее " + std::to_string(MaxDescriptionLength) + " символов");
        return false;
    }
    return true;
}
