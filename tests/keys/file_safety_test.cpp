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
#include "core/keys/cp1251.h"
#include "core/keys/database.h"
#include "core/keys/journal.h"
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

DbModel LoadedOrEmpty(const std::string& bytes) {
    DbModel m;
    LoadDbBytes(bytes, m);
    return m;
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

// How an in-place write dies below: the safety copy is always written whole; the file
// itself gets none, half or all of its new bytes.
enum class Crash { BeforeTheFile, HalfWay, AfterTheWhole };
Crash g_crash = Crash::HalfWay;

ssize_t CrashingWrite(int fd, const void* data, std::size_t size) {
    static int calls = 0;
    if (++calls == 1)
        return ::write(fd, data, size);
    if (g_crash != Crash::BeforeTheFile)
        ::write(fd, data, g_crash == Crash::HalfWay ? size / 2 : size);
    ::_exit(42);
}

class SafetyCopy : public FileSafety {
  protected:
    void SetUp() override {
        FileSafety::SetUp();
        DbModel m;
        for (KeyCode c = 1; c <= 50; ++c)
            m.keys.push_back({c, "before"});
        ASSERT_TRUE(WriteDbFile(path, m));
        before = ReadAll(path);
        // A second name makes every write go in place.
        ASSERT_EQ(::link(path.c_str(), (dir + "/second.vx2").c_str()), 0);
    }
    // An in-place write of 80 keys (longer than the file) that dies as `how` says.
    void DieWriting(Crash how) {
        g_crash = how;
        ASSERT_EQ(InChild([this] {
                      SetReplaceFileWriteForTesting(CrashingWrite);
                      DbModel changed;
                      for (KeyCode c = 1; c <= 80; ++c)
                          changed.keys.push_back({c, "after"});
                      WriteDbFile(path, changed);
                      return false;
                  }),
                  42);
        ASSERT_EQ(Copy().size(), 1u);
    }
    std::vector<std::string> Copy() const {
        std::vector<std::string> copies;
        for (const std::string& name : Names()) {
            if (std::regex_match(name, std::regex(R"(\.vx2-[0-9a-f]{16}\.safe)")))
                copies.push_back(dir + "/" + name);
        }
        return copies;
    }
    std::string before;
};

// An in-place write killed half-way is restored on the next open, which says so; one
// killed before it changed the file, or after it had written the whole file, leaves the
// file as it is and its copy goes without a word.
TEST_F(SafetyCopy, OpenFinishesAWriteKilledAtAnyPoint) {
    const std::string restored =
        "Запись в файл «" + path +
        "» была прервана. Файл восстановлен в том виде, каким он был до неё.";
    struct Case {
        Crash crash;
        std::size_t keys;
        std::string notice;
    };
    for (const Case& c : {Case{Crash::BeforeTheFile, 50, ""}, Case{Crash::HalfWay, 50, restored},
                          Case{Crash::AfterTheWhole, 80, ""}}) {
        SCOPED_TRACE(static_cast<int>(c.crash));
        ASSERT_TRUE(WriteDbFile(path, LoadedOrEmpty(before)));
        DieWriting(c.crash);
        DbModel loaded;
        DbResult r = LoadDbFile(path, loaded);
        ASSERT_TRUE(r) << r.error;
        EXPECT_EQ(r.notice, c.notice);
        EXPECT_EQ(loaded.keys.size(), c.keys);
        if (c.keys == 50) {
            EXPECT_EQ(ReadAll(path), before);
        }
        EXPECT_EQ(Names(), (std::vector<std::string>{"base.vx2", "second.vx2"}));
        // Once finished, a later open has nothing to say.
        EXPECT_EQ(LoadDbFile(path, loaded).notice, "");
    }
}

// A copy that this program did not make for this file is never restored: one planted by
// a user who cannot write the file, one that others can change, one made for the file that
// stood there before, one without the line that names its file. The open reads the file
// as it is and names the copy and its owner; a write that needs a copy is refused with the
// same text until the copy is gone.
TEST_F(SafetyCopy, OnlyThisFilesOwnCopyIsRestored) {
    if (!IsRoot())
        GTEST_SKIP() << "needs root to plant another user's copy (CI runs as root)";
    ASSERT_EQ(::chmod(dir.c_str(), 01777), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    struct Case {
        const char* what;
        std::function<void(const std::string& copy)> make;
        std::string owner;
    };
    const Case cases[] = {
        {"planted by nobody",
         [](const std::string& copy) { ASSERT_EQ(::chown(copy.c_str(), kNobody, kNogroup), 0); },
         "nobody"},
        {"open to all", [](const std::string& copy) { ASSERT_EQ(::chmod(copy.c_str(), 0666), 0); },
         "root"},
        {"for the file before",
         [this](const std::string&) {
             WriteAll(dir + "/new", ReadAll(path));
             ASSERT_EQ(::rename((dir + "/new").c_str(), path.c_str()), 0);
             ASSERT_EQ(::link(path.c_str(), (dir + "/third.vx2").c_str()), 0);
         },
         "root"},
        {"no header", [this](const std::string& copy) { WriteAll(copy, before); }, "root"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_TRUE(WriteDbFile(path, LoadedOrEmpty(before)));
        DieWriting(Crash::HalfWay);
        const std::string copy = Copy()[0];
        c.make(copy);
        const std::string torn = ReadAll(path);
        const std::string text = UntrustedCopyText(path);
        EXPECT_NE(text.find("«" + copy + "» (владелец: " + c.owner + ")"), std::string::npos)
            << text;

        DbModel loaded;
        DbResult r = LoadDbFile(path, loaded);
        EXPECT_TRUE(r) << r.error;
        EXPECT_EQ(r.notice, text);
        EXPECT_EQ(ReadAll(path), torn);
        // Refused before any request to the controller, and by the write itself.
        EXPECT_EQ(CheckDbWritable(path).error, "Не удалось записать файл «" + path + "»: " + text);
        r = SaveKey(path, 99, "x");
        EXPECT_FALSE(r);
        EXPECT_EQ(r.error, "Не удалось записать файл «" + path + "»: " + text);
        EXPECT_EQ(ReadAll(path), torn);
        EXPECT_TRUE(fs::exists(copy));

        ASSERT_EQ(::unlink(copy.c_str()), 0);  // what the owner or an administrator does
        EXPECT_TRUE(SaveKey(path, 99, "x"));
        fs::remove(dir + "/third.vx2");
        fs::remove(dir + "/second.vx2");
        ASSERT_EQ(::link(path.c_str(), (dir + "/second.vx2").c_str()), 0);
    }
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

// The first write of a new file takes no lock (it leaves no lock file behind), so it
// cannot know whether a temporary file beside it is another writer's at work: it leaves
// them to the next writer that holds the lock.
TEST_F(FileSafety, FirstWriteOfANewFileLeavesOtherTemporaryFiles) {
    ASSERT_EQ(InChild([this] {
                  SetReplaceFileWriteForTesting(
                      [](int fd, const void* data, std::size_t size) -> ssize_t {
                          ::write(fd, data, size / 2);
                          ::_exit(42);
                      });
                  NewDbFile(path);
                  return false;
              }),
              42);
    const auto temps = [this] {
        std::size_t n = 0;
        for (const std::string& name : Names())
            n += name.find(".tmp") != std::string::npos;
        return n;
    };
    ASSERT_EQ(temps(), 1u);
    ASSERT_TRUE(NewDbFile(path));
    EXPECT_EQ(temps(), 1u);
    ASSERT_TRUE(SaveKey(path, 1, "a"));
    EXPECT_EQ(temps(), 0u);
}

// Another user who made the lock file first, in a shared folder, blocks every write: the
// refusal says who owns it and the way out, whether it is closed to others or held.
TEST_F(FileSafety, AForeignLockFileIsNamedWithItsOwner) {
    if (!IsRoot())
        GTEST_SKIP() << "needs root to act as two users (CI runs as root)";
    ASSERT_EQ(::chmod(dir.c_str(), 01777), 0);
    ASSERT_TRUE(NewDbFile(path));
    ASSERT_EQ(::chown(path.c_str(), kDaemon, kDaemonGroup), 0);
    ASSERT_EQ(::chmod(path.c_str(), 0644), 0);
    SetLockWaitForTesting(100);
    for (bool held : {false, true}) {
        SCOPED_TRACE(held);
        int ready[2], done[2];
        ASSERT_EQ(::pipe(ready), 0);
        ASSERT_EQ(::pipe(done), 0);
        pid_t planter = ::fork();
        if (planter == 0) {
            ::close(ready[0]);
            ::close(done[1]);
            if (::setresgid(kNogroup, kNogroup, kNogroup) != 0 ||
                ::setresuid(kNobody, kNobody, kNobody) != 0)
                ::_exit(99);
            FileLock lock;
            if (lock.Acquire(path) != 0)
                ::_exit(98);
            if (!held) {
                lock.Release();
                for (const auto& e : fs::directory_iterator(dir)) {
                    if (e.path().extension() == ".lock")
                        ::chmod(e.path().c_str(), 0);
                }
            }
            ::write(ready[1], "x", 1);
            char c;
            ::read(done[0], &c, 1);
            ::_exit(0);
        }
        ::close(ready[1]);
        ::close(done[0]);
        char c = 0;
        ASSERT_EQ(::read(ready[0], &c, 1), 1);
        EXPECT_EQ(InChild(
                      [this] {
                          DbResult r = SaveKey(path, 1, "a");
                          const std::string text = ForeignLockText(path);
                          return !r && !text.empty() &&
                                 text.find("создал пользователь nobody") != std::string::npos &&
                                 r.error == "Не удалось записать файл «" + path + "»: " + text;
                      },
                      kDaemon, kDaemonGroup),
                  0);
        ::close(done[1]);
        ::close(ready[0]);
        int status = 0;
        ::waitpid(planter, &status, 0);
        EXPECT_EQ(WEXITSTATUS(status), 0);
        for (const auto& e : fs::directory_iterator(dir)) {
            if (e.path().extension() == ".lock")
                fs::remove(e.path());
        }
    }
}

// The journal is opened by the database's rules: another user's link in a shared folder
// is not followed, a FIFO does not block, a device or a second name of another file is
// not written, and a journal made first by someone who cannot write the database is not
// trusted with its keys. Each is reported, none is silent.
TEST_F(FileSafety, TheJournalIsOpenedByTheDatabasesRules) {
    if (!IsRoot())
        GTEST_SKIP() << "needs root to plant another user's files (CI runs as root)";
    ASSERT_EQ(::chmod(dir.c_str(), 01777), 0);
    ASSERT_TRUE(NewDbFile(path));
    ASSERT_EQ(::chmod(path.c_str(), 0600), 0);
    const std::string journalPath = path + ".journal";
    const std::string secret = dir + "/.profile";
    struct Case {
        const char* what;
        std::function<void()> plant;
    };
    const Case cases[] = {
        {"another user's link",
         [&] {
             ASSERT_EQ(::symlink(secret.c_str(), journalPath.c_str()), 0);
             ASSERT_EQ(::lchown(journalPath.c_str(), kNobody, kNogroup), 0);
         }},
        {"a FIFO", [&] { ASSERT_EQ(::mkfifo(journalPath.c_str(), 0666), 0); }},
        {"a link to a device", [&] { ASSERT_EQ(::symlink("/dev/null", journalPath.c_str()), 0); }},
        {"a second name", [&] { ASSERT_EQ(::link(secret.c_str(), journalPath.c_str()), 0); }},
        {"another user's file",
         [&] {
             WriteAll(journalPath, "");
             ASSERT_EQ(::chown(journalPath.c_str(), kNobody, kNogroup), 0);
             ASSERT_EQ(::chmod(journalPath.c_str(), 0666), 0);
         }},
    };
    std::string told;
    journal::SetReporter([&](const std::string&, const std::string& error) { told = error; });
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteAll(secret, "root only\n");
        c.plant();
        const bool regular = fs::is_regular_file(fs::symlink_status(journalPath));
        const std::string was = regular ? ReadAll(journalPath) : "";
        told.clear();
        const std::string error =
            journal::Record(path, {journal::kKeyAdd, "1", "Иванов, сейф 3", "", "1"});
        EXPECT_FALSE(error.empty());
        EXPECT_EQ(told, error);
        EXPECT_EQ(ReadAll(secret), "root only\n");
        if (regular) {
            EXPECT_EQ(ReadAll(journalPath), was);
        }
        fs::remove(journalPath);
    }
    journal::SetReporter(nullptr);
}

// A new journal takes the database's group and mode, never more open; where the group
// cannot be given, its bits are dropped; one found more open is narrowed on the next write.
TEST_F(FileSafety, TheJournalIsNoMoreOpenThanItsDatabase) {
    if (!IsRoot())
        GTEST_SKIP() << "needs root to give files to other users (CI runs as root)";
    ASSERT_EQ(::chmod(dir.c_str(), 0777), 0);
    const std::string journalPath = path + ".journal";
    struct Case {
        const char* what;
        uid_t dbOwner;
        gid_t dbGroup;
        mode_t dbMode;
        uid_t writer;  // root, or nobody with the groups below
        std::vector<gid_t> groups;
        mode_t found;  // an existing journal's mode, or 0 for none
        uid_t owner;
        gid_t group;
        mode_t mode;
    };
    const Case cases[] = {
        {"a secret file", 0, 0, 0600, 0, {}, 0, 0, 0, 0600},
        {"a group's file, written by root",
         kDaemon,
         kDaemonGroup,
         0660,
         0,
         {},
         0,
         kDaemon,
         kDaemonGroup,
         0660},
        {"a group's file, written by a member",
         0,
         kDaemonGroup,
         0660,
         kNobody,
         {kDaemonGroup},
         0,
         kNobody,
         kDaemonGroup,
         0660},
        {"a group nobody can give", 0, kDaemonGroup, 0666, kNobody, {}, 0, kNobody, kNogroup, 0606},
        {"a journal found open to all", 0, 0, 0600, 0, {}, 0644, 0, 0, 0600},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        WriteAll(path, "[ControllerSettings]\r\n");
        ASSERT_EQ(::chown(path.c_str(), c.dbOwner, c.dbGroup), 0);
        ASSERT_EQ(::chmod(path.c_str(), c.dbMode), 0);
        if (c.found != 0) {
            WriteAll(journalPath, "");
            ASSERT_EQ(::chmod(journalPath.c_str(), c.found), 0);
        }
        auto record = [this] {
            return journal::Record(path, {journal::kKeyAdd, "1", "Иванов, сейф 3", "", "1"})
                .empty();
        };
        if (c.writer == 0)
            EXPECT_TRUE(record());
        else
            EXPECT_EQ(InChild(record, c.writer, kNogroup, c.groups), 0);
        struct stat st = StatOf(journalPath);
        EXPECT_EQ(st.st_uid, c.owner);
        EXPECT_EQ(st.st_gid, c.group);
        EXPECT_EQ(st.st_mode & 07777, c.mode);
        fs::remove(journalPath);
    }
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
    // The Windows-1251 byte 0x98 has no character: it reads as a C1 control.
    EXPECT_EQ(EscapeControlCharacters(Cp1251ToUtf8("a\x98"
                                                   "b\xE0")),
              "a\\x98bа");
    WriteAll(path, "[VardexDB2]\r\n1=a\x1b[31mred\tx\r\n");
    DbModel m;
    ASSERT_TRUE(LoadDbFile(path, m));
    ASSERT_EQ(m.keys.size(), 1u);
    EXPECT_EQ(m.keys[0].description, "a\x1b[31mred\tx");
}

}  // namespace
