// Key numbers: the two text forms, the entry masks and the reading of typed values.
#include "core/keys/key_code.h"

#include <algorithm>
#include <cstdint>

namespace {

constexpr char kIButtonPrefix[] = "XX XX XXXXXX ";
constexpr std::size_t kIButtonPrefixLength = sizeof(kIButtonPrefix) - 1;
constexpr char kHexDigits[] = "0123456789ABCDEF";

bool IsBlank(char c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}

int HexValue(char c) {
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// One "%Nd" conversion of the C scanner: skips blanks, then reads an optional sign and
// digits, at most `width` characters in all. False when no digit could be read.
bool ScanDecimal(std::string_view text, std::size_t& pos, int width, std::int64_t& out) {
    while (pos < text.size() && IsBlank(text[pos]))
        ++pos;
    std::size_t start = pos;
    std::size_t limit = std::min(text.size(), start + static_cast<std::size_t>(width));
    bool negative = false;
    if (pos < limit && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }
    std::int64_t value = 0;
    std::size_t digits = 0;
    while (pos < limit && text[pos] >= '0' && text[pos] <= '9') {
        value = value * 10 + (text[pos] - '0');
        ++pos;
        ++digits;
    }
    if (digits == 0) {
        pos = start;
        return false;
    }
    out = negative ? -value : value;
    return true;
}

// The EM-Marine entry as the "%03d%05d" scan reads it; false fields stay 0.
void ScanEmMarine(std::string_view entered, std::int64_t& facility, std::int64_t& number) {
    facility = 0;
    number = 0;
    std::size_t pos = 0;
    if (!ScanDecimal(entered, pos, 3, facility))
        return;
    ScanDecimal(entered, pos, 5, number);
}

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
        // In a QLineEdit mask "X" is a placeholder, so the literal X are escaped. "H" takes
        // only a hexadecimal digit and ">" shows it in upper case: a letter beyond F
        // would end the number's reading there and store a key nobody typed.
        m.qtInputMask = "\\X\\X \\X\\X \\X\\X\\X\\X\\X\\X >HHHHHH;_";
    } else {
        m.mask = "999,99999;0;_";
        m.initialText = "000,00000";
        // "0" is an optional digit in a QLineEdit mask.
        m.qtInputMask = "000,00000;_";
    }
    m.blank = '_';
    return m;
}

bool Complete(int typeFormat, std::string_view entered) {
    // A value that reads as 0 ("00 000") would store "no key" as a key; a letter beyond F
    // would end the reading early and store a shorter number than the one typed.
    if (typeFormat == TypeFormatIButton) {
        return entered.size() == 6 &&
               entered.find_first_not_of("0123456789ABCDEFabcdef") == std::string_view::npos &&
               Parse(typeFormat, entered) != 0;
    }
    if (entered.size() != 8 || entered == "00000000" || Parse(typeFormat, entered) == 0)
        return false;
    // A facility above 255 or a number above 65535 would overlap the other field and
    // store a number the operator never typed.
    std::int64_t facility = 0;
    std::int64_t number = 0;
    ScanEmMarine(entered, facility, number);
    return facility >= 0 && facility <= 0xFF && number >= 0 && number <= 0xFFFF;
}

KeyCode Parse(int typeFormat, std::string_view entered) {
    if (typeFormat == TypeFormatIButton) {
        std::size_t pos = 0;
        while (pos < entered.size() && IsBlank(entered[pos]))
            ++pos;
        KeyCode value = 0;
        for (std::size_t end = std::min(entered.size(), pos + 6); pos < end; ++pos) {
            int digit = HexValue(entered[pos]);
            if (digit < 0)
                break;
            value = (value << 4) | static_cast<KeyCode>(digit);
        }
        return value;
    }
    std::int64_t facility = 0;
    std::int64_t number = 0;
    ScanEmMarine(entered, facility, number);
    return static_cast<KeyCode>((static_cast<std::uint64_t>(facility) << 16) |
                                static_cast<std::uint64_t>(number));
}

std::string EnteredValue(int typeFormat, std::string_view text) {
    const EntryMask m = GetEntryMask(typeFormat);
    std::string_view shape = m.initialText;
    // A text of the display shape: keep the input positions, blanks as spaces.
    bool displayShape = text.size() == shape.size();
    for (std::size_t i = 0; displayShape && i < shape.size(); ++i) {
        bool literal = typeFormat == TypeFormatIButton ? i < kIButtonPrefixLength : i == 3;
        if (literal && text[i] != shape[i])
            displayShape = false;
    }
    std::string entered;
    if (displayShape) {
        for (std::size_t i = 0; i < text.size(); ++i) {
            bool literal = typeFormat == TypeFormatIButton ? i < kIButtonPrefixLength : i == 3;
            if (!literal)
                entered.push_back(text[i] == m.blank ? ' ' : text[i]);
        }
    } else {
        for (char c : text)
            entered.push_back(c == m.blank ? ' ' : c);
    }
    while (!entered.empty() && entered.back() == ' ')
        entered.pop_back();
    return entered;
}
