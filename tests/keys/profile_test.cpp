// The INI file layer: how files read, and what writes leave in them.
#include "core/keys/profile.h"

#include <gtest/gtest.h>

namespace {

using Entries = std::vector<std::pair<std::string_view, std::string_view>>;

TEST(ProfileRead, NamesValuesBlanksQuotesAndComments) {
    ProfileFile f(
        "top=before any section\n"
        "[ Settings ] trailing text\n"
        "  TimeOpen  =  5  \n"
        "; comment=not an entry\n"
        "Quoted=\"  padded  \"\n"
        "Single='x'\n"
        "Uneven=\"x'\n"
        "Lone=\"\n"
        "\"Name In Quotes\"=v\n"
        "Eq=a=b=c\n"
        "Empty=\n"
        "NoEquals\n"
        "\n"
        "\t\n"
        "[other]\n"
        "timeopen=7\n");
    EXPECT_TRUE(f.HasSection("SETTINGS"));
    EXPECT_FALSE(f.HasSection(""));
    EXPECT_EQ(f.ReadInteger("settings", "timeOPEN", 1), 5);
    EXPECT_EQ(f.ReadString("Settings", "Quoted", "d"), "  padded  ");
    EXPECT_EQ(f.ReadString("Settings", "Single", "d"), "x");
    EXPECT_EQ(f.ReadString("Settings", "Uneven", "d"), "\"x'");
    EXPECT_EQ(f.ReadString("Settings", "Lone", "d"), "\"");
    EXPECT_EQ(f.ReadString("Settings", "Name In Quotes", "d"), "v");
    EXPECT_EQ(f.ReadString("Settings", "Eq", "d"), "a=b=c");
    EXPECT_EQ(f.ReadString("Settings", "Empty", "d"), "");
    EXPECT_EQ(f.ReadString("Settings", "NoEquals", "d"), "d");
    EXPECT_EQ(f.ReadString("Settings", "; comment", "d"), "d");
    EXPECT_EQ(f.ReadString("Settings", "top", "d"), "d");
    EXPECT_EQ(f.ReadString("Other", "TimeOpen", "d"), "7");
    EXPECT_EQ(f.ReadString("Missing", "TimeOpen", "d"), "d");
    EXPECT_EQ(f.ReadSectionEntries("settings"), (Entries{{"TimeOpen", "5"},
                                                         {"Quoted", "  padded  "},
                                                         {"Single", "x"},
                                                         {"Uneven", "\"x'"},
                                                         {"Lone", "\""},
                                                         {"Name In Quotes", "v"},
                                                         {"Eq", "a=b=c"},
                                                         {"Empty", ""}}));
    EXPECT_TRUE(f.ReadSectionEntries("missing").empty());
}

TEST(ProfileRead, FirstSectionAndFirstEntryWin) {
    ProfileFile f("[S]\r\na=1\r\nA=2\r\n[s]\r\nb=3\r\n[T]\r\nx\r\nx=4\r\n");
    EXPECT_EQ(f.ReadString("S", "a", ""), "1");
    EXPECT_EQ(f.ReadString("S", "b", "none"), "none");
    // Both entries are listed, each with what reading its name gives.
    EXPECT_EQ(f.ReadSectionEntries("S"), (Entries{{"a", "1"}, {"A", "1"}}));
    // A line without "=" is no entry, not even for a later one of its name.
    EXPECT_EQ(f.ReadString("T", "x", "def"), "4");
}

TEST(ProfileRead, LineEndsAndByteOrderMark) {
    for (const char* text : {"[S]\r\na=1\r\nb=2", "[S]\na=1\nb=2\n", "[S]\ra=1\rb=2\r",
                             "\xEF\xBB\xBF[S]\r\na=1\r\nb=2\r\n"}) {
        ProfileFile f(text);
        EXPECT_EQ(f.ReadString("S", "a", ""), "1") << text;
        EXPECT_EQ(f.ReadString("S", "b", ""), "2") << text;
    }
    EXPECT_EQ(ProfileFile("[S]\na=1\n").Bytes(), "[S]\r\na=1\r\n");
    EXPECT_EQ(ProfileFile("\xEF\xBB\xBF[S]\na=1").Bytes(), "\xEF\xBB\xBF[S]\r\na=1\r\n");
}

TEST(ProfileRead, IntegerForms) {
    EXPECT_EQ(ParseProfileInteger("42"), 42);
    EXPECT_EQ(ParseProfileInteger("-7"), -7);
    EXPECT_EQ(ParseProfileInteger("+7"), 7);
    EXPECT_EQ(ParseProfileInteger("0x1F"), 31);
    EXPECT_EQ(ParseProfileInteger("0X1f"), 31);
    EXPECT_EQ(ParseProfileInteger("$12ABCD"), 0x12ABCD);
    EXPECT_EQ(ParseProfileInteger("$FFFFFFFF"), -1);
    EXPECT_EQ(ParseProfileInteger("2147483647"), 2147483647);
    EXPECT_EQ(ParseProfileInteger("-2147483648"), -2147483647 - 1);
    for (const char* bad :
         {"", "-", "$", "0x", "12a", "1 2", "x1F", "2147483648", "$100000000", "1.5", "0xG"})
        EXPECT_FALSE(ParseProfileInteger(bad).has_value()) << bad;
    ProfileFile f("[S]\nh=$10\nq=\"12\"\nbad=12 sec\n");
    EXPECT_EQ(f.ReadInteger("S", "h", 1), 16);
    EXPECT_EQ(f.ReadInteger("S", "q", 1), 12);
    EXPECT_EQ(f.ReadInteger("S", "bad", 1), 1);
    EXPECT_EQ(f.ReadInteger("S", "missing", 9), 9);
}

TEST(ProfileWrite, InPlaceAtSectionEndAndNewSectionAtFileEnd) {
    ProfileFile f(
        "; head comment\n"
        "[A]\n"
        "  X = 1\n"
        "; keep me\n"
        "y=2\n"
        "\n"
        "[B]\n"
        "z=3\n");
    f.WriteString("a", "x", "10");   // in place, under the file's spelling of the name
    f.WriteString("A", "new", "n");  // after y, before the blank separator
    f.WriteString("C", "c", "c1");   // a new section at the end
    f.WriteString("C", "d", "");
    f.DeleteEntry("B", "missing");  // nothing to do, no error
    f.DeleteEntry("Missing", "z");
    EXPECT_EQ(f.Bytes(),
              "; head comment\r\n"
              "[A]\r\n"
              "X=10\r\n"
              "; keep me\r\n"
              "y=2\r\n"
              "new=n\r\n"
              "\r\n"
              "[B]\r\n"
              "z=3\r\n"
              "[C]\r\n"
              "c=c1\r\n"
              "d=\r\n");
    f.DeleteEntry("a", "Y");
    EXPECT_EQ(f.ReadString("A", "y", "gone"), "gone");
    EXPECT_EQ(ProfileFile().Bytes(), "");
}

TEST(ProfileWrite, DeleteFirstOrEveryEntryOfAName) {
    ProfileFile f("[S]\nk=1\nk=2\nk=3\n");
    f.DeleteEntry("S", "k");
    EXPECT_EQ(f.ReadString("S", "k", ""), "2");
    f.DeleteEntry("S", "K", true);
    EXPECT_EQ(f.Bytes(), "[S]\r\n");
}

TEST(ProfileWrite, EveryValueReadsBackExactly) {
    const char* values[] = {"Boss", "\"Boss\"", "  Boss  ", "'Boss'", "\"",
                            "''",   "\"\"",     " ",        "a=b",    "; x",
                            "[x]",  "\"a'",     "\ta\t",    "",       "\xC2\xF5\xEE\xE4"};
    ProfileFile f;
    for (std::size_t i = 0; i < std::size(values); ++i)
        f.WriteString("S", "k" + std::to_string(i), values[i]);
    ProfileFile back(f.Bytes());
    for (std::size_t i = 0; i < std::size(values); ++i)
        EXPECT_EQ(back.ReadString("S", "k" + std::to_string(i), "?"), values[i]);
    // Plain values are written as they are.
    EXPECT_EQ(EncodeProfileValue("Front door, reception"), "Front door, reception");
    EXPECT_EQ(EncodeProfileValue("\"Boss\""), "\"\"Boss\"\"");
    EXPECT_EQ(EncodeProfileValue(" Boss"), "\" Boss\"");
    // A line break cannot live in a value: it must not start a new entry.
    f.WriteString("S", "nl", "a\r\nb=c");
    ProfileFile again(f.Bytes());
    EXPECT_EQ(again.ReadString("S", "nl", "?"), "a  b=c");
    EXPECT_EQ(again.ReadString("S", "b", "none"), "none");
}

TEST(ProfileWrite, ManyEntriesReadWholeAndInPlace) {
    ProfileFile f;
    for (int i = 0; i < 5000; ++i)
        f.WriteString("K", std::to_string(100000 + i), "d" + std::to_string(i));
    // 5000 names of 6 digits are far beyond 16,384 characters; all are listed.
    ProfileFile back(f.Bytes());
    auto entries = back.ReadSectionEntries("K");
    ASSERT_EQ(entries.size(), 5000u);
    EXPECT_EQ(entries[4999].first, "104999");
    EXPECT_EQ(entries[4999].second, "d4999");
    // Once the index exists, writes keep it right.
    back.WriteString("K", "104999", "changed");
    back.WriteString("K", "999", "new");
    back.DeleteEntry("K", "100000");
    back.WriteString("K", "100001", "again");
    entries = back.ReadSectionEntries("K");
    ASSERT_EQ(entries.size(), 5000u);
    EXPECT_EQ(entries.front(), (std::pair<std::string_view, std::string_view>{"100001", "again"}));
    EXPECT_EQ(entries[4998].second, "changed");
    EXPECT_EQ(entries.back().first, "999");
}

}  // namespace
