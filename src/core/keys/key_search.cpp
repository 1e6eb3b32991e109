// The search over the key list; see key_search.h.
#include "core/keys/key_search.h"

#include <string.h>

#include <algorithm>
#include <array>

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

void KeySearchIndex::Clear() {
    codes_.clear();
    numbers_.clear();
    numberStarts_.clear();
    descriptions_.clear();
    descriptionStarts_.clear();
}

void KeySearchIndex::Reserve(std::size_t keys) {
    codes_.reserve(keys);
    numbers_.reserve(keys * 37);
    numberStarts_.reserve(keys + 1);
    descriptions_.reserve(keys * 32);
    descriptionStarts_.reserve(keys + 1);
}

void KeySearchIndex::Append(KeyCode code, std::string_view cp1251Description) {
    if (numberStarts_.empty()) {
        numberStarts_.push_back(0);
        descriptionStarts_.push_back(0);
    }
    codes_.push_back(code);
    const unsigned facility = (code >> 16) & 0xFF;
    const unsigned number = code & 0xFFFF;
    AppendHex(numbers_, code);
    numbers_.push_back('|');
    AppendDecimal(numbers_, facility, 3);
    numbers_.push_back(',');
    AppendDecimal(numbers_, number, 5);
    numbers_.push_back('|');
    AppendDecimal(numbers_, facility, 3);
    AppendDecimal(numbers_, number, 5);
    numbers_.push_back('|');
    AppendDecimal(numbers_, code & 0xFFFFFF, 10);
    numbers_.push_back('\0');
    numberStarts_.push_back(static_cast<std::uint32_t>(numbers_.size()));
    for (char c : cp1251Description)
        descriptions_.push_back(static_cast<char>(kFold[static_cast<unsigned char>(c)]));
    descriptions_.push_back('\0');
    descriptionStarts_.push_back(static_cast<std::uint32_t>(descriptions_.size()));
}

void KeySearchIndex::Assign(const std::vector<DbKey>& keys) {
    Clear();
    Reserve(keys.size());
    for (const DbKey& k : keys)
        Append(k.code, k.description);
}

void KeySearchIndex::Mark(const std::string& buffer, const std::vector<std::uint32_t>& starts,
                          const std::string& needle, std::vector<std::uint8_t>& flags) {
    const char* base = buffer.data();
    const char* end = base + buffer.size();
    const char* at = base;
    while (at < end) {
        const void* hit =
            ::memmem(at, static_cast<std::size_t>(end - at), needle.data(), needle.size());
        if (!hit)
            break;
        const auto offset = static_cast<std::uint32_t>(static_cast<const char*>(hit) - base);
        // The key whose text holds the hit; its other hits need not be looked at.
        const std::size_t key = static_cast<std::size_t>(
            std::upper_bound(starts.begin(), starts.end(), offset) - starts.begin() - 1);
        flags[key] = 1;
        at = base + starts[key + 1];
    }
}

std::size_t KeySearchIndex::Match(const KeyQuery& query, std::vector<std::uint8_t>& flags) const {
    const std::size_t n = codes_.size();
    flags.assign(n, query.empty ? 1 : 0);
    if (query.empty)
        return n;
    if (query.exact) {
        for (std::size_t i = 0; i < n; ++i) {
            if (codes_[i] == query.code)
                flags[i] = 1;
        }
    }
    if (!query.digits.empty())
        Mark(numbers_, numberStarts_, query.digits, flags);
    if (!query.description.empty())
        Mark(descriptions_, descriptionStarts_, query.description, flags);
    std::size_t count = 0;
    for (std::uint8_t f : flags)
        count += f;
    return count;
}

std::vector<std::size_t> SearchKeys(int typeFormat, const std::vector<DbKey>& keys,
                                    std::string_view utf8Text) {
    KeySearchIndex index;
    index.Assign(keys);
    std::vector<std::uint8_t> flags;
    index.Match(MakeKeyQuery(typeFormat, utf8Text), flags);
    std::vector<std::size_t> found;
    for (std::size_t i = 0; i < flags.size(); ++i) {
        if (flags[i])
            found.push_back(i);
    }
    return found;
}
