// vardex2-cli's controller jobs: new, load, export and check. They run the same state
// machines as the program's dialogs on a loop of their own: the job log goes to standard
// output line by line (the lines of the dialog's log), a progress bar to standard error
// when it is a terminal, and questions to the terminal.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "cli/cli_command.h"
#include "jobs/check_job.h"
#include "jobs/export_job.h"
#include "jobs/job_host.h"
#include "jobs/load_job.h"
#include "jobs/new_file_job.h"
#include "keys/database.h"
#include "link/commands.h"
#include "link/serial_port.h"

namespace {

// Message texts carry "\r" as their line break.
std::string Lines(std::string text) {
    for (char& c : text) {
        if (c == '\r')
            c = '\n';
    }
    return text;
}

// The controlling terminal, for questions; -1 when there is none (scripts, cron).
class TTerminal {
  public:
    TTerminal() { fd_ = ::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC); }
    ~TTerminal() {
        if (fd_ >= 0)
            ::close(fd_);
    }
    bool Present() const { return fd_ >= 0; }

    bool Ask(const JobBox& question) {
        if (fd_ < 0)
            return false;
        std::string text = "\n" + question.caption + ": " + Lines(question.text) + " [д/н, y/n] ";
        if (::write(fd_, text.data(), text.size()) < 0)
            return false;
        std::string answer;
        char c;
        while (::read(fd_, &c, 1) == 1 && c != '\n')
            answer += c;
        return answer == "y" || answer == "Y" || answer == "yes" || answer == "д" ||
               answer == "Д" || answer == "да" || answer == "Да";
    }

  private:
    int fd_ = -1;
};

// What the operator would see in the dialog, on a terminal and in pipes.
class TCliHost : public TLoopJobHost {
  public:
    TCliHost(TJobLoop& loop, TJobWorker& worker, TSerialPort& port, TTerminal& terminal, bool yes)
        : TLoopJobHost(loop, worker), port_(port), terminal_(terminal), yes_(yes) {
        bar_ = ::isatty(STDERR_FILENO) == 1;
        started_ = std::chrono::steady_clock::now();
    }
    ~TCliHost() override { EndLog(); }

    // For the check: where --add writes its keys.
    std::string databasePath;
    // A question could not be asked: there is no terminal.
    bool refused = false;
    // A key of --add could not be written into the database.
    bool addFailed = false;

    void AddLine(const std::string& line) override {
        TLoopJobHost::AddLine(line);
        Flush();
        pending_ = line;
        hasPending_ = true;
    }
    void AppendToLastLine(const std::string& text) override {
        TLoopJobHost::AppendToLastLine(text);
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
    void ClosePort() override {
        TLoopJobHost::ClosePort();
        port_.Close();
    }
    void Failed(const JobBox& box) override {
        TLoopJobHost::Failed(box);
        EndLog();
        std::fprintf(stderr, "%s: %s\n", box.caption.c_str(), Lines(box.text).c_str());
    }
    bool AskYesNo(const JobBox& question) override {
        boxes.push_back(question);
        if (yes_)
            return true;
        if (!terminal_.Present()) {
            refused = true;
            return false;
        }
        ClearBar();
        return terminal_.Ask(question);
    }
    void OfferMissingKey(KeyCode code, const std::string& text) override {
        TLoopJobHost::OfferMissingKey(code, text);
        Print(text);
    }
    bool AddMissingKey(KeyCode code, const std::string& text) override {
        DbResult r = SaveKey(databasePath, code, text);
        if (!r) {
            std::fprintf(stderr, "Ошибка: %s\n", Lines(r.error).c_str());
            addFailed = true;
            return false;
        }
        return TLoopJobHost::AddMissingKey(code, text);
    }

    // The last line of the log is complete: out with it, and the bar off the terminal.
    void EndLog() {
        Flush();
        if (barShown_) {
            std::fputs("\r\033[K", stderr);
            barShown_ = false;
        }
    }
    // A line of the command's own (not from the job's log).
    void Print(const std::string& line) {
        Flush();
        ClearBar();
        std::fprintf(stdout, "%s\n", line.c_str());
        std::fflush(stdout);
        DrawBar();
    }

  private:
    void Flush() {
        if (!hasPending_)
            return;
        ClearBar();
        std::fprintf(stdout, "%s\n", Lines(pending_).c_str());
        std::fflush(stdout);
        hasPending_ = false;
        pending_.clear();
        DrawBar();
    }
    void ClearBar() {
        if (barShown_) {
            std::fputs("\r\033[K", stderr);
            barShown_ = false;
        }
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
        std::fprintf(stderr, "\r[%s] %d/%d, осталось %s\033[K", bar.c_str(), pos, progressMax,
                     left.c_str());
        std::fflush(stderr);
        barShown_ = true;
    }

    TSerialPort& port_;
    TTerminal& terminal_;
    bool yes_;
    bool bar_ = false;
    bool barShown_ = false;
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
    if (args.words.size() != 1 || args.words[0].empty() || args.words[0][0] == '-')
        return false;
    file = args.words[0];
    return true;
}

bool TypeFormatOf(const CliArgs& args, int fileFormat, int& typeFormat) {
    if (args.format.empty())
        typeFormat = fileFormat;
    else if (args.format == "ibutton")
        typeFormat = TypeFormatIButton;
    else if (args.format == "em")
        typeFormat = TypeFormatEmMarine;
    else
        return false;
    return true;
}

int RefuseWithoutTerminal() {
    std::fprintf(stderr,
                 "Нет терминала, чтобы задать вопрос; ничего не сделано. "
                 "Подтвердите заранее ключом --yes.\n");
    return CliRefused;
}

// The questions that guard a command which clears or overwrites something.
int AskAll(const std::vector<JobBox>& questions, bool yes, TTerminal& terminal) {
    if (yes)
        return CliOk;
    if (!terminal.Present())
        return RefuseWithoutTerminal();
    for (const auto& q : questions) {
        if (!terminal.Ask(q)) {
            std::fprintf(stderr, "Отменено.\n");
            return CliRefused;
        }
    }
    return CliOk;
}

// A new file goes where the save dialog would let it: into an existing folder, and over
// an existing file only when the operator agrees.
int CheckNewFile(const std::string& file, bool yes, TTerminal& terminal) {
    namespace fs = std::filesystem;
    std::error_code ec;
    fs::path path(file);
    fs::path folder = path.parent_path().empty() ? fs::path(".") : path.parent_path();
    if (!fs::is_directory(folder, ec)) {
        std::fprintf(stderr, "Ошибка: папка %s не существует\n", folder.string().c_str());
        return CliRefused;
    }
    if (fs::is_directory(path, ec)) {
        std::fprintf(stderr, "Ошибка: %s — папка\n", file.c_str());
        return CliRefused;
    }
    if (fs::exists(path, ec) && !yes) {
        if (!terminal.Present())
            return RefuseWithoutTerminal();
        if (!terminal.Ask(
                {"Сохранение", "Файл " + file + " уже существует.\rЗаменить?", BoxIcon::Warning})) {
            std::fprintf(stderr, "Отменено.\n");
            return CliRefused;
        }
    }
    return CliOk;
}

// The link for one command: the port, the worker on it, the loop and the host.
struct TCliLink {
    TSerialPort port;
    std::optional<TCommands> commands;
    std::optional<TCommandsWorker> worker;
    TJobLoop loop;

    ~TCliLink() {
        worker.reset();
        commands.reset();
        port.Close();
    }

    int Open(const CliArgs& args) {
        if (args.port.empty()) {
            std::fprintf(stderr, "Ошибка: Не выбран порт подключения! (--port DEVICE)\n");
            return CliUsage;
        }
        std::string error;
        if (!port.Open(args.port, error)) {
            std::fprintf(stderr, "%s: %s\n", TSerialPort::OpenErrorCaption(), Lines(error).c_str());
            return CliPortNotOpened;
        }
        commands.emplace(port);
        worker.emplace(*commands);
        return CliOk;
    }
};

// ---------------------------------------------------------------------------------------

const char* const NewSynopsis = "--port DEVICE new FILE [--yes]";
const char* const LoadSynopsis = "--port DEVICE load FILE [--yes]";
const char* const ExportSynopsis = "--port DEVICE export FILE [--yes]";
const char* const CheckSynopsis = "--port DEVICE check FILE [--add] [--yes]";

// The result code of the failing request, for the exit status.
struct TResultTap : TJobWorker {
    TJobWorker& inner;
    int last = Ok;
    explicit TResultTap(TJobWorker& w) : inner(w) {}
    void Load(const FrameHeader& request, const FrameData& requestData,
              TCommands::Completion done) override {
        inner.Load(request, requestData,
                   [this, done = std::move(done)](int result, const FrameHeader& reply,
                                                  const FrameData& replyData) {
                       last = result;  // read on the loop thread after the completion
                       done(result, reply, replyData);
                   });
    }
};

int FailureStatus(int result) {
    if (result >= WriteFailed && result <= TimedOut)
        return CliLinkBase + result;
    return CliFailed;
}

int RunNew(CliArgs& args) {
    std::string file;
    if (!TakeFile(args, file))
        return Usage(NewSynopsis);
    TTerminal terminal;
    int status = AskAll(
        {{"Создание нового файла",
          "Для создания нового файла необходимо очистить контроллер!\rДля продолжения нажмите на "
          "кнопку \"Да\"\rДля отмены нажмите на кнопку \"Нет\"",
          BoxIcon::Question},
         {"Создание нового файла", "Внимание! Все данные в контроллере будут удалены!\rПродолжить?",
          BoxIcon::Warning}},
        args.yes, terminal);
    if (status != CliOk)
        return status;
    if ((status = CheckNewFile(file, args.yes, terminal)) != CliOk)
        return status;

    TCliLink link;
    if ((status = link.Open(args)) != CliOk)
        return status;
    TResultTap tap(*link.worker);
    TCliHost host(link.loop, tap, link.port, terminal, args.yes);
    TNewFileJob job(host);
    host.Attach(job);
    host.RunJob();
    host.EndLog();
    if (!job.Complete())
        return FailureStatus(tap.last);
    link.port.Close();

    DbModel model;
    model.Vardex = job.VardexCode;
    DbResult r = WriteDbFile(file, model);
    if (!r) {
        std::fprintf(stderr, "Ошибка: %s\n", Lines(r.error).c_str());
        return CliFailed;
    }
    return CliOk;
}

int RunLoad(CliArgs& args) {
    std::string file;
    if (!TakeFile(args, file))
        return Usage(LoadSynopsis);
    TTerminal terminal;
    int status = CheckNewFile(file, args.yes, terminal);
    if (status != CliOk)
        return status;

    TCliLink link;
    if ((status = link.Open(args)) != CliOk)
        return status;
    TResultTap tap(*link.worker);
    TCliHost host(link.loop, tap, link.port, terminal, args.yes);
    TLoadJob job(host);
    host.Attach(job);
    host.RunJob();
    host.EndLog();
    if (!job.ReadComplete())
        return FailureStatus(tap.last);

    DbModel loaded;
    DbResult r = job.SaveTo(file, loaded);
    if (!r) {
        std::fprintf(stderr, "Ошибка: %s\n", Lines(r.error).c_str());
        return CliFailed;
    }
    return CliOk;
}

int RunExport(CliArgs& args) {
    std::string file;
    if (!TakeFile(args, file))
        return Usage(ExportSynopsis);
    DbModel model;
    DbResult r = LoadDbFile(file, model);
    if (!r || !r.error.empty()) {
        // A file that reads only in part would wipe the keys it lost from the controller.
        std::fprintf(stderr, "Ошибка: %s\n", Lines(r.error).c_str());
        return CliFailed;
    }
    int typeFormat = 0;
    if (!TypeFormatOf(args, model.TypeFormat, typeFormat))
        return Usage(ExportSynopsis);

    TTerminal terminal;
    int status = AskAll(
        {{"Экспорт в контроллер", "Вы действительно хотите выполнить экспорт в контроллер?",
          BoxIcon::Question},
         {"Экспорт в контроллер",
          "Внимание! Все данные в контроллере будут перезаписаны!\rПродолжить?", BoxIcon::Warning}},
        args.yes, terminal);
    if (status != CliOk)
        return status;

    TCliLink link;
    if ((status = link.Open(args)) != CliOk)
        return status;
    TResultTap tap(*link.worker);
    TCliHost host(link.loop, tap, link.port, terminal, args.yes);
    TExportJob job(host, ExportSourceOf(model, typeFormat));
    host.Attach(job);
    host.RunJob();
    host.EndLog();
    return host.finished ? CliOk : FailureStatus(tap.last);
}

int RunCheck(CliArgs& args) {
    const bool add = args.TakeFlag("--add");
    std::string file;
    if (!TakeFile(args, file))
        return Usage(CheckSynopsis);
    DbModel model;
    DbResult r = LoadDbFile(file, model);
    if (!r) {
        std::fprintf(stderr, "Ошибка: %s\n", Lines(r.error).c_str());
        return CliFailed;
    }
    if (!r.error.empty())
        std::fprintf(stderr, "Ошибка: %s\n", Lines(r.error).c_str());
    int typeFormat = 0;
    if (!TypeFormatOf(args, model.TypeFormat, typeFormat))
        return Usage(CheckSynopsis);
    TTerminal terminal;
    if (add && !args.yes && !terminal.Present())
        return RefuseWithoutTerminal();

    std::vector<KeyCode> known;
    known.reserve(model.keys.size());
    for (const auto& key : model.keys)
        known.push_back(key.code);

    TCliLink link;
    int status = link.Open(args);
    if (status != CliOk)
        return status;
    TResultTap tap(*link.worker);
    TCliHost host(link.loop, tap, link.port, terminal, args.yes);
    host.databasePath = file;
    TCheckJob job(host, typeFormat, known);
    host.Attach(job);
    host.RunJob();
    host.EndLog();
    if (host.failed)
        return FailureStatus(tap.last);
    link.port.Close();
    if (host.finished)
        host.Print(Lines(host.finished->text));
    if (!add || job.Missing().empty())
        return CliOk;

    const int added = job.Add();
    if (host.refused)
        return RefuseWithoutTerminal();
    if (!host.closed) {
        // A key could not be written (reported already), or the answer was No.
        return host.addFailed ? CliFailed : CliRefused;
    }
    host.Print("Добавлено карт(ключей): " + std::to_string(added));
    return CliOk;
}

}  // namespace

VX_CLI_COMMAND("new", NewSynopsis, "очистить контроллер и создать пустой файл базы с его вардексом",
               RunNew);
VX_CLI_COMMAND("load", LoadSynopsis, "загрузить всё из контроллера в новый файл базы", RunLoad);
VX_CLI_COMMAND("export", ExportSynopsis, "записать файл базы в контроллер (с полной очисткой)",
               RunExport);
VX_CLI_COMMAND("check", CheckSynopsis,
               "найти в контроллере карты(ключи), которых нет в файле; --add добавляет их",
               RunCheck);
