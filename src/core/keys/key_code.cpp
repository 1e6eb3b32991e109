// Key numbers: the two text forms and the entry masks (reading them is key_number.cpp).
#include "core/keys/key_code.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr char kIButtonPrefix[] = "XX XX XXXXXX ";
constexpr std::size_t kIButtonPrefixLength = sizeof(kIButtonPrefix) - 1;
constexpr char kHexDigits[] = "0123456789ABCDEF";

}  // namespace

void AppendHex(std::string& out, KeyCode code) {
    char digits[8];
    int n = 0;
    do {
        digits[n++] = kHexDigits[code & 0xF];
        code >>= 4;
    } while (code != 0);
    for (int i = n; i < 6; ++i)
        out.push_back('0');
    while (n > 0)
        out.push_back(digits[--n]);
}

void AppendDecimal(std::string& out, unsigned value, int width) {
    char digits[10];
    int n = 0;
    do {
        digits[n++] = static_cast<char>('0' + value % 10);
        value /= 10;
    } while (value != 0);
    for (int i = n; i < width; ++i)
        out.push_back('0');
    while (n > 0)
        out.push_back(digits[--n]);
}

const char* TypeFormatCaption(int typeFormat) {
    // Any stored value other than 0 shows numbers as EM-Marine.
    return typeFormat == TypeFormatIButton ? "Ключи iButton (TouchMemory)"
                                           : "Карты Proxy (EMMarin 3+5)";
}

void AppendFormatted(std::string& out, int typeFormat, KeyCode code) {
    if (typeFormat == TypeFormatIButton) {
        out.append(kIButtonPrefix, kIButtonPrefixLength);
        AppendHex(out, code);
    } else {
        AppendDecimal(out, (code >> 16) & 0xFF, 3);
        out.push_back(',');
        AppendDecimal(out, code & 0xFFFF, 5);
    }
}

std::string Format(int typeFormat, KeyCode code) {
    std::string out;
    out.reserve(kIButtonPrefixLength + 8);
    AppendFormatted(out, typeFormat, code);
    return out;
}

EntryMask GetEntryMask(int typeFormat) {
    EntryMask m;
    if (typeFormat == TypeFormatIButton) {
        m.mask = "XX XX XXXXXX AAAAAA;0;_";
        m.initialText = "XX XX XXXXXX 000000";
    } else {
        m.mask = "999,99999;0;_";
        m.initialText = "000,00000";
    }
    m.blank = '_';
    return m;
}
