#include "support/sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace {

using Clock = std::chrono::steady_clock;

double Since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// fork + exec with the given descriptors as the child's 0, 1, 2 (-1: /dev/null).
// The child dies with the test process.
pid_t Spawn(const std::vector<std::string>& argv, int in, int out, int err, bool newSession) {
    std::vector<char*> args;
    for (const auto& a : argv) {
        args.push_back(const_cast<char*>(a.c_str()));
    }
    args.push_back(nullptr);
    const pid_t parent = getpid();
    pid_t pid = fork();
    if (pid != 0) {
        return pid;
    }
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    if (getppid() != parent) {
        _exit(127);
    }
    if (newSession) {
        setsid();
    }
    int null = ::open("/dev/null", O_RDWR);
    dup2(in >= 0 ? in : null, 0);
    dup2(out >= 0 ? out : null, 1);
    dup2(err >= 0 ? err : null, 2);
    for (int fd = 3; fd < 1024; ++fd) {
        ::close(fd);
    }
    sigset_t none;
    sigemptyset(&none);
    sigprocmask(SIG_SETMASK, &none, nullptr);
    execv(args[0], args.data());
    _exit(127);
}

int WaitStatus(pid_t pid, int timeoutMs) {
    const auto start = Clock::now();
    for (;;) {
        int status = 0;
        pid_t r = waitpid(pid, &status, WNOHANG);
        if (r == pid) {
            return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
        }
        if (r < 0) {
            return -1;
        }
        if (Since(start) * 1000 > timeoutMs) {
            return -2;
        }
        usleep(2000);
    }
}

}  // namespace

std::string SimPath() {
    return VX_SIM_PATH;
}

std::string CliPath() {
    return VX_CLI_PATH;
}

SimProcess::SimProcess(std::vector<std::string> options) {
    char dirTemplate[] = "/tmp/vx-sim-XXXXXX";
    if (!mkdtemp(dirTemplate)) {
        throw std::runtime_error(std::string("mkdtemp: ") + std::strerror(errno));
    }
    tempDir_ = dirTemplate;
    bool hasLog = false;
    for (size_t i = 0; i + 1 < options.size(); ++i) {
        if (options[i] == "--log") {
            hasLog = true;
            logPath_ = options[i + 1];
        }
    }
    if (!hasLog) {
        logPath_ = tempDir_ + "/sim.log";
        options.push_back("--log");
        options.push_back(logPath_);
    }
    std::vector<std::string> argv{SimPath()};
    argv.insert(argv.end(), options.begin(), options.end());

    int in[2], out[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    pid_ = Spawn(argv, in[0], out[1], 2, false);
    ::close(in[0]);
    ::close(out[1]);
    toChild_ = in[1];
    fromChild_ = out[0];
    if (pid_ < 0) {
        throw std::runtime_error("fork failed");
    }
    port_ = ReadLine(5000);
    if (port_.rfind("/dev/", 0) != 0) {
        const int status = Stop();
        throw std::runtime_error("vardex2-sim did not start (status " + std::to_string(status) +
                                 ", said \"" + port_ + "\")");
    }
}

SimProcess::~SimProcess() {
    Stop();
    if (!tempDir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(tempDir_, ignored);
    }
}

int SimProcess::Stop() {
    int status = -1;
    if (pid_ > 0) {
        if (toChild_ >= 0) {
            signal(SIGPIPE, SIG_IGN);
            const char quit[] = "quit\n";
            (void)!::write(toChild_, quit, sizeof quit - 1);
        }
        status = WaitStatus(pid_, 1000);
        if (status == -2) {
            kill(pid_, SIGKILL);
            status = WaitStatus(pid_, 5000);
            status = -1;
        }
        pid_ = -1;
    }
    for (int* fd : {&toChild_, &fromChild_}) {
        if (*fd >= 0) {
            ::close(*fd);
            *fd = -1;
        }
    }
    return status;
}

std::string SimProcess::ReadLine(int timeoutMs) {
    const auto start = Clock::now();
    for (;;) {
        const size_t eol = pending_.find('\n');
        if (eol != std::string::npos) {
            std::string line = pending_.substr(0, eol);
            pending_.erase(0, eol + 1);
            return line;
        }
        const int left = timeoutMs - static_cast<int>(Since(start) * 1000);
        if (left <= 0 || fromChild_ < 0) {
            return "";
        }
        pollfd p{fromChild_, POLLIN, 0};
        if (poll(&p, 1, left) <= 0) {
            continue;
        }
        char buf[4096];
        ssize_t n = ::read(fromChild_, buf, sizeof buf);
        if (n <= 0) {
            return "";
        }
        pending_.append(buf, static_cast<size_t>(n));
    }
}

std::string SimProcess::Control(const std::string& line) {
    if (toChild_ < 0) {
        throw std::runtime_error("vardex2-sim is not running");
    }
    const std::string text = line + "\n";
    if (::write(toChild_, text.data(), text.size()) != static_cast<ssize_t>(text.size())) {
        throw std::runtime_error("vardex2-sim does not take control lines");
    }
    return ReadLine(5000);
}

void SimProcess::Fault(const std::string& name, int arg) {
    const std::string answer =
        Control("fault " + name + (arg >= 0 ? " " + std::to_string(arg) : ""));
    if (answer != "ok") {
        throw std::runtime_error("fault " + name + ": " + answer);
    }
}

void SimProcess::FaultOff() {
    Fault("off");
}

void SimProcess::Present(std::uint32_t code) {
    const std::string answer = Control("present " + std::to_string(code));
    if (answer != "ok") {
        throw std::runtime_error("present: " + answer);
    }
}

SimState SimProcess::State() {
    const std::string json = Control("state");
    SimState state;
    std::string error;
    if (!SimStateFromJson(json, state, error)) {
        throw std::runtime_error("state: " + error + ": " + json);
    }
    return state;
}

std::string SimProcess::Log() const {
    std::ifstream in(logPath_, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

ProcessResult RunProgram(const std::vector<std::string>& argv, const std::string& input,
                         int timeoutMs) {
    ProcessResult result;
    int in[2], out[2], err[2];
    if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0 || pipe2(err, O_CLOEXEC) != 0) {
        throw std::runtime_error("pipe failed");
    }
    const auto start = Clock::now();
    const pid_t pid = Spawn(argv, in[0], out[1], err[1], true);
    ::close(in[0]);
    ::close(out[1]);
    ::close(err[1]);
    signal(SIGPIPE, SIG_IGN);
    if (!input.empty()) {
        (void)!::write(in[1], input.data(), input.size());
    }
    ::close(in[1]);
    bool outOpen = true, errOpen = true;
    bool killed = false;
    while (outOpen || errOpen) {
        const int left = timeoutMs - static_cast<int>(Since(start) * 1000);
        if (left <= 0 && !killed) {
            kill(pid, SIGKILL);
            killed = true;
        }
        pollfd p[2] = {{outOpen ? out[0] : -1, POLLIN, 0}, {errOpen ? err[0] : -1, POLLIN, 0}};
        if (poll(p, 2, left > 0 ? left : 100) <= 0) {
            continue;
        }
        char buf[4096];
        for (int i = 0; i < 2; ++i) {
            if (!(p[i].revents & (POLLIN | POLLHUP | POLLERR))) {
                continue;
            }
            ssize_t n = ::read(p[i].fd, buf, sizeof buf);
            if (n <= 0) {
                (i == 0 ? outOpen : errOpen) = false;
            } else {
                (i == 0 ? result.out : result.err).append(buf, static_cast<size_t>(n));
            }
        }
    }
    ::close(out[0]);
    ::close(err[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.seconds = Since(start);
    return result;
}
