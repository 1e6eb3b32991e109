// vardex2-cli: reading a key at the reader and editing the key list of a database
// file. Every change goes to the controller first and to the file second, in the
// same order as the program's dialogs; everything that can be refused without the
// controller is refused before the port is opened.
#include <pthread.h>

#include <csignal>
#include <cstdio>
#include <memory>
#include <string>
#include <thread>

#include "cli/cli_command.h"
#include "cli/cli_support.h"
#include "core/jobs/enrol_job.h"
#include "core/jobs/job_host.h"
#include "core/jobs/key_edit_job.h"
#include "core/jobs/reader_poll_job.h"
#include "core/jobs/setting_change_job.h"
#include "core/keys/cp1251.h"
#include "core/keys/database.h"
#include "core/keys/journaled.h"
#include "core/keys/key_code.h"
#include "core/keys/key_number.h"
#include "core/link/command_set.h"

namespace {

constexpr int CliInterrupted = 128 + SIGINT;

// Blocks Ctrl+C and its kin in the calling thread before any other thread is made, so
// that the worker never sees them and only the session's waiter takes them.
struct BlockedSignals {
    BlockedSignals() {
        sigemptyset(&set);
        sigaddset(&set, SIGINT);
        sigaddset(&set, SIGTERM);
        sigaddset(&set, SIGUSR2);  // the command is over
        pthread_sigmask(SIG_BLOCK, &set, nullptr);
    }
    sigset_t set{};
};

// Reading a presented key: the reader poll with its link check first runs on one
// event loop of the calling thread, so that Ctrl+C ends the wait at once wherever it
// is: the poll stops, the port closes (the worker's wait wakes and its request fails),
// and that late completion is drained into nothing before the worker is stopped.
class ReaderSession {
  public:
    ReaderSession() {
        waiter_ = std::thread([this] { WaitForSignal(); });
    }

    ~ReaderSession() {
        pthread_kill(waiter_.native_handle(), SIGUSR2);
        waiter_.join();
        link_.Port().Close();
        loop_.Drain();
    }

    bool Open(const CliArgs& args, const DbModel* file) {
        log_ = CliLogFile(args);
        return link_.Open(args, file);
    }

    int ReadPresentedKey(KeyCode& code) {
        TRequester& worker = link_.Commands();
        bool read = false;
        bool failed = false;
        int result = NotRun;
        {
            PollHost host(loop_, worker);
            TReaderPollJob job(host);
            job.CheckLinkFirst = true;
            host.Attach(job);
            job.KeyRead = [&](KeyCode key) {
                code = key;
                read = true;
            };
            job_ = &job;
            job.Start();
            loop_.Run([&] { return read || host.failed || interrupted_; });
            job.Stop();
            job_ = nullptr;
            if (interrupted_)
                link_.Port().Close();
            failed = host.failed.has_value();
            result = job.Result;
        }  // a completion still in flight is drained here, into nothing
        if (interrupted_)
            return Interrupt();
        if (read)
            return CliOk;
        return failed ? CliLinkStatus(result) : CliFailed;
    }

    // Enrolment until Ctrl+C: each new key presented goes to the controller, then the
    // file. Ctrl+C is the way to end it; a store under way is let finish first, so the
    // key it sends is in the file too. Returns the exit status.
    int Enrol(const std::string& path, int typeFormat, const std::vector<DbKey>& known,
              const std::string& templateCp1251) {
        TRequester& worker = link_.Commands();
        int status = CliOk;
        int added = 0;
        bool failed = false;
        {
            PollHost host(loop_, worker);
            TEnrolJob job(host, path, typeFormat, known);
            job.Template = templateCp1251;
            job.CheckLinkFirst = true;
            job.Reported = [&](const EnrolEvent& e) {
                const std::string key = Format(typeFormat, e.code);
                if (e.kind == EnrolEvent::Added)
                    std::printf("Добавлена карта(ключ) %s\t%s\n", key.c_str(),
                                EscapeControlCharacters(e.description).c_str());
                else if (e.kind == EnrolEvent::Known)
                    std::printf(
                        "Карта(ключ) с номером %s уже зарегистрирована в базе "
                        "карт(ключей)\t%s\n",
                        key.c_str(), EscapeControlCharacters(e.description).c_str());
                // A key the file could not take ends the run; the failure says so.
                std::fflush(stdout);
            };
            host.Attach(job);
            enrol_ = &job;
            job.Start();
            loop_.Run([&] { return (interrupted_ && !job.Storing()) || host.failed.has_value(); });
            job.Stop();
            enrol_ = nullptr;
            link_.Port().Close();  // a poll still in flight fails into nothing
            added = job.AddedCount;
            failed = host.failed.has_value();
            // The failure's text is on standard error already (PollHost::Failed).
            if (failed && !CliLinkSucceeded(job.LastResult()))
                status = CliLinkStatus(job.LastResult());
        }
        std::fflush(stdout);
        if (log_ != nullptr) {
            std::fprintf(log_, "Добавлено карт(ключей): %d\n", added);
            std::fflush(log_);
        }
        if (failed && status == CliOk)
            status = CliFailed;
        return status;
    }

  private:
    // The poll's failure box goes to standard error.
    class PollHost : public TLoopJobHost {
      public:
        using TLoopJobHost::TLoopJobHost;
        void Failed(const JobBox& box) override {
            TLoopJobHost::Failed(box);
            std::fprintf(stderr, "%s\n%s\n", box.caption.c_str(), CliText(box.text).c_str());
        }
    };

    int Interrupt() {
        std::fprintf(stderr, "Прервано\n");
        return CliInterrupted;
    }

    void WaitForSignal() {
        int signal = 0;
        sigwait(&blocked_.set, &signal);
        if (signal == SIGUSR2)
            return;
        // Announced and handed in at once: it wakes the loop wherever it waits.
        loop_.Expect();
        loop_.Fulfil([this] {
            interrupted_ = true;
            if (job_)
                job_->Stop();
            if (enrol_) {
                // A store under way runs to its end; only a poll is cut short.
                enrol_->Stop();
                if (enrol_->Storing())
                    return;
            }
            link_.Port().Close();  // wakes the worker; its request fails into nothing
        });
    }

    BlockedSignals blocked_;  // before the link: its worker thread inherits the mask
    CliLink link_;
    TJobLoop loop_;
    TReaderPollJob* job_ = nullptr;
    TEnrolJob* enrol_ = nullptr;
    std::thread waiter_;
    bool interrupted_ = false;
    std::FILE* log_ = stderr;
};

const char* const DuplicateText =
    "Карта(ключ) с номером %s уже зарегистрирована в базе карт(ключей)";
const char* const MissingText = "Карта(ключ) с номером %s отсутсвует в базе данных!";

std::string Printf1(const char* pattern, const std::string& value) {
    std::string text(pattern);
    auto at = text.find("%s");
    if (at != std::string::npos)
        text.replace(at, 2, value);
    return text;
}

void Fail(const std::string& text) {
    std::fprintf(stderr, "%s\n", text.c_str());
}

int FindKey(const DbModel& model, KeyCode code) {
    for (size_t i = 0; i < model.keys.size(); ++i) {
        if (model.keys[i].code == code)
            return static_cast<int>(i);
    }
    return -1;
}

// The key's row in the file; -1, said on standard error, when the file lacks it.
int ListedRow(const DbModel& model, int typeFormat, KeyCode code) {
    int row = FindKey(model, code);
    if (row < 0)
        Fail(Printf1(MissingText, Format(typeFormat, code)));
    return row;
}

// True when the file does not hold the key yet; otherwise says so on standard error.
bool NotListed(const DbModel& model, int typeFormat, KeyCode code) {
    if (FindKey(model, code) < 0)
        return true;
    Fail(Printf1(DuplicateText, Format(typeFormat, code)));
    return false;
}

bool LoadFile(const std::string& path, DbModel& model) {
    DbResult loaded = CliLoadDb(path, model);
    if (!loaded) {
        Fail(loaded.error);
        return false;
    }
    if (!loaded.error.empty())  // a bad entry name ended the key list early
        Fail(loaded.error);
    return true;
}

// The file and the display format its keys are read and shown in: CliOk, or the
// command's exit status.
int LoadWithFormat(const CliArgs& args, const std::string& path, DbModel& model, int& typeFormat) {
    if (!LoadFile(path, model))
        return CliFailed;
    if (!CliFormatOption(args, model.TypeFormat, typeFormat))
        return CliUsage;
    return CliOk;
}

bool FileStep(const DbResult& result) {
    if (!result)
        Fail(result.error);
    return result.ok;
}

// The database file is the one positional argument every file command starts with.
bool TakeFile(CliArgs& args, std::string& path) {
    if (args.words.empty() || args.words[0].empty() || args.words[0] == "-") {
        Fail("Не указан файл базы");
        return false;
    }
    path = args.words[0];
    args.words.erase(args.words.begin());
    return true;
}

bool NoMoreWords(const CliArgs& args) {
    if (args.words.empty())
        return true;
    Fail("Лишний аргумент: " + args.words[0]);
    return false;
}

// The file a key command works on, as loaded, and the display format of its keys.
struct KeyFile {
    std::string path;
    DbModel model;
    int typeFormat = 0;
    DbLock lock;  // from before the load until the file is written
};

// FILE, then `least` to `most` more words (otherwise the `usage` line), and the file
// loaded with its format: CliOk, or the command's exit status.
int OpenKeyFile(CliArgs& args, size_t least, size_t most, const char* usage, KeyFile& file) {
    if (!TakeFile(args, file.path))
        return CliUsage;
    if (args.words.size() < least || args.words.size() > most) {
        Fail(usage);
        return CliUsage;
    }
    if (int status = CliLockForChange(file.path, file.lock); status != CliOk)
        return status;
    return LoadWithFormat(args, file.path, file.model, file.typeFormat);
}

// The number of the key presented at the reader.
int ReadAtReader(const CliArgs& args, KeyCode& code, const DbModel* file = nullptr) {
    ReaderSession session;
    if (!session.Open(args, file))
        return CliPortNotOpened;
    std::fprintf(stderr, "ПОДНЕСИТЕ КАРТУ(КЛЮЧ) К СЧИТЫВАТЕЛЮ\n");
    return session.ReadPresentedKey(code);
}

// The key dialog's job: its requests announced on the log as the wait dialog shows them,
// each line written whole (a --trace on standard error never splits one), a failure on
// standard error. Returns the exit status of the job's end.
class KeyEditHost : public TLoopJobHost {
  public:
    KeyEditHost(TJobLoop& loop, TRequester& worker, std::FILE* log)
        : TLoopJobHost(loop, worker), log_(log) {}
    ~KeyEditHost() override { EndLine(); }
    void AddLine(const std::string& line) override {
        EndLine();
        line_ = line;
        open_ = true;
    }
    void AppendToLastLine(const std::string& text) override { line_ += text; }
    void Failed(const JobBox& box) override {
        TLoopJobHost::Failed(box);
        EndLine();
        Fail(CliText(box.text));
    }
    void EndLine() {
        if (open_ && log_ != nullptr) {
            std::fprintf(log_, "%s\n", line_.c_str());
            std::fflush(log_);
        }
        open_ = false;
        line_.clear();
    }

  private:
    std::FILE* log_;
    std::string line_;
    bool open_ = false;
};

// Runs one edit job (a key, the vardex, the times) made from `what` on the port; `keep`
// holds the job afterwards, so the caller can say where things stand.
template <class J, class W>
int RunEditJob(const CliArgs& args, const DbModel& file, std::unique_ptr<J>& keep, const W& what) {
    CliLink link;
    if (!link.Open(args, &file))
        return CliPortNotOpened;
    TJobLoop loop;
    {
        KeyEditHost host(loop, link.Commands(), CliLogFile(args));
        keep = std::make_unique<J>(host, what);
        host.Attach(*keep);
        host.RunJob();
    }  // a completion still in flight is drained here
    link.Port().Close();
    if (!CliLinkSucceeded(keep->Result))
        return CliLinkStatus(keep->Result);
    return keep->FileFailed ? CliFailed : CliOk;
}

int RunKeyEdit(const CliArgs& args, const DbModel& file, TKeyEditJob*& out,
               std::unique_ptr<TKeyEditJob>& keep, const KeyEdit& edit) {
    const int status = RunEditJob(args, file, keep, edit);
    out = keep.get();
    return status;
}

int RunSettingChange(const CliArgs& args, const DbModel& file, const SettingChange& change) {
    std::unique_ptr<TSettingChangeJob> job;
    const int status = RunEditJob(args, file, job, change);
    if (job && job->InController && !job->InFile)
        Fail("Изменение записано в контроллер, но не в файл базы");
    return status;
}

// ---- read-key ------------------------------------------------------------------

int RunReadKey(CliArgs& args) {
    int typeFormat = TypeFormatIButton;
    if (!CliFormatOption(args, TypeFormatIButton, typeFormat))
        return CliUsage;
    if (!NoMoreWords(args))
        return CliUsage;
    KeyCode code = 0;
    if (int status = ReadAtReader(args, code); status != CliOk)
        return status;
    std::printf("%s\n", Format(typeFormat, code).c_str());
    return CliOk;
}

// ---- enroll --------------------------------------------------------------------

int RunEnroll(CliArgs& args) {
    std::string path;
    if (!TakeFile(args, path) || !NoMoreWords(args))
        return CliUsage;
    std::string templ;
    args.TakeOption("--description", templ);
    std::string templCp;
    if (!DescriptionArgument(templ, templCp))
        return CliUsage;
    if (static_cast<int>(TEnrolJob::Expand(templCp, 99999).size()) > MaxDescriptionLength) {
        Fail("Описание карты(ключа) длиннее " + std::to_string(MaxDescriptionLength) + " символов");
        return CliUsage;
    }
    DbModel model;
    int typeFormat = 0;
    // Read whole: the keys after a bad entry would count as new and be stored again.
    if (!CliLoadWholeDb(path, model))
        return CliFailed;
    if (!CliFormatOption(args, model.TypeFormat, typeFormat))
        return CliUsage;
    ReaderSession session;
    if (!session.Open(args, &model))
        return CliPortNotOpened;
    std::fprintf(stderr, "ПОДНЕСИТЕ КАРТУ(КЛЮЧ) К СЧИТЫВАТЕЛЮ (Ctrl+C — закончить)\n");
    return session.Enrol(path, typeFormat, model.keys, templCp);
}

// ---- find ----------------------------------------------------------------------

int RunFind(CliArgs& args) {
    std::string path;
    if (!TakeFile(args, path) || !NoMoreWords(args))
        return CliUsage;
    DbModel model;
    int typeFormat = 0;
    if (int status = LoadWithFormat(args, path, model, typeFormat); status != CliOk)
        return status;
    KeyCode code = 0;
    if (int status = ReadAtReader(args, code, &model); status != CliOk)
        return status;
    int row = ListedRow(model, typeFormat, code);
    if (row < 0)
        return CliFailed;
    std::printf("%s\t%s\n", Format(typeFormat, code).c_str(),
                EscapeControlCharacters(Cp1251ToUtf8(model.keys[row].description)).c_str());
    return CliOk;
}

// ---- add -----------------------------------------------------------------------

int RunAdd(CliArgs& args) {
    KeyFile file;
    if (int status = OpenKeyFile(args, 1, 2, "Использование: add FILE KEY [DESCRIPTION]", file);
        status != CliOk)
        return status;
    auto& [path, model, typeFormat, lock] = file;
    KeyCode code = 0;
    std::string description;
    if (!ParseKeyArgument(typeFormat, args.words[0], code))
        return CliUsage;
    if (args.words.size() > 1 && !DescriptionArgument(args.words[1], description))
        return CliUsage;
    if (!NotListed(model, typeFormat, code))
        return CliRefused;
    KeyEdit edit{KeyEdit::Kind::Add, path, typeFormat, 0, code, description};
    TKeyEditJob* job = nullptr;
    std::unique_ptr<TKeyEditJob> keep;
    const int status = RunKeyEdit(args, model, job, keep, edit);
    if (job && job->NewInController && !job->NewInFile)
        Fail("Карта(ключ) записана в контроллер, но не в файл базы");
    return status;
}

// ---- edit ----------------------------------------------------------------------

int RunEdit(CliArgs& args) {
    std::string path;
    if (!TakeFile(args, path))
        return CliUsage;
    std::string newNumberText, descriptionText;
    bool haveNumber = args.TakeOption("--number", newNumberText);
    bool haveDescription = args.TakeOption("--description", descriptionText);
    if (args.words.size() != 1 || (!haveNumber && !haveDescription)) {
        Fail("Использование: edit FILE KEY [--number NEWKEY] [--description TEXT]");
        return CliUsage;
    }
    DbLock lock;
    if (int status = CliLockForChange(path, lock); status != CliOk)
        return status;
    DbModel model;
    int typeFormat = 0;
    if (int status = LoadWithFormat(args, path, model, typeFormat); status != CliOk)
        return status;
    KeyCode oldCode = 0;
    if (!ParseKeyArgument(typeFormat, args.words[0], oldCode))
        return CliUsage;
    int row = ListedRow(model, typeFormat, oldCode);
    if (row < 0)
        return CliRefused;
    KeyCode newCode = oldCode;
    if (haveNumber && !ParseKeyArgument(typeFormat, newNumberText, newCode))
        return CliUsage;
    std::string description = model.keys[row].description;
    if (haveDescription && !DescriptionArgument(descriptionText, description))
        return CliUsage;

    // The number unchanged: the description lives only in the file.
    if (newCode == oldCode)
        return FileStep(journaled::SaveKey(path, oldCode, description)) ? CliOk : CliFailed;

    if (!NotListed(model, typeFormat, newCode))
        return CliRefused;
    KeyEdit edit{KeyEdit::Kind::Change, path, typeFormat, oldCode, newCode, description};
    TKeyEditJob* job = nullptr;
    std::unique_ptr<TKeyEditJob> keep;
    const int status = RunKeyEdit(args, model, job, keep, edit);
    if (!job || status == CliOk)
        return status;
    // Say where things stand, so the operator knows what is left to do.
    if (job->OldGoneFromController && !job->OldGoneFromFile)
        Fail(Printf1("Карта(ключ) %s удалена из контроллера, но осталась в файле базы",
                     Format(typeFormat, oldCode)));
    else if (job->OldGoneFromFile && !job->NewInController)
        Fail(Printf1("Карта(ключ) %s удалена из контроллера и из файла базы",
                     Format(typeFormat, oldCode)));
    else if (job->NewInController && !job->NewInFile)
        Fail(Printf1("Карта(ключ) %s записана в контроллер, но не в файл базы",
                     Format(typeFormat, newCode)));
    return status;
}

// ---- remove --------------------------------------------------------------------

int RunRemove(CliArgs& args) {
    KeyFile file;
    if (int status = OpenKeyFile(args, 1, 1, "Использование: remove FILE KEY", file);
        status != CliOk)
        return status;
    auto& [path, model, typeFormat, lock] = file;
    KeyCode code = 0;
    if (!ParseKeyArgument(typeFormat, args.words[0], code))
        return CliUsage;
    if (ListedRow(model, typeFormat, code) < 0)
        return CliRefused;
    // Deleting asks once, as the program does. Like every other command that destroys
    // something, it asks or is told --yes: without a terminal it refuses.
    if (int status = CliConfirm(
            args, "Удаление карты(ключа)",
            {Printf1("Вы действительно хотите удалить карту(ключ) %s?", Format(typeFormat, code))});
        status != CliOk)
        return status;
    KeyEdit edit{KeyEdit::Kind::Remove, path, typeFormat, code, 0, {}};
    TKeyEditJob* job = nullptr;
    std::unique_ptr<TKeyEditJob> keep;
    return RunKeyEdit(args, model, job, keep, edit);
}

// ---- set-vardex ----------------------------------------------------------------

int RunSetVardex(CliArgs& args) {
    KeyFile file;
    if (int status = OpenKeyFile(args, 1, 1, "Использование: set-vardex FILE KEY|none", file);
        status != CliOk)
        return status;
    auto& [path, model, typeFormat, lock] = file;
    KeyCode newVardex = 0;
    const std::string& word = args.words[0];
    if (word != "none" && word != "Отсутствует" && !ParseKeyArgument(typeFormat, word, newVardex))
        return CliUsage;
    // The vardex opens the door as a key of its own, so it may not also be in the list.
    if (!NotListed(model, typeFormat, newVardex))
        return CliRefused;
    SettingChange change;
    change.kind =
        newVardex != 0 ? SettingChange::Kind::SetVardex : SettingChange::Kind::ResetVardex;
    change.path = path;
    change.vardex = newVardex != 0 ? newVardex : model.Vardex;
    return RunSettingChange(args, model, change);
}

// ---- set-times -----------------------------------------------------------------

bool TimeArgument(const std::string& text, int low, int& value) {
    if (text.empty() || text.size() > 3 ||
        text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    value = std::stoi(text);
    return value >= low && value <= 255;
}

int RunSetTimes(CliArgs& args) {
    std::string path;
    if (!TakeFile(args, path))
        return CliUsage;
    std::string openText, retryText;
    bool haveOpen = args.TakeOption("--open", openText);
    bool haveRetry = args.TakeOption("--retry", retryText);
    if (!NoMoreWords(args) || (!haveOpen && !haveRetry)) {
        Fail("Использование: set-times FILE [--open SECONDS] [--retry SECONDS]");
        return CliUsage;
    }
    DbLock lock;
    if (int status = CliLockForChange(path, lock); status != CliOk)
        return status;
    DbModel model;
    if (!LoadFile(path, model))
        return CliFailed;
    int timeOpen = model.TimeOpen, retryRead = model.RetryRead;
    if (haveOpen && !TimeArgument(openText, 1, timeOpen)) {
        Fail("Время открывания замка: от 1 до 255 сек., задано \"" + openText + "\"");
        return CliUsage;
    }
    if (haveRetry && !TimeArgument(retryText, 0, retryRead)) {
        Fail("Повторное считывание карты (ключа): от 0 до 255 сек., задано \"" + retryText + "\"");
        return CliUsage;
    }
    SettingChange change;
    change.kind = SettingChange::Kind::Times;
    change.path = path;
    change.timeOpen = timeOpen;
    change.retryRead = retryRead;
    change.typeFormat = model.TypeFormat;
    change.timeOpenChanged = haveOpen;
    return RunSettingChange(args, model, change);
}

}  // namespace

constexpr const char* FileHelp = "the database file (.vx2)";
constexpr const char* KeyHelp = "the key's number as the display format shows it";

VX_CLI_COMMAND(
    "read-key", "wait for a key at the reader and print its number",
    [](CliDefine& d) { d.Link().Format(); }, RunReadKey);
VX_CLI_COMMAND(
    "enroll",
    "store each new key presented at the reader in the controller, then the file, until "
    "Ctrl+C",
    [](CliDefine& d) {
        d.Arg("FILE", FileHelp)
            .Option("--description", "TEMPLATE",
                    "the description of each key added; {n} counts the keys added in this "
                    "run from 1 (\"Сотрудник {n}\"); empty by default")
            .Link()
            .Format()
            .Footer(
                "A key the file holds already is shown with its description and not "
                "written; a key held at the reader counts once. Ctrl+C ends the run (exit "
                "status 0) after a store under way has reached the file.");
    },
    RunEnroll);
VX_CLI_COMMAND(
    "find", "wait for a key at the reader and print its row of the file",
    [](CliDefine& d) { d.Arg("FILE", FileHelp).Link().Format(); }, RunFind);
VX_CLI_COMMAND(
    "add", "store a key in the controller, then in the file",
    [](CliDefine& d) {
        d.Arg("FILE", FileHelp)
            .Arg("KEY", KeyHelp)
            .OptionalArg("DESCRIPTION", "the key's description")
            .Link()
            .Format();
    },
    RunAdd);
VX_CLI_COMMAND(
    "edit", "change a key's number (controller, then file) or description (file)",
    [](CliDefine& d) {
        d.Arg("FILE", FileHelp)
            .Arg("KEY", KeyHelp)
            .Option("--number", "NEWKEY", "the key's new number")
            .Option("--description", "TEXT", "the key's new description")
            .Link()
            .Format();
    },
    RunEdit);
VX_CLI_COMMAND(
    "remove", "remove a key from the controller, then from the file",
    [](CliDefine& d) { d.Arg("FILE", FileHelp).Arg("KEY", KeyHelp).Link().Format().Yes(); },
    RunRemove);
VX_CLI_COMMAND(
    "set-vardex", "set or reset the vardex in the controller, then in the file",
    [](CliDefine& d) {
        d.Arg("FILE", FileHelp)
            .Arg("KEY", "the vardex's number, or none to reset it")
            .Link()
            .Format();
    },
    RunSetVardex);
VX_CLI_COMMAND(
    "set-times", "write the lock-open and repeat-read times to the controller and the file",
    [](CliDefine& d) {
        d.Arg("FILE", FileHelp)
            .Option("--open", "SECONDS", "the lock-open time, 1 to 255 seconds")
            .Option("--retry", "SECONDS", "the repeat-read time, 0 to 255 seconds")
            .Link();
    },
    RunSetTimes);
