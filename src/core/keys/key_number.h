// Key numbers as people have them in hand: typed, pasted from the list, printed on a
// card or engraved on a key. One reader for every entry point (the key dialog's paste,
// the command line's key arguments, the CSV import, the search), so that a text is
// either read the same way everywhere or refused everywhere with the same reason.
//
// The database's display format decides which forms are read:
//   iButton:   1 to 6 hexadecimal digits ("12ABCD", "12abcd");
//              the list's own text ("XX XX XXXXXX 12ABCD");
//              the 12-digit serial engraved on the key ("000000FBC52B", blanks allowed
//              between its digits): the last six digits are the key.
//   EM-Marine: facility and card number "066,04103" (also "066.04103", "066 04103");
//              the 10-digit decimal printed on cards ("0004329479"): its low 24 bits;
//              the 10-digit hexadecimal card ID with a letter A-F ("0A004D7603"): its
//              low 24 bits;
//              both printed forms of one card side by side ("0004329479 066,04103"),
//              when they agree.
// Anything else is refused with its reason; a text that could be read two ways is
// never guessed at.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/keys/key_code.h"

struct KeyNumber {
    bool ok = false;
    KeyCode code = 0;    // when ok: 1..0xFFFFFF
    std::string reason;  // when refused: why, one sentence in Russian (UTF-8)
    explicit operator bool() const { return ok; }
};

KeyNumber ParseKeyNumber(int typeFormat, std::string_view text);

// The forms the database's format reads, one sentence naming each with an example.
std::string AcceptedKeyForms(int typeFormat);
// The whole refusal: the reason, a carriage return, the accepted forms.
std::string KeyNumberRefusal(int typeFormat, const KeyNumber& refused);

// One key in every form the operator may meet it in, for the list's tooltips:
// {"iButton", "XX XX XXXXXX 12ABCD"}, {"EM-Marine", "018,43981"},
// {"Десятичный (10 цифр)", "0001223629"}, {"Шестнадцатеричный", "12ABCD"}.
std::vector<std::pair<std::string, std::string>> KeyForms(KeyCode code);
// The same as lines "name: form" joined by '\n'.
std::string KeyFormsText(KeyCode code);
