// The load from the controller on a virtual clock: the requests and their pauses, the log
// line by line, the progress bar, failures, cancel, and the new file it saves.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <unistd.h>

#include "core/jobs/load_job.h"
#include "fake_controller.h"
#include "support/recording_job_host.h"

namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

class LoadJobTest : public ::testing::Test {
  protected:
    LoadJobTest() : loop(clock), host(loop, controller), job(host) {
        host.Attach(job);
        dir = fs::temp_directory_path() /
              ("vx_load_job_" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) +
               "_" + ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    ~LoadJobTest() override { fs::remove_all(dir); }

    TVirtualJobClock clock;
    TJobLoop loop;
    FakeController controller;
    TRecordingJobHost host;
    TLoadJob job;
    fs::path dir;
};

TEST_F(LoadJobTest, ReadsEverythingInOrderWithPausesAndLogsEachStep) {
    controller.timeOpen = 7;
    controller.retryRead = 2;
    controller.vardex = 0x12ABCD;
    controller.keys = {0x000001, 0xFFFFFF, 0x00BEEF};
    ASSERT_TRUE(host.RunJob());

    // 0x42, 0x63, 0x61 slot FFFF, then slots 0..2, then 0x42 again to check the count,
    // each 100 ms after the previous reply.
    ASSERT_EQ(host.requests.size(), 7u);
    const std::vector<std::vector<std::uint8_t>> expected = {
        {0x00, 0x42, 0x00, 0x00, 0x00},
        {0x00, 0x63, 0x00, 0x00, 0x00},
        {0x00, 0x61, 0x00, 0x00, 0x02, 0xFF, 0xFF},
        {0x00, 0x61, 0x00, 0x00, 0x02, 0x00, 0x00},
        {0x00, 0x61, 0x00, 0x00, 0x02, 0x01, 0x00},
        {0x00, 0x61, 0x00, 0x00, 0x02, 0x02, 0x00},
        {0x00, 0x42, 0x00, 0x00, 0x00},
    };
    for (size_t i = 0; i < expected.size(); ++i) {
        const auto& r = host.requests[i].frame;
        std::vector<std::uint8_t> bytes(r.header.begin(), r.header.begin() + 5);
        for (int k = 0; k < r.data[0]; ++k)
            bytes.push_back(r.data[1 + k]);
        EXPECT_EQ(bytes, expected[i]) << "request " << i;
        EXPECT_EQ(r.data[0], r.header[4]);
        if (i > 0) {
            EXPECT_EQ(host.requests[i].at - host.requests[i - 1].at, 100ms) << "request " << i;
        }
    }

    const std::vector<std::string> log = {
        "Проверка связи с контроллером ... OK!",
        "Кол-во карт(ключей) в контроллере: 3",
        "",
        "Чтение настроек контроллера ... OK!",
        "Время открывания замка 7 сек.",
        "Повторное считывание карты(ключа) 2 сек.",
        "",
        "Чтение вардекса:OK!",
        "Вардекс: " + Format(0, 0x12ABCD),
        "",
        "Чтение базы карт(ключей) контроллера:",
        "Карта(ключ) №1: " + Format(0, 0x000001),
        "Карта(ключ) №2: " + Format(0, 0xFFFFFF),
        "Карта(ключ) №3: " + Format(0, 0x00BEEF),
        "",
        "Проверка кол-ва карт(ключей) в контроллере ... OK!",
        "Кол-во карт(ключей) в контроллере: 3",
        "",
        "Чтение из контроллера завершено успешно!",
    };
    EXPECT_EQ(host.log, log);
    EXPECT_EQ(host.progressMax, 5);
    EXPECT_EQ(host.progressPosition, 5);
    ASSERT_TRUE(host.finished);
    EXPECT_EQ(host.finished->text,
              "Чтение из контроллера завершено успешно!\rМожно сохранить данные в файл!");
    EXPECT_EQ(host.finished->caption, "");
    EXPECT_EQ(host.finished->icon, BoxIcon::Information);
    EXPECT_EQ(host.portClosings, 1);
    EXPECT_TRUE(job.CanClose);
    EXPECT_FALSE(host.closed);  // stays open for the save
    EXPECT_EQ(job.KeyList, (std::vector<std::string>{"1", "16777215", "48879"}));
}

TEST_F(LoadJobTest, EmptyControllerSavesSettingsAndVardexOnly) {
    controller.vardex = 0;
    ASSERT_TRUE(host.RunJob());
    EXPECT_EQ(host.requests.size(), 4u);
    ASSERT_GE(host.log.size(), 4u);
    EXPECT_EQ(host.log[8], "Вардекс: отсутствует");
    EXPECT_EQ(std::vector<std::string>(host.log.end() - 7, host.log.end()),
              (std::vector<std::string>{"", "Чтение базы карт(ключей) контроллера:", "",
                                        "Проверка кол-ва карт(ключей) в контроллере ... OK!",
                                        "Кол-во карт(ключей) в контроллере: 0", "",
                                        "Чтение из контроллера завершено успешно!"}));
    EXPECT_EQ(host.progressMax, 2);
    EXPECT_EQ(host.progressPosition, 2);

    DbModel loaded;
    fs::path file = dir / "empty.vx2";
    ASSERT_TRUE(job.SaveTo(file.string(), loaded));
    EXPECT_EQ(ReadBytes(file),
              "[ControllerSettings]\r\nTimeOpen=5\r\nRetryRead=3\r\nTypeFormat=0\r\nVardex=0\r\n");
    EXPECT_TRUE(loaded.keys.empty());
}

TEST_F(LoadJobTest, SavedFileHoldsEachCodeOnceWithItsDecimalText) {
    // The same code in two slots, a slot answered without payload (reads as 0).
    controller.vardex = 0x010002;
    controller.keys = {0x12ABCD, 0x020001, 0x12ABCD, 0x777777};
    controller.emptySlots = {3};
    ASSERT_TRUE(host.RunJob());
    EXPECT_EQ(host.log[host.log.size() - 6], "Карта(ключ) №4: " + Format(0, 0));
    EXPECT_EQ(job.KeyList, (std::vector<std::string>{"1223629", "131073", "1223629", "0"}));

    fs::path file = dir / "new_contr.vx2";
    DbModel loaded;
    loaded.TypeFormat = 1;
    ASSERT_TRUE(job.SaveTo(file.string(), loaded));
    EXPECT_EQ(
        ReadBytes(file),
        "[ControllerSettings]\r\nTimeOpen=5\r\nRetryRead=3\r\nTypeFormat=0\r\nVardex=65538\r\n"
        "[VardexDB2]\r\n1223629=1223629\r\n131073=131073\r\n0=0\r\n");
    EXPECT_EQ(loaded.TypeFormat, 0);
    EXPECT_EQ(loaded.Vardex, 0x010002u);
    // A code 0 is no key the controller can hold: read back, it is kept apart, never sent.
    ASSERT_EQ(loaded.keys.size(), 2u);
    ASSERT_EQ(loaded.invalid.size(), 1u);
    EXPECT_EQ(loaded.invalid[0].name, "0");
}

TEST_F(LoadJobTest, FailureAtAKeyStopsTheReadAndNothingCanBeSaved) {
    controller.keys = {1, 2, 3, 4};
    controller.failAt = 4;  // slot 1, the second key
    controller.failResult = ReadFailed;
    ASSERT_TRUE(host.RunJob());
    EXPECT_EQ(host.requests.size(), 5u);
    ASSERT_GE(host.log.size(), 3u);
    EXPECT_EQ(host.log[host.log.size() - 3], "Карта(ключ) №1: " + Format(0, 1));
    EXPECT_EQ(host.log[host.log.size() - 2], "Ошибка при импорте из контроллера!");
    EXPECT_EQ(host.log.back(), "Описание ошибки: " + ResultText(ReadFailed));
    ASSERT_TRUE(host.failed);
    EXPECT_EQ(host.failed->caption, "Ошибка при импорте из контроллера");
    EXPECT_EQ(host.failed->text, "Описание ошибки: " + ResultText(ReadFailed));
    EXPECT_EQ(host.failed->icon, BoxIcon::Error);
    EXPECT_EQ(host.portClosings, 0);  // the main window closes it
    EXPECT_TRUE(job.CanClose);
    EXPECT_FALSE(job.ReadComplete());

    DbModel loaded;
    fs::path file = dir / "never.vx2";
    EXPECT_FALSE(job.SaveTo(file.string(), loaded));
    EXPECT_FALSE(fs::exists(file));
}

// Keys changed while the slots were read (the count at the end is not the count at the
// start): the read is no copy of the controller, and nothing can be saved.
TEST_F(LoadJobTest, ACountChangedDuringTheReadFailsIt) {
    controller.keys = {1, 2, 3};
    controller.afterEach = [&] {
        if (host.requests.size() == 6)  // the last slot has been read
            controller.keys.push_back(4);
    };
    ASSERT_TRUE(host.RunJob());
    EXPECT_EQ(host.requests.size(), 7u);
    ASSERT_TRUE(host.failed);
    EXPECT_EQ(host.failed->caption, "Ошибка при импорте из контроллера");
    EXPECT_EQ(host.failed->text, "Кол-во карт(ключей) в контроллере 4 не совпадает с ожидаемым 3!");
    EXPECT_FALSE(job.ReadComplete());
    DbModel loaded;
    EXPECT_FALSE(job.SaveTo((dir / "never.vx2").string(), loaded));
}

TEST_F(LoadJobTest, SilentControllerAtTheFirstStepFailsWithTheTimeOutText) {
    controller.failAt = 0;
    ASSERT_TRUE(host.RunJob());
    EXPECT_EQ(host.log, (std::vector<std::string>{"Проверка связи с контроллером ... ",
                                                  "Ошибка при импорте из контроллера!",
                                                  "Описание ошибки: " + ResultText(TimedOut)}));
    EXPECT_EQ(host.progressMax, 0);
}

TEST_F(LoadJobTest, CancelInFlightClosesOnlyAtTheCompletion) {
    controller.keys = {1, 2, 3};
    job.Start();
    // Run up to the vardex request and hold it in flight.
    host.RunUntil([&] { return host.requests.size() == 2; });
    controller.hold = true;
    host.RunUntil([&] { return controller.Holding(); });
    job.RequestCancel();
    EXPECT_FALSE(host.TryClose(JobEnd::Cancel));  // the close box is refused meanwhile
    EXPECT_FALSE(host.closed);
    controller.Release();
    host.RunUntil([&] { return host.Ended(); });
    EXPECT_EQ(host.closed, JobEnd::Cancel);
    EXPECT_EQ(host.requests.size(), 3u);
    EXPECT_EQ(host.log.back(), "Чтение вардекса:");  // its reply was discarded
    EXPECT_FALSE(job.ReadComplete());
    EXPECT_FALSE(loop.Run([] { return false; }));  // nothing further is pending
}

TEST_F(LoadJobTest, CancelDuringThePauseClosesAtTheNextStep) {
    controller.keys = {1, 2};
    job.Start();
    host.RunUntil([&] { return host.requests.size() == 1 && host.outstanding == 0; });
    job.RequestCancel();
    host.RunUntil([&] { return host.Ended(); });
    EXPECT_EQ(host.closed, JobEnd::Cancel);
    EXPECT_EQ(host.requests.size(), 1u);
}

TEST_F(LoadJobTest, NotRunCountsAsSuccess) {
    controller.resultOverride = NotRun;
    ASSERT_TRUE(host.RunJob());
    EXPECT_TRUE(host.finished);
    EXPECT_FALSE(host.failed);
}

TEST_F(LoadJobTest, FailedSaveLeavesNoFileAndAnExistingFileUntouched) {
    controller.keys = {5};
    ASSERT_TRUE(host.RunJob());
    DbModel loaded;
    loaded.TimeOpen = 42;
    EXPECT_FALSE(job.SaveTo((dir / "missing" / "x.vx2").string(), loaded));
    EXPECT_FALSE(fs::exists(dir / "missing"));
    EXPECT_EQ(loaded.TimeOpen, 42);

    // The chosen name already exists but cannot be replaced (read-only folder): the old
    // file stays whole and no temporary is left behind.
    if (::geteuid() != 0) {
        fs::path ro = dir / "ro";
        fs::create_directories(ro);
        std::ofstream(ro / "old.vx2") << "old";
        fs::permissions(ro, fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_FALSE(job.SaveTo((ro / "old.vx2").string(), loaded));
        fs::permissions(ro, fs::perms::owner_all);
        EXPECT_EQ(ReadBytes(ro / "old.vx2"), "old");
        EXPECT_EQ(std::distance(fs::directory_iterator(ro), fs::directory_iterator()), 1);
    }
}

}  // namespace

namespace {

// A silent controller at each step: the read stops there, with nothing sent after; the
// link check does not move the progress bar.
TEST(LoadJobSilence, EveryStepFailsCleanly) {
    for (int at = 0; at < 7; ++at) {  // the count, times, vardex, three slots, the count
        TVirtualJobClock clock;
        TJobLoop loop(clock);
        FakeController controller;
        controller.keys = {1, 2, 3};
        controller.failAt = at;
        TRecordingJobHost host(loop, controller);
        TLoadJob job(host);
        host.Attach(job);
        ASSERT_TRUE(host.RunJob()) << at;
        EXPECT_TRUE(host.failed) << at;
        EXPECT_EQ(host.requests.size(), static_cast<size_t>(at + 1)) << at;
        EXPECT_EQ(host.log.back(), "Описание ошибки: " + ResultText(TimedOut)) << at;
        EXPECT_FALSE(job.ReadComplete());
        EXPECT_EQ(host.progressPosition, std::max(0, at - 1)) << at;
    }
}

}  // namespace
