// The export into the controller: the request bytes per record, the displayed order, the
// log, the progress bar, failures at a chosen key, cancel, and the controller afterwards.
#include <gtest/gtest.h>

#include <unistd.h>
#include <chrono>
#include <cstdio>
#include <filesystem>

#include "core/jobs/export_job.h"
#include "core/keys/journal.h"
#include "fake_controller.h"
#include "support/journal_final.h"
#include "support/recording_job_host.h"

namespace {

using namespace std::chrono_literals;

std::vector<std::uint8_t> Bytes(const RequestFrame& r) {
    std::vector<std::uint8_t> bytes(r.header.begin(), r.header.begin() + 5);
    for (int k = 0; k < r.data[0]; ++k)
        bytes.push_back(r.data[1 + k]);
    return bytes;
}

DbModel ThreeKeys() {
    DbModel model;
    model.TimeOpen = 300;  // outside its range: the nearest in range travels, not the low byte
    model.RetryRead = -1;
    model.Vardex = 0x0A1B2C;
    // File order differs from the displayed order; descriptions are Windows-1251.
    model.keys = {{0x12ABCD, "\xc4\xe2\xe5\xf0\xfc"},  // "Дверь"
                  {0x01000005, "high bits"},
                  {0x000002, ""}};
    return model;
}

class ExportJobTest : public ::testing::Test {
  protected:
    ExportJobTest() : loop(clock), host(loop, controller) {}

    void Run(const ExportSource& source) {
        job = std::make_unique<TExportJob>(host, source);
        host.Attach(*job);
        ASSERT_TRUE(host.RunJob());
    }

    TVirtualJobClock clock;
    TJobLoop loop;
    FakeController controller;
    TRecordingJobHost host;
    std::unique_ptr<TExportJob> job;
};

TEST_F(ExportJobTest, SourceIsTheListInDisplayedOrder) {
    ExportSource source = ExportSourceOf(ThreeKeys(), 0);
    EXPECT_EQ(source.TimeOpen, 255);
    EXPECT_EQ(source.RetryRead, 0);
    ASSERT_EQ(source.keys.size(), 3u);
    EXPECT_EQ(source.keys[0].code, 0x000002u);
    EXPECT_EQ(source.keys[1].code, 0x01000005u);
    EXPECT_EQ(source.keys[2].code, 0x12ABCDu);
    EXPECT_EQ(source.keys[2].description, "Дверь");
    EXPECT_EQ(source.VardexCaption, Format(0, 0x0A1B2C));
    EXPECT_EQ(ExportSourceOf(DbModel{}, 1).VardexCaption, "Отсутствует");
}

TEST_F(ExportJobTest, WritesClearSettingsVardexAndKeysAndLogsEachStep) {
    controller.keys = {99, 98};
    ExportSource source = ExportSourceOf(ThreeKeys(), 0);
    Run(source);

    const std::vector<std::vector<std::uint8_t>> expected = {
        {0x00, 0x01, 0x00, 0x00, 0x00},
        {0x00, 0x23, 0x00, 0x00, 0x05, 0xFF, 0x00, 0x00, 0x00, 0x00},
        {0x00, 0x22, 0x00, 0xFF, 0x0C, 0x0A, 0x1B, 0x2C, 0, 0, 0, 0, 0, 0, 0, 0, 0},
        {0x00, 0x22, 0x00, 0x00, 0x0C, 0x00, 0x00, 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0},
        {0x00, 0x22, 0x00, 0x00, 0x0C, 0x00, 0x00, 0x05, 0, 0, 0, 0, 0, 0, 0, 0, 0},
        {0x00, 0x22, 0x00, 0x00, 0x0C, 0x12, 0xAB, 0xCD, 0, 0, 0, 0, 0, 0, 0, 0, 0},
        {0x00, 0x42, 0x00, 0x00, 0x00},
    };
    ASSERT_EQ(host.requests.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(Bytes(host.requests[i].frame), expected[i]) << "request " << i;
        if (i > 0) {
            EXPECT_EQ(host.requests[i].at - host.requests[i - 1].at, 100ms);
        }
    }
    const std::vector<std::string> log = {
        "Полная очистка контроллера ... OK!",
        "",
        "Запись настроек контроллера ... OK!",
        "",
        "Установка вардекса " + Format(0, 0x0A1B2C) + " ... OK!",
        "",
        "Запись базы карт(ключей) в контроллер ... ",
        "Карта(ключ) " + Format(0, 2) + " -  ... OK!",
        "Карта(ключ) " + Format(0, 0x01000005) + " - high bits ... OK!",
        "Карта(ключ) " + Format(0, 0x12ABCD) + " - Дверь ... OK!",
        "",
        "Проверка кол-ва карт(ключей) в контроллере ... OK!",
        "Кол-во карт(ключей) в контроллере: 3",
        "",
        "Экспорт в контроллер выполнен успешно!",
    };
    EXPECT_EQ(host.log, log);
    EXPECT_EQ(host.progressMax, 7);
    EXPECT_EQ(host.progressPosition, 7);
    ASSERT_TRUE(host.finished);
    EXPECT_EQ(host.finished->text, "Экспорт в контроллер выполнен успешно!");
    EXPECT_EQ(host.finished->caption, "");
    EXPECT_EQ(host.portClosings, 1);
    EXPECT_TRUE(job->CanClose);

    // The controller now holds what the file holds.
    EXPECT_EQ(controller.keys, (std::vector<std::uint32_t>{2, 5, 0x12ABCD}));
    EXPECT_EQ(controller.vardex, 0x0A1B2Cu);
    EXPECT_EQ(controller.timeOpen, 255);
    EXPECT_EQ(controller.retryRead, 0);
}

TEST_F(ExportJobTest, EmptyListWithoutVardexFinishesAfterTheVardex) {
    controller.keys = {7};
    controller.vardex = 0x1234;
    Run(ExportSourceOf(DbModel{}, 0));
    ASSERT_EQ(host.requests.size(), 4u);
    EXPECT_EQ(Bytes(host.requests[2].frame),
              (std::vector<std::uint8_t>{0x00, 0x22, 0x00, 0xFF, 0x0C, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                         0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(
        host.log,
        (std::vector<std::string>{
            "Полная очистка контроллера ... OK!", "", "Запись настроек контроллера ... OK!", "",
            "Установка вардекса Отсутствует ... OK!", "",
            "Проверка кол-ва карт(ключей) в контроллере ... OK!",
            "Кол-во карт(ключей) в контроллере: 0", "", "Экспорт в контроллер выполнен успешно!"}));
    EXPECT_EQ(host.progressMax, 4);
    EXPECT_EQ(host.progressPosition, 4);
    EXPECT_TRUE(controller.keys.empty());
    EXPECT_EQ(controller.vardex, 0u);
}

// The export ends with the key count: a controller that holds other than the keys written
// (one it did not keep, for all its answers) fails the export, never "успешно".
TEST_F(ExportJobTest, ACountOtherThanTheKeysWrittenFailsTheExport) {
    controller.reportedCount = 2;
    Run(ExportSourceOf(ThreeKeys(), 0));
    EXPECT_FALSE(host.finished);
    ASSERT_TRUE(host.failed);
    EXPECT_EQ(host.failed->caption, "Ошибка при экспорте");
    EXPECT_EQ(host.failed->text, "Кол-во карт(ключей) в контроллере 2 не совпадает с ожидаемым 3!");
    EXPECT_EQ(job->ExpectedCount(), 3);
}

// Asked about the file as it was, the export writes the file as it is once the questions
// have been answered, holding it to the end.
TEST_F(ExportJobTest, RereadsTheFileBeforeTheFirstWrite) {
    char folder[] = "/tmp/vx_export_reread.XXXXXX";
    ASSERT_NE(::mkdtemp(folder), nullptr);
    const std::string path = std::string(folder) + "/db.vx2";
    ASSERT_TRUE(NewDbFile(path).ok);
    ASSERT_TRUE(SaveKey(path, 2, "").ok);
    ExportSource asked = ExportSourceOf(DbModel{}, 0);  // what the questions were about
    ASSERT_TRUE(SaveKey(path, 3, "").ok);               // a key added meanwhile
    job = std::make_unique<TExportJob>(host, asked);
    job->RereadBeforeWriting(path, 0);
    host.Attach(*job);
    ASSERT_TRUE(host.RunJob());
    ASSERT_TRUE(host.finished);
    EXPECT_EQ(controller.keys, (std::vector<std::uint32_t>{2, 3}));
    EXPECT_EQ(job->Source().keys.size(), 2u);
    std::filesystem::remove_all(folder);
}

TEST_F(ExportJobTest, FailureAtTheKthKeyKeepsWhatWasWritten) {
    controller.failAt = 3 + 1;  // the key at position 1
    controller.failResult = BadLink;
    ExportSource source = ExportSourceOf(ThreeKeys(), 1);
    Run(source);
    EXPECT_EQ(host.requests.size(), 5u);
    const size_t n = host.log.size();
    ASSERT_GE(n, 3u);
    EXPECT_EQ(host.log[n - 3], "Карта(ключ) " + source.keys[1].caption + " - " +
                                   source.keys[1].description + " ... ");
    EXPECT_EQ(host.log[n - 2], "Ошибка при экспорте");
    EXPECT_EQ(host.log[n - 1], "Описание ошибки: " + ResultText(BadLink));
    ASSERT_TRUE(host.failed);
    EXPECT_EQ(host.failed->caption, "Ошибка при экспорте");
    EXPECT_EQ(host.failed->text, "Описание ошибки: " + ResultText(BadLink));
    EXPECT_EQ(host.failed->icon, BoxIcon::Error);
    EXPECT_EQ(host.progressPosition, 1 + 3);
    EXPECT_EQ(host.portClosings, 1);
    EXPECT_TRUE(job->CanClose);
    EXPECT_EQ(controller.keys, (std::vector<std::uint32_t>{source.keys[0].code}));
}

TEST_F(ExportJobTest, SilentControllerAtTheClear) {
    controller.failAt = 0;
    Run(ExportSourceOf(ThreeKeys(), 0));
    EXPECT_EQ(host.log,
              (std::vector<std::string>{"Полная очистка контроллера ... ", "Ошибка при экспорте",
                                        "Описание ошибки: " + ResultText(TimedOut)}));
    EXPECT_EQ(host.progressPosition, 0);
}

TEST_F(ExportJobTest, NotRunCountsAsSuccess) {
    controller.resultOverride = NotRun;
    Run(ExportSourceOf(ThreeKeys(), 0));
    EXPECT_TRUE(host.finished);
    EXPECT_EQ(host.requests.size(), 7u);
}

TEST_F(ExportJobTest, CancelInFlightStopsAfterThatRequest) {
    job = std::make_unique<TExportJob>(host, ExportSourceOf(ThreeKeys(), 0));
    host.Attach(*job);
    controller.hold = true;
    job->Start();
    host.RunUntil([&] { return controller.Holding(); });
    job->RequestCancel();
    EXPECT_FALSE(host.TryClose(JobEnd::Cancel));
    controller.Release();
    host.RunUntil([&] { return host.Ended(); });
    EXPECT_EQ(host.closed, JobEnd::Cancel);
    EXPECT_EQ(host.requests.size(), 1u);
    EXPECT_EQ(host.log, (std::vector<std::string>{"Полная очистка контроллера ... "}));
    EXPECT_EQ(host.portClosings, 0);
}

}  // namespace

namespace {

// A silent controller at each step: the export stops there with the progress at the
// number of steps done, the failed step's line without "OK!".
TEST(ExportJobSilence, EveryStepFailsCleanly) {
    DbModel model;
    model.keys = {{1, "a"}, {2, "b"}};
    for (int at = 0; at < 6; ++at) {  // the clear, times, vardex, two keys, the count
        TVirtualJobClock clock;
        TJobLoop loop(clock);
        FakeController controller;
        controller.failAt = at;
        TRecordingJobHost host(loop, controller);
        TExportJob job(host, ExportSourceOf(model, 0));
        host.Attach(job);
        ASSERT_TRUE(host.RunJob()) << at;
        EXPECT_TRUE(host.failed) << at;
        EXPECT_EQ(host.requests.size(), static_cast<size_t>(at + 1)) << at;
        EXPECT_EQ(host.progressPosition, at) << at;
        ASSERT_GE(host.log.size(), 3u);
        EXPECT_EQ(host.log[host.log.size() - 3].substr(host.log[host.log.size() - 3].size() - 5),
                  " ... ")
            << at;
        EXPECT_EQ(host.portClosings, 1) << at;
    }
}

// The export's intent is in the journal before the clear, and its outcome is written
// when the export ends, done, failed or cancelled after the clear, not when its window
// closes later. Cancelled before its first request, it has nothing to say.
TEST_F(ExportJobTest, TheJournalLineIsWrittenWhenTheExportEnds) {
    char dir[] = "/tmp/vx-export-XXXXXX";
    ASSERT_NE(::mkdtemp(dir), nullptr);
    const std::string db = std::string(dir) + "/doors.vx2";
    const struct {
        int failAt;  // -1: none
        bool cancel;
        std::string outcome;
    } cases[] = {
        {-1, false, "OK"},
        {3 + 1, false, "Описание ошибки: " + ResultText(TimedOut)},
        {-1, true, "Прервано"},
        {-1, true, ""},  // cancelled before the clear
    };
    for (const auto& c : cases) {
        std::remove((db + ".journal").c_str());
        controller.requests.clear();
        controller.failAt = c.failAt;
        ExportSource source = ExportSourceOf(ThreeKeys(), 0);
        source.databasePath = db;
        job = std::make_unique<TExportJob>(host, source);
        host.Attach(*job);
        host.finished.reset();
        host.failed.reset();
        host.closed.reset();
        const bool beforeClear = c.cancel && c.outcome.empty();
        controller.afterEach = [&] {
            if (c.cancel && controller.requests.size() == 1)
                job->RequestCancel();
        };
        if (beforeClear)
            job->RequestCancel();
        job->Start();
        host.RunUntil([&] { return host.Ended(); });
        // The job has ended; nothing has closed any window.
        const std::vector<journal::Line> lines = journal_final::FinalLines(db);
        if (beforeClear) {
            EXPECT_TRUE(lines.empty());
            EXPECT_TRUE(controller.requests.empty());
            continue;
        }
        ASSERT_EQ(lines.size(), 1u) << c.outcome;
        EXPECT_EQ(lines[0].entry.operation, journal::kExport);
        EXPECT_EQ(lines[0].entry.newValue, "карт(ключей): 3");
        EXPECT_EQ(lines[0].entry.outcome, c.outcome);
    }
    std::remove((db + ".journal").c_str());
    ::rmdir(dir);
}

}  // namespace
