// Key numbers as people have them in hand: typed, pasted from the list, printed on a
// card or engraved on a key. One reader for every entry point (the key dialog, the
// command line's key arguments, the CSV import, the search, the journal's filter), so
// that a text is either read the same way everywhere or refused everywhere with the
// same reason.
//
// The printed forms do not overlap, so each is read as itself whichever display format
// the database has:
//   1 to 6 hexadecimal digits, with or without "0x"      12ABCD, 12abcd, 0x12ABCD
//   the list's iButton text                               XX XX XXXXXX 12ABCD
//   the 12-digit serial engraved on the key (blanks        01007A7A7A7E, 0100 7A7A 7A7E
//     allowed between its digits): its last six digits
//   EM-Marine facility and card number                    122,31354  122.31354  122 31354
//     (also the eight digits of the entry field)          12231354
//   the 10-digit decimal printed on cards: low 24 bits    0008026746
//   the 10-digit hexadecimal card ID with a letter A-F    0A004D7603
//   both printed numbers of one card, when they agree     0008026746 122,31354
// The one text two forms could share is 1 to 6 bare decimal digits while EM-Marine is
// shown (a hexadecimal key, or the beginning of a card number): it is refused as
// `ambiguous`, with the hint to type "0x" or the card's whole number. Anything else is
// refused with its reason; a text that could be read two ways is never guessed at.
#pragma once

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "core/keys/key_code.h"

struct KeyNumber {
    bool ok = false;
    KeyCode code = 0;    // when ok: 1..0xFFFFFF
    std::string reason;  // when refused: why, in Russian (UTF-8)
    // Refused only because EM-Marine is shown and the text is 1 to 6 bare digits;
    // `hexadecimal` is the key it is when read as hexadecimal (never 0).
    bool ambiguous = false;
    KeyCode hexadecimal = 0;
    explicit operator bool() const { return ok; }
};

KeyNumber ParseKeyNumber(int typeFormat, std::string_view text);

// The forms that are read, one sentence naming each with an example.
std::string AcceptedKeyForms(int typeFormat);
// The whole refusal: the reason, a carriage return, the accepted forms.
std::string KeyNumberRefusal(int typeFormat, const KeyNumber& refused);

// One key in every form the operator may meet it in, for the list's tooltips:
// {"iButton", "XX XX XXXXXX 12ABCD"}, {"EM-Marine", "018,43981"},
// {"Десятичный (10 цифр)", "0001223629"}, {"Шестнадцатеричный", "12ABCD"}.
std::vector<std::pair<std::string, std::string>> KeyForms(KeyCode code);
// The same as lines "name: form" joined by '\n'.
std::string KeyFormsText(KeyCode code);
