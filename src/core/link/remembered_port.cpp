#include "core/link/remembered_port.h"

#include <cstdlib>
#include <fstream>

#include "core/keys/hex.h"

namespace {

std::string Trim(const std::string& s) {
    const auto first = s.find_first_not_of(" \t\r");
    if (first == std::string::npos)
        return {};
    const auto last = s.find_last_not_of(" \t\r");
    return s.substr(first, last - first + 1);
}

void AppendUtf8(std::string& out, unsigned code) {
    if (code < 0x80) {
        out += static_cast<char>(code);
    } else if (code < 0x800) {
        out += static_cast<char>(0xC0 | (code >> 6));
        out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        out += static_cast<char>(0xE0 | (code >> 12));
        out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (code & 0x3F));
    }
}

// QSettings' INI value: text in and out of double quotes, with C-like escapes.
// Whitespace outside quotes at either end is not part of the value.
std::string Unescape(const std::string& raw) {
    const std::string text = Trim(raw);
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '"')
            continue;
        if (c != '\\' || i + 1 >= text.size()) {
            out += c;
            continue;
        }
        const char e = text[++i];
        switch (e) {
            case 'a':
                out += '\a';
                break;
            case 'b':
                out += '\b';
                break;
            case 'f':
                out += '\f';
                break;
            case 'n':
                out += '\n';
                break;
            case 'r':
                out += '\r';
                break;
            case 't':
                out += '\t';
                break;
            case 'v':
                out += '\v';
                break;
            case 'x': {
                unsigned code = 0;
                while (i + 1 < text.size() && HexDigitValue(text[i + 1]) >= 0)
                    code = code * 16 + static_cast<unsigned>(HexDigitValue(text[++i]));
                AppendUtf8(out, code & 0xFFFF);
                break;
            }
            default:
                if (e >= '0' && e <= '7') {
                    unsigned code = static_cast<unsigned>(e - '0');
                    while (i + 1 < text.size() && text[i + 1] >= '0' && text[i + 1] <= '7')
                        code = code * 8 + static_cast<unsigned>(text[++i] - '0');
                    AppendUtf8(out, code & 0xFFFF);
                } else {
                    out += e;  // \" \\ \' \? and anything else stand for themselves
                }
        }
    }
    return out;
}

}  // namespace

std::string SettingsFilePath() {
    std::string base;
    if (const char* xdg = std::getenv("XDG_CONFIG_HOME"); xdg != nullptr && xdg[0] == '/') {
        base = xdg;
    } else if (const char* home = std::getenv("HOME"); home != nullptr && home[0] != '\0') {
        base = std::string(home) + "/.config";
    } else {
        return {};
    }
    return base + "/Vardex2/Vardex2.conf";
}

std::optional<std::string> ReadRememberedPort(const std::string& settingsPath) {
    std::ifstream in(settingsPath);
    if (!in)
        return std::nullopt;
    std::string line;
    bool general = true;  // keys before any section belong to [General]
    std::optional<std::string> found;
    while (std::getline(in, line)) {
        const std::string t = Trim(line);
        if (t.empty() || t[0] == ';' || t[0] == '#')
            continue;
        if (t[0] == '[') {
            general = t == "[General]";
            continue;
        }
        const auto eq = t.find('=');
        if (!general || eq == std::string::npos || Trim(t.substr(0, eq)) != "ComPort")
            continue;
        std::string value = Unescape(t.substr(eq + 1));
        // A string that starts with '@' is written with a second one; anything else
        // after '@' is a typed value (@Invalid(), @ByteArray(...)), not a port.
        if (value.rfind("@@", 0) == 0)
            value.erase(0, 1);
        else if (!value.empty() && value[0] == '@')
            value.clear();
        found = value;  // the last one wins, as it does for QSettings
    }
    if (!found || found->empty())
        return std::nullopt;
    return found;
}

std::optional<std::string> DefaultPort() {
    if (const char* env = std::getenv("VARDEX2_PORT"); env != nullptr && env[0] != '\0')
        return std::string(env);
    const std::string path = SettingsFilePath();
    if (path.empty())
        return std::nullopt;
    return ReadRememberedPort(path);
}
