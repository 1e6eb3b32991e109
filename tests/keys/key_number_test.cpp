// Key numbers as people have them in hand: every accepted form in both formats, and
// the refusals with their reasons.
#include "core/keys/key_number.h"

#include <gtest/gtest.h>

namespace {

constexpr int IB = TypeFormatIButton;
constexpr int EM = TypeFormatEmMarine;

void ExpectKey(int typeFormat, const char* text, KeyCode code) {
    KeyNumber r = ParseKeyNumber(typeFormat, text);
    EXPECT_TRUE(r.ok) << "\"" << text << "\": " << r.reason;
    EXPECT_EQ(r.code, code) << "\"" << text << "\"";
}

// Refused, with a reason that contains `why`.
void ExpectRefused(int typeFormat, const char* text, const char* why) {
    KeyNumber r = ParseKeyNumber(typeFormat, text);
    EXPECT_FALSE(r.ok) << "\"" << text << "\" read as " << r.code;
    EXPECT_EQ(r.code, 0u);
    EXPECT_NE(r.reason.find(why), std::string::npos)
        << "\"" << text << "\": reason \"" << r.reason << "\" lacks \"" << why << "\"";
}

// Every printed form is read as itself whichever format is shown (the table that the
// dialog, the CSV import and the command line are held to is in tests/ui).
TEST(KeyNumber, EachFormReadsAsItselfInBothFormats) {
    const struct {
        const char* text;
        KeyCode code;
    } cases[] = {
        {"0x1", 1},
        {"fffff", 0xFFFFF},
        {"  00000A\t", 10},
        {"0X00000a", 10},
        {"xx xx xxxxxx 12abcd", 0x12ABCD},
        {"XXXXXXXXXX12ABCD", 0x12ABCD},
        {"XX XX XXXXXX FFFFFF", 0xFFFFFF},
        {"000000 FBC52B", 0xFBC52B},
        {"00 00 00 FB C5 2B", 0xFBC52B},
        {"0000\xC2\xA0"
         "00fbc52b",
         0xFBC52B},           // a no-break space from a document
        {"1A2B3C000001", 1},  // only the serial's last six digits are the key
        {"000000000001", 1},
        {" 066 , 04103 ", (66u << 16) | 4103u},
        {"66,04103", (66u << 16) | 4103u},  // a dropped leading zero loses nothing
        {"0,00001", 1},
        {"255,65535", 0xFFFFFF},
        {"06604103", (66u << 16) | 4103u},
        {"0016777217", 1},  // above 24 bits: the low 24, as the controller
        {"9999999999", 9999999999ull & 0xFFFFFF},
        {"0a004d7603", 0x4D7603},
        {"FFFFFFFFFF", 0xFFFFFF},
        // Both numbers printed on a card, when they agree.
        {"0004329479 066,04103", 4329479},
        {"066,04103 0004329479", 4329479},
        {"0004329479 066 04103", 4329479},
    };
    for (int tf : {IB, EM}) {
        for (const auto& c : cases)
            ExpectKey(tf, c.text, c.code);
        // Every text the list shows, in either format, reads back as its key.
        for (KeyCode code : {1u, 0xABu, 0x12ABCDu, 0xFFFFFFu, 0x800001u}) {
            ExpectKey(tf, Format(IB, code).c_str(), code);
            ExpectKey(tf, Format(EM, code).c_str(), code);
        }
    }
}

TEST(KeyNumber, RefusesWithTheReason) {
    const struct {
        const char* text;
        const char* why;
    } cases[] = {
        {"12O456", "«O»"},  // the mask once stored 0x000012 for this
        {"12\xD0\x9E"
         "456",
         "«\xD0\x9E»"},  // Cyrillic О, named whole
        {"12ZZZZ", "«Z»"},
        {"0x", "от 1 до 6"},
        {"0x1234567", "от 1 до 6"},
        {"0x12 34", "« »"},
        {"1234567", "7 цифр"},
        {"12345678901", "11 цифр"},
        {"1234567890123", "13 цифр"},
        {"1234ABCD", "8 цифр"},
        {"12 ABCD", "Пробел"},  // two numbers or one? not guessed
        {"XX XX XXXXXX 1000000", "больше шести"},
        {"XX XX XXXXXX", "от 1 до 6"},
        {"XX XX XXXXXXX 12", "от 1 до 6"},
        {"XX 12ABCD", "«X»"},
        {"12AB XX", "«X»"},
        {"000000", "0"},
        {"ABCDEF000000", "0"},
        {"000,00000", "0"},
        {"0000000000", "0"},
        {"0016777216", "0"},  // 2^24 keeps no low bits: no key
        {"", "не введён"},
        {"   ", "не введён"},
        {"256,00001", "Код объекта 256 больше 255"},
        {"255,65536", "Номер карты 65536 больше 65535"},
        {"999,99999", "больше 255"},
        {"1000,00001", "не больше трёх цифр"},
        // What a spreadsheet makes of "066,04100": refused, never guessed.
        {"66,041", "ровно 5 цифр"},
        {"66.041", "ровно 5 цифр"},
        {"66,041030", "ровно 5 цифр"},
        {"0G004D7603", "«G»"},
        {"066,0410A", "«A»"},
        {"066-04103", "«-»"},
        {"066,,04103", "«,»"},
        {",04103", "«,»"},
        {"066,", "«,»"},
        {"1,2,3", "несколько чисел"},
        {"0004329479 066,04104", "разные карты"},
    };
    for (int tf : {IB, EM}) {
        for (const auto& c : cases)
            ExpectRefused(tf, c.text, c.why);
    }
}

// 1-6 bare digits are the one text two forms could share, and only while EM-Marine is
// shown: a hexadecimal key or the beginning of a card's number.
TEST(KeyNumber, ShortBareDigitsAreAmbiguousOnlyAsEmMarine) {
    ExpectKey(IB, "123456", 0x123456);
    ExpectKey(IB, "0012", 0x12);
    for (const char* text : {"123456", "0012", "7"}) {
        KeyNumber r = ParseKeyNumber(EM, text);
        EXPECT_FALSE(r.ok) << text;
        EXPECT_TRUE(r.ambiguous) << text;
        EXPECT_NE(r.reason.find(std::string("0x") + text), std::string::npos) << r.reason;
    }
    EXPECT_EQ(ParseKeyNumber(EM, "0012").hexadecimal, 0x12u);
    // A letter, or 0x, says which it is.
    ExpectKey(EM, "12345A", 0x12345A);
    ExpectKey(EM, "0x123456", 0x123456);
    EXPECT_FALSE(ParseKeyNumber(EM, "000000").ambiguous);  // no key at all
    EXPECT_FALSE(ParseKeyNumber(IB, "123456").ambiguous);
}

TEST(KeyNumberRefusal, NamesTheAcceptedForms) {
    for (int tf : {IB, EM}) {
        KeyNumber r = ParseKeyNumber(tf, "8026746");
        const std::string text = KeyNumberRefusal(tf, r);
        EXPECT_EQ(text.find(r.reason), 0u);
        EXPECT_NE(text.find('\r'), std::string::npos);
        for (const char* form : {"12ABCD", "0x12ABCD", "XX XX XXXXXX 12ABCD", "01007A7A7A7E",
                                 "122,31354", "12231354", "0008026746", "0A004D7603"})
            EXPECT_NE(text.find(form), std::string::npos) << form;
    }
    EXPECT_NE(AcceptedKeyForms(EM).find("с 0x"), std::string::npos);
}

TEST(KeyNumberForms, EveryFormOfOneKeyReadsBackAsIt) {
    auto forms = KeyForms(4329479);
    ASSERT_EQ(forms.size(), 4u);
    EXPECT_EQ(forms[0].second, "XX XX XXXXXX 421007");
    EXPECT_EQ(forms[1].second, "066,04103");
    EXPECT_EQ(forms[2].second, "0004329479");
    EXPECT_EQ(forms[3].second, "421007");
    EXPECT_EQ(KeyFormsText(0x12ABCD),
              "iButton: XX XX XXXXXX 12ABCD\nEM-Marine: 018,43981\n"
              "Десятичный (10 цифр): 0001223629\nШестнадцатеричный: 12ABCD");
    for (KeyCode code : {1u, 0x12ABCDu, 0xFFFFFFu}) {
        auto f = KeyForms(code);
        EXPECT_EQ(ParseKeyNumber(IB, f[0].second).code, code);
        EXPECT_EQ(ParseKeyNumber(EM, f[1].second).code, code);
        EXPECT_EQ(ParseKeyNumber(EM, f[2].second).code, code);
        EXPECT_EQ(ParseKeyNumber(IB, f[3].second).code, code);
    }
}

}  // namespace
