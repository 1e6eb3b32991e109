#include "sim/sim_state.h"

#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "core/keys/atomic_file.h"

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
    std::string text;
    if (int err = ReadWholeFile(path, text)) {
        error = path + ": " + ErrorText(err);
        return false;
    }
    if (!SimStateFromJson(text, state, error)) {
        error = path + ": " + error;
        return false;
    }
    return true;
}

// The same writing as the databases': locked, atomic, and never through a planted link
// or a predictable temporary name.
bool SaveSimState(const std::string& path, const SimState& state, std::string& error) {
    if (int err = ReplaceFile(path, SimStateToJson(state) + "\n")) {
        error = path + ": " + ErrorText(err);
        return false;
    }
    return true;
}
