// Key numbers: text forms and entry masks.
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
    EXPECT_EQ(ib.blank, '_');
    EntryMask em = GetEntryMask(7);
    EXPECT_EQ(em.mask, "999,99999;0;_");
    EXPECT_EQ(em.initialText, "000,00000");
    // The initial texts are the texts of 0.
    EXPECT_EQ(ib.initialText, Format(0, 0));
    EXPECT_EQ(em.initialText, Format(1, 0));
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
