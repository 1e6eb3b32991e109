#include "sim/sim_state.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

namespace {

// A small JSON reader: enough for the state document, strict about syntax, and
// able to skip any value it does not need.
class JsonReader {
  public:
    explicit JsonReader(const std::string& text) : s_(text) {}

    bool ReadState(SimState& state, std::string& error) {
        if (!ReadObject(state)) {
            error = error_.empty() ? "ожидался объект JSON" : error_;
            return false;
        }
        SkipSpace();
        if (pos_ != s_.size()) {
            error = "лишние символы после объекта JSON";
            return false;
        }
        return true;
    }

  private:
    const std::string& s_;
    size_t pos_ = 0;
    int depth_ = 0;
    std::string error_;

    void SkipSpace() {
        while (pos_ < s_.size() &&
               (s_[pos_] == ' ' || s_[pos_] == '\t' || s_[pos_] == '\n' || s_[pos_] == '\r')) {
            ++pos_;
        }
    }
    bool Eat(char c) {
        SkipSpace();
        if (pos_ < s_.size() && s_[pos_] == c) {
            ++pos_;
            return true;
        }
        return false;
    }
    bool Fail(const std::string& what) {
        if (error_.empty()) {
            error_ = what + " (позиция " + std::to_string(pos_) + ")";
        }
        return false;
    }

    bool ReadString(std::string& out) {
        if (!Eat('"')) {
            return Fail("ожидалась строка");
        }
        out.clear();
        while (pos_ < s_.size() && s_[pos_] != '"') {
            if (s_[pos_] == '\\') {
                ++pos_;
                if (pos_ >= s_.size()) {
                    break;
                }
                if (s_[pos_] == 'u') {
                    pos_ += 4;  // names we look for are plain ASCII
                    out += '?';
                } else {
                    out += s_[pos_];
                }
                ++pos_;
            } else {
                out += s_[pos_++];
            }
        }
        if (pos_ >= s_.size()) {
            return Fail("незакрытая строка");
        }
        ++pos_;
        return true;
    }

    bool ReadNumber(double& value) {
        SkipSpace();
        const char* begin = s_.c_str() + pos_;
        char* end = nullptr;
        errno = 0;
        value = std::strtod(begin, &end);
        if (end == begin || errno == ERANGE) {
            return Fail("ожидалось число");
        }
        pos_ += static_cast<size_t>(end - begin);
        return true;
    }

    bool ReadUnsigned(std::uint32_t& out, double max) {
        double v = 0;
        if (!ReadNumber(v)) {
            return false;
        }
        if (v < 0 || v > max || v != static_cast<double>(static_cast<std::uint64_t>(v))) {
            return Fail("число вне допустимого диапазона");
        }
        out = static_cast<std::uint32_t>(v);
        return true;
    }

    bool SkipValue() {
        if (++depth_ > 64) {
            return Fail("слишком глубокая вложенность");
        }
        SkipSpace();
        bool ok = true;
        if (pos_ >= s_.size()) {
            ok = Fail("неожиданный конец текста");
        } else if (s_[pos_] == '"') {
            std::string ignored;
            ok = ReadString(ignored);
        } else if (s_[pos_] == '{') {
            ++pos_;
            if (!Eat('}')) {
                do {
                    std::string name;
                    ok = ReadString(name) && (Eat(':') || Fail("ожидалось ':'")) && SkipValue();
                } while (ok && Eat(','));
                ok = ok && (Eat('}') || Fail("ожидалось '}'"));
            }
        } else if (s_[pos_] == '[') {
            ++pos_;
            if (!Eat(']')) {
                do {
                    ok = SkipValue();
                } while (ok && Eat(','));
                ok = ok && (Eat(']') || Fail("ожидалось ']'"));
            }
        } else if (s_.compare(pos_, 4, "true") == 0 || s_.compare(pos_, 4, "null") == 0) {
            pos_ += 4;
        } else if (s_.compare(pos_, 5, "false") == 0) {
            pos_ += 5;
        } else {
            double ignored;
            ok = ReadNumber(ignored);
        }
        --depth_;
        return ok;
    }

    bool ReadObject(SimState& state) {
        if (!Eat('{')) {
            return Fail("ожидался объект JSON");
        }
        if (Eat('}')) {
            return true;
        }
        do {
            std::string name;
            if (!ReadString(name) || !(Eat(':') || Fail("ожидалось ':'"))) {
                return false;
            }
            bool ok = true;
            std::uint32_t v = 0;
            if (name == "keys") {
                state.keys.clear();
                ok = Eat('[') || Fail("ожидался массив ключей");
                if (ok && !Eat(']')) {
                    do {
                        ok = ReadUnsigned(v, 0xFFFFFF);
                        if (ok) {
                            state.keys.push_back(v);
                        }
                    } while (ok && Eat(','));
                    ok = ok && (Eat(']') || Fail("ожидалось ']'"));
                }
            } else if (name == "vardex") {
                ok = ReadUnsigned(v, 0xFFFFFF);
                state.vardex = v;
            } else if (name == "timeOpen") {
                ok = ReadUnsigned(v, 255);
                state.timeOpen = static_cast<int>(v);
            } else if (name == "retryRead") {
                ok = ReadUnsigned(v, 255);
                state.retryRead = static_cast<int>(v);
            } else {
                ok = SkipValue();
            }
            if (!ok) {
                return false;
            }
        } while (Eat(','));
        return Eat('}') || Fail("ожидалось '}'");
    }
};

}  // namespace

std::string SimStateToJson(const SimState& state) {
    std::string out = "{\"keys\":[";
    for (size_t i = 0; i < state.keys.size(); ++i) {
        if (i) {
            out += ',';
        }
        out += std::to_string(state.keys[i]);
    }
    out += "],\"vardex\":" + std::to_string(state.vardex) +
           ",\"timeOpen\":" + std::to_string(state.timeOpen) +
           ",\"retryRead\":" + std::to_string(state.retryRead) + "}";
    return out;
}

bool SimStateFromJson(const std::string& text, SimState& state, std::string& error) {
    SimState parsed;
    JsonReader reader(text);
    if (!reader.ReadState(parsed, error)) {
        return false;
    }
    state = parsed;
    return true;
}

bool LoadSimState(const std::string& path, SimState& state, std::string& error) {
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        error = path + ": " + std::strerror(errno);
        return false;
    }
    std::ostringstream text;
    text << in.rdbuf();
    if (!SimStateFromJson(text.str(), state, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

bool SaveSimState(const std::string& path, const SimState& state, std::string& error) {
    const std::string temp = path + ".tmp";
    const std::string text = SimStateToJson(state) + "\n";
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0) {
        error = temp + ": " + std::strerror(errno);
        return false;
    }
    size_t done = 0;
    while (done < text.size()) {
        ssize_t n = ::write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) {
            continue;
        }
        if (n <= 0) {
            error = temp + ": " + std::strerror(errno);
            ::close(fd);
            ::unlink(temp.c_str());
            return false;
        }
        done += static_cast<size_t>(n);
    }
    if (::fsync(fd) != 0 || ::close(fd) != 0) {
        error = temp + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    }
    if (std::rename(temp.c_str(), path.c_str()) != 0) {
        error = path + ": " + std::strerror(errno);
        ::unlink(temp.c_str());
        return false;
    }
    return true;
}
