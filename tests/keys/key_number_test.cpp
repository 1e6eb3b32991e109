// Key numbers as people have them in hand: every accepted form of both formats, and
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

TEST(KeyNumberIButton, ShortHexListTextAndEngravedSerial) {
    ExpectKey(IB, "12ABCD", 0x12ABCD);
    ExpectKey(IB, "12abcd", 0x12ABCD);
    ExpectKey(IB, "1", 1);
    ExpectKey(IB, "fffff", 0xFFFFF);
    ExpectKey(IB, "  00000A\t", 10);
    ExpectKey(IB, "XX XX XXXXXX 12ABCD", 0x12ABCD);
    ExpectKey(IB, "xx xx xxxxxx 12abcd", 0x12ABCD);
    ExpectKey(IB, "XXXXXXXXXX12ABCD", 0x12ABCD);
    ExpectKey(IB, "XX XX XXXXXX FFFFFF", 0xFFFFFF);
    ExpectKey(IB, "000000FBC52B", 0xFBC52B);
    ExpectKey(IB, "000000 FBC52B", 0xFBC52B);
    ExpectKey(IB, "00 00 00 FB C5 2B", 0xFBC52B);
    ExpectKey(IB,
              "0000\xC2\xA0"
              "00fbc52b",
              0xFBC52B);  // a no-break space from a document
    // The list shows only the serial's last six digits, whatever the first six are.
    ExpectKey(IB, "1A2B3C000001", 1);
    // Every text the list shows reads back as its key.
    for (KeyCode code : {1u, 0xABu, 0x12ABCDu, 0xFFFFFFu})
        ExpectKey(IB, Format(IB, code).c_str(), code);
}

TEST(KeyNumberIButton, RefusesLettersBeyondFWrongLengthsAndZero) {
    ExpectRefused(IB, "12O456", "«O»");  // the fault: this stored 0x000012
    ExpectRefused(IB,
                  "12\xD0\x9E"
                  "456",
                  "«\xD0\x9E»");  // Cyrillic О, named whole
    ExpectRefused(IB, "12ZZZZ", "«Z»");
    ExpectRefused(IB, "0x12AB", "«x»");
    ExpectRefused(IB, "1234567", "7 шестнадцатеричных цифр");
    ExpectRefused(IB, "12345678901", "11 шестнадцатеричных цифр");
    ExpectRefused(IB, "1234567890123", "13 шестнадцатеричных цифр");
    ExpectRefused(IB, "12 ABCD", "Пробелы");  // two numbers or one? not guessed
    ExpectRefused(IB, "XX XX XXXXXX 1000000", "больше шести");
    ExpectRefused(IB, "XX XX XXXXXX", "от 1 до 6");
    ExpectRefused(IB, "XX XX XXXXXXX 12", "от 1 до 6");
    ExpectRefused(IB, "XX 12ABCD", "«X»");
    ExpectRefused(IB, "12AB XX", "«X»");
    ExpectRefused(IB, "000000", "0");
    ExpectRefused(IB, "ABCDEF000000", "0");
    ExpectRefused(IB, "", "не введён");
    ExpectRefused(IB, "   ", "не введён");
    // An EM-Marine text in an iButton database is not read as hexadecimal.
    ExpectRefused(IB, "066,04103", "«,»");
    ExpectRefused(IB, "0004329479", "10 шестнадцатеричных цифр");
}

TEST(KeyNumberEmMarine, FacilityAndNumberInEverySeparator) {
    ExpectKey(EM, "066,04103", (66u << 16) | 4103u);
    ExpectKey(EM, "066.04103", (66u << 16) | 4103u);
    ExpectKey(EM, "066 04103", (66u << 16) | 4103u);
    ExpectKey(EM, " 066 , 04103 ", (66u << 16) | 4103u);
    ExpectKey(EM, "66,04103", (66u << 16) | 4103u);  // a dropped leading zero loses nothing
    ExpectKey(EM, "0,00001", 1);
    ExpectKey(EM, "255,65535", 0xFFFFFF);
    ExpectKey(EM, "018,43981", 0x12ABCD);
    for (KeyCode code : {1u, 0x12ABCDu, 0xFFFFFFu, 0x800001u})
        ExpectKey(EM, Format(EM, code).c_str(), code);
}

TEST(KeyNumberEmMarine, PrintedDecimalAndHexadecimalCardNumbers) {
    ExpectKey(EM, "0004329479", 4329479);  // 066,04103
    EXPECT_EQ(Format(EM, ParseKeyNumber(EM, "0004329479").code), "066,04103");
    ExpectKey(EM, "0016777215", 0xFFFFFF);
    ExpectKey(EM, "0016777217", 1);  // above 24 bits: the low 24, as the controller
    ExpectKey(EM, "9999999999", 9999999999ull & 0xFFFFFF);
    ExpectKey(EM, "0A004D7603", 0x4D7603);
    ExpectKey(EM, "0a004d7603", 0x4D7603);
    ExpectKey(EM, "FFFFFFFFFF", 0xFFFFFF);
    // Both numbers printed on a card, when they agree.
    ExpectKey(EM, "0004329479 066,04103", 4329479);
    ExpectKey(EM, "066,04103 0004329479", 4329479);
    ExpectKey(EM, "0004329479 066 04103", 4329479);
}

TEST(KeyNumberEmMarine, RefusesOutOfRangeMangledAndAmbiguousTexts) {
    ExpectRefused(EM, "256,00001", "Код объекта 256 больше 255");
    ExpectRefused(EM, "255,65536", "Номер карты 65536 больше 65535");
    ExpectRefused(EM, "999,99999", "больше 255");
    ExpectRefused(EM, "1000,00001", "не больше трёх цифр");
    // What a spreadsheet makes of "066,04100": refused, never guessed.
    ExpectRefused(EM, "66,041", "ровно 5 цифр");
    ExpectRefused(EM, "66.041", "ровно 5 цифр");
    ExpectRefused(EM, "66,041030", "ровно 5 цифр");
    ExpectRefused(EM, "4329479", "7 цифр");
    ExpectRefused(EM, "06604103", "8 цифр");  // the entry field's value without its comma
    ExpectRefused(EM, "000000000001", "12 цифр");
    ExpectRefused(EM, "4D7603", "ровно 10 цифр");
    ExpectRefused(EM, "0G004D7603", "«G»");
    ExpectRefused(EM, "066,0410A", "«A»");
    ExpectRefused(EM, "066-04103", "«-»");
    ExpectRefused(EM, "066,,04103", "«,»");
    ExpectRefused(EM, ",04103", "«,»");
    ExpectRefused(EM, "066,", "«,»");
    ExpectRefused(EM, "1,2,3", "несколько чисел");
    ExpectRefused(EM, "0004329479 066,04104", "разные карты");
    ExpectRefused(EM, "XX XX XXXXXX 12ABCD", "«X»");
    ExpectRefused(EM, "000,00000", "0");
    ExpectRefused(EM, "0000000000", "0");
    ExpectRefused(EM, "0016777216", "0");  // 2^24 keeps no low bits: no key
    ExpectRefused(EM, "", "не введён");
}

TEST(KeyNumberRefusal, NamesTheAcceptedFormsOfTheFormat) {
    KeyNumber r = ParseKeyNumber(IB, "12O456");
    const std::string ib = KeyNumberRefusal(IB, r);
    EXPECT_EQ(ib.find(r.reason), 0u);
    for (const char* form : {"12ABCD", "XX XX XXXXXX 12ABCD", "000000FBC52B"})
        EXPECT_NE(ib.find(form), std::string::npos) << form;
    const std::string em = KeyNumberRefusal(EM, ParseKeyNumber(EM, "66,041"));
    for (const char* form : {"066,04103", "0004329479", "0A004D7603"})
        EXPECT_NE(em.find(form), std::string::npos) << form;
    EXPECT_NE(em.find('\r'), std::string::npos);
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
