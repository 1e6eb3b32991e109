// Key numbers in the forms people have in hand; see key_number.h for the forms.
#include "core/keys/key_number.h"

#include <cstdint>
#include <cstdio>

namespace {

constexpr KeyCode kLow24 = 0xFFFFFF;

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
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
        v = (v << 4) | static_cast<std::uint64_t>(HexValue(c));
    return v;
}

std::uint64_t DecimalOf(std::string_view digits) {
    std::uint64_t v = 0;
    for (char c : digits)
        v = v * 10 + static_cast<std::uint64_t>(c - '0');
    return v;
}

// --- iButton ---------------------------------------------------------------------

KeyNumber ParseIButton(std::string_view text) {
    const std::string s = Normalized(text);
    if (s.empty())
        return Refused("Номер не введён");
    std::string compact;
    for (char c : s) {
        if (c != ' ')
            compact.push_back(c);
    }
    // The list's own text: ten X standing for the digits that are not stored.
    std::string_view digits = compact;
    auto isX = [](char c) { return c == 'X' || c == 'x'; };
    bool listText = compact.size() >= 10;
    for (std::size_t i = 0; listText && i < 10; ++i)
        listText = isX(compact[i]);
    if (listText && (compact.size() == 10 || isX(compact[10])))
        return Refused("После «XX XX XXXXXX» должно стоять от 1 до 6 цифр номера");
    if (listText)
        digits = std::string_view(compact).substr(10);
    for (std::size_t i = 0; i < s.size(); ++i) {
        if (s[i] == ' ' || HexValue(s[i]) >= 0)
            continue;
        if (listText && isX(s[i]) && s.find_first_not_of("Xx ") > i)
            continue;
        return Refused("Символ «" + CharacterAt(s, i) +
                       "» не является шестнадцатеричной цифрой (0–9, A–F)");
    }
    if (listText) {
        if (digits.size() > 6)
            return Refused("После «XX XX XXXXXX» больше шести цифр");
        return Accepted(static_cast<KeyCode>(HexOf(digits)));
    }
    // The serial engraved on the key: the list shows its last six digits.
    if (digits.size() == 12)
        return Accepted(static_cast<KeyCode>(HexOf(digits.substr(6))));
    if (s.find(' ') != std::string::npos)
        return Refused("Пробелы допустимы только в 12-значном номере с корпуса ключа");
    if (digits.size() > 6)
        return Refused(Count(digits.size(), "шестнадцатеричная цифра", "шестнадцатеричные цифры",
                             "шестнадцатеричных цифр") +
                       ": в номере ключа от 1 до 6 цифр, с корпуса ключа — 12");
    return Accepted(static_cast<KeyCode>(HexOf(digits)));
}

// --- EM-Marine -------------------------------------------------------------------

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

bool AllDecimal(const std::string& w) {
    for (char c : w) {
        if (!IsDigit(c))
            return false;
    }
    return true;
}

// The first character of a word that is no hexadecimal digit, or npos.
std::size_t FirstNonHex(const std::string& w) {
    for (std::size_t i = 0; i < w.size(); ++i) {
        if (HexValue(w[i]) < 0)
            return i;
    }
    return std::string::npos;
}

// Facility and card number: "066,04103".
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

// The number printed on the card as one word: ten decimal digits, or the card ID of
// ten hexadecimal digits with a letter.
KeyNumber CardNumber(const std::string& w) {
    if (std::size_t bad = FirstNonHex(w); bad != std::string::npos)
        return Refused("Символ «" + std::string(1, w[bad]) + "» не может входить в номер карты");
    if (AllDecimal(w)) {
        if (w.size() != 10)
            return Refused(Count(w.size(), "цифра", "цифры", "цифр") +
                           ": номер с карты — ровно 10 цифр, иначе код объекта и номер "
                           "через запятую");
        return Accepted(static_cast<KeyCode>(DecimalOf(w) & kLow24));
    }
    if (w.size() != 10)
        return Refused("Шестнадцатеричный номер карты — ровно 10 цифр, а здесь " +
                       std::to_string(w.size()));
    return Accepted(static_cast<KeyCode>(HexOf(w) & kLow24));
}

KeyNumber ParseEmMarine(std::string_view text) {
    const std::string s = Normalized(text);
    if (s.empty())
        return Refused("Номер не введён");
    const Lexed lx = Lex(s);
    if (!lx.badChar.empty())
        return Refused("Символ «" + lx.badChar + "» не может стоять здесь в номере карты");
    const auto& w = lx.words;
    for (const std::string& word : w) {
        if (std::size_t bad = FirstNonHex(word); bad != std::string::npos)
            return Refused("Символ «" + std::string(1, word[bad]) +
                           "» не может входить в номер карты");
    }
    if (w.size() == 1)
        return CardNumber(w[0]);
    if (w.size() == 2)
        return ThreePlusFive(w[0], w[1]);
    // Both printed numbers of one card: "0004329479 066,04103" (either order).
    if (w.size() == 3) {
        const bool cardFirst = w.front().size() == 10 && lx.separators.front() == ' ';
        const bool cardLast = w.back().size() == 10 && lx.separators.back() == ' ';
        if (cardFirst != cardLast) {
            const std::string& card = cardFirst ? w[0] : w[2];
            KeyNumber printed = CardNumber(card);
            KeyNumber split = cardFirst ? ThreePlusFive(w[1], w[2]) : ThreePlusFive(w[0], w[1]);
            if (!printed)
                return printed;
            if (!split)
                return split;
            if (printed.code != split.code)
                return Refused("Номера " + card + " и " + Format(1, split.code) +
                               " обозначают разные карты");
            return printed;
        }
    }
    return Refused("В тексте несколько чисел: " + Count(w.size(), "число", "числа", "чисел"));
}

}  // namespace

KeyNumber ParseKeyNumber(int typeFormat, std::string_view text) {
    return typeFormat == TypeFormatIButton ? ParseIButton(text) : ParseEmMarine(text);
}

std::string AcceptedKeyForms(int typeFormat) {
    if (typeFormat == TypeFormatIButton)
        return "Номер ключа iButton: от 1 до 6 шестнадцатеричных цифр (12ABCD), текст списка "
               "(XX XX XXXXXX 12ABCD) или 12 цифр с корпуса ключа (000000FBC52B)";
    return "Номер карты EM-Marine: код объекта и номер карты (066,04103), 10 цифр с карты "
           "(0004329479) или 10 шестнадцатеричных цифр ID карты (0A004D7603)";
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
