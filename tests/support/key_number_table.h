// Every printed form of a key number with the key it is, or refused: read alike by the
// key dialog, the CSV import, the command line's key arguments and the search, in both
// display formats.
#pragma once

#include "core/keys/key_code.h"

struct KeyNumberCase {
    const char* text;
    KeyCode code;  // 0: refused in both formats
};

inline constexpr KeyNumberCase kKeyNumberTable[] = {
    // 1-6 hexadecimal digits, with or without 0x
    {"12ABCD", 0x12ABCD},
    {"12abcd", 0x12ABCD},
    {"0x12ABCD", 0x12ABCD},
    {"0x7B1234", 0x7B1234},
    // the list's iButton text
    {"XX XX XXXXXX 12ABCD", 0x12ABCD},
    // the 12-digit serial engraved on the key: its last six digits
    {"01007A7A7A7E", 0x7A7A7E},
    {"0100 7A7A 7A7E", 0x7A7A7E},
    // EM-Marine facility and number; the eight digits of the entry field
    {"122,31354", 0x7A7A7A},
    {"122.31354", 0x7A7A7A},
    {"122 31354", 0x7A7A7A},
    {"12231354", 0x7A7A7A},
    // the 10-digit decimal printed on cards: its low 24 bits
    {"0008026746", 0x7A7A7A},
    // the 10-digit hexadecimal card ID with a letter: its low 24 bits
    {"0A004D7603", 0x4D7603},
    // no form has these shapes
    {"8026746", 0},
    {"1234567", 0},
    {"123456789", 0},
    {"0", 0},
    {"zzz", 0},
};

// 1-6 bare digits: a hexadecimal key while iButton is shown; while EM-Marine is shown
// it may as well be the beginning of a card's number, and is refused with the hint.
inline constexpr KeyNumberCase kShortDigits = {"123456", 0x123456};
