// The key database file: the bytes each operation leaves, loading, and atomic
// replacement when writing fails.
#include "core/keys/database.h"

#include <gtest/gtest.h>

#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>

#include "core/keys/atomic_file.h"
#include "core/keys/cp1251.h"
#include "core/keys/display_list.h"

namespace fs = std::filesystem;

namespace {

const char kExample[] =
    "[ControllerSettings]\r\n"
    "TimeOpen=5\r\n"
    "RetryRead=1\r\n"
    "TypeFormat=1\r\n"
    "Vardex=65538\r\n"
    "[VardexDB2]\r\n"
    "1223629=Front door, reception\r\n"
    "131073=\r\n";

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

class Database : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vx_keys_test.XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
        path = dir + "/base.vx2";
    }
    void TearDown() override {
        SetReplaceFileWriteForTesting(nullptr);
        if (mounted)
            ::umount2(dir.c_str(), MNT_DETACH);
        ::chmod(dir.c_str(), 0700);
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    // A small tmpfs over the test folder, where the system allows one.
    bool MountTmpfs(const char* options) {
        if (::geteuid() != 0 || ::mount("tmpfs", dir.c_str(), "tmpfs", 0, options) != 0)
            return false;
        mounted = true;
        return true;
    }
    // Only the file itself may be in the folder: no temporary file left behind.
    void ExpectOnlyFile() {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir)) {
            // The lock file stays for good: a writer must never lock a fresh one.
            std::string name = e.path().filename().string();
            if (name.rfind(".vx2-", 0) != 0 || name.size() < 5 ||
                name.substr(name.size() - 5) != ".lock")
                names.push_back(name);
        }
        EXPECT_EQ(names, std::vector<std::string>{"base.vx2"});
    }

    std::string dir;
    std::string path;
    bool mounted = false;
};

TEST_F(Database, ExampleFileByteForByte) {
    ASSERT_TRUE(NewDbFile(path));
    EXPECT_EQ(ReadAll(path),
              "[ControllerSettings]\r\nTimeOpen=1\r\nRetryRead=1\r\nTypeFormat=0\r\nVardex=0\r\n");
    ASSERT_TRUE(SaveVardex(path, 65538));
    ASSERT_TRUE(SaveSettings(path, 5, 1, 1));
    ASSERT_TRUE(SaveKey(path, 0x12ABCD, "Front door, reception"));
    ASSERT_TRUE(SaveKey(path, 131073, ""));
    EXPECT_EQ(ReadAll(path), kExample);
    ExpectOnlyFile();

    // The same file as one batch.
    DbModel m;
    m.TimeOpen = 5;
    m.TypeFormat = 1;
    m.Vardex = 65538;
    m.keys = {{0x12ABCD, "Front door, reception"}, {131073, ""}};
    ASSERT_TRUE(WriteDbFile(path, m));
    EXPECT_EQ(ReadAll(path), kExample);

    DbModel loaded;
    DbResult r = LoadDbFile(path, loaded);
    ASSERT_TRUE(r);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(loaded.TimeOpen, 5);
    EXPECT_EQ(loaded.RetryRead, 1);
    EXPECT_EQ(loaded.TypeFormat, 1);
    EXPECT_EQ(loaded.Vardex, 65538u);
    ASSERT_EQ(loaded.keys.size(), 2u);
    EXPECT_EQ(loaded.keys[0].code, 0x12ABCDu);
    EXPECT_EQ(loaded.keys[0].description, "Front door, reception");
    EXPECT_EQ(loaded.keys[1].code, 131073u);
}

TEST_F(Database, WritesKeepTheRestOfTheFile) {
    WriteAll(path,
             "[ControllerSettings]\r\nTimeOpen=1\r\nRetryRead=1\r\nTypeFormat=0\r\nVardex=0\r\n"
             "[VardexDB2]\r\n1=old\r\n5=other\r\n");
    // A new file replaces the old one whole.
    ASSERT_TRUE(NewDbFile(path));
    EXPECT_EQ(ReadAll(path).find("VardexDB2"), std::string::npos);

    ASSERT_TRUE(SaveKey(path, 1, "one"));
    ASSERT_TRUE(SaveKey(path, 2, "two"));
    ASSERT_TRUE(SaveKey(path, 1, "one again"));  // one entry, in place
    ASSERT_TRUE(SaveTypeFormat(path, 1));        // only TypeFormat changes
    ASSERT_TRUE(RemoveKey(path, 99));            // missing: no error
    EXPECT_EQ(ReadAll(path),
              "[ControllerSettings]\r\nTimeOpen=1\r\nRetryRead=1\r\nTypeFormat=1\r\nVardex=0\r\n"
              "[VardexDB2]\r\n1=one again\r\n2=two\r\n");
    ASSERT_TRUE(RemoveKey(path, 1));
    ASSERT_TRUE(SaveKeys(path, {{3, "three"}, {2, "two again"}, {3, "three again"}}));
    EXPECT_EQ(ReadAll(path),
              "[ControllerSettings]\r\nTimeOpen=1\r\nRetryRead=1\r\nTypeFormat=1\r\nVardex=0\r\n"
              "[VardexDB2]\r\n2=two again\r\n3=three again\r\n");

    // A key written twice by hand comes out on removal entirely.
    WriteAll(path, "[VardexDB2]\n7=a\n7=b\n");
    ASSERT_TRUE(RemoveKey(path, 7));
    DbModel m;
    ASSERT_TRUE(LoadDbFile(path, m));
    EXPECT_TRUE(m.keys.empty());

    // A write to a file that is not there yet creates it, as the profile functions do.
    std::string fresh = dir + "/fresh.vx2";
    ASSERT_TRUE(SaveVardex(fresh, 7));
    EXPECT_EQ(ReadAll(fresh), "[ControllerSettings]\r\nVardex=7\r\n");
}

TEST_F(Database, DescriptionsReadBackExactly) {
    const std::string typed[] = {"\"Boss\"", "  Boss  ", "a=b=c",
                                 "'q'",      " ",        "Входная дверь, приёмная"};
    ASSERT_TRUE(NewDbFile(path));
    std::vector<DbKey> keys;
    for (std::size_t i = 0; i < std::size(typed); ++i) {
        std::string cp;
        ASSERT_TRUE(Utf8ToCp1251(typed[i], cp));
        ASSERT_TRUE(SaveKey(path, static_cast<KeyCode>(i + 1), cp));
        keys.push_back({static_cast<KeyCode>(i + 1), cp});
    }
    DbModel m;
    ASSERT_TRUE(LoadDbFile(path, m));
    ASSERT_EQ(m.keys.size(), std::size(typed));
    for (std::size_t i = 0; i < std::size(typed); ++i)
        EXPECT_EQ(Cp1251ToUtf8(m.keys[i].description), typed[i]);
    // The batch writes the very same bytes.
    std::string entryByEntry = ReadAll(path);
    DbModel model;
    model.keys = keys;
    ASSERT_TRUE(WriteDbFile(path, model));
    EXPECT_EQ(ReadAll(path), entryByEntry);
}

TEST_F(Database, LoadRulesAndEdgeCases) {
    std::string longText(200, 'x');
    WriteAll(path,
             "[controllersettings]\nTimeOpen=0x0A\nRetryRead=abc\nTypeFormat=7\nVardex=$12ABCD\n"
             "[VardexDB2]\n16777215=last\n1=" +
                 longText +
                 "\n  2 = \" two \" \n; note\n"
                 "nothing here\n");
    DbModel m;
    ASSERT_TRUE(LoadDbFile(path, m));
    EXPECT_EQ(m.TimeOpen, 10);
    EXPECT_EQ(m.RetryRead, 1);  // not an integer: the default
    EXPECT_EQ(m.TypeFormat, 7);
    EXPECT_EQ(m.Vardex, 0x12ABCDu);
    ASSERT_EQ(m.keys.size(), 3u);
    EXPECT_EQ(m.keys[1].description, std::string(128, 'x'));
    EXPECT_EQ(m.keys[2].description, " two ");
    // Rows sorted by text, not in file order; 7 shows EM-Marine.
    auto rows = SortedDisplayRows(m.TypeFormat, m.keys);
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0].Text(), "000,00001");
    EXPECT_EQ(rows[1].Text(), "000,00002");
    EXPECT_EQ(rows[2].Text(), "255,65535");
    EXPECT_EQ(m.keys[rows[2].key].description, "last");
    ReformatDisplayRows(0, rows);
    EXPECT_EQ(rows[0].Text(), "XX XX XXXXXX 000001");
    EXPECT_EQ(rows[2].Text(), "XX XX XXXXXX FFFFFF");

    // One section missing loads as defaults, or as an empty list.
    WriteAll(path, "[VardexDB2]\n");
    m.keys.push_back({});
    ASSERT_TRUE(LoadDbFile(path, m));
    EXPECT_EQ(m.TimeOpen, 1);
    EXPECT_EQ(m.RetryRead, 1);
    EXPECT_EQ(m.TypeFormat, 0);
    EXPECT_EQ(m.Vardex, 0u);
    EXPECT_TRUE(m.keys.empty());
    WriteAll(path, "[ControllerSettings]\nTimeOpen=4\n");
    ASSERT_TRUE(LoadDbFile(path, m));
    EXPECT_EQ(m.TimeOpen, 4);
    EXPECT_TRUE(m.keys.empty());
}

// A file with neither section is not a database (an export of it cleared a controller):
// it is neither read nor written, whatever else it holds.
TEST_F(Database, AFileWithNeitherSectionIsNoDatabase) {
    for (const std::string bytes : {"", "hello\n", "root:x:0:0::/root:/bin/sh\n",
                                    "[Settings]\nTimeOpen=5\n", "5=a\n[VardexDB3]\n"}) {
        SCOPED_TRACE(bytes);
        WriteAll(path, bytes);
        DbModel m;
        m.TimeOpen = 42;
        DbResult r = LoadDbFile(path, m);
        EXPECT_FALSE(r);
        EXPECT_EQ(r.error, "Файл «" + path +
                               "» не является файлом базы ключей: в нём нет ни раздела "
                               "[ControllerSettings], ни раздела [VardexDB2]");
        EXPECT_EQ(m.TimeOpen, 42);
        EXPECT_FALSE(SaveKey(path, 5, "a"));
        EXPECT_FALSE(SaveVardex(path, 5));
        EXPECT_FALSE(RemoveKey(path, 5));
        EXPECT_EQ(ReadAll(path), bytes);
    }
    // A new file starts as a database, and a missing one is created by a write.
    ASSERT_TRUE(NewDbFile(path));
    DbModel m;
    EXPECT_TRUE(LoadDbFile(path, m));
    std::filesystem::remove(path);
    ASSERT_TRUE(SaveKey(path, 5, "a"));
    EXPECT_TRUE(LoadDbFile(path, m));
}

TEST_F(Database, TimesOutsideTheirRangeLoadAsTheNearestAndLeaveTheFile) {
    const std::string hand =
        "[ControllerSettings]\nTimeOpen=801\nRetryRead=-1\nTypeFormat=0\nVardex=0\n"
        "[VardexDB2]\n5=a\n";
    WriteAll(path, hand);
    DbModel m;
    DbResult r = LoadDbFile(path, m);
    ASSERT_TRUE(r);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(m.TimeOpen, 255);
    EXPECT_EQ(m.RetryRead, 0);
    EXPECT_EQ(m.TimeOpenInFile, 801);
    EXPECT_EQ(m.RetryReadInFile, -1);
    EXPECT_EQ(TimesOutOfRangeText(m),
              "В файле время открывания замка 801 вне пределов 1–255: используется 255\n"
              "В файле время повторного считывания карты(ключа) -1 вне пределов 0–255: "
              "используется 0");
    EXPECT_EQ(ReadAll(path), hand);  // reading writes nothing
    ExpectOnlyFile();

    // Each bound on its own; a value at a bound, and a default, are in range.
    WriteAll(path, "[ControllerSettings]\nTimeOpen=0\nRetryRead=0x100\n");
    ASSERT_TRUE(LoadDbFile(path, m));
    EXPECT_EQ(m.TimeOpen, 1);
    EXPECT_EQ(m.RetryRead, 255);
    EXPECT_EQ(TimesOutOfRangeText(m),
              "В файле время открывания замка 0 вне пределов 1–255: используется 1\n"
              "В файле время повторного считывания карты(ключа) 256 вне пределов 0–255: "
              "используется 255");
    WriteAll(path, "[ControllerSettings]\nTimeOpen=255\nRetryRead=abc\n");
    ASSERT_TRUE(LoadDbFile(path, m));
    EXPECT_EQ(m.TimeOpenInFile, std::nullopt);
    EXPECT_EQ(m.RetryReadInFile, std::nullopt);
    EXPECT_EQ(TimesOutOfRangeText(m), "");
    WriteAll(path, "[ControllerSettings]\nRetryRead=-2147483648\n");
    ASSERT_TRUE(LoadDbFile(path, m));
    EXPECT_EQ(TimesOutOfRangeText(m),
              "В файле время повторного считывания карты(ключа) -2147483648 вне пределов "
              "0–255: используется 0");

    // A change of the other setting writes the times as the program holds them.
    WriteAll(path, hand);
    ASSERT_TRUE(LoadDbFile(path, m));
    ASSERT_TRUE(SaveSettings(path, m.TimeOpen, m.RetryRead, 1));
    DbModel again;
    ASSERT_TRUE(LoadDbFile(path, again));
    EXPECT_EQ(again.TimeOpen, 255);
    EXPECT_EQ(again.RetryRead, 0);
    EXPECT_EQ(TimesOutOfRangeText(again), "");
}

// A name that is not a key number the controller can hold stops nothing: the entry is
// kept apart with its text, with what an older program would have sent for it.
TEST_F(Database, EntriesWithNoValidKeyNumberAreKeptApart) {
    WriteAll(path,
             "[ControllerSettings]\nTimeOpen=3\n[VardexDB2]\n5=a\n\xC0\xE1=b\n6=c\n"
             "16777217=d\n0x2000003=\n-5=\n0=\n007=\n16777215=top\n+8=\n99999999999=\n");
    DbModel m;
    DbResult r = LoadDbFile(path, m);
    EXPECT_TRUE(r);
    EXPECT_EQ(r.error, "");
    EXPECT_EQ(m.TimeOpen, 3);
    ASSERT_EQ(m.keys.size(), 3u);
    EXPECT_EQ(m.keys[0].code, 5u);
    EXPECT_EQ(m.keys[1].code, 6u);
    EXPECT_EQ(m.keys[2].code, 0xFFFFFFu);
    struct Expected {
        std::string name;
        std::optional<KeyCode> truncated;
    };
    const Expected expected[] = {{"\xC0\xE1", std::nullopt},
                                 {"16777217", 1},
                                 {"0x2000003", 3},
                                 {"-5", 0xFFFFFB},
                                 {"0", 0},
                                 {"007", 7},
                                 {"+8", 8},
                                 {"99999999999", std::nullopt}};
    ASSERT_EQ(m.invalid.size(), std::size(expected));
    for (size_t i = 0; i < m.invalid.size(); ++i) {
        EXPECT_EQ(m.invalid[i].name, expected[i].name);
        EXPECT_EQ(m.invalid[i].truncated, expected[i].truncated) << expected[i].name;
    }
    EXPECT_EQ(m.invalid[0].description, "b");
    EXPECT_EQ(InvalidEntriesText(m),
              "В файле записей с недопустимым номером карты(ключа): 8 («Аб», «16777217», "
              "«0x2000003», «-5», «0», «007», «+8», «99999999999»). Номер — десятичное число "
              "от 1 до 16777215; такие записи не передаются в контроллер.");
    m.invalid.clear();
    EXPECT_EQ(InvalidEntriesText(m), "");
}

TEST_F(Database, UnreadableFileIsAnErrorAndLeavesTheModel) {
    DbModel m;
    m.TimeOpen = 42;
    DbResult r = LoadDbFile(dir + "/missing.vx2", m);
    EXPECT_FALSE(r);
    EXPECT_EQ(r.error,
              "Не удалось прочитать файл «" + dir + "/missing.vx2»: Нет такого файла или каталога");
    EXPECT_EQ(m.TimeOpen, 42);
    EXPECT_FALSE(LoadDbFile(dir, m));
}

// Every failing write leaves the old file byte-identical and no temporary file.
TEST_F(Database, InjectedWriteFaultsKeepTheOldFile) {
    ASSERT_TRUE(
        WriteDbFile(path, DbModel{5, 1, 1, 65538, {{1, "a"}, {2, "b"}}, {}, {}, 0, {}, {}}));
    const std::string before = ReadAll(path);
    for (int err : {ENOSPC, EIO, EDQUOT}) {
        static int failWith;
        static int calls;
        failWith = err;
        calls = 0;
        // Half a file gets out before the disk fills up.
        SetReplaceFileWriteForTesting([](int fd, const void* data, std::size_t size) -> ssize_t {
            if (calls++ == 0)
                return ::write(fd, data, size / 2);
            errno = failWith;
            return -1;
        });
        DbResult r = SaveKey(path, 3, std::string(100, 'z'));
        EXPECT_FALSE(r);
        EXPECT_NE(r.error.find("Не удалось записать файл «" + path + "»: "), std::string::npos);
        EXPECT_NE(r.error.find(ErrorText(err)), std::string::npos) << r.error;
        EXPECT_FALSE(NewDbFile(path));
        EXPECT_FALSE(WriteDbFile(path, DbModel{}));
        EXPECT_EQ(ReadAll(path), before);
        ExpectOnlyFile();
    }
    SetReplaceFileWriteForTesting(nullptr);
    EXPECT_TRUE(SaveKey(path, 3, "c"));
}

TEST_F(Database, DirectoryInPlaceOfTheFile) {
    fs::create_directory(path);
    WriteAll(path + "/inside", "keep");
    DbResult r = SaveKey(path, 1, "a");
    EXPECT_FALSE(r);
    EXPECT_EQ(r.error, "Не удалось прочитать файл «" + path + "»: Это каталог");
    r = NewDbFile(path);
    EXPECT_FALSE(r);
    EXPECT_NE(r.error.find("Не удалось записать файл"), std::string::npos);
    EXPECT_TRUE(fs::is_directory(path));
    EXPECT_EQ(ReadAll(path + "/inside"), "keep");
    ExpectOnlyFile();
}

TEST_F(Database, ReadOnlyFolder) {
    ASSERT_TRUE(NewDbFile(path));
    const std::string before = ReadAll(path);
    if (::geteuid() == 0) {
        // The superuser writes into any folder; a read-only mount stops it.
        if (!MountTmpfs("size=1m"))
            GTEST_SKIP() << "no read-only folder possible here";
        WriteAll(path, before);
        ASSERT_EQ(::mount("tmpfs", dir.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=1m"), 0);
    } else {
        ASSERT_EQ(::chmod(dir.c_str(), 0555), 0);
    }
    DbResult r = SaveKey(path, 1, "a");
    EXPECT_FALSE(r);
    EXPECT_TRUE(r.error.find("Отказано в доступе") != std::string::npos ||
                r.error.find("только для чтения") != std::string::npos)
        << r.error;
    EXPECT_FALSE(NewDbFile(path));
    EXPECT_EQ(ReadAll(path), before);
    ExpectOnlyFile();
}

TEST_F(Database, FullDisk) {
    if (!MountTmpfs("size=64k"))
        GTEST_SKIP() << "cannot mount a small tmpfs here (the injected fault covers this)";
    DbModel m;
    for (KeyCode c = 1; c <= 1500; ++c)
        m.keys.push_back({c, "ключ"});
    ASSERT_TRUE(WriteDbFile(path, m));  // about 20 KB
    const std::string before = ReadAll(path);
    // Twice the size cannot sit beside the old file in 64 KB.
    DbResult r = SaveKeys(path, std::vector<DbKey>(1, DbKey{99999, std::string(100, 'y')}));
    ASSERT_TRUE(r) << r.error;
    std::vector<DbKey> more;
    for (KeyCode c = 100000; c < 103000; ++c)
        more.push_back({c, std::string(20, 'y')});
    const std::string middle = ReadAll(path);
    r = SaveKeys(path, more);
    EXPECT_FALSE(r);
    EXPECT_NE(r.error.find("На устройстве не осталось свободного места"), std::string::npos)
        << r.error;
    EXPECT_EQ(ReadAll(path), middle);
    EXPECT_NE(middle, before);
    ExpectOnlyFile();
}

TEST_F(Database, ReadOnlyFileStaysAsItIs) {
    ASSERT_TRUE(NewDbFile(path));
    const std::string before = ReadAll(path);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    DbResult r = SaveKey(path, 1, "a");
    EXPECT_FALSE(r);
    EXPECT_EQ(r.error, "Не удалось записать файл «" + path + "»: Отказано в доступе");
    EXPECT_EQ(ReadAll(path), before);
    ExpectOnlyFile();
}

TEST_F(Database, PermissionsOfTheOldFileStay) {
    ASSERT_TRUE(NewDbFile(path));
    ASSERT_EQ(::chmod(path.c_str(), 0640), 0);
    ASSERT_TRUE(SaveKey(path, 1, "a"));
    struct stat st {};
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 07777, 0640u);
    // A link stays a link; its target is replaced.
    std::string link = dir + "/link.vx2";
    ASSERT_EQ(::symlink("base.vx2", link.c_str()), 0);
    ASSERT_TRUE(SaveKey(link, 2, "b"));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_NE(ReadAll(path).find("2=b"), std::string::npos);
}

}  // namespace
