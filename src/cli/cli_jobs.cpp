// vardex2-cli's controller jobs: new, load, export and check. They run the same state
// machines as the program's dialogs on a loop of their own: the job log goes to standard
// error line by line (the lines of the dialog's log; none with --quiet), a progress bar
// too when it is a terminal, and questions to the terminal. Standard output carries the
// data alone: the keys the check finds, the differences, the lines of a CSV, JSON.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_command.h"
#include "cli/cli_json.h"
#include "cli/cli_support.h"
#include "core/jobs/check_job.h"
#include "core/jobs/export_job.h"
#include "core/jobs/import_job.h"
#include "core/jobs/job_host.h"
#include "core/jobs/keys_guard.h"
#include "core/jobs/load_job.h"
#include "core/jobs/new_file_job.h"
#include "core/jobs/reconcile_job.h"
#include "core/keys/database.h"
#include "core/keys/journaled.h"
#include "core/keys/key_csv.h"
#include "core/keys/key_number.h"
#include "core/link/commands.h"
#include "core/link/serial_port.h"
#include "core/system_text.h"

namespace {

// Questions need someone to answer them: the controlling terminal, or a terminal on
// standard input (the same places CliAskYesNo asks on).
bool HasTerminal() {
    int fd = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (fd >= 0) {
        ::close(fd);
        return true;
    }
    return ::isatty(STDIN_FILENO) == 1;
}

// A database file that could not be read or written: its error on standard error.
void FileError(const DbResult& r) {
    std::fprintf(stderr, "Ошибка: %s\n", CliText(r.error).c_str());
}

// What the operator would see in the dialog, on a terminal and in pipes.
class TCliHost : public TLoopJobHost, public TCheckKeys {
  public:
    TCliHost(TJobLoop& loop, TRequester& worker, TSerialPort& port, const CliArgs& args)
        : TLoopJobHost(loop, worker), port_(port), yes_(args.yes) {
        log = CliLogFile(args);
        json = args.json;
        bar_ = log != nullptr && ::isatty(STDERR_FILENO) == 1;
        dumb_ = CliDumbTerminal();
        started_ = std::chrono::steady_clock::now();
    }
    ~TCliHost() override { EndLog(); }

    // For the check: where --add writes its keys.
    std::string databasePath;
    // A question could not be asked: there is no terminal.
    bool refused = false;
    // A key of --add could not be written into the database.
    bool addFailed = false;
    // Where the log goes: standard error, or nowhere with --quiet.
    std::FILE* log = stderr;
    // Standard output carries --json: the data lines go to the log instead.
    bool json = false;

    void AddLine(const std::string& line) override {
        Flush();
        pending_ = line;
        hasPending_ = true;
    }
    void AppendToLastLine(const std::string& text) override {
        if (hasPending_) {
            pending_ += text;
        } else {
            pending_ = text;
            hasPending_ = true;
        }
    }
    void SetProgressMax(int maximum) override {
        TLoopJobHost::SetProgressMax(maximum);
        DrawBar();
    }
    void SetProgressPosition(int position) override {
        TLoopJobHost::SetProgressPosition(position);
        DrawBar();
    }
    void ClosePort() override { port_.Close(); }
    void Failed(const JobBox& box) override {
        TLoopJobHost::Failed(box);
        EndLog();
        // The log on standard error has told it already when it ends with the text.
        const std::string text = CliText(box.text);
        if (log == stderr && recent_.find(text) != std::string::npos)
            return;
        std::fprintf(stderr, "%s: %s\n", box.caption.c_str(), text.c_str());
    }
    bool AskYesNo(const JobBox& question) override {
        if (yes_)
            return true;
        ClearBar();
        switch (CliAskYesNo(question.caption, question.text)) {
            case CliAnswer::Yes:
                return true;
            case CliAnswer::No:
                return false;
            case CliAnswer::NoTerminal:
                break;
        }
        refused = true;
        return false;
    }
    void OfferMissingKey(KeyCode code, const std::string& text) override {
        (void)code;
        Data(text);
    }
    bool AddMissingKeys(const Keys& keys) override {
        std::vector<DbKey> rows;
        rows.reserve(keys.size());
        for (const auto& [code, text] : keys)
            rows.push_back({code, text});
        DbResult r = journaled::SaveKeys(databasePath, rows);
        if (!r) {
            FileError(r);
            addFailed = true;
            return false;
        }
        return true;
    }

    // The last line of the log is complete: out with it, and the bar off the terminal.
    void EndLog() {
        Flush();
        ClearBar();
    }
    // A message of the command's own (not from the job's log), on the log.
    void Log(const std::string& line) { Write(log, line); }
    // A line of data: standard output, or the log when standard output carries JSON.
    void Data(const std::string& line) { Write(json ? log : stdout, line); }

  private:
    void Write(std::FILE* out, const std::string& line) {
        Flush();
        if (out == nullptr)
            return;
        ClearBar();
        std::fprintf(out, "%s\n", line.c_str());
        std::fflush(out);
        DrawBar();
    }
    void Flush() {
        if (!hasPending_)
            return;
        hasPending_ = false;
        const std::string line = CliText(pending_);
        pending_.clear();
        if (log == nullptr)
            return;
        ClearBar();
        std::fprintf(log, "%s\n", line.c_str());
        std::fflush(log);
        recent_ = line;
        DrawBar();
    }
    // A terminal without escape sequences gets the bar overwritten with spaces.
    void ClearBar() {
        if (!barShown_)
            return;
        if (dumb_)
            std::fprintf(stderr, "\r%*s\r", barColumns_, "");
        else
            std::fputs("\r\033[K", stderr);
        std::fflush(stderr);
        barShown_ = false;
    }
    void DrawBar() {
        if (!bar_ || progressMax <= 0)
            return;
        const int width = 30;
        const int pos = std::min(progressPosition, progressMax);
        const int filled = width * pos / progressMax;
        std::string bar(static_cast<size_t>(filled), '#');
        bar.append(static_cast<size_t>(width - filled), '.');
        std::string left = "--:--";
        if (pos > 0) {
            double elapsed =
                std::chrono::duration<double>(std::chrono::steady_clock::now() - started_).count();
            int seconds = static_cast<int>(elapsed / pos * (progressMax - pos) + 0.5);
            char text[32];
            std::snprintf(text, sizeof text, "%d:%02d", seconds / 60, seconds % 60);
            left = text;
        }
        char text[160];
        std::snprintf(text, sizeof text, "[%s] %d/%d, осталось %s", bar.c_str(), pos, progressMax,
                      left.c_str());
        int columns = 0;
        for (const char* c = text; *c != '\0'; ++c)
            columns += (static_cast<unsigned char>(*c) & 0xC0) != 0x80;  // UTF-8 lead bytes
        if (dumb_)
            std::fprintf(stderr, "\r%s%*s", text, std::max(barColumns_ - columns, 0), "");
        else
            std::fprintf(stderr, "\r%s\033[K", text);
        std::fflush(stderr);
        barColumns_ = std::max(barColumns_, columns);
        barShown_ = true;
    }

    TSerialPort& port_;
    bool yes_;
    bool bar_ = false;
    bool dumb_ = false;
    bool barShown_ = false;
    std::string recent_;  // the last line of the log written
    int barColumns_ = 0;  // the widest bar drawn, for clearing it without escapes
    std::string pending_;
    bool hasPending_ = false;
    std::chrono::steady_clock::time_point started_;
};

int Usage(const char* synopsis) {
    std::fprintf(stderr, "Использование: vardex2-cli %s\n", synopsis);
    return CliUsage;
}

// The one argument FILE; anything else is a usage error.
bool TakeFile(CliArgs& args, std::string& file) {
    if (args.words.size() != 1 || args.words[0].empty() || args.words[0] == "-")
        return false;
    file = args.words[0];
    return true;
}

int RefuseWithoutTerminal() {
    std::fprintf(stderr,
                 "Нет терминала, чтобы задать вопрос; ничего не сделано. Чтобы выполнить "
                 "команду без вопросов, укажите --yes.\n");
    return CliRefused;
}

// A new file goes where the save dialog would let it: into an existing folder, and over
// an existing file only when the operator agrees. Checked before any traffic, so that a
// cleared or read controller never ends without its file; `lock` then holds the file
// until it is written.
int CheckNewFile(const CliArgs& args, const std::string& file, DbLock& lock) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path path(file);
    fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    if (!fs::is_directory(folder, ec)) {
        std::fprintf(stderr, "Ошибка: папка %s не существует\n", folder.string().c_str());
        return CliRefused;
    }
    if (fs::is_directory(path, ec)) {
        std::fprintf(stderr, "Ошибка: %s — это папка\n", file.c_str());
        return CliRefused;
    }
    if (fs::exists(path, ec)) {
        int status =
            CliConfirm(args, "Сохранение", {"Файл " + file + " уже существует.\rЗаменить?"});
        if (status != CliOk)
            return status;
    }
    return CliLockForChange(file, lock);
}

// The port, the worker on it, the loop that runs one job and the host that shows it. The
// host is the last member, so that it (which waits for a request still in flight) goes
// first.
struct TCliJobLink {
    CliInterrupts interrupts;  // before the link: its worker never takes Ctrl+C
    CliLink link;
    // Keeps the result of the last completion, for the exit status.
    struct Tap : TRequester {
        TRequester* inner = nullptr;
        int last = Ok;
        void Load(const FrameHeader& request, const FrameData& requestData,
                  TCommands::Completion done) override {
            inner->Load(request, requestData,
                        [this, done = std::move(done)](int result, const FrameHeader& reply,
                                                       const FrameData& replyData) {
                            // Read on the loop thread after the completion.
                            last = RequestOutcome(result, reply);
                            done(result, reply, replyData);
                        });
        }
    } worker;
    TJobLoop loop;

    bool Open(const CliArgs& args, const DbModel* file = nullptr) {
        if (!link.Open(args, file))
            return false;
        worker.inner = &link.Commands();
        host.emplace(loop, worker, link.Port(), args);
        host->stopRequested = [this] { return interrupts.Requested(); };
        return true;
    }
    // The job stopped for Ctrl+C or SIGTERM (not finished, not failed).
    bool Stopped() const { return interrupts.Requested() && host && !host->finished; }
    // Says what the stopped job did and did not do; the exit status (130, 143).
    int Interrupted(const std::string& state) {
        host->EndLog();
        link.Port().Close();
        std::fprintf(stderr, "Прервано. %s\n", CliText(state).c_str());
        return interrupts.ExitStatus();
    }
    // Runs the job to its end and closes its log.
    void Run(TJob& job) {
        host->Attach(job);
        host->RunJob();
        host->EndLog();
    }
    // The exit status of a job that did not succeed: the failing request's code.
    int FailureStatus() const {
        const int status = CliLinkStatus(worker.last);
        return status == CliOk ? CliFailed : status;
    }

    std::optional<TCliHost> host;
};

const char* const NewSynopsis = "--port DEVICE new FILE [--yes]";
const char* const LoadSynopsis = "--port DEVICE load FILE [--yes]";
const char* const ExportSynopsis = "--port DEVICE export FILE [--yes]";
const char* const CheckSynopsis = "--port DEVICE check FILE [--add] [--yes]";
const char* const ReconcileSynopsis =
    "--port DEVICE reconcile FILE [--dry-run] [--adopt-extra] [--yes] [--json]";

int RunNew(CliArgs& args) {
    std::string file;
    if (!TakeFile(args, file))
        return Usage(NewSynopsis);
    int status = CliConfirm(
        args, "Создание нового файла",
        {"Для создания нового файла необходимо очистить контроллер!\rДля продолжения нажмите на "
         "кнопку \"Да\"\rДля отмены нажмите на кнопку \"Нет\"",
         "Внимание! Все данные в контроллере будут удалены!\rПродолжить?"});
    if (status != CliOk)
        return status;
    DbLock lock;
    if ((status = CheckNewFile(args, file, lock)) != CliOk)
        return status;

    TCliJobLink link;
    if (!link.Open(args))
        return CliPortNotOpened;
    TNewFileJob job(*link.host);
    job.JournalBeside(file);
    link.Run(job);
    if (!job.Complete() && link.Stopped())
        return link.Interrupted(link.host->progressPosition >= 2
                                    ? "Контроллер очищен, файл не создан: повторите создание "
                                      "файла (new) или загрузите контроллер в файл (load)."
                                    : "Контроллер не изменён, файл не создан.");
    if (!job.Complete())
        return link.FailureStatus();
    link.link.Port().Close();

    DbResult r = job.WriteFile(file, link.link.Address());
    if (!r) {
        FileError(r);
        return CliFailed;
    }
    return CliOk;
}

int RunLoad(CliArgs& args) {
    std::string file;
    if (!TakeFile(args, file))
        return Usage(LoadSynopsis);
    DbLock lock;
    int status = CheckNewFile(args, file, lock);
    if (status != CliOk)
        return status;

    TCliJobLink link;
    if (!link.Open(args))
        return CliPortNotOpened;
    TLoadJob job(*link.host);
    job.Address = link.link.Address();
    link.Run(job);
    if (!job.ReadComplete() && link.Stopped())
        return link.Interrupted("Чтение не закончено, файл не создан; контроллер не изменён.");
    if (!job.ReadComplete())
        return link.FailureStatus();

    DbModel loaded;
    DbResult r = job.SaveTo(file, loaded);
    if (!r) {
        FileError(r);
        return CliFailed;
    }
    return CliOk;
}

// What an export stopped half-way left in the controller: `done` requests (the clear, the
// settings, the vardex, then one per key) of the job's.
std::string ExportState(int done, size_t keys) {
    if (done <= 0)
        return "Контроллер не изменён.";
    std::string state = "Контроллер очищен";
    if (done >= 2)
        state += ", настройки записаны";
    if (done >= 3)
        state += ", вардекс записан";
    const size_t written = done > 3 ? static_cast<size_t>(done - 3) : 0;
    state += "; записано карт(ключей): " + std::to_string(written) + " из " + std::to_string(keys) +
             ".\rКонтроллер не совпадает с файлом: повторите экспорт или выполните сверку "
             "(reconcile).";
    return state;
}

int RunExport(CliArgs& args) {
    std::string file;
    if (!TakeFile(args, file))
        return Usage(ExportSynopsis);
    DbModel model;
    if (!CliLoadWholeDb(file, model))
        return CliFailed;
    int typeFormat = 0;
    if (!CliFormatOption(args, model.TypeFormat, typeFormat))
        return Usage(ExportSynopsis);
    int status =
        CliConfirm(args, "Экспорт в контроллер",
                   {"Вы действительно хотите выполнить экспорт в контроллер?",
                    "Внимание! Все данные в контроллере будут перезаписаны!\rПродолжить?"});
    if (status != CliOk)
        return status;

    TCliJobLink link;
    if (!link.Open(args, &model))
        return CliPortNotOpened;
    ExportSource source = ExportSourceOf(model, typeFormat);
    source.databasePath = file;  // the job journals its end
    TExportJob job(*link.host, std::move(source));
    job.RereadBeforeWriting(file, typeFormat);
    link.Run(job);
    if (link.Stopped())
        return link.Interrupted(ExportState(link.host->progressPosition, model.keys.size()));
    return link.host->finished ? CliOk : link.FailureStatus();
}

// check --add: the missing keys into the file, asking first. The exit status.
int AddMissing(TCliHost& host, TCheckJob& job, bool add) {
    if (!add || job.Missing().empty())
        return CliOk;
    const int added = job.Add();
    if (host.refused)
        return RefuseWithoutTerminal();
    if (!host.closed) {
        // A key could not be written (reported already), or the answer was No.
        if (host.addFailed || host.failed)
            return CliFailed;
        std::fprintf(stderr, "Отменено.\n");
        return CliRefused;
    }
    host.Log("Добавлено карт(ключей): " + std::to_string(added));
    return CliOk;
}

// check --json: what the controller holds that the file lacks, and what was added.
void PrintCheckJson(const TCheckJob& job, int typeFormat) {
    CliJson missing = CliJson::array();
    for (const auto& key : job.Missing()) {
        CliJson entry = CliKeyJson(typeFormat, key.code);
        entry["added"] = key.added;
        missing.push_back(std::move(entry));
    }
    CliPrintJson({{"format", CliFormatName(typeFormat)},
                  {"controller_key_count", job.KeyCount},
                  {"missing", std::move(missing)}});
}

int RunCheck(CliArgs& args) {
    const bool add = args.TakeFlag("--add");
    std::string file;
    if (!TakeFile(args, file))
        return Usage(CheckSynopsis);
    DbModel model;
    DbResult r = CliLoadDb(file, model);
    if (!r) {
        FileError(r);
        return CliFailed;
    }
    if (!r.error.empty())
        FileError(r);
    int typeFormat = 0;
    if (!CliFormatOption(args, model.TypeFormat, typeFormat))
        return Usage(CheckSynopsis);
    // Without a terminal, --add is refused only when there is something to ask about.
    if (add) {
        // Known writable before any traffic; locked only once the question is answered.
        if (DbResult writable = CheckDbWritable(file); !writable) {
            FileError(writable);
            return CliRefused;
        }
    }

    std::vector<KeyCode> known;
    known.reserve(model.keys.size());
    for (const auto& key : model.keys)
        known.push_back(key.code);

    TCliJobLink link;
    if (!link.Open(args, &model))
        return CliPortNotOpened;
    TCliHost& host = *link.host;
    host.databasePath = file;
    TCheckJob job(host, host, typeFormat, known);
    job.AddUnderLockOf(file);
    link.Run(job);
    if (link.Stopped())
        return link.Interrupted("Чтение не закончено; контроллер и файл не изменены.");
    if (host.failed)
        return link.FailureStatus();
    link.link.Port().Close();
    if (host.finished)
        host.Log(CliText(host.finished->text));
    const int status = AddMissing(host, job, add);
    if (args.json)
        PrintCheckJson(job, typeFormat);
    return status;
}

// One line per difference, in the list's order, as the dialog lists them.
void PrintDifferences(TCliHost& host, const Differences& diff) {
    for (const DiffItem& item : diff.items) {
        switch (item.kind) {
            case DiffKind::Write:
                host.Data("записать: " + item.text + " - " + item.description);
                break;
            case DiffKind::Times:
            case DiffKind::Vardex:
                host.Data("записать: " + item.text);
                break;
            case DiffKind::Extra:
                host.Data((item.adopt ? "добавить в файл: " : "удалить: ") + item.text);
                break;
            case DiffKind::Duplicate:
                host.Data("в нескольких ячейках (" + std::to_string(item.slotCount) +
                          "): " + item.text);
                break;
            case DiffKind::Invalid:
                host.Data("не удалять: " + item.text + " - запись файла «" + item.description +
                          "» с недопустимым номером");
                break;
        }
    }
}

// reconcile --json: the differences, the copy, and what the apply left.
void PrintReconcileJson(const TReconcileJob& job, int typeFormat, bool applied) {
    const Differences& diff = job.Diff();
    CliJson write = CliJson::array(), remove = CliJson::array(), adopt = CliJson::array(),
            duplicates = CliJson::array(), invalid = CliJson::array();
    CliJson times = nullptr, vardex = nullptr;
    auto keyOrNull = [typeFormat](KeyCode code) {
        return code == 0 ? CliJson(nullptr) : CliKeyJson(typeFormat, code);
    };
    for (const DiffItem& item : diff.items) {
        switch (item.kind) {
            case DiffKind::Write: {
                CliJson key = CliKeyJson(typeFormat, item.code);
                key["description"] = item.description;
                write.push_back(std::move(key));
                break;
            }
            case DiffKind::Extra:
                (item.adopt ? adopt : remove).push_back(CliKeyJson(typeFormat, item.code));
                break;
            case DiffKind::Duplicate: {
                CliJson key = CliKeyJson(typeFormat, item.code);
                key["slots"] = item.slotCount;
                duplicates.push_back(std::move(key));
                break;
            }
            case DiffKind::Invalid: {
                CliJson key = CliKeyJson(typeFormat, item.code);
                key["entry"] = item.description;
                invalid.push_back(std::move(key));
                break;
            }
            case DiffKind::Times:
                times = {
                    {"file",
                     {{"open_seconds", diff.fileTimeOpen}, {"retry_seconds", diff.fileRetryRead}}},
                    {"controller",
                     {{"open_seconds", diff.controller.TimeOpen},
                      {"retry_seconds", diff.controller.RetryRead}}}};
                break;
            case DiffKind::Vardex:
                vardex = {{"file", keyOrNull(diff.fileVardex)},
                          {"controller", keyOrNull(diff.controller.Vardex & 0xFFFFFF)}};
                break;
        }
    }
    CliJson out = {{"format", CliFormatName(typeFormat)},
                   {"backup", job.BackupPath()},
                   {"controller_key_count", diff.controllerSlots},
                   {"same", diff.same},
                   {"write", std::move(write)},
                   {"remove", std::move(remove)},
                   {"adopt", std::move(adopt)},
                   {"times", std::move(times)},
                   {"vardex", std::move(vardex)},
                   {"duplicates", std::move(duplicates)},
                   {"invalid_entry_keys", std::move(invalid)},
                   {"applied", applied}};
    if (applied) {
        out["expected_key_count"] = job.ExpectedCount();
        out["verified_key_count"] =
            job.VerifiedCount() >= 0 ? CliJson(job.VerifiedCount()) : CliJson(nullptr);
    }
    out["agree"] = job.Agree();
    CliPrintJson(out);
}

int RunReconcile(CliArgs& args) {
    const bool dryRun = args.TakeFlag("--dry-run");
    const bool adoptExtra = args.TakeFlag("--adopt-extra");
    std::string file;
    if (!TakeFile(args, file))
        return Usage(ReconcileSynopsis);
    DbModel model;
    if (!CliLoadWholeDb(file, model))
        return CliFailed;
    int typeFormat = 0;
    if (!CliFormatOption(args, model.TypeFormat, typeFormat))
        return Usage(ReconcileSynopsis);
    // Asked after the read; refused before any traffic when no one could answer.
    if (!dryRun && !args.yes && !HasTerminal())
        return RefuseWithoutTerminal();
    if (!dryRun && adoptExtra) {
        // The adopted keys go into the file before anything is written to the controller;
        // a file that cannot take them is known before any traffic.
        DbResult writable = CheckDbWritable(file);
        if (!writable) {
            FileError(writable);
            return CliRefused;
        }
    }

    TCliJobLink link;
    if (!link.Open(args, &model))
        return CliPortNotOpened;
    TCliHost& host = *link.host;
    ReconcileOptions options;
    options.databasePath = file;
    options.file = std::move(model);
    options.typeFormat = typeFormat;
    TReconcileJob job(host, std::move(options));
    link.Run(job);
    const char* const NothingWritten = "Контроллер и файл не изменены.";
    if (link.interrupts.Requested() && job.Phase() != ReconcilePhase::Done)
        return link.Interrupted(NothingWritten);
    if (job.Phase() != ReconcilePhase::Review && job.Phase() != ReconcilePhase::Done)
        return link.FailureStatus();  // the read's request, or 1 for the copy
    for (DiffItem& item : job.Diff().items)
        item.adopt = adoptExtra && item.kind == DiffKind::Extra;
    PrintDifferences(host, job.Diff());
    if (dryRun || job.Phase() == ReconcilePhase::Done) {
        link.link.Port().Close();
        if (args.json)
            PrintReconcileJson(job, typeFormat, false);
        if (dryRun)
            return CliOk;
        return job.Agree() ? CliOk : CliFailed;
    }

    if (link.interrupts.Requested())
        return link.Interrupted(NothingWritten);
    const bool started = job.Apply();
    if (!started) {
        if (link.interrupts.Requested())
            return link.Interrupted(NothingWritten);
        if (host.refused)
            return RefuseWithoutTerminal();
        if (host.failed)
            return CliFailed;
        std::fprintf(stderr, "Отменено.\n");
        return CliRefused;
    }
    host.RunUntil([&] { return host.Ended() && host.outstanding == 0; });
    host.EndLog();
    if (args.json)
        PrintReconcileJson(job, typeFormat, true);
    if (job.Phase() == ReconcilePhase::Cancelled && link.interrupts.Requested())
        return link.Interrupted(
            "Записано то, что отмечено OK выше; остальное не записано. Контроллер и файл "
            "расходятся: повторите сверку (reconcile).");
    if (job.Phase() == ReconcilePhase::Failed)
        return link.FailureStatus();
    return job.Agree() ? CliOk : CliFailed;
}

const char* FateName(CsvFate fate) {
    switch (fate) {
        case CsvFate::New:
            return "new";
        case CsvFate::Same:
            return "same";
        case CsvFate::Update:
            return "update";
        case CsvFate::Duplicate:
            return "duplicate";
        case CsvFate::Refused:
            return "refused";
    }
    return "";
}

const char* EncodingName(CsvEncoding e) {
    return e == CsvEncoding::Windows1251 ? "windows-1251"
           : e == CsvEncoding::Utf8Bom   ? "utf-8-bom"
                                         : "utf-8";
}

// A requester for an import with nothing for the controller: it is never asked.
struct NoController : TRequester {
    void Load(const FrameHeader&, const FrameData&, TCommands::Completion) override {}
};

int RunImport(CliArgs& args) {
    const std::string file = args.words.at(0);
    const std::string csvPath = args.words.at(1);
    const bool dryRun = args.TakeFlag("--dry-run");
    const bool updateDescriptions = args.TakeFlag("--update-descriptions");
    const bool shortHex = args.TakeFlag("--short-hex");
    DbModel model;
    if (!CliLoadWholeDb(file, model))
        return CliFailed;
    int typeFormat = 0;
    if (!CliFormatOption(args, model.TypeFormat, typeFormat))
        return Usage("import FILE LIST.csv [--format ibutton|em]");
    // The list whole or not at all: a row cut at a limit or by a read error would be
    // offered as another key. Only a regular file is read (a FIFO would hang, a device
    // never end); "-" is standard input, read to its end.
    std::string bytes;
    const int readError = csvPath == "-" ? CliReadStandardInput(bytes, MaxCsvFileSize)
                                         : ReadWholeFile(csvPath, bytes, MaxCsvFileSize);
    if (readError != 0) {
        std::fprintf(stderr, "Ошибка: не удалось открыть %s: %s\n",
                     csvPath == "-" ? "стандартный ввод" : csvPath.c_str(),
                     ErrorText(readError).c_str());
        return CliFailed;
    }
    CsvImport im = PreviewCsvImport(bytes, typeFormat, model.keys, shortHex);
    if (!im.error.empty()) {
        std::fprintf(stderr, "Ошибка: %s: %s\n", csvPath.c_str(), im.error.c_str());
        return CliFailed;
    }
    for (CsvRow& row : im.rows) {
        if (row.fate == CsvFate::Update)
            row.selected = updateDescriptions;
    }
    ImportPlan plan{file, typeFormat, CsvNewKeys(im), CsvUpdates(im)};

    // The lines' fates are the data; the counts and the rest are the log.
    if (!args.json) {
        for (const CsvRow& row : im.rows) {
            std::string line = "Строка " + std::to_string(row.line) + ": " + row.numberText;
            if (!row.description.empty())
                line += " «" + row.description + "»";
            line += std::string(" — ") + CsvFateText(row.fate);
            if (row.fate == CsvFate::Update)
                line += " (было «" + row.oldDescription + "»" +
                        (row.selected ? ")" : "; без --update-descriptions не меняется)");
            if (!row.reason.empty())
                line += ": " + row.reason;
            std::fprintf(stdout, "%s\n", line.c_str());
        }
        std::fflush(stdout);
    }
    char counts[160];
    std::snprintf(counts, sizeof counts,
                  "Новых: %zu, уже в файле: %zu, новых описаний: %zu, повторов: %zu, отказов: %zu",
                  im.Count(CsvFate::New), im.Count(CsvFate::Same), im.Count(CsvFate::Update),
                  im.Count(CsvFate::Duplicate), im.Count(CsvFate::Refused));
    CliLog(args, counts);
    if (im.Count(CsvFate::Refused) > 0)
        CliLog(args, AcceptedKeyForms(typeFormat));
    if (im.shortDigits > 0 && !shortHex)
        CliLog(args, "Строк с номером из 1–6 цифр: " + std::to_string(im.shortDigits) +
                         "; --short-hex читает их как шестнадцатеричные номера ключей");

    auto printJson = [&](const TImportJob* job) {
        if (!args.json)
            return;
        CliJson rows = CliJson::array();
        for (const CsvRow& row : im.rows) {
            CliJson j{{"line", row.line},
                      {"text", row.numberText},
                      {"key", row.code ? CliKeyJson(typeFormat, row.code) : CliJson()},
                      {"description", row.description},
                      {"fate", FateName(row.fate)},
                      {"selected", row.selected}};
            if (!row.reason.empty())
                j["reason"] = row.reason;
            rows.push_back(std::move(j));
        }
        CliJson out{{"format", CliFormatName(typeFormat)},
                    {"encoding", EncodingName(im.encoding)},
                    {"separator", std::string(1, im.separator)},
                    {"header", im.header},
                    {"rows", std::move(rows)}};
        if (job)
            out["imported"] = {{"stored", job->Stored},
                               {"added", job->Added},
                               {"updated", job->Updated},
                               {"error", job->Error.empty() ? CliJson() : CliJson(job->Error)}};
        CliPrintJson(out);
    };

    if (dryRun || (plan.newKeys.empty() && plan.updates.empty())) {
        if (!dryRun)
            CliLog(args, "Нечего импортировать.");
        printJson(nullptr);
        return CliOk;
    }
    int status = CliConfirm(args, "Импорт из CSV", {ImportQuestion(plan)});
    if (status != CliOk)
        return status;

    if (plan.newKeys.empty()) {
        // Descriptions only: the file alone, no port.
        TSerialPort port;
        NoController none;
        TJobLoop loop;
        TCliHost host(loop, none, port, args);
        TImportJob job(host, std::move(plan));
        host.Attach(job);
        host.RunJob();
        host.EndLog();
        printJson(&job);
        return host.finished ? CliOk : CliFailed;
    }
    TCliJobLink link;
    if (!link.Open(args, &model))
        return CliPortNotOpened;
    TImportJob job(*link.host, std::move(plan));
    link.Run(job);
    printJson(&job);
    if (link.Stopped())
        return link.Interrupted(job.Summary() +
                                "\rОстальные карт(ключи) не записаны: повторите импорт.");
    return link.host->finished ? CliOk : link.FailureStatus();
}

}  // namespace

constexpr const char* FileHelp = "the database file (.vx2)";

VX_CLI_COMMAND(
    "new",
    "clear the controller and create an empty database file with its vardex; asks "
    "twice without --yes",
    [](CliDefine& d) { d.Arg("FILE", FileHelp).Link().Yes(); }, RunNew);
VX_CLI_COMMAND(
    "load", "read the controller's settings, vardex and keys into a new database file",
    [](CliDefine& d) { d.Arg("FILE", FileHelp).Link().Yes(); }, RunLoad);
VX_CLI_COMMAND(
    "export",
    "clear the controller and write the database file into it; asks twice without "
    "--yes",
    [](CliDefine& d) { d.Arg("FILE", FileHelp).Link().Format().Yes(); }, RunExport);
VX_CLI_COMMAND(
    "check", "list the controller's keys that the file lacks; --add adds them to the file",
    [](CliDefine& d) {
        d.Arg("FILE", FileHelp)
            .Flag("--add", "add the keys the file lacks to it, asking first")
            .Json()
            .Link()
            .Format()
            .Yes();
    },
    RunCheck);
VX_CLI_COMMAND(
    "reconcile",
    "compare the controller with the file, keep a copy of what it held, and write only the "
    "differences (missing keys first, extra keys removed last); asks once without --yes",
    [](CliDefine& d) {
        d.Arg("FILE", FileHelp)
            .Flag("--dry-run", "read, keep the copy and list the differences; write nothing")
            .Flag("--adopt-extra",
                  "add the controller's extra keys to the file instead of "
                  "removing them from the controller")
            .Json()
            .Link()
            .Format()
            .Yes()
            .Footer(
                "The copy goes to $XDG_DATA_HOME/Vardex2/backups (by default "
                "~/.local/share/Vardex2/backups); the newest 20 per database are kept.\n"
                "Exit status 0 when file and controller agree at the end (with --dry-run: "
                "when the read succeeded), 1 when they do not or a write failed, 11 to 15 "
                "when a request failed or the controller refused it.\n");
    },
    RunReconcile);
VX_CLI_COMMAND(
    "import",
    "add the keys of a CSV file: new keys to the controller, then the file; shows every "
    "line's fate first and asks once without --yes",
    [](CliDefine& d) {
        d.Arg("FILE", FileHelp)
            .Arg("LIST", "the CSV file: key number in any form, then an optional description")
            .Flag("--dry-run", "show every line's fate; write nothing")
            .Flag("--update-descriptions",
                  "also replace the descriptions of keys the file holds with another one "
                  "(in the file only)")
            .Flag("--short-hex",
                  "read numbers of 1 to 6 bare digits as hexadecimal keys also when EM-Marine "
                  "is shown (else those lines are refused: a card number is written whole)")
            .Json()
            .Link()
            .Format()
            .Yes()
            .Footer(
                "The CSV file may be UTF-8 (with or without a byte order mark) or "
                "Windows-1251, separated by ';', tab or ',' (found out), with an "
                "optional header row. Lines whose number cannot be read, or whose "
                "description is longer than 128 characters or has characters "
                "Windows-1251 cannot hold, are refused with the reason and skipped.\n"
                "Exit status 0 when every new key reached the controller and the file.");
    },
    RunImport);
