// Key numbers in the forms people have in hand; see key_number.h for the forms.
#include "core/keys/key_number.h"

#include <cstdint>
#include <cstdio>

#include "core/keys/hex.h"

namespace {

constexpr KeyCode kLow24 = 0xFFFFFF;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

bool IsAsciiLetterOrDigit(char c) {
    return IsDigit(c) || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
}

// Length of the blank at `pos`: ASCII blanks, and the no-break and narrow no-break
// spaces that spreadsheets and word processors put into numbers. 0 when none.
std::size_t BlankAt(std::string_view s, std::size_t pos) {
    char c = s[pos];
    if (c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f')
        return 1;
    if (s.substr(pos, 2) == "\xC2\xA0")
        return 2;
    if (s.substr(pos, 3) == "\xE2\x80\xAF" || s.substr(pos, 3) == "\xE2\x80\x87")
        return 3;
    return 0;
}

// Every run of blanks as one ' ', none at the ends.
std::string Normalized(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    bool pendingBlank = false;
    for (std::size_t pos = 0; pos < text.size();) {
        if (std::size_t n = BlankAt(text, pos); n != 0) {
            pendingBlank = !out.empty();
            pos += n;
            continue;
        }
        if (pendingBlank)
            out.push_back(' ');
        pendingBlank = false;
        out.push_back(text[pos++]);
    }
    return out;
}

// The whole UTF-8 character that starts at `pos`, for naming it in a refusal.
std::string CharacterAt(std::string_view s, std::size_t pos) {
    auto b = static_cast<unsigned char>(s[pos]);
    std::size_t n = b < 0x80 ? 1 : (b & 0xE0) == 0xC0 ? 2 : (b & 0xF0) == 0xE0 ? 3 : 4;
    if (pos + n > s.size())
        n = s.size() - pos;
    return std::string(s.substr(pos, n));
}

KeyNumber Refused(std::string reason) {
    KeyNumber r;
    r.reason = std::move(reason);
    return r;
}

KeyNumber Accepted(KeyCode code) {
    if (code == 0)
        return Refused("Номер 0 означает «нет карты(ключа)»");
    KeyNumber r;
    r.ok = true;
    r.code = code;
    return r;
}

std::string Count(std::size_t n, const char* one, const char* few, const char* many) {
    std::size_t tens = n % 100;
    std::size_t units = n % 10;
    const char* word = (tens >= 11 && tens <= 14)   ? many
                       : units == 1                 ? one
                       : (units >= 2 && units <= 4) ? few
                                                    : many;
    return std::to_string(n) + " " + word;
}

std::uint64_t HexOf(std::string_view digits) {
    std::uint64_t v = 0;
    for (char c : digits)
        v = (v << 4) | static_cast<std::uint64_t>(HexDigitValue(c));
    return v;
}

std::uint64_t DecimalOf(std::string_view digits) {
    std::uint64_t v = 0;
    for (char c : digits)
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
    return v;
}

bool IsX(char c) {
    return c == 'X' || c == 'x';
}

std::string NotHexDigit(const std::string& s, std::size_t pos) {
    return "Символ «" + CharacterAt(s, pos) + "» не является шестнадцатеричной цифрой (0–9, A–F)";
}

// "XX XX XXXXXX 12ABCD": ten X standing for the digits that are not stored, then the key.
bool IsListText(const std::string& compact) {
    if (compact.size() < 10)
        return false;
    for (std::size_t i = 0; i < 10; ++i) {
        if (!IsX(compact[i]))
            return false;
    }
    return true;
}

KeyNumber ListText(const std::string& s, const std::string& compact) {
    if (compact.size() == 10 || IsX(compact[10]))
        return Refused("После «XX XX XXXXXX» должно стоять от 1 до 6 цифр номера");
    for (std::size_t i = s.find_first_not_of("Xx "); i < s.size(); ++i) {
        if (s[i] != ' ' && HexDigitValue(s[i]) < 0)
            return Refused(NotHexDigit(s, i));
    }
    const std::string_view digits = std::string_view(compact).substr(10);
    if (digits.size() > 6)
        return Refused("После «XX XX XXXXXX» больше шести цифр");
    return Accepted(static_cast<KeyCode>(HexOf(digits)));
}

// "0x12ABCD": a hexadecimal key said to be one.
KeyNumber Prefixed(const std::string& s) {
    const std::string_view digits = std::string_view(s).substr(2);
    for (std::size_t i = 2; i < s.size(); ++i) {
        if (HexDigitValue(s[i]) < 0)
            return Refused(NotHexDigit(s, i));
    }
    if (digits.empty() || digits.size() > 6)
        return Refused("После 0x должно стоять от 1 до 6 шестнадцатеричных цифр, а их " +
                       std::to_string(digits.size()));
    return Accepted(static_cast<KeyCode>(HexOf(digits)));
}

// The text as words of letters and digits and the separators between them: ',' or
// '.' (blanks around them belong to them) or a blank alone.
struct Lexed {
    std::vector<std::string> words;
    std::string separators;  // separators[i] stands between words[i] and words[i + 1]
    std::string badChar;     // a character that belongs to no number
};

Lexed Lex(const std::string& s) {
    Lexed out;
    std::string word;
    char pending = 0;
    for (std::size_t i = 0; i < s.size(); ++i) {
        char c = s[i];
        if (IsAsciiLetterOrDigit(c)) {
            if (word.empty() && !out.words.empty())
                out.separators.push_back(pending ? pending : ' ');
            if (word.empty() && out.words.empty() && pending) {
                out.badChar = std::string(1, pending);  // a separator before any digit
                return out;
            }
            word.push_back(c);
            pending = 0;
            continue;
        }
        if (!word.empty()) {
            out.words.push_back(word);
            word.clear();
        }
        if (c == ' ') {
            if (!pending)
                pending = ' ';
        } else if (c == ',' || c == '.') {
            if (pending == ',' || pending == '.') {
                out.badChar = std::string(1, c);  // two separators in a row
                return out;
            }
            pending = c;
        } else {
            out.badChar = CharacterAt(s, i);
            return out;
        }
    }
    if (!word.empty())
        out.words.push_back(word);
    else if (pending == ',' || pending == '.')
        out.badChar = std::string(1, pending);  // a separator after the last digit
    return out;
}

bool AllDecimal(std::string_view w) {
    for (char c : w) {
        if (!IsDigit(c))
            return false;
    }
    return true;
}

// Facility and card number: "122,31354".
KeyNumber ThreePlusFive(const std::string& facility, const std::string& number) {
    for (const std::string* w : {&facility, &number}) {
        for (char c : *w) {
            if (!IsDigit(c))
                return Refused("Символ «" + std::string(1, c) +
                               "» не может входить в номер карты: код объекта и номер "
                               "карты — десятичные цифры");
        }
    }
    if (facility.size() > 3)
        return Refused("Код объекта (до запятой) — не больше трёх цифр");
    // A spreadsheet that took "066,04100" for a fraction shows "66,041": the card
    // number has lost digits that no one can restore.
    if (number.size() != 5)
        return Refused("После запятой должно быть ровно 5 цифр номера карты, а их " +
                       std::to_string(number.size()) +
                       " (число вида «66,041» могло быть искажено электронной таблицей)");
    const std::uint64_t f = DecimalOf(facility);
    const std::uint64_t n = DecimalOf(number);
    if (f > 255)
        return Refused("Код объекта " + facility + " больше 255");
    if (n > 65535)
        return Refused("Номер карты " + number + " больше 65535");
    return Accepted(static_cast<KeyCode>((f << 16) | n));
}

// One word of hexadecimal digits: its length says which form it is.
KeyNumber OneWord(int typeFormat, const std::string& w) {
    const std::size_t n = w.size();
    const bool decimal = AllDecimal(w);
    if (n <= 6) {
        const auto hex = static_cast<KeyCode>(HexOf(w));
        // Shown as EM-Marine, "123456" may as well be the beginning of a card's number.
        if (decimal && typeFormat != TypeFormatIButton && hex != 0) {
            KeyNumber r = Refused(
                "Из 1–6 цифр может состоять и шестнадцатеричный номер ключа, и начало номера "
                "карты: номер ключа введите с 0x (0x" +
                w + "), номер карты — целиком (122,31354 или 0008026746)");
            r.ambiguous = true;
            r.hexadecimal = hex;
            return r;
        }
        return Accepted(hex);
    }
    if (n == 8 && decimal)
        return ThreePlusFive(w.substr(0, 3), w.substr(3));
    if (n == 10)
        return Accepted(static_cast<KeyCode>((decimal ? DecimalOf(w) : HexOf(w)) & kLow24));
    if (n == 12)
        return Accepted(static_cast<KeyCode>(HexOf(std::string_view(w).substr(6))));
    return Refused(Count(n, "цифра", "цифры", "цифр") +
                   ": номер ключа — от 1 до 6 шестнадцатеричных цифр или 12 с корпуса ключа, "
                   "номер карты — 8 цифр (код объекта и номер) или 10 цифр с карты");
}

KeyNumber Parse(int typeFormat, std::string_view text) {
    const std::string s = Normalized(text);
    if (s.empty())
        return Refused("Номер не введён");
    std::string compact;
    for (char c : s) {
        if (c != ' ')
            compact.push_back(c);
    }
    if (IsListText(compact))
        return ListText(s, compact);
    if (s.size() >= 2 && s[0] == '0' && IsX(s[1]))
        return Prefixed(s);
    const Lexed lx = Lex(s);
    if (!lx.badChar.empty())
        return Refused("Символ «" + lx.badChar + "» не может стоять здесь в номере карты(ключа)");
    const auto& w = lx.words;
    for (const std::string& word : w) {
        for (std::size_t i = 0; i < word.size(); ++i) {
            if (HexDigitValue(word[i]) < 0)
                return Refused(NotHexDigit(word, i));
        }
    }
    if (w.size() == 1)
        return OneWord(typeFormat, w[0]);
    const bool blanksOnly = lx.separators.find_first_not_of(' ') == std::string::npos;
    // The serial engraved on the key, in the groups it is printed in.
    if (blanksOnly && compact.size() == 12)
        return Accepted(static_cast<KeyCode>(HexOf(std::string_view(compact).substr(6))));
    if (w.size() == 2) {
        if (blanksOnly && !(AllDecimal(w[0]) && AllDecimal(w[1])))
            return Refused(
                "Пробел допустим только между группами цифр с корпуса ключа "
                "(0100 7A7A 7A7E) и между кодом объекта и номером карты (122 31354)");
        return ThreePlusFive(w[0], w[1]);
    }
    // Both printed numbers of one card: "0008026746 122,31354" (either order).
    if (w.size() == 3) {
        const bool cardFirst = w.front().size() == 10 && lx.separators.front() == ' ';
        const bool cardLast = w.back().size() == 10 && lx.separators.back() == ' ';
        if (cardFirst != cardLast) {
            const std::string& card = cardFirst ? w[0] : w[2];
            KeyNumber printed = OneWord(typeFormat, card);
            KeyNumber split = cardFirst ? ThreePlusFive(w[1], w[2]) : ThreePlusFive(w[0], w[1]);
            if (!printed)
                return printed;
            if (!split)
                return split;
            if (printed.code != split.code)
                return Refused("Номера " + card + " и " + Format(TypeFormatEmMarine, split.code) +
                               " обозначают разные карты");
            return printed;
        }
    }
    return Refused("В тексте несколько чисел: " + Count(w.size(), "число", "числа", "чисел"));
}

}  // namespace

KeyNumber ParseKeyNumber(int typeFormat, std::string_view text) {
    return Parse(typeFormat, text);
}

std::string AcceptedKeyForms(int typeFormat) {
    std::string forms =
        "Номер читается в формах: от 1 до 6 шестнадцатеричных цифр (12ABCD, 0x12ABCD), текст "
        "списка (XX XX XXXXXX 12ABCD), 12 цифр с корпуса ключа (01007A7A7A7E), код объекта и "
        "номер карты (122,31354 или 12231354), 10 цифр с карты (0008026746), 10 "
        "шестнадцатеричных цифр ID карты (0A004D7603)";
    if (typeFormat != TypeFormatIButton)
        forms += ". Номер ключа из одних цифр вводится с 0x";
    return forms;
}

std::string KeyNumberRefusal(int typeFormat, const KeyNumber& refused) {
    return refused.reason + "\r" + AcceptedKeyForms(typeFormat);
}

std::vector<std::pair<std::string, std::string>> KeyForms(KeyCode code) {
    char decimal[16];
    std::snprintf(decimal, sizeof decimal, "%010u", static_cast<unsigned>(code & kLow24));
    char hex[16];
    std::snprintf(hex, sizeof hex, "%06X", static_cast<unsigned>(code));
    return {{"iButton", Format(TypeFormatIButton, code)},
            {"EM-Marine", Format(TypeFormatEmMarine, code)},
            {"Десятичный (10 цифр)", decimal},
            {"Шестнадцатеричный", hex}};
}

std::string KeyFormsText(KeyCode code) {
    std::string out;
    for (const auto& [name, form] : KeyForms(code)) {
        if (!out.empty())
            out.push_back('\n');
        out += name + ": " + form;
    }
    return out;
}
