// vardex2-sim: a virtual controller on a pseudo-terminal, for tests, training and
// demos. The first line of its output is the device path to give the client.
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <CLI/CLI.hpp>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "sim/sim_controller.h"
#include "sim/sim_line.h"
#include "sim/sim_pty.h"
#include "sim/sim_state.h"

namespace {

const char kDescription[] =
    "vardex2-sim: a virtual controller on a pseudo-terminal. Prints the device path on the "
    "first line.";

const char kControlHelp[] =
    "Control lines (standard input or the socket), each answered by one line; the end\n"
    "of standard input leaves it running (stop it with quit or a signal):\n"
    "  present [ADDR] CODE       the next 0x43 reports this key, once\n"
    "  fault [ADDR] NAME [ARG]   silence | answer-from-attempt K | bad-header-crc |\n"
    "                            bad-payload-crc | truncated |\n"
    "                            status-nonzero-no-payload [CMD [K]] (refuse every\n"
    "                            request, or command CMD, e.g. 0x22, from its K-th on) |\n"
    "                            noise [N] | late [MS] | silent-from-slot K |\n"
    "                            silent-from-write K\n"
    "  fault [ADDR] off          answer normally again\n"
    "  reply-delay [ADDR] MS     change the pause before each reply\n"
    "  state [ADDR]              the state as JSON\n"
    "  quit                      stop\n"
    "ADDR (decimal) names the controller on a line of several (--bus); without it a line\n"
    "names its only controller.\n\n"
    "A line of several controllers: --bus 1,2,7 puts one controller at each address on\n"
    "the one pseudo-terminal. Each answers only its own address, every one carries out a\n"
    "broadcast (address 255) and none answers it; an address given twice gives two\n"
    "controllers that both answer, so that their replies collide (the second a character\n"
    "after the first: the check byte never holds). --state-dir DIR keeps each one's state\n"
    "in DIR/ADDR.json (ADDR in decimal; the second controller at one address in\n"
    "DIR/ADDR-2.json); --keys, --vardex and --times seed every controller of the line.\n\n"
    "The log has one line per request: its bytes; each piece of them as it arrived, with\n"
    "its time after the first, the parity it came under and the line settings, e.g.\n"
    "  +0.000ms mark{00} [9600 8 mark 2stop] | +4.1ms space{02 00 00 00 07} [...]\n"
    "(\"inferred\" when the address byte was read too late to see its own setting);\n"
    "what the controller did (on a line of several, each addressed controller by its\n"
    "address); the address the request was for; and the reply with its delay.\n";

bool ParseCode(const std::string& text, std::uint32_t& code) {
    if (text.empty()) {
        return false;
    }
    const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    char* end = nullptr;
    errno = 0;
    unsigned long long v = std::strtoull(text.c_str(), &end, hex ? 16 : 10);
    if (*end != '\0' || errno != 0 || v > 0xFFFFFF || text[0] == '-') {
        return false;
    }
    code = static_cast<std::uint32_t>(v);
    return true;
}

bool ParseInt(const std::string& text, int& value, int lo, int hi) {
    char* end = nullptr;
    errno = 0;
    long v = std::strtol(text.c_str(), &end, 10);
    if (text.empty() || *end != '\0' || errno != 0 || v < lo || v > hi) {
        return false;
    }
    value = static_cast<int>(v);
    return true;
}

std::vector<std::string> Split(const std::string& text, char sep) {
    std::vector<std::string> parts;
    std::string cur;
    for (char c : text) {
        if (c == sep) {
            parts.push_back(cur);
            cur.clear();
        } else {
            cur += c;
        }
    }
    parts.push_back(cur);
    return parts;
}

std::string HexBytes(const std::vector<std::uint8_t>& bytes) {
    std::string out;
    char b[4];
    for (size_t i = 0; i < bytes.size(); ++i) {
        std::snprintf(b, sizeof b, i ? " %02X" : "%02X", bytes[i]);
        out += b;
    }
    return out;
}

struct PendingReply {
    double dueMs;
    std::vector<std::uint8_t> bytes;
};

class Sim {
  public:
    std::FILE* log = stderr;
    SimLine line;
    std::vector<std::string> statePaths;  // one per controller of the line; empty: none
    SimPty pty;
    std::deque<PendingReply> replies;
    double startMs = MonotonicMs();
    bool quit = false;

    void Log(const std::string& text) {
        std::fprintf(log, "[%10.3f] %s\n", MonotonicMs() - startMs, text.c_str());
        std::fflush(log);
    }

    void SaveIfChanged() {
        for (std::size_t i = 0; i < line.Size(); ++i) {
            if (!line.At(i).TakeStateChanged() || i >= statePaths.size() || statePaths[i].empty()) {
                continue;
            }
            std::string error;
            if (!SaveSimState(statePaths[i], line.At(i).State(), error)) {
                Log("state not saved: " + error);
            }
        }
    }

    void OnLineInput() {
        for (const SimChunk& chunk : pty.Read()) {
            for (SimExchange& ex : line.Receive(chunk)) {
                Report(ex);
            }
        }
        SaveIfChanged();
    }

    void Report(SimExchange& ex) {
        std::string text = ex.valid ? "request " : "invalid ";
        text += HexBytes(ex.request);
        const double first = ex.chunks.empty() ? 0 : ex.chunks.front().atMs;
        for (const SimChunk& c : ex.chunks) {
            char at[32];
            std::snprintf(at, sizeof at, "+%.3fms", c.atMs - first);
            text += std::string(" | ") + at + " " + SimParityName(c.parity) + "{" +
                    HexBytes(c.bytes) + "} [" + c.settings + "]";
        }
        text += " | " + ex.verdict;
        if (ex.framed) {
            text += " | address " + SimAddressText(ex.request.front());
        }
        if (ex.valid && !replies.empty()) {
            // A new request cuts off a reply still waiting to go (a late one): a
            // half-duplex controller cannot answer while it is being spoken to.
            Log("dropped a pending reply of " + std::to_string(replies.size()) + " request(s)");
            replies.clear();
        }
        if (ex.answered) {
            text +=
                " | reply " + HexBytes(ex.reply) + " after " + std::to_string(ex.delayMs) + " ms";
            const double end = ex.chunks.empty() ? MonotonicMs() : ex.chunks.back().atMs;
            replies.push_back({end + ex.delayMs, ex.reply});
        }
        Log(text);
    }

    void SendDueReplies() {
        const double now = MonotonicMs();
        while (!replies.empty() && replies.front().dueMs <= now) {
            if (!pty.Write(replies.front().bytes)) {
                Log(std::string("reply not written: ") + std::strerror(errno));
            }
            replies.pop_front();
        }
    }

    int PollTimeout() const {
        if (replies.empty()) {
            return -1;
        }
        const double wait = replies.front().dueMs - MonotonicMs();
        return wait <= 0 ? 0 : static_cast<int>(wait) + 1;
    }

    // The controllers a control line names: `w[at]` when it is an address (it is then
    // taken out of `w`), else the line's only controller. Empty with `error` set when
    // there is none such.
    std::vector<SimController*> Named(std::vector<std::string>& w, std::size_t at,
                                      bool addressGiven, std::string& error) {
        if (addressGiven) {
            int address = 0;
            if (!ParseInt(w[at], address, 0, 254)) {
                error = "error: bad address " + w[at];
                return {};
            }
            w.erase(w.begin() + static_cast<long>(at));
            auto found = line.AtAddress(static_cast<std::uint8_t>(address));
            if (found.empty()) {
                error = "error: no controller at address " + std::to_string(address);
            }
            return found;
        }
        if (line.Size() != 1) {
            error = "error: " + std::to_string(line.Size()) +
                    " controllers on the line: name one by its address";
            return {};
        }
        return {&line.At(0)};
    }

    std::string Control(const std::string& raw) {
        std::string text = raw;
        while (!text.empty() && (text.back() == '\r' || text.back() == ' ')) {
            text.pop_back();
        }
        std::vector<std::string> w;
        for (const std::string& part : Split(text, ' ')) {
            if (!part.empty()) {
                w.push_back(part);
            }
        }
        if (w.empty()) {
            return "error: empty command";
        }
        auto isNumber = [](const std::string& word) {
            return !word.empty() && std::all_of(word.begin(), word.end(),
                                                [](char c) { return c >= '0' && c <= '9'; });
        };
        std::string answer = "ok";
        std::string error;
        if (w[0] == "present" && (w.size() == 2 || w.size() == 3)) {
            auto named = Named(w, 1, w.size() == 3, error);
            if (named.empty()) {
                return error;
            }
            std::uint32_t code = 0;
            if (!ParseCode(w[1], code)) {
                return "error: bad key code " + w[1];
            }
            for (SimController* c : named) {
                c->Present(code);
            }
        } else if (w[0] == "fault" && w.size() >= 2 && w.size() <= 4) {
            // A fault's name is never a number: a number first is the address.
            auto named = Named(w, 1, isNumber(w[1]), error);
            if (named.empty()) {
                return error;
            }
            if (w.size() < 2 || w.size() > 4) {
                return "error: unknown command: " + text;
            }
            SimFault fault;
            int arg = 0;
            int arg2 = 0;
            if (!ParseSimFault(w[1], fault)) {
                return "error: unknown fault " + w[1];
            }
            if (w.size() == 4 && fault != SimFault::StatusNonzeroNoPayload) {
                return "error: fault " + w[1] + " takes one argument";
            }
            if (fault == SimFault::StatusNonzeroNoPayload && w.size() >= 3) {
                std::uint32_t command = 0;
                if (!ParseCode(w[2], command) || command > 0xFF) {
                    return "error: bad command " + w[2];
                }
                arg = static_cast<int>(command);
                if (w.size() == 4 && !ParseInt(w[3], arg2, 1, 1000000)) {
                    return "error: bad fault argument " + w[3];
                }
            } else if (w.size() == 3 && !ParseInt(w[2], arg, 0, 1000000)) {
                return "error: bad fault argument " + w[2];
            }
            if (w.size() == 2 && fault == SimFault::AnswerFromAttempt) {
                arg = 2;
            }
            if (w.size() == 2 && fault == SimFault::SilentFromWrite) {
                arg = 1;
            }
            for (SimController* c : named) {
                c->SetFault(fault, arg, arg2);
            }
        } else if (w[0] == "reply-delay" && (w.size() == 2 || w.size() == 3)) {
            auto named = Named(w, 1, w.size() == 3, error);
            if (named.empty()) {
                return error;
            }
            int ms = 0;
            if (!ParseInt(w[1], ms, 0, 60000)) {
                return "error: bad delay " + w[1];
            }
            for (SimController* c : named) {
                c->SetReplyDelay(ms);
            }
        } else if (w[0] == "state" && (w.size() == 1 || w.size() == 2)) {
            auto named = Named(w, 1, w.size() == 2, error);
            if (named.empty()) {
                return error;
            }
            answer = SimStateToJson(named.front()->State());
        } else if (w[0] == "quit" && w.size() == 1) {
            quit = true;
        } else {
            return "error: unknown command: " + text;
        }
        Log("control: " + text);
        return answer;
    }
};

struct ControlClient {
    int fd;
    std::string buffer;
};

void WriteAll(int fd, const std::string& text) {
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            return;
        }
        done += static_cast<size_t>(n);
    }
}

// Client side of --control: sends one line to a running sim and prints its answer.
int SendControlLine(const std::string& path, const std::string& line) {
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path) {
        std::fprintf(stderr, "vardex2-sim: control socket path too long\n");
        return 1;
    }
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size());
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        std::fprintf(stderr, "vardex2-sim: %s: %s\n", path.c_str(), std::strerror(errno));
        return 1;
    }
    WriteAll(fd, line + "\n");
    std::string answer;
    char c;
    while (::read(fd, &c, 1) == 1 && c != '\n') {
        answer += c;
    }
    ::close(fd);
    std::printf("%s\n", answer.c_str());
    return answer.rfind("error", 0) == 0 ? 1 : 0;
}

int OpenControlSocket(const std::string& path, std::string& error) {
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path) {
        error = "control socket path too long";
        return -1;
    }
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (fd < 0) {
        error = std::strerror(errno);
        return -1;
    }
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size());
    ::unlink(path.c_str());
    if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0) {
        error = path + ": " + std::strerror(errno);
        ::close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

int main(int argc, char** argv) {
    Sim sim;
    std::string statePath, stateDir, busText;
    std::string controlPath, logPath, keysText, vardexText, timesText, sendLine;
    int replyDelay = 2;
    CLI::App app(kDescription, "vardex2-sim");
    app.footer(kControlHelp);
    app.set_help_flag("-h,--help", "print this help and exit");
    app.set_version_flag("-V,--version", "vardex2-sim " VX_VERSION, "print the version and exit");
    CLI::Option* stateOption =
        app.add_option("--state", statePath,
                       "keep keys, vardex and times in FILE (JSON), saved on every change")
            ->type_name("FILE");
    app.add_option("--bus", busText,
                   "a line of several controllers, one at each address (0 to 254, decimal); "
                   "without it one controller at address 0")
        ->type_name("ADDR,...");
    app.add_option("--state-dir", stateDir,
                   "keep each controller's state in DIR/ADDR.json (ADDR decimal)")
        ->type_name("DIR")
        ->excludes(stateOption);
    app.add_option("--keys", keysText,
                   "start with these keys (decimal or 0x hexadecimal), in place of those in the "
                   "state file")
        ->type_name("CODE,...");
    app.add_option("--vardex", vardexText, "start with this vardex")->type_name("CODE");
    app.add_option("--times", timesText, "start with these lock-open and repeat-read times")
        ->type_name("OPEN,RETRY");
    app.add_option("--reply-delay", replyDelay, "pause before each reply (default 2)")
        ->type_name("MS")
        ->check(CLI::Range(0, 60000));
    CLI::Option* control =
        app.add_option("--control", controlPath, "also take control lines on this unix socket")
            ->type_name("PATH");
    app.add_option("--log", logPath, "log requests here instead of standard error")
        ->type_name("FILE");
    CLI::Option* sendOption =
        app.add_option("--send", sendLine,
                       "give a running vardex2-sim (at --control PATH) one control line, print "
                       "its answer")
            ->type_name("LINE")
            ->needs(control);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        return app.exit(e) == 0 ? 0 : 2;
    }
    const bool send = sendOption->count() > 0;

    if (send) {
        return SendControlLine(controlPath, sendLine);
    }
    if (!logPath.empty()) {
        sim.log = std::fopen(logPath.c_str(), "a");
        if (!sim.log) {
            std::fprintf(stderr, "vardex2-sim: %s: %s\n", logPath.c_str(), std::strerror(errno));
            return 1;
        }
    }
    std::vector<std::uint8_t> addresses;
    if (busText.empty()) {
        addresses.push_back(0);
    } else {
        for (const std::string& a : Split(busText, ',')) {
            int address = 0;
            if (!ParseInt(a, address, 0, 254)) {
                std::fprintf(stderr, "vardex2-sim: bad address %s (0 to 254)\n", a.c_str());
                return 2;
            }
            addresses.push_back(static_cast<std::uint8_t>(address));
        }
    }
    if (!statePath.empty() && addresses.size() > 1) {
        std::fprintf(stderr, "vardex2-sim: --state keeps one controller; use --state-dir\n");
        return 2;
    }
    for (std::size_t i = 0; i < addresses.size(); ++i) {
        std::string path = statePath;
        if (!stateDir.empty()) {
            const auto before = static_cast<std::size_t>(std::count(
                addresses.begin(), addresses.begin() + static_cast<long>(i), addresses[i]));
            path = stateDir + "/" + std::to_string(addresses[i]) +
                   (before == 0 ? "" : "-" + std::to_string(before + 1)) + ".json";
        }
        SimState state;
        if (!path.empty() && ::access(path.c_str(), F_OK) == 0) {
            std::string error;
            if (!LoadSimState(path, state, error)) {
                std::fprintf(stderr, "vardex2-sim: %s\n", error.c_str());
                return 1;
            }
        }
        if (!keysText.empty()) {
            state.keys.clear();
            for (const std::string& k : Split(keysText, ',')) {
                std::uint32_t code = 0;
                if (!ParseCode(k, code)) {
                    std::fprintf(stderr, "vardex2-sim: bad key code %s\n", k.c_str());
                    return 2;
                }
                if (std::find(state.keys.begin(), state.keys.end(), code) == state.keys.end()) {
                    state.keys.push_back(code);
                }
            }
        }
        if (!vardexText.empty() && !ParseCode(vardexText, state.vardex)) {
            std::fprintf(stderr, "vardex2-sim: bad vardex %s\n", vardexText.c_str());
            return 2;
        }
        if (!timesText.empty()) {
            auto t = Split(timesText, ',');
            if (t.size() != 2 || !ParseInt(t[0], state.timeOpen, 0, 255) ||
                !ParseInt(t[1], state.retryRead, 0, 255)) {
                std::fprintf(stderr, "vardex2-sim: bad times %s\n", timesText.c_str());
                return 2;
            }
        }
        SimController& controller = sim.line.Add(addresses[i]);
        controller.SetState(state);
        controller.SetReplyDelay(replyDelay);
        sim.statePaths.push_back(path);
    }
    sim.SaveIfChanged();

    std::string error;
    if (!sim.pty.Open(error)) {
        std::fprintf(stderr, "vardex2-sim: %s\n", error.c_str());
        return 1;
    }
    int controlFd = -1;
    if (!controlPath.empty() && (controlFd = OpenControlSocket(controlPath, error)) < 0) {
        std::fprintf(stderr, "vardex2-sim: control socket: %s\n", error.c_str());
        return 1;
    }

    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    sigaddset(&signals, SIGHUP);
    sigprocmask(SIG_BLOCK, &signals, nullptr);
    const int signalFd = signalfd(-1, &signals, SFD_CLOEXEC | SFD_NONBLOCK);
    signal(SIGPIPE, SIG_IGN);

    std::printf("%s\n", sim.pty.SlavePath().c_str());
    std::fflush(stdout);
    if (sim.line.Size() == 1 && sim.line.At(0).Address() == 0) {
        sim.Log("listening on " + sim.pty.SlavePath() + " with " +
                std::to_string(sim.line.At(0).State().keys.size()) + " key(s)");
    } else {
        std::string text = "listening on " + sim.pty.SlavePath() + " with controllers at";
        for (std::size_t i = 0; i < sim.line.Size(); ++i) {
            text += std::string(i ? ", " : " ") + SimAddressText(sim.line.At(i).Address()) + " (" +
                    std::to_string(sim.line.At(i).State().keys.size()) + " key(s))";
        }
        sim.Log(text);
    }

    bool stdinOpen = true;
    std::string stdinBuffer;
    std::vector<ControlClient> clients;
    while (!sim.quit) {
        std::vector<pollfd> fds;
        fds.push_back({sim.pty.MasterFd(), POLLIN | POLLPRI, 0});
        fds.push_back({signalFd, POLLIN, 0});
        fds.push_back({stdinOpen ? STDIN_FILENO : -1, POLLIN, 0});
        fds.push_back({sim.pty.WatchFd(), POLLIN, 0});
        fds.push_back({controlFd, POLLIN, 0});
        for (const auto& c : clients) {
            fds.push_back({c.fd, POLLIN, 0});
        }
        int n = ::poll(fds.data(), fds.size(), sim.PollTimeout());
        if (n < 0 && errno != EINTR) {
            sim.Log(std::string("poll: ") + std::strerror(errno));
            break;
        }
        if (fds[0].revents & (POLLIN | POLLPRI)) {
            sim.OnLineInput();
        } else if (fds[0].revents & POLLHUP) {
            usleep(10000);  // no slave open (cannot happen while we hold one); do not spin
        }
        sim.SendDueReplies();
        if (fds[1].revents & POLLIN) {
            signalfd_siginfo info;
            if (::read(signalFd, &info, sizeof info) > 0) {
                sim.Log("stopped by signal " + std::to_string(info.ssi_signo));
                sim.quit = true;
            }
        }
        if (fds[2].revents & (POLLIN | POLLHUP | POLLERR)) {
            char buf[1024];
            ssize_t got = ::read(STDIN_FILENO, buf, sizeof buf);
            if (got <= 0) {
                stdinOpen = false;  // running in the background: the socket still works
            } else {
                stdinBuffer.append(buf, static_cast<size_t>(got));
                size_t eol;
                while ((eol = stdinBuffer.find('\n')) != std::string::npos) {
                    std::string reply = sim.Control(stdinBuffer.substr(0, eol)) + "\n";
                    stdinBuffer.erase(0, eol + 1);
                    std::fputs(reply.c_str(), stdout);
                    std::fflush(stdout);
                }
                if (stdinBuffer.size() > 65536) {
                    stdinBuffer.clear();
                }
            }
        }
        if (fds[3].revents & POLLIN) {
            sim.pty.OnWatchEvent();
        }
        if (fds[4].revents & POLLIN) {
            int fd = ::accept4(controlFd, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd >= 0) {
                clients.push_back({fd, {}});
            }
        }
        for (size_t i = 0; i < clients.size(); ++i) {
            const short ev = fds[5 + i].revents;
            if (!(ev & (POLLIN | POLLHUP | POLLERR))) {
                continue;
            }
            char buf[1024];
            ssize_t got = ::read(clients[i].fd, buf, sizeof buf);
            if (got <= 0) {
                ::close(clients[i].fd);
                clients[i].fd = -1;
                continue;
            }
            auto& b = clients[i].buffer;
            b.append(buf, static_cast<size_t>(got));
            size_t eol;
            while ((eol = b.find('\n')) != std::string::npos) {
                WriteAll(clients[i].fd, sim.Control(b.substr(0, eol)) + "\n");
                b.erase(0, eol + 1);
            }
            if (b.size() > 65536) {
                b.clear();
            }
        }
        // Handled one round of client sockets; forget the closed ones (the poll set
        // is rebuilt from `clients` on the next round).
        clients.erase(std::remove_if(clients.begin(), clients.end(),
                                     [](const ControlClient& c) { return c.fd < 0; }),
                      clients.end());
        sim.SaveIfChanged();
    }
    for (const auto& c : clients) {
        ::close(c.fd);
    }
    if (controlFd >= 0) {
        ::close(controlFd);
        ::unlink(controlPath.c_str());
    }
    return 0;
}
