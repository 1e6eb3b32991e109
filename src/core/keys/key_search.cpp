// The search over the key list; see key_search.h.
#include "core/keys/key_search.h"

#include <array>
#include <cstdio>

#include "core/keys/cp1251.h"
#include "core/keys/key_number.h"

namespace {

constexpr std::array<unsigned char, 256> MakeFoldTable() {
    std::array<unsigned char, 256> t{};
    for (int b = 0; b < 256; ++b)
        t[b] = static_cast<unsigned char>(b);
    for (int b = 'A'; b <= 'Z'; ++b)
        t[b] = static_cast<unsigned char>(b + 0x20);
    for (int b = 0xC0; b <= 0xDF; ++b)  // А..Я
        t[b] = static_cast<unsigned char>(b + 0x20);
    // The Cyrillic capitals outside А..Я, each to its small letter.
    constexpr std::pair<int, int> pairs[] = {
        {0x80, 0x90}, {0x81, 0x83}, {0x8A, 0x9A}, {0x8C, 0x9C}, {0x8D, 0x9D},
        {0x8E, 0x9E}, {0x8F, 0x9F}, {0xA1, 0xA2}, {0xA3, 0xBC}, {0xA5, 0xB4},
        {0xAA, 0xBA}, {0xAF, 0xBF}, {0xB2, 0xB3}, {0xBD, 0xBE},
    };
    for (auto [capital, small] : pairs)
        t[capital] = static_cast<unsigned char>(small);
    // "Ёлкин" is typed "Елкин" as often as not.
    t[0xA8] = 0xE5;
    t[0xB8] = 0xE5;
    return t;
}

constexpr std::array<unsigned char, 256> kFold = MakeFoldTable();

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

std::string_view Trimmed(std::string_view s) {
    while (!s.empty() && IsBlank(s.front()))
        s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back()))
        s.remove_suffix(1);
    return s;
}

// Part of a number as typed: the digits of any form without blanks, the list's
// leading X dropped. Empty when the text holds anything else.
std::string NumberPart(std::string_view text) {
    std::string out;
    bool leading = true;
    for (char c : text) {
        if (IsBlank(c))
            continue;
        if (leading && (c == 'X' || c == 'x'))
            continue;
        leading = false;
        if (c >= 'a' && c <= 'f')
            c = static_cast<char>(c - 0x20);
        if (c == '.')
            c = ',';
        bool digit = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F');
        if (!digit && c != ',')
            return {};
        out.push_back(c);
    }
    if (out.find_first_not_of(',') == std::string::npos)
        return {};
    return out;
}

}  // namespace

std::string FoldCp1251(std::string_view cp1251) {
    std::string out(cp1251.size(), '\0');
    for (std::size_t i = 0; i < cp1251.size(); ++i)
        out[i] = static_cast<char>(kFold[static_cast<unsigned char>(cp1251[i])]);
    return out;
}

KeySearchEntry MakeKeySearchEntry(KeyCode code, std::string_view cp1251Description) {
    KeySearchEntry e;
    e.code = code;
    const unsigned facility = (code >> 16) & 0xFF;
    const unsigned number = code & 0xFFFF;
    char buf[64];
    int n =
        std::snprintf(buf, sizeof buf, "%06X|%03u,%05u|%03u%05u|%010u", static_cast<unsigned>(code),
                      facility, number, facility, number, static_cast<unsigned>(code & 0xFFFFFF));
    e.numbers.assign(buf, static_cast<std::size_t>(n));
    e.description = FoldCp1251(cp1251Description);
    return e;
}

KeyQuery MakeKeyQuery(int typeFormat, std::string_view utf8Text) {
    KeyQuery q;
    const std::string_view text = Trimmed(utf8Text);
    if (text.empty())
        return q;
    q.empty = false;
    if (KeyNumber parsed = ParseKeyNumber(typeFormat, text)) {
        q.exact = true;
        q.code = parsed.code;
    }
    q.digits = NumberPart(text);
    std::string cp1251;
    if (Utf8ToCp1251(text, cp1251))
        q.description = FoldCp1251(cp1251);
    return q;
}

bool KeyMatches(const KeyQuery& query, const KeySearchEntry& entry) {
    if (query.empty)
        return true;
    if (query.exact && entry.code == query.code)
        return true;
    if (!query.digits.empty() && entry.numbers.find(query.digits) != std::string::npos)
        return true;
    return !query.description.empty() &&
           entry.description.find(query.description) != std::string::npos;
}

std::vector<std::size_t> SearchKeys(int typeFormat, const std::vector<DbKey>& keys,
                                    std::string_view utf8Text) {
    const KeyQuery query = MakeKeyQuery(typeFormat, utf8Text);
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i < keys.size(); ++i) {
        if (query.empty || KeyMatches(query, MakeKeySearchEntry(keys[i].code, keys[i].description)))
            found.push_back(i);
    }
    return found;
}
