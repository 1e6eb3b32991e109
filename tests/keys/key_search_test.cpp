// The search over the key list: numbers in any form, parts of digits, descriptions in
// any case, and the count it gives.
#include "core/keys/key_search.h"

#include <gtest/gtest.h>

#include "core/keys/cp1251.h"

namespace {

DbKey Key(KeyCode code, const std::string& utf8) {
    DbKey k;
    k.code = code;
    Utf8ToCp1251(utf8, k.description);
    return k;
}

const std::vector<DbKey> kKeys = {
    Key(4329479, "Иванов Иван, бухгалтерия"),  // 066,04103  421007
    Key(0x12ABCD, "Петров Пётр"),              // 018,43981  0001223629
    Key(0xFBC52B, "Склад: ЁЛКИН"),             // 251,50475
    Key(1, "Reception desk"),                  // 000,00001
    Key(0x0A0000, ""),                         // 010,00000
};

std::vector<std::size_t> Find(int typeFormat, const char* text) {
    return SearchKeys(typeFormat, kKeys, text);
}

using Rows = std::vector<std::size_t>;

TEST(KeySearch, EmptyTextMatchesEveryKey) {
    EXPECT_EQ(Find(0, "").size(), kKeys.size());
    EXPECT_EQ(Find(1, "  \t").size(), kKeys.size());
}

TEST(KeySearch, WholeNumberInAnyAcceptedForm) {
    EXPECT_EQ(Find(1, "066,04103"), Rows{0});
    EXPECT_EQ(Find(1, "066.04103"), Rows{0});
    EXPECT_EQ(Find(1, "0004329479"), Rows{0});
    EXPECT_EQ(Find(1, "0A00421007"), Rows{0});  // the card ID: only its low 24 bits are kept
    EXPECT_EQ(Find(0, "XX XX XXXXXX 12ABCD"), Rows{1});
    EXPECT_EQ(Find(0, "12abcd"), Rows{1});
    EXPECT_EQ(Find(0, "A1B2C3FBC52B"), Rows{2});  // the serial engraved on the key
}

TEST(KeySearch, PartOfTheDigitsOfAnyForm) {
    EXPECT_EQ(Find(1, "4103"), Rows{0});  // the shown text
    EXPECT_EQ(Find(1, "066,041"), Rows{0});
    EXPECT_EQ(Find(1, "66.041"), Rows{0});   // a dot for the comma
    EXPECT_EQ(Find(1, "1223629"), Rows{1});  // the 10-digit decimal in the tooltip
    EXPECT_EQ(Find(1, "42100"), Rows{0});    // hexadecimal in an EM-Marine list
    EXPECT_EQ(Find(0, "43981"), Rows{1});    // EM-Marine in an iButton list
    EXPECT_EQ(Find(0, "XX XX XXXXXX C52"), Rows{2});
    EXPECT_EQ(Find(0, "FBC 52B"), Rows{2});  // blanks between digits are ignored
    // Digits of one form never run on into the next one.
    EXPECT_TRUE(Find(0, "12ABCD018").empty());
    EXPECT_EQ(Find(0, ","), Rows{0});  // a comma alone is no number: only a description has one
}

TEST(KeySearch, PartOfADescriptionInAnyCaseCyrillicIncluded) {
    EXPECT_EQ(Find(1, "иванов"), Rows{0});
    EXPECT_EQ(Find(1, "БУХГАЛТ"), Rows{0});
    EXPECT_EQ(Find(1, "пётр"), Rows{1});
    EXPECT_EQ(Find(1, "ПЕТР"), Rows{1});  // "ё" and "е" are one letter to the search
    EXPECT_EQ(Find(1, "елкин"), Rows{2});
    EXPECT_EQ(Find(1, "RECEPTION"), Rows{3});
    EXPECT_EQ(Find(1, "  desk "), Rows{3});
    EXPECT_TRUE(Find(1, "Сидоров").empty());
    EXPECT_TRUE(Find(1, "😀").empty());  // Windows-1251 cannot hold it: no description has it
}

TEST(KeySearch, NumberAndDescriptionMatchesAddUp) {
    // "E" is a hexadecimal digit and a letter: both kinds of match count.
    EXPECT_EQ(Find(0, "ce"), (Rows{3}));       // "Reception": no number holds "CE"
    EXPECT_EQ(Find(0, "c"), (Rows{1, 2, 3}));  // 12ABCD, FBC52B and "Reception"
    EXPECT_EQ(Find(0, "b"), (Rows{1, 2}));     // no description holds a "b"
}

TEST(KeySearch, FoldingCoversTheCyrillicCapitalsOfWindows1251) {
    std::string upper;
    std::string lower;
    ASSERT_TRUE(Utf8ToCp1251("АБВЁЯЇІЄЎЂЉЊЋЌЏҐЈЅQ", upper));
    ASSERT_TRUE(Utf8ToCp1251("абвеяїієўђљњћќџґјѕq", lower));
    EXPECT_EQ(FoldCp1251(upper), lower);
    EXPECT_EQ(FoldCp1251(lower), lower);
}

}  // namespace
