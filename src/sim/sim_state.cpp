#include "sim/sim_state.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace {

// A whole number in [0, max]; anything else (a fraction, a string, out of range) is
// a fault of the file, not something to round.
bool Unsigned(const nlohmann::json& value, std::uint32_t max, const char* name, std::uint32_t& out,
              std::string& error) {
    if (!value.is_number_integer() ||
        (!value.is_number_unsigned() && value.get<std::int64_t>() < 0)) {
        error = std::string(name) + ": ожидалось целое неотрицательное число";
        return false;
    }
    const auto v = value.get<std::uint64_t>();
    if (v > max) {
        error = std::string(name) + ": число вне допустимого диапазона";
        return false;
    }
    out = static_cast<std::uint32_t>(v);
    return true;
}

}  // namespace

std::string SimStateToJson(const SimState& state) {
    const nlohmann::ordered_json json{{"keys", state.keys},
                                      {"vardex", state.vardex},
                                      {"timeOpen", state.timeOpen},
                                      {"retryRead", state.retryRead}};
    return json.dump();
}

bool SimStateFromJson(const std::string& text, SimState& state, std::string& error) {
    const nlohmann::json json = nlohmann::json::parse(text, nullptr, false);
    if (json.is_discarded()) {
        error = "текст не является документом JSON";
        return false;
    }
    if (!json.is_object()) {
        error = "ожидался объект JSON";
        return false;
    }
    SimState parsed;
    std::uint32_t v = 0;
    if (auto it = json.find("keys"); it != json.end()) {
        if (!it->is_array()) {
            error = "keys: ожидался массив ключей";
            return false;
        }
        for (const auto& key : *it) {
            if (!Unsigned(key, 0xFFFFFF, "keys", v, error))
                return false;
            parsed.keys.push_back(v);
        }
    }
    if (auto it = json.find("vardex"); it != json.end()) {
        if (!Unsigned(*it, 0xFFFFFF, "vardex", v, error))
            return false;
        parsed.vardex = v;
    }
    if (auto it = json.find("timeOpen"); it != json.end()) {
        if (!Unsigned(*it, 255, "timeOpen", v, error))
            return false;
        parsed.timeOpen = static_cast<int>(v);
    }
    if (auto it = json.find("retryRead"); it != json.end()) {
        if (!Unsigned(*it, 255, "retryRead", v, error))
            return false;
        parsed.retryRead = static_cast<int>(v);
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
