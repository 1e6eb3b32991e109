// Key numbers: text forms, entry masks, completeness and parsing of typed values.
#include "core/keys/key_code.h"

#include <gtest/gtest.h>

#include "core/keys/cp1251.h"

namespace {

TEST(KeyCodeFormat, TextFormsInBothFormats) {
    struct Case {
        KeyCode code;
        const char* ibutton;
        const char* em;
    } cases[] = {
        {0, "XX XX XXXXXX 000000", "000,00000"},
        {1, "XX XX XXXXXX 000001", "000,00001"},
        {0x12ABCD, "XX XX XXXXXX 12ABCD", "018,43981"},
        {0xFFFFFF, "XX XX XXXXXX FFFFFF", "255,65535"},
        {0x1000000, "XX XX XXXXXX 1000000", "000,00000"},
        {0xFFFFFFFF, "XX XX XXXXXX FFFFFFFF", "255,65535"},
        {0x0A0000, "XX XX XXXXXX 0A0000", "010,00000"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Format(TypeFormatIButton, c.code), c.ibutton) << c.code;
        EXPECT_EQ(Format(TypeFormatEmMarine, c.code), c.em) << c.code;
    }
    // Any stored value but 0 is EM-Marine.
    EXPECT_EQ(Format(2, 0x12ABCD), "018,43981");
    EXPECT_EQ(Format(-1, 0x12ABCD), "018,43981");
    EXPECT_STREQ(TypeFormatCaption(0), "Ключи iButton (TouchMemory)");
    EXPECT_STREQ(TypeFormatCaption(1), "Карты Proxy (EMMarin 3+5)");
}

TEST(KeyCodeFormat, EntryMasksAndInitialTexts) {
    EntryMask ib = GetEntryMask(TypeFormatIButton);
    EXPECT_EQ(ib.mask, "XX XX XXXXXX AAAAAA;0;_");
    EXPECT_EQ(ib.initialText, "XX XX XXXXXX 000000");
    // Hexadecimal digits only, shown in upper case.
    EXPECT_EQ(ib.qtInputMask, "\\X\\X \\X\\X \\X\\X\\X\\X\\X\\X >HHHHHH;_");
    EXPECT_EQ(ib.blank, '_');
    EntryMask em = GetEntryMask(7);
    EXPECT_EQ(em.mask, "999,99999;0;_");
    EXPECT_EQ(em.initialText, "000,00000");
    EXPECT_EQ(em.qtInputMask, "000,00000;_");
    // The initial texts are the texts of 0, so OK starts disabled.
    EXPECT_EQ(ib.initialText, Format(0, 0));
    EXPECT_FALSE(Complete(0, EnteredValue(0, ib.initialText)));
    EXPECT_FALSE(Complete(1, EnteredValue(1, em.initialText)));
}

TEST(KeyCodeEntry, CompleteNeedsFullLengthNotZeroAndInRange) {
    EXPECT_TRUE(Complete(0, "12ABCD"));
    EXPECT_TRUE(Complete(0, "00000A"));
    EXPECT_FALSE(Complete(0, "12ABC"));
    EXPECT_FALSE(Complete(0, ""));
    EXPECT_FALSE(Complete(0, "000000"));
    EXPECT_FALSE(Complete(0, "12ABCDE"));
    // A letter beyond F is no digit: "12O456" once stored 0x000012.
    EXPECT_FALSE(Complete(0, "12ZZZZ"));
    EXPECT_FALSE(Complete(0, "12O456"));
    EXPECT_FALSE(Complete(0, "ZZZZZZ"));
    EXPECT_TRUE(Complete(0, "12abcd"));
    EXPECT_FALSE(Complete(0, "00 000"));
    EXPECT_TRUE(Complete(1, "01843981"));
    EXPECT_TRUE(Complete(1, "00000001"));
    EXPECT_FALSE(Complete(1, "0184398"));
    EXPECT_FALSE(Complete(1, "00000000"));
    EXPECT_FALSE(Complete(1, "000 0000"));
    EXPECT_TRUE(Complete(1, "25565535"));
    // Out of range: the fields would overlap and store a number nobody typed.
    EXPECT_FALSE(Complete(1, "99999999"));
    EXPECT_FALSE(Complete(1, "25600001"));
    EXPECT_FALSE(Complete(1, "00065536"));
    EXPECT_FALSE(Complete(3, "25565536"));
}

TEST(KeyCodeEntry, ParseReadsAsTheScannerDoes) {
    EXPECT_EQ(Parse(0, "00000A"), 10u);
    EXPECT_EQ(Parse(0, "12ABCD"), 0x12ABCDu);
    EXPECT_EQ(Parse(0, "12abcd"), 0x12ABCDu);
    EXPECT_EQ(Parse(0, "12ZZZZ"), 0x12u);  // stops at the first letter beyond F
    EXPECT_EQ(Parse(0, "ZZZZZZ"), 0u);
    EXPECT_EQ(Parse(0, ""), 0u);
    EXPECT_EQ(Parse(0, "1234567"), 0x123456u);  // at most six characters
    EXPECT_EQ(Parse(1, "00000001"), 1u);
    EXPECT_EQ(Parse(1, "01843981"), 0x12ABCDu);
    EXPECT_EQ(Parse(1, "25565535"), 0xFFFFFFu);
    EXPECT_EQ(Parse(1, "018"), 18u << 16);
    EXPECT_EQ(Parse(1, "1 2"), (1u << 16) | 2u);  // a field stops early at a space
    // Parse itself keeps the scanner's arithmetic; Complete keeps such values out.
    EXPECT_EQ(Parse(1, "99999999"), 0x03E7869Fu);
    EXPECT_EQ(Format(1, Parse(1, "99999999")), "231,34463");
    EXPECT_EQ(Parse(1, ""), 0u);
}

TEST(KeyCodeEntry, EnteredValueOfDisplayedAndBareTexts) {
    EXPECT_EQ(EnteredValue(0, "XX XX XXXXXX 12ABCD"), "12ABCD");
    EXPECT_EQ(EnteredValue(0, "XX XX XXXXXX 12AB__"), "12AB");
    EXPECT_EQ(EnteredValue(0, "XX XX XXXXXX _2ABCD"), " 2ABCD");
    EXPECT_EQ(EnteredValue(0, "12abcd"), "12abcd");
    EXPECT_EQ(EnteredValue(1, "018,43981"), "01843981");
    EXPECT_EQ(EnteredValue(1, "018,439__"), "018439");
    EXPECT_EQ(EnteredValue(1, "01843981"), "01843981");
    for (KeyCode code : {1u, 0x12ABCDu, 0xFFFFFFu, 0x800001u}) {
        for (int tf : {0, 1})
            EXPECT_EQ(Parse(tf, EnteredValue(tf, Format(tf, code))), code) << tf << " " << code;
    }
}

TEST(Cp1251, CyrillicRoundTripAndRefusal) {
    const std::string utf8 = "Входная дверь, приёмная №1 — «Ёлка» ЁЖЗ ёжз";
    std::string cp;
    ASSERT_TRUE(Utf8ToCp1251(utf8, cp));
    EXPECT_EQ(cp.substr(0, 6), "\xC2\xF5\xEE\xE4\xED\xE0");
    EXPECT_EQ(Cp1251ToUtf8(cp), utf8);
    // Every byte maps to a character and back.
    std::string all;
    for (int b = 1; b < 256; ++b)
        all.push_back(static_cast<char>(b));
    std::string back;
    ASSERT_TRUE(Utf8ToCp1251(Cp1251ToUtf8(all), back));
    EXPECT_EQ(back, all);

    std::string bad;
    cp = "untouched";
    EXPECT_FALSE(Utf8ToCp1251("Дверь 😀 ок", cp, &bad));
    EXPECT_EQ(bad, "😀");
    EXPECT_FALSE(Utf8ToCp1251("中", cp, &bad));
    EXPECT_EQ(bad, "中");
    EXPECT_FALSE(Utf8ToCp1251("a\xFF", cp, &bad));
    EXPECT_EQ(bad, "\xEF\xBF\xBD");
    EXPECT_FALSE(Utf8ToCp1251("\xD0", cp, nullptr));          // cut short
    EXPECT_FALSE(Utf8ToCp1251("\xC0\xAF", cp, nullptr));      // overlong
    EXPECT_FALSE(Utf8ToCp1251("\xED\xA0\x80", cp, nullptr));  // surrogate
}

}  // namespace
