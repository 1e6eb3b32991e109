// CSV files of keys: encoding and separator found out, quoting, the header, every fate
// of a line, and the list written out and read back unchanged.
#include "core/keys/key_csv.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "core/keys/cp1251.h"

// Keys compare by number and description bytes.
bool operator==(const DbKey& a, const DbKey& b) {
    return a.code == b.code && a.description == b.description;
}

namespace {

constexpr int IB = TypeFormatIButton;
constexpr int EM = TypeFormatEmMarine;

std::string Cp(const std::string& utf8) {
    std::string out;
    EXPECT_TRUE(Utf8ToCp1251(utf8, out)) << utf8;
    return out;
}

std::vector<CsvFate> Fates(const CsvImport& import) {
    std::vector<CsvFate> f;
    for (const CsvRow& r : import.rows)
        f.push_back(r.fate);
    return f;
}

TEST(CsvRead, EncodingsAreToldApart) {
    EXPECT_EQ(DetectCsvEncoding("\xEF\xBB\xBF"
                                "12ABCD;Иванов"),
              CsvEncoding::Utf8Bom);
    EXPECT_EQ(DetectCsvEncoding("12ABCD;Иванов"), CsvEncoding::Utf8);
    EXPECT_EQ(DetectCsvEncoding("12ABCD;plain"), CsvEncoding::Utf8);
    EXPECT_EQ(DetectCsvEncoding(Cp("12ABCD;Иванов")), CsvEncoding::Windows1251);
    EXPECT_EQ(DetectCsvEncoding("12ABCD;\xD0"), CsvEncoding::Windows1251);  // "Р" alone

    // The same file in each encoding reads the same description.
    for (const std::string& bytes :
         {std::string("\xEF\xBB\xBF") + "12ABCD;Иванов Пётр\r\n",
          std::string("12ABCD;Иванов Пётр\n"), Cp("12ABCD;Иванов Пётр\r\n")}) {
        CsvImport im = PreviewCsvImport(bytes, IB, {});
        ASSERT_EQ(im.rows.size(), 1u);
        EXPECT_EQ(im.rows[0].description, "Иванов Пётр");
        EXPECT_EQ(im.rows[0].descriptionCp1251, Cp("Иванов Пётр"));
        EXPECT_EQ(im.rows[0].code, 0x12ABCDu);
    }
}

TEST(CsvRead, SeparatorsAreFoundOut) {
    EXPECT_EQ(DetectCsvSeparator("12ABCD;Иванов\n12ABCE;Петров\n"), ';');
    EXPECT_EQ(DetectCsvSeparator("12ABCD\tИванов\n12ABCE\tПетров\n"), '\t');
    EXPECT_EQ(DetectCsvSeparator("12ABCD,Иванов\n12ABCE,Петров\n"), ',');
    // A ";" file whose EM-Marine numbers hold a comma, some lines without description.
    EXPECT_EQ(DetectCsvSeparator("066,04103;Иванов\n066,04104\n066,04105\n"), ';');
    // A single column of EM-Marine numbers: their commas separate nothing.
    EXPECT_EQ(DetectCsvSeparator("066,04103\n066,04104\n"), ';');
    // A "," file carries the number in quotes; ";" in one description does not win.
    EXPECT_EQ(DetectCsvSeparator("\"066,04103\",Иванов; бухгалтерия\n\"066,04104\",Петров\n"), ',');
    EXPECT_EQ(DetectCsvSeparator("12ABCD\n12ABCE\n"), ';');

    CsvImport im = PreviewCsvImport("\"066,04103\",\"Иванов, бухгалтерия\"\n", EM, {});
    EXPECT_EQ(im.separator, ',');
    ASSERT_EQ(im.rows.size(), 1u);
    EXPECT_EQ(im.rows[0].code, (66u << 16) | 4103u);
    EXPECT_EQ(im.rows[0].description, "Иванов, бухгалтерия");
}

TEST(CsvRead, QuotingAndLineNumbers) {
    std::vector<CsvRecord> r;
    std::string error;
    ASSERT_TRUE(SplitCsv("a;\"b;\"\"c\"\"\"\r\n\"x\ny\";z\r\n\n  \"q\";w", ';', r, error));
    ASSERT_EQ(r.size(), 4u);
    EXPECT_EQ(r[0].fields, (std::vector<std::string>{"a", "b;\"c\""}));
    EXPECT_EQ(r[1].fields, (std::vector<std::string>{"x\ny", "z"}));
    EXPECT_EQ(r[1].line, 2);
    EXPECT_EQ(r[2].line, 4);  // the empty line
    EXPECT_EQ(r[3].line, 5);  // the quoted field ran over a line break before it
    EXPECT_EQ(r[3].fields, (std::vector<std::string>{"q", "w"}));
    // Old Mac line ends count as line ends.
    ASSERT_TRUE(SplitCsv("a\rb\r", ';', r, error));
    EXPECT_EQ(r.size(), 2u);
    EXPECT_EQ(r[1].line, 2);

    EXPECT_FALSE(SplitCsv("a;b\n\"c;d\n", ';', r, error));
    EXPECT_EQ(error, "Кавычка, открытая в строке 2, не закрыта");
    CsvImport im = PreviewCsvImport("12ABCD;\"open\n", IB, {});
    EXPECT_EQ(im.error, "Кавычка, открытая в строке 1, не закрыта");
    EXPECT_TRUE(im.rows.empty());
}

TEST(CsvRead, HeaderRowIsRecognisedOnlyWithoutDigits) {
    CsvImport im = PreviewCsvImport("Номер;Описание\n12ABCD;x\n", IB, {});
    EXPECT_TRUE(im.header);
    ASSERT_EQ(im.rows.size(), 1u);
    EXPECT_EQ(im.rows[0].line, 2);
    im = PreviewCsvImport("\n\nCard;Name\n12ABCD;x\n", IB, {});
    EXPECT_TRUE(im.header);
    EXPECT_EQ(im.rows.size(), 1u);
    // "ABCDEF" is a number in an iButton list, a header nowhere.
    im = PreviewCsvImport("ABCDEF;x\n12ABCD;y\n", IB, {});
    EXPECT_FALSE(im.header);
    EXPECT_EQ(im.rows.size(), 2u);
    // A first line that is a bad number stays a line, refused.
    im = PreviewCsvImport("66,041;x\n", EM, {});
    EXPECT_FALSE(im.header);
    ASSERT_EQ(im.rows.size(), 1u);
    EXPECT_EQ(im.rows[0].fate, CsvFate::Refused);
}

TEST(CsvFates, EveryFateOfALine) {
    const std::vector<DbKey> file = {{0x12ABCD, Cp("Иванов")}, {0x0A0B0C, Cp("Склад")}};
    const std::string csv =
        "Карта(ключ);Описание\n"
        "XX XX XXXXXX 000001;Новый\n"  // 2 new
        "12ABCD;Иванов\n"              // 3 same
        "0A0B0C;Склад, второй этаж\n"  // 4 update
        "00 00 00 00 00 01;Ещё раз\n"  // 5 duplicate of line 2
        "12O456;Буква O\n"             // 6 bad number
        "000002;" +
        std::string(129, 'x') +
        "\n"                       // 7 too long
        "000003;Смайл 😀\n"         // 8 not in Windows-1251
        "000004;a;b\n"             // 9 an extra field
        "000005;\"two\nlines\"\n"  // 10 a line break inside
        "\n"
        "000006\n"         // 13 new, no description
        "000006;again\n";  // 14 duplicate of 13
    CsvImport im = PreviewCsvImport(csv, IB, file);
    ASSERT_TRUE(im.error.empty());
    EXPECT_EQ(Fates(im), (std::vector<CsvFate>{
                             CsvFate::New, CsvFate::Same, CsvFate::Update, CsvFate::Duplicate,
                             CsvFate::Refused, CsvFate::Refused, CsvFate::Refused, CsvFate::Refused,
                             CsvFate::Refused, CsvFate::New, CsvFate::Duplicate}));
    const auto& r = im.rows;
    EXPECT_EQ(r[0].line, 2);
    EXPECT_TRUE(r[0].selected);
    EXPECT_FALSE(r[1].selected);
    EXPECT_FALSE(r[2].selected);  // a description update waits to be ticked
    EXPECT_EQ(r[2].oldDescription, "Склад");
    EXPECT_EQ(r[3].reason, "Повторяет строку 2");
    EXPECT_EQ(r[3].duplicateOf, 2);
    EXPECT_NE(r[4].reason.find("«O»"), std::string::npos) << r[4].reason;
    EXPECT_EQ(r[5].reason, "Описание длиннее 128 символов (129)");
    EXPECT_NE(r[6].reason.find("«😀»"), std::string::npos) << r[6].reason;
    EXPECT_NE(r[7].reason.find("Полей в строке 3"), std::string::npos) << r[7].reason;
    EXPECT_NE(r[8].reason.find("управляющие символы"), std::string::npos);
    EXPECT_EQ(r[9].line, 13);
    EXPECT_EQ(r[9].description, "");
    EXPECT_EQ(r[10].reason, "Повторяет строку 13");
    EXPECT_EQ(im.Count(CsvFate::Refused), 5u);

    EXPECT_EQ(CsvNewKeys(im), (std::vector<DbKey>{{1, Cp("Новый")}, {6, ""}}));
    EXPECT_TRUE(CsvUpdates(im).empty());
    im.rows[2].selected = true;
    im.rows[0].selected = false;
    EXPECT_EQ(CsvUpdates(im), (std::vector<DbKey>{{0x0A0B0C, Cp("Склад, второй этаж")}}));
    EXPECT_EQ(CsvNewKeys(im), (std::vector<DbKey>{{6, ""}}));

    const std::string refused = RefusedRowsToCsv(im);
    EXPECT_EQ(refused.substr(0, 3), "\xEF\xBB\xBF");
    EXPECT_NE(refused.find("Строка;Карта(ключ);Описание;Причина\r\n6;12O456;Буква O;"),
              std::string::npos);
    EXPECT_NE(refused.find("10;000005;\"two\nlines\";"), std::string::npos);
}

TEST(CsvFates, NumbersASpreadsheetMangledAreRefusedNotGuessed) {
    CsvImport im = PreviewCsvImport("66,041;Иванов\n66.041;Петров\n\"66,04103\";Сидоров\n", EM, {});
    ASSERT_EQ(im.separator, ';');
    EXPECT_EQ(Fates(im), (std::vector<CsvFate>{CsvFate::Refused, CsvFate::Refused, CsvFate::New}));
    EXPECT_NE(im.rows[0].reason.find("ровно 5 цифр"), std::string::npos);
    EXPECT_EQ(im.rows[2].code, (66u << 16) | 4103u);
}

TEST(CsvWrite, ListRoundTripsThroughTheImportUnchanged) {
    const std::vector<DbKey> keys = {
        {0xFFFFFF, Cp("Последний; с точкой с запятой")},
        {1, ""},
        {0x12ABCD, Cp("Кавычки \"внутри\" и  пробелы ")},
        {0x420FC7, Cp(" Ёлкин, бухгалтерия")},
    };
    for (int tf : {IB, EM}) {
        const std::string csv = KeysToCsv(tf, keys);
        EXPECT_EQ(csv.substr(0, 3), "\xEF\xBB\xBF");
        const std::string firstRow = tf == IB ? "Карта(ключ);Описание\r\nXX XX XXXXXX 000001;\r\n"
                                              : "Карта(ключ);Описание\r\n000,00001;\r\n";
        EXPECT_EQ(csv.substr(3, firstRow.size()), firstRow);
        CsvImport im = PreviewCsvImport(csv, tf, {});
        EXPECT_TRUE(im.header);
        EXPECT_EQ(im.separator, ';');
        EXPECT_EQ(im.Count(CsvFate::New), keys.size());
        std::vector<DbKey> back = CsvNewKeys(im);
        std::sort(back.begin(), back.end(),
                  [](const DbKey& a, const DbKey& b) { return a.code < b.code; });
        std::vector<DbKey> expected = keys;
        std::sort(expected.begin(), expected.end(),
                  [](const DbKey& a, const DbKey& b) { return a.code < b.code; });
        EXPECT_EQ(back, expected) << tf;
        // Into the file it came from, every line is already there.
        EXPECT_EQ(PreviewCsvImport(csv, tf, keys).Count(CsvFate::Same), keys.size());
    }
}

}  // namespace
