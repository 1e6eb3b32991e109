// What every vardex2-cli command that talks to the controller shares: the port named
// by --port with its worker, one request at a time run to its end, the exit status
// of a link failure, and the Yes/No questions asked on the terminal.
//
//     CliLink link;
//     if (!link.Open(args)) return CliPortNotOpened;       // the reason is on stderr
//     const int result = link.Run(MakeCheckLink());          // up to three attempts
//     if (result != Ok && result != NotRun) return CliLinkFailure(result);
#pragma once

#include <signal.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "cli/cli_command.h"
#include "core/keys/database.h"
#include "core/link/command_set.h"
#include "core/link/commands.h"
#include "core/link/frame.h"
#include "core/link/line_trace.h"
#include "core/link/serial_port.h"

class CliLink {
  public:
    CliLink();
    ~CliLink();  // stops the worker, then closes the port

    // Opens args.port, with the line trace when --trace asked for it. On failure prints
    // the reason to standard error ("Ошибка подключения" and the port's text) and returns
    // false: exit with CliPortNotOpened. Every request goes to the controller at --address,
    // else at the address of `file` (the command's database), else at 0; a file whose
    // address is out of range refuses before the port is opened (the reason on standard
    // error; false).
    bool Open(const CliArgs& args, const DbModel* file = nullptr);

    // Loads one request into the worker and waits for its completion; the result of
    // the last attempt, a refusal when the reply's status is not 0 (RequestOutcome).
    // `reply` and `replyData` (optional) receive the reply.
    int Run(const RequestFrame& request, FrameHeader* reply = nullptr,
            FrameData* replyData = nullptr);

    TSerialPort& Port() { return port_; }
    // The requests of the command's job, each to the controller's address.
    TRequester& Commands() { return *addressed_; }
    // The line's worker itself, for what addresses each request on its own (the scan).
    TCommands& Line() { return *commands_; }
    int Address() const { return addressed_->Address(); }

  private:
    TSerialPort port_;
    std::unique_ptr<TLineTrace> trace_;  // only with --trace
    std::unique_ptr<TCommands> commands_;
    std::unique_ptr<TAddressedRequester> addressed_;
};

// Ctrl+C (SIGINT) and SIGTERM while a command talks to the controller. The first asks the
// job to stop between two requests, as the dialog's Cancel button does (Requested() turns
// true; a request under way runs to its end); a second one ends the process at once.
// Made before the link, so that no thread of the link ever takes the signals; they stay
// blocked in this thread and those made after it.
class CliInterrupts {
  public:
    CliInterrupts();
    ~CliInterrupts();
    CliInterrupts(const CliInterrupts&) = delete;
    CliInterrupts& operator=(const CliInterrupts&) = delete;

    int Signal() const { return signal_.load(); }  // 0, SIGINT or SIGTERM
    bool Requested() const { return Signal() != 0; }
    int ExitStatus() const { return 128 + Signal(); }  // 130, 143

  private:
    void Wait();

    sigset_t set_{};
    std::atomic<int> signal_{0};
    std::thread waiter_;
};

// True for the results that count as success (0 and -1).
inline bool CliLinkSucceeded(int result) {
    return result == Ok || result == NotRun;
}

// The exit status of a request's result: CliOk for a success, CliLinkBase + result for a
// failure of the link (11 to 14), CliControllerRefused for a refusal, else CliFailed.
int CliLinkStatus(int result);

// For a failed result: prints its text (ResultText, "\r" as a line break) to standard
// error and returns CliLinkStatus(result). For a success returns CliOk, printing nothing.
int CliLinkFailure(int result);

// Where the job log and every other line that tells the operator what happens go:
// standard error, or nowhere with --quiet (nullptr). Standard output carries data alone
// (lists, keys, reports, JSON); errors and questions go to standard error even with
// --quiet.
std::FILE* CliLogFile(const CliArgs& args);

// Writes one line of the log (CliText applied), unless --quiet.
void CliLog(const CliArgs& args, const std::string& line);

// True when the terminal on standard error takes no escape sequences (TERM unset or
// "dumb"): a progress line is then cleared with spaces.
bool CliDumbTerminal();

// Standard output is buffered: a full disk or a broken pipe shows only when it is flushed
// and closed. Run once when a command ends: an output that failed is told on standard
// error and fails the command (CliFailed unless it had failed already).
int CliCloseStandardOutput(int status);

// True once a line of the journal of changes could not be written (told on standard
// error): the command then ends with CliFailed unless it failed already.
bool CliJournalFailed();
void CliSetJournalReporter();

// Reads the whole of standard input (`-` for a file argument), at most `maxSize` bytes.
// Returns 0 or the error (FileTooLarge beyond it); a read error is never taken for the end.
int CliReadStandardInput(std::string& bytes, std::size_t maxSize);

// KEY in any printed form the one key-number reader takes; a refusal says why and names
// the forms on standard error.
bool ParseKeyArgument(int typeFormat, const std::string& text, KeyCode& code);
// The description as the file holds it (Windows-1251, at most 128 characters, no control
// characters); a refusal says why on standard error.
bool DescriptionArgument(const std::string& utf8, std::string& cp1251);

// Turns the carriage returns that break the lines of the program's texts into newlines.
std::string CliText(const std::string& text);

// Reads a database for any command. What the operator must hear although the file was
// read (a write that died half-way and was finished, times outside their range taken as
// the nearest in range, entries with no valid key number) goes to standard error here, once; the
// result's error is left to the command, which knows whether a file read only in part is fit for
// it. The display format of the key numbers: --format ibutton|em (0|1), else the file's own. An
// unknown name is told on standard error; false.
bool CliFormatOption(const CliArgs& args, int fileFormat, int& typeFormat);

DbResult CliLoadDb(const std::string& path, DbModel& model);

// For the commands that write a file's keys to the controller (export, reconcile, import,
// enroll): reads the file whole or says why nothing is sent (the core's one guard) and
// returns false.
bool CliLoadWholeDb(const std::string& path, DbModel& model);

// Before the first request of a change whose file is written afterwards: makes sure the
// file can be written and takes its lock, held until `lock` goes (across the traffic
// and the file write). CliOk, or CliRefused with the reason on standard error.
int CliLockForChange(const std::string& path, DbLock& lock);

enum class CliAnswer { Yes, No, NoTerminal };

// Asks a Yes/No question on the controlling terminal (/dev/tty), or on standard input
// when that is a terminal. NoTerminal when there is neither.
CliAnswer CliAskYesNo(const std::string& caption, const std::string& question);

// Asks each question in turn unless --yes was given. CliOk when every answer was Yes;
// otherwise prints why to standard error and returns CliRefused (declined, or no
// terminal to ask on).
int CliConfirm(const CliArgs& args, const std::string& caption,
               const std::vector<std::string>& questions);
