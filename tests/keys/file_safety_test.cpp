// The database file against accidents and attackers: concurrent writers, planted links,
// other users' files, writes killed half-way, things that are not files. Cases that
// need another user run as root (as in CI) and drop privileges in a child process.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <functional>
#include <regex>
#include <sstream>

#include "core/keys/atomic_file.h"
#include "core/keys/database.h"
#include "core/keys/profile.h"

namespace fs = std::filesystem;

namespace {

constexpr uid_t kNobody = 65534;
constexpr gid_t kNogroup = 65534;
constexpr uid_t kDaemon = 1;
constexpr gid_t kDaemonGroup = 1;

std::string ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

void WriteAll(const std::string& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary) << bytes;
}

struct stat StatOf(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(::lstat(path.c_str(), &st), 0) << path;
    return st;
}

// Runs `body` in a child process, as `uid` with `gid` and `groups` when given; the exit
// status is 0 when `body` returned true.
int InChild(const std::function<bool()>& body, uid_t uid = static_cast<uid_t>(-1), gid_t gid = 0,
            std::vector<gid_t> groups = {}) {
    pid_t pid = ::fork();
    if (pid == 0) {
        if (uid != static_cast<uid_t>(-1) &&
            (::setgroups(groups.size(), groups.data()) != 0 || ::setresgid(gid, gid, gid) != 0 ||
             ::setresuid(uid, uid, uid) != 0))
            ::_exit(99);
        ::_exit(body() ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
}

bool IsRoot() {
    return ::geteuid() == 0;
}

class FileSafety : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/vx_file_safety.XXXXXX";
        ASSERT_NE(::mkdtemp(tmpl), nullptr);
        dir = tmpl;
        path = dir + "/base.vx2";
    }
    void TearDown() override {
        SetReplaceFileWriteForTesting(nullptr);
        SetLockWaitForTesting(0);
        std::error_code ec;
        fs::remove_all(dir, ec);
    }
    // The names in the folder other than the never-deleted lock files.
    std::vector<std::string> Names() const {
        std::vector<std::string> names;
        for (const auto& e : fs::directory_iterator(dir)) {
            std::string name = e.path().filename().string();
            if (!std::regex_match(name, std::regex(R"(\.vx2-[0-9a-f]{16}\.lock)")))
                names.push_back(name);
        }
        std::sort(names.begin(), names.end());
        return names;
    }
    std::size_t KeysIn(const std::string& file) {
        DbModel m;
        EXPECT_TRUE(LoadDbFile(file, m));
        return m.keys.size();
    }

    std::string dir;
    std::string path;
};

// Two processes each making 100 changes to one file: every change is in the file.
TEST_F(FileSafety, TwoWritersLoseNoUpdate) {
    ASSERT_TRUE(NewDbFile(path));
    auto writer = [this](KeyCode first) {
        return [this, first] {
            for (KeyCode c = first; c < first + 100; ++c) {
                if (!SaveKey(path, c, "k"))
                    return false;
            }
            return true;
        };
    };
    pid_t a = ::fork();
    if (a == 0)
        ::_exit(writer(1)() ? 0 : 1);
    EXPECT_EQ(InChild(writer(1001)), 0);
    int status = 0;
    ::waitpid(a, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    EXPECT_EQ(KeysIn(path), 200u);
    EXPECT_EQ(Names(), std::vector<std::string>{"base.vx2"});
}

// A change holds the lock across its controller traffic: another writer waits, and gives
// up with a clear text rather than losing either change; this process writes on freely.
TEST_F(FileSafety, LockHeldAcrossTrafficKeepsOthersOut) {
    ASSERT_TRUE(NewDbFile(path));
    DbLock lock;
    ASSERT_TRUE(LockDbForWrite(path, lock));
    ASSERT_TRUE(SaveKey(path, 1, "own"));  // re-entrant within the holder
    SetLockWaitForTesting(150);
    EXPECT_EQ(InChild([this] {
                  DbResult r = SaveKey(path, 2, "other");
                  DbLock second;
                  DbResult check = LockDbForWrite(path, second);
                  return !r && !check &&
                         r.error == "Не удалось записать файл «" + path +
                                        "»: Файл изменяет другая программа (ожидание более 10 "
                                        "секунд)";
              }),
              0);
    lock.Release();
    EXPECT_EQ(InChild([this] { return bool(SaveKey(path, 2, "other")); }), 0);
    EXPECT_EQ(KeysIn(path), 2u);
}

// A link is written through to its target and stays a link; a link to nothing is an
// error, not a new file.
TEST_F(FileSafety, LinksStayLinksAndDanglingOnesAreRefused) {
    ASSERT_TRUE(NewDbFile(path));
    const std::string link = dir + "/link.vx2";
    ASSERT_EQ(::symlink("base.vx2", link.c_str()), 0);
    ASSERT_TRUE(SaveKey(link, 5, "through"));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(KeysIn(path), 1u);

    const std::string dangling = dir + "/dangling.vx2";
    ASSERT_EQ(::symlink("nowhere.vx2", dangling.c_str()), 0);
    for (const DbResult& r :
         {SaveKey(dangling, 1, "a"), NewDbFile(dangling), CheckDbWritable(dangling)}) {
        EXPECT_FALSE(r);
        EXPECT_NE(r.error.find("указывает на несуществующий файл"), std::string::npos) << r.error;
    }
    DbModel m;
    EXPECT_FALSE(LoadDbFile(dangling, m));
    EXPECT_FALSE(fs::exists(dir + "/nowhere.vx2"));
    EXPECT_TRUE(fs::is_symlink(dangling));
}

// Another user's link in a sticky folder open to all is not followed, even by root and
// even where the kernel's own guard is off; the folder owner's and one's own are.
TEST_F(FileSafety, PlantedLinkInStickyFolderIsRefused) {
    if (!IsRoot())
        GTEST_SKIP() << "needs root to plant another user's link (CI runs as root)";
    ASSERT_EQ(::chmod(dir.c_str(), 01777), 0);
    const std::string secret = dir + "/secret";
    WriteAll(secret, "root only\n");
    ASSERT_EQ(::chmod(secret.c_str(), 0600), 0);
    const std::string planted = dir + "/backup.vx2";
    ASSERT_EQ(::symlink(secret.c_str(), planted.c_str()), 0);
    ASSERT_EQ(::lchown(planted.c_str(), kNobody, kNogroup), 0);

    DbModel m;
    m.keys = {{1, "a"}};
    for (const DbResult& r : {WriteDbFile(planted, m), SaveKey(planted, 1, "a"),
                              CheckDbWritable(planted), LoadDbFile(planted, m)}) {
        EXPECT_FALSE(r);
        EXPECT_NE(r.error.find("принадлежит другому пользователю"), std::string::npos) << r.error;
    }
    EXPECT_EQ(ReadAll(secret), "root only\n");

    // The folder's owner's link (root's here) is followed.
    ASSERT_TRUE(NewDbFile(path));
    const std::string owners = dir + "/owners.vx2";
    ASSERT_EQ(::symlink("base.vx2", owners.c_str()), 0);
    ASSERT_TRUE(NewDbFile(owners));
    EXPECT_TRUE(fs::is_symlink(owners));
    // Outside a sticky folder another user's link is followed as before.
    ASSERT_EQ(::chmod(dir.c_str(), 0777), 0);
    EXPECT_TRUE(CheckDbWritable(planted));
}

// Replacing the file keeps its owner, group, mode and extended attributes.
TEST_F(FileSafety, ReplacementKeepsOwnerGroupModeAndAttributes) {
    if (!IsRoot())
        GTEST_SKIP() << "needs root to give the file to another user (CI runs as root)";
    ASSERT_TRUE(NewDbFile(path));
    ASSERT_EQ(::chown(path.c_str(), kDaemon, kDaemonGroup), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0660), 0);
    const bool attributes = ::setxattr(path.c_str(), "user.vx2test", "x", 1, 0) == 0;
    const ino_t before = StatOf(path).st_ino;

    ASSERT_TRUE(SaveKey(path, 1, "by root"));
    struct stat st = StatOf(path);
    EXPECT_EQ(st.st_uid, kDaemon);
    EXPECT_EQ(st.st_gid, kDaemonGroup);
    EXPECT_EQ(st.st_mode & 07777, 0660u);
    EXPECT_NE(st.st_ino, before);  // root replaces by rename
    if (attributes) {
        char value[4] = {};
        EXPECT_EQ(::getxattr(path.c_str(), "user.vx2test", value, sizeof value), 1);
    }

    // A member of the group, not the owner, writes in place behind a safety copy: the
    // file stays the owner's, and nothing is left beside it.
    ASSERT_EQ(::chown(dir.c_str(), 0, kDaemonGroup), 0);
    ASSERT_EQ(::chmod(dir.c_str(), 0770), 0);
    EXPECT_EQ(InChild([this] { return bool(SaveKey(path, 2, "by a member")); }, kNobody, kNogroup,
                      {kDaemonGroup}),
              0);
    st = StatOf(path);
    EXPECT_EQ(st.st_uid, kDaemon);
    EXPECT_EQ(st.st_gid, kDaemonGroup);
    EXPECT_EQ(st.st_mode & 07777, 0660u);
    EXPECT_EQ(KeysIn(path), 2u);
    EXPECT_EQ(Names(), std::vector<std::string>{"base.vx2"});

    // Someone outside the group is refused before anything changes.
    EXPECT_EQ(InChild([this] { return !SaveKey(path, 3, "x") && !CheckDbWritable(path); }, kNobody,
                      kNogroup),
              0);
    EXPECT_EQ(KeysIn(path), 2u);
}

// A file with more names keeps them all: it is written in place.
TEST_F(FileSafety, HardLinksStayLinked) {
    ASSERT_TRUE(NewDbFile(path));
    const std::string other = dir + "/other.vx2";
    ASSERT_EQ(::link(path.c_str(), other.c_str()), 0);
    ASSERT_TRUE(SaveKey(path, 7, "both names"));
    EXPECT_EQ(StatOf(path).st_ino, StatOf(other).st_ino);
    EXPECT_EQ(StatOf(path).st_nlink, 2u);
    EXPECT_EQ(KeysIn(other), 1u);
    EXPECT_EQ(Names(), (std::vector<std::string>{"base.vx2", "other.vx2"}));
}

// An in-place write killed half-way leaves the safety copy; the next open restores the
// file from it and says so.
TEST_F(FileSafety, InPlaceWriteKilledHalfWayIsRestoredOnOpen) {
    DbModel m;
    for (KeyCode c = 1; c <= 50; ++c)
        m.keys.push_back({c, "before"});
    ASSERT_TRUE(WriteDbFile(path, m));
    const std::string before = ReadAll(path);
    ASSERT_EQ(::link(path.c_str(), (dir + "/second.vx2").c_str()), 0);

    int status = InChild([this] {
        // The safety copy is written whole; the file itself gets half its new bytes.
        SetReplaceFileWriteForTesting([](int fd, const void* data, std::size_t size) -> ssize_t {
            static int calls = 0;
            if (++calls == 1)
                return ::write(fd, data, size);
            ::write(fd, data, size / 2);
            ::_exit(42);
        });
        DbModel changed;
        changed.keys.push_back({9, std::string(100, 'n')});
        WriteDbFile(path, changed);
        return false;
    });
    ASSERT_EQ(status, 42);
    ASSERT_NE(ReadAll(path), before);
    auto names = Names();
    ASSERT_EQ(names.size(), 3u);
    EXPECT_TRUE(std::regex_match(names[0], std::regex(R"(\.vx2-[0-9a-f]{16}\.safe)"))) << names[0];

    DbModel loaded;
    DbResult r = LoadDbFile(path, loaded);
    ASSERT_TRUE(r) << r.error;
    EXPECT_EQ(r.notice, "Запись в файл «" + path +
                            "» была прервана. Файл восстановлен в том виде, каким он был до неё.");
    EXPECT_EQ(loaded.keys.size(), 50u);
    EXPECT_EQ(ReadAll(path), before);
    EXPECT_EQ(Names(), (std::vector<std::string>{"base.vx2", "second.vx2"}));
    // Once restored, a later open has nothing to say.
    EXPECT_EQ(LoadDbFile(path, loaded).notice, "");
}

// A writer killed while writing its temporary file leaves a 0600 file with a short ASCII
// name however long the database's name; the next writer removes it, and the temporary
// files of the program's earlier versions whose writer is gone.
TEST_F(FileSafety, StaleTemporaryFilesAreRemovedByTheNextWriter) {
    path = dir + "/" + std::string(40, 'x') + "Очень длинное имя файла базы ключей.vx2";
    ASSERT_TRUE(NewDbFile(path));
    int status = InChild([this] {
        SetReplaceFileWriteForTesting([](int fd, const void* data, std::size_t size) -> ssize_t {
            ::write(fd, data, size / 2);
            ::_exit(42);
        });
        SaveKey(path, 1, "a");
        return false;
    });
    ASSERT_EQ(status, 42);
    std::string temp;
    for (const std::string& name : Names()) {
        if (name.find(".tmp") != std::string::npos)
            temp = name;
    }
    ASSERT_TRUE(std::regex_match(temp, std::regex(R"(\.vx2-[0-9a-f]{16}-[0-9a-f]{16}\.tmp)")))
        << temp;
    EXPECT_EQ(StatOf(dir + "/" + temp).st_mode & 07777, 0600u);

    // Left by an earlier version: one whose process is gone, one whose process lives.
    const std::string base = fs::path(path).filename().string().substr(0, 64);
    const std::string gone = "." + base + ".999999999-3-123456.tmp";
    const std::string alive = "." + base + "." + std::to_string(::getpid()) + "-0-1.tmp";
    WriteAll(dir + "/" + gone, "old");
    WriteAll(dir + "/" + alive, "old");

    ASSERT_TRUE(SaveKey(path, 2, "b"));
    EXPECT_EQ(Names(), (std::vector<std::string>{alive, fs::path(path).filename().string()}));
}

// Only regular files are databases: a FIFO does not block, a device is not read, and a
// file over 64 MB is refused before it is read.
TEST_F(FileSafety, OnlyRegularFilesOfSaneSize) {
    const std::string fifo = dir + "/fifo.vx2";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    const std::string zero = dir + "/zero.vx2";
    ASSERT_EQ(::symlink("/dev/zero", zero.c_str()), 0);
    for (const std::string& p : {fifo, zero}) {
        DbModel m;
        DbResult r = LoadDbFile(p, m);
        EXPECT_EQ(r.error, "Не удалось прочитать файл «" + p +
                               "»: Это не обычный файл (устройство, канал или сокет)");
        EXPECT_FALSE(SaveKey(p, 1, "a"));
        EXPECT_FALSE(CheckDbWritable(p));
    }
    EXPECT_TRUE(fs::is_fifo(fifo));

    const std::string big = dir + "/big.vx2";
    {
        int fd = ::open(big.c_str(), O_WRONLY | O_CREAT, 0600);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::ftruncate(fd, static_cast<off_t>(MaxDatabaseFileSize) + 1), 0);
        ::close(fd);
    }
    DbModel m;
    DbResult r = LoadDbFile(big, m);
    EXPECT_FALSE(r);
    EXPECT_EQ(r.error,
              "Не удалось прочитать файл «" + big + "»: Файл больше 64 МБ: это не файл ключей");
    EXPECT_FALSE(SaveKey(big, 1, "a"));
}

// What a change checks before its first request: the file, or for a new one the folder.
TEST_F(FileSafety, CheckBeforeTraffic) {
    EXPECT_TRUE(CheckDbWritable(path));  // a new file in a writable folder
    EXPECT_FALSE(fs::exists(path));
    DbResult r = CheckDbWritable(dir + "/missing/base.vx2");
    EXPECT_FALSE(r);
    EXPECT_NE(r.error.find("Нет такого файла или каталога"), std::string::npos) << r.error;
    ASSERT_TRUE(NewDbFile(path));
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    r = CheckDbWritable(path);
    EXPECT_EQ(r.error, "Не удалось записать файл «" + path + "»: Отказано в доступе");
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    if (IsRoot()) {
        // Root passes every permission check: another user finds the folder closed.
        ASSERT_EQ(::chmod(dir.c_str(), 0755), 0);
        EXPECT_EQ(InChild([this] { return !CheckDbWritable(path); }, kNobody, kNogroup), 0);
    }
}

// Lines ending in CR alone read like any others, in one pass.
TEST_F(FileSafety, CrOnlyLinesReadAsLines) {
    std::string text = "[ControllerSettings]\rTimeOpen=4\r[VardexDB2]\r";
    for (int i = 1; i <= 200000; ++i)
        text += std::to_string(i) + "=key\r";
    WriteAll(path, text);
    DbModel m;
    ASSERT_TRUE(LoadDbFile(path, m));
    EXPECT_EQ(m.TimeOpen, 4);
    EXPECT_EQ(m.keys.size(), 200000u);
    EXPECT_EQ(ProfileFile("[S]\ra=1\r\n\rb=2\n\r").ReadSectionEntries("S").size(), 2u);
}

// Control characters are refused on input and escaped on output; a file with them loads.
TEST_F(FileSafety, ControlCharactersInDescriptions) {
    EXPECT_FALSE(HasControlCharacters("Входная дверь"));
    EXPECT_TRUE(HasControlCharacters("a\tb"));
    EXPECT_TRUE(HasControlCharacters("\x1b[2J"));
    EXPECT_TRUE(HasControlCharacters("\x7f"));
    EXPECT_EQ(EscapeControlCharacters("a\tb\x1b[2J\x7f"), "a\\x09b\\x1B[2J\\x7F");
    EXPECT_EQ(EscapeControlCharacters("Дверь"), "Дверь");
    WriteAll(path, "[VardexDB2]\r\n1=a\x1b[31mred\tx\r\n");
    DbModel m;
    ASSERT_TRUE(LoadDbFile(path, m));
    ASSERT_EQ(m.keys.size(), 1u);
    EXPECT_EQ(m.keys[0].description, "a\x1b[31mred\tx");
}

}  // namespace
