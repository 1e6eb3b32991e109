// The reconcile on a virtual clock against a controller in memory: the read it shares with
// the load, the copy it keeps, the comparison, the order of the writes (a key that stays is
// never absent), failures and reruns, cancel, and the verifying count.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include <unistd.h>

#include "core/jobs/reconcile_job.h"
#include "core/keys/backup.h"
#include "core/keys/journal.h"
#include "fake_controller.h"
#include "support/journal_final.h"
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

std::vector<std::uint8_t> Bytes(const RequestFrame& r) {
    std::vector<std::uint8_t> bytes(r.header.begin(), r.header.begin() + 5);
    for (int k = 0; k < r.data[0]; ++k)
        bytes.push_back(r.data[1 + k]);
    return bytes;
}

std::vector<std::uint8_t> StoreKey(KeyCode c) {
    return {0x00,
            0x22,
            0x00,
            0x00,
            0x0C,
            static_cast<std::uint8_t>(c >> 16),
            static_cast<std::uint8_t>(c >> 8),
            static_cast<std::uint8_t>(c),
            0,
            0,
            0,
            0xFF,
            0xFF,
            0xFF,
            0xFF,
            0xFF,
            0xFF};
}

std::vector<std::uint8_t> RemoveKey(KeyCode c) {
    return {0x00,
            0x22,
            0x00,
            0x00,
            0x0C,
            static_cast<std::uint8_t>(c >> 16),
            static_cast<std::uint8_t>(c >> 8),
            static_cast<std::uint8_t>(c),
            0xFF,
            0xFF,
            0xFF,
            0xFF,
            0xFF,
            0xFF,
            0xFF,
            0xFF,
            0xFF};
}

// 2026-12-08 10:15:02 local time.
std::time_t FixedTime() {
    std::tm t{};
    t.tm_year = 126;
    t.tm_mon = 11;
    t.tm_mday = 8;
    t.tm_hour = 10;
    t.tm_min = 15;
    t.tm_sec = 2;
    t.tm_isdst = -1;
    return std::mktime(&t);
}

class ReconcileJobTest : public ::testing::Test {
  protected:
    ReconcileJobTest() : loop(clock) {
        dir = fs::temp_directory_path() /
              ("vx_reconcile_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
        dbPath = (dir / "doors.vx2").string();
        controller.timeOpen = 5;
        controller.retryRead = 1;
    }
    ~ReconcileJobTest() override { fs::remove_all(dir); }

    // The open file: settings 5/1, no vardex, and `keys` with descriptions "key N".
    void SetFile(const std::vector<KeyCode>& keys, KeyCode vardex = 0) {
        file = DbModel{};
        file.TimeOpen = 5;
        file.RetryRead = 1;
        file.Vardex = vardex;
        for (KeyCode code : keys)
            file.keys.push_back({code, "key " + std::to_string(code)});
        ASSERT_TRUE(WriteDbFile(dbPath, file));
    }

    // A fresh host and job over the same controller (a rerun), read to the differences.
    void Read() {
        job.reset();
        host = std::make_unique<TRecordingJobHost>(loop, controller);
        ReconcileOptions options;
        options.databasePath = dbPath;
        options.file = file;
        options.typeFormat = file.TypeFormat;
        options.backupFolder = (dir / "backups").string();
        options.now = [this] { return now; };
        options.differencesReady = [this](const Differences&) { ++ready; };
        job = std::make_unique<TReconcileJob>(*host, std::move(options));
        host->Attach(*job);
        host->RunJob();
        readRequests = host->requests.size();
    }
    // Answers Yes and runs the apply to its end.
    bool Apply() {
        host->answers.push_back(true);
        if (!job->Apply())
            return false;
        host->RunUntil([&] { return host->Ended() && host->outstanding == 0; });
        return true;
    }
    std::vector<std::vector<std::uint8_t>> Sent(size_t from) const {
        std::vector<std::vector<std::uint8_t>> out;
        for (size_t i = from; i < host->requests.size(); ++i)
            out.push_back(Bytes(host->requests[i].frame));
        return out;
    }
    std::vector<std::string> LogFrom(const std::string& line) const {
        auto it = std::find(host->log.begin(), host->log.end(), line);
        return {it, host->log.end()};
    }

    TVirtualJobClock clock;
    TJobLoop loop;
    FakeController controller;
    std::unique_ptr<TRecordingJobHost> host;
    std::unique_ptr<TReconcileJob> job;
    fs::path dir;
    std::string dbPath;
    DbModel file;
    std::time_t now = FixedTime();
    int ready = 0;
    size_t readRequests = 0;
};

TEST_F(ReconcileJobTest, NothingDiffersWritesNothingAndSaysSo) {
    controller.keys = {0x000002, 0x12ABCD, 0x000001};
    controller.vardex = 0x0A1B2C;
    SetFile({0x000001, 0x000002, 0x12ABCD}, 0x0A1B2C);
    Read();

    // Exactly the load's read: 0x42, 0x63, 0x61 FFFF, slots 0..2, and nothing after it.
    ASSERT_EQ(host->requests.size(), 6u);
    EXPECT_EQ(Bytes(host->requests[0].frame), (std::vector<std::uint8_t>{0, 0x42, 0, 0, 0}));
    EXPECT_EQ(Bytes(host->requests[2].frame),
              (std::vector<std::uint8_t>{0, 0x61, 0, 0, 2, 0xFF, 0xFF}));
    EXPECT_EQ(host->log[0], "Проверка связи с контроллером ... OK!");
    EXPECT_EQ(host->log[10], "Чтение базы карт(ключей) контроллера:");
    EXPECT_EQ(host->log[11], "Карта(ключ) №1: " + Format(0, 0x000002));
    EXPECT_EQ(host->progressMax, 5);
    EXPECT_EQ(host->progressPosition, 5);

    EXPECT_EQ(job->Phase(), ReconcilePhase::Done);
    EXPECT_TRUE(job->Agree());
    EXPECT_EQ(ready, 1);
    const std::vector<std::string> tail = {
        "Копия данных контроллера сохранена в файл " + job->BackupPath(),
        "",
        "Совпадает: 3, записать: 0, удалить: 0, добавить в файл: 0",
        "Файл и контроллер совпадают",
    };
    EXPECT_EQ(std::vector<std::string>(host->log.end() - 4, host->log.end()), tail);
    ASSERT_TRUE(host->finished);
    EXPECT_EQ(host->finished->text, "Файл и контроллер совпадают");
    EXPECT_EQ(host->portClosings, 1);
    EXPECT_FALSE(job->Apply());  // nothing to apply: no question, no request
    EXPECT_TRUE(host->answers.empty() && host->boxes.size() == 1);
    EXPECT_EQ(host->requests.size(), 6u);
}

TEST_F(ReconcileJobTest, AdditionsAreWrittenWithTheKeyDialogsRecordAndVerified) {
    controller.keys = {0x000002};
    SetFile({0x12ABCD, 0x000002, 0x000001});
    Read();
    ASSERT_EQ(job->Phase(), ReconcilePhase::Review);
    EXPECT_EQ(ready, 1);
    EXPECT_EQ(host->log.back(), "Совпадает: 1, записать: 2, удалить: 0, добавить в файл: 0");
    EXPECT_TRUE(job->CanClose);  // the operator may close without applying
    EXPECT_EQ(host->portClosings, 0);

    // Nothing is written until the one question is answered Yes.
    host->answers.push_back(false);
    EXPECT_FALSE(job->Apply());
    EXPECT_EQ(host->requests.size(), readRequests);
    ASSERT_TRUE(Apply());
    ASSERT_EQ(host->boxes.size(), 3u);
    EXPECT_EQ(host->boxes[1].caption, "Сверка с контроллером");
    EXPECT_EQ(host->boxes[1].text,
              "Записать различия в контроллер?\rСовпадает: 1, записать: 2, "
              "удалить: 0, добавить в файл: 0");

    // The list's order (by display text), then the verifying count; 100 ms apart.
    EXPECT_EQ(Sent(readRequests), (std::vector<std::vector<std::uint8_t>>{
                                      StoreKey(0x000001), StoreKey(0x12ABCD), {0, 0x42, 0, 0, 0}}));
    for (size_t i = readRequests + 1; i < host->requests.size(); ++i)
        EXPECT_EQ(host->requests[i].at - host->requests[i - 1].at, 100ms);
    EXPECT_EQ(LogFrom("Запись карт(ключей) в контроллер:"),
              (std::vector<std::string>{
                  "Запись карт(ключей) в контроллер:",
                  "Карта(ключ) " + Format(0, 0x000001) + " - key 1 ... OK!",
                  "Карта(ключ) " + Format(0, 0x12ABCD) + " - key 1223629 ... OK!",
                  "",
                  "Проверка кол-ва карт(ключей) в контроллере ... OK!",
                  "Кол-во карт(ключей) в контроллере: 3",
                  "",
                  "Сверка с контроллером завершена успешно!",
              }));
    EXPECT_EQ(host->progressMax, 3);
    EXPECT_EQ(host->progressPosition, 3);
    EXPECT_TRUE(job->Agree());
    EXPECT_EQ(job->ExpectedCount(), 3);
    EXPECT_EQ(host->portClosings, 1);
    EXPECT_EQ(controller.keys, (std::vector<std::uint32_t>{0x000002, 0x000001, 0x12ABCD}));
}

TEST_F(ReconcileJobTest, ExtraKeysAreRemovedLastAndNoStayingKeyIsEverAbsent) {
    controller.keys = {10, 20, 30, 40};
    controller.timeOpen = 9;
    controller.vardex = 0x0A0A0A;
    SetFile({20, 30, 50});  // 10 and 40 extra, 50 missing, times and vardex differ
    const std::set<std::uint32_t> staying = {20, 30};
    controller.afterEach = [&] {
        for (auto code : staying)
            EXPECT_NE(std::find(controller.keys.begin(), controller.keys.end(), code),
                      controller.keys.end())
                << "key " << code << " absent after request " << controller.requests.size();
    };
    Read();
    ASSERT_TRUE(Apply());
    EXPECT_EQ(Sent(readRequests), (std::vector<std::vector<std::uint8_t>>{
                                      StoreKey(50),
                                      {0, 0x23, 0, 0, 5, 5, 1, 0, 0, 0},
                                      {0, 0x22, 0, 0xFF, 0x0C, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                       0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
                                      RemoveKey(10),
                                      RemoveKey(40),
                                      {0, 0x42, 0, 0, 0}}));
    EXPECT_EQ(LogFrom("Удаление карт(ключей) из контроллера:"),
              (std::vector<std::string>{"Удаление карт(ключей) из контроллера:",
                                        "Карта(ключ) " + Format(0, 10) + " ... OK!",
                                        "Карта(ключ) " + Format(0, 40) + " ... OK!", "",
                                        "Проверка кол-ва карт(ключей) в контроллере ... OK!",
                                        "Кол-во карт(ключей) в контроллере: 3", "",
                                        "Сверка с контроллером завершена успешно!"}));
    EXPECT_NE(
        std::find(host->log.begin(), host->log.end(), "Установка вардекса Отсутствует ... OK!"),
        host->log.end());
    EXPECT_TRUE(job->Agree());
    EXPECT_EQ(controller.vardex, 0u);
    EXPECT_EQ(controller.timeOpen, 5);
    EXPECT_EQ(ReadBytes(dbPath).find("10="), std::string::npos);  // the file is untouched
}

TEST_F(ReconcileJobTest, AdoptedExtraKeysGoToTheFileInOneWriteAndStayInTheController) {
    controller.keys = {10, 20, 0x00BEEF};
    file.TypeFormat = TypeFormatEmMarine;
    SetFile({20});
    file.TypeFormat = TypeFormatEmMarine;
    ASSERT_TRUE(WriteDbFile(dbPath, file));
    Read();
    auto& items = job->Diff().items;
    ASSERT_EQ(items.size(), 2u);
    // Shown in the file's display format; adopt one, remove the other.
    EXPECT_EQ(items[0].text, Format(TypeFormatEmMarine, 10));
    EXPECT_EQ(items[1].text, Format(TypeFormatEmMarine, 0x00BEEF));
    items[1].adopt = true;
    ASSERT_TRUE(Apply());
    EXPECT_EQ(Sent(readRequests),
              (std::vector<std::vector<std::uint8_t>>{RemoveKey(10), {0, 0x42, 0, 0, 0}}));
    EXPECT_EQ(job->Adopted().size(), 1u);
    DbModel reread;
    ASSERT_TRUE(LoadDbFile(dbPath, reread));
    ASSERT_EQ(reread.keys.size(), 2u);
    EXPECT_EQ(reread.keys[1].code, 0x00BEEFu);
    EXPECT_EQ(reread.keys[1].description, "48879");  // as a load names it, in any format
    EXPECT_TRUE(job->Agree());
    EXPECT_EQ(controller.keys, (std::vector<std::uint32_t>{20, 0x00BEEF}));

    // Run again: the file (as now read) and the controller agree.
    file = reread;
    Read();
    EXPECT_TRUE(job->Agree());
    EXPECT_EQ(host->requests.size(), 5u);
}

TEST_F(ReconcileJobTest, UntickedRowsAreLeftAndTheEndIsNotAgreement) {
    controller.keys = {10};
    SetFile({20});
    Read();
    for (auto& item : job->Diff().items)
        item.ticked = item.kind != DiffKind::Extra;
    EXPECT_EQ(SummaryLine(job->Diff()),
              "Совпадает: 0, записать: 1, удалить: 0, добавить в файл: 0, пропустить: 1");
    ASSERT_TRUE(Apply());
    EXPECT_EQ(Sent(readRequests),
              (std::vector<std::vector<std::uint8_t>>{StoreKey(20), {0, 0x42, 0, 0, 0}}));
    EXPECT_EQ(job->VerifiedCount(), 2);
    EXPECT_EQ(job->ExpectedCount(), 2);
    EXPECT_FALSE(job->Agree());
}

// A code held in two slots is told once and left alone (removing it to repair the slots
// would take it from the door meanwhile); the verify expects the slots the controller
// really holds, so the reconcile still ends in agreement. An extra key held twice is
// removed from both its slots.
TEST_F(ReconcileJobTest, ACodeInTwoSlotsIsToldOnceLeftAloneAndExpectedAsItIs) {
    const std::string told = "Карта(ключ) " + Format(0, 7) + " записана в контроллере 2 раз(а)";
    auto toldTimes = [&] { return std::count(host->log.begin(), host->log.end(), told); };
    controller.keys = {7, 8, 7, 6, 6};
    SetFile({7, 8, 9});
    Read();
    const auto& items = job->Diff().items;
    ASSERT_EQ(items.size(), 4u);  // write 9, remove 6, and both codes held twice
    EXPECT_EQ(items[1].kind, DiffKind::Extra);
    EXPECT_EQ(items[1].slotCount, 2);
    EXPECT_EQ(items[3].kind, DiffKind::Duplicate);
    EXPECT_EQ(items[3].slotCount, 2);
    ASSERT_TRUE(Apply());
    EXPECT_EQ(Sent(readRequests),
              (std::vector<std::vector<std::uint8_t>>{
                  StoreKey(9), RemoveKey(6), RemoveKey(6), {0, 0x42, 0, 0, 0}}));
    EXPECT_EQ(controller.keys, (std::vector<std::uint32_t>{7, 8, 7, 9}));
    EXPECT_EQ(job->ExpectedCount(), 4);
    EXPECT_EQ(job->VerifiedCount(), 4);
    EXPECT_TRUE(job->Agree());
    EXPECT_EQ(host->finished->icon, BoxIcon::Information);
    EXPECT_EQ(toldTimes(), 1);
    EXPECT_NE(ReadBytes(dbPath + ".journal").find("Записано карт(ключей): 1 из 1, удалено: 1 из 1"),
              std::string::npos);
    // The copy holds the code once.
    DbModel copy;
    ASSERT_TRUE(LoadDbFile(job->BackupPath(), copy));
    EXPECT_EQ(copy.keys.size(), 3u);

    // The rerun: nothing to write, the code still held twice is told once more, and the
    // file and the controller agree.
    SetFile({7, 8, 9});
    Read();
    EXPECT_EQ(job->Phase(), ReconcilePhase::Done);
    EXPECT_TRUE(job->Agree());
    EXPECT_EQ(toldTimes(), 1);
    EXPECT_EQ(host->finished->text, "Файл и контроллер совпадают");
}

TEST_F(ReconcileJobTest, FailureAtAWriteStopsWithASummaryAndARerunFinishes) {
    controller.keys = {1, 2};
    SetFile({2, 3, 4, 5});
    Read();
    controller.failAt = static_cast<int>(readRequests) + 1;  // the second store
    ASSERT_TRUE(Apply());
    EXPECT_EQ(job->Phase(), ReconcilePhase::Failed);
    EXPECT_FALSE(job->Agree());
    EXPECT_EQ(host->requests.size(), readRequests + 2);
    const std::vector<std::string> tail = {
        "Карта(ключ) " + Format(0, 4) + " - key 4 ... ",
        "Ошибка при записи в контроллер!",
        "Описание ошибки: " + ResultText(TimedOut),
        "Записано карт(ключей): 1 из 3, удалено: 0 из 1",
        "Повторный запуск сверки допишет остальное.",
    };
    EXPECT_EQ(std::vector<std::string>(host->log.end() - 5, host->log.end()), tail);
    ASSERT_TRUE(host->failed);
    EXPECT_EQ(host->failed->caption, "Ошибка при сверке с контроллером");
    EXPECT_EQ(host->portClosings, 1);
    EXPECT_EQ(controller.keys, (std::vector<std::uint32_t>{1, 2, 3}));

    std::vector<journal::Line> lines = journal_final::FinalLines(dbPath);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_EQ(lines[0].entry.operation, "reconcile");
    EXPECT_EQ(lines[0].entry.newValue, "Записано карт(ключей): 1 из 3, удалено: 0 из 1");
    EXPECT_EQ(lines[0].entry.outcome, "Описание ошибки: " + ResultText(TimedOut));

    controller.failAt = -1;
    now += 1;
    Read();
    EXPECT_EQ(SummaryLine(job->Diff()),
              "Совпадает: 2, записать: 2, удалить: 1, добавить в файл: 0");
    ASSERT_TRUE(Apply());
    EXPECT_TRUE(job->Agree());
    EXPECT_EQ(controller.keys, (std::vector<std::uint32_t>{2, 3, 4, 5}));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir / "backups"), fs::directory_iterator()), 2);
    lines = journal_final::FinalLines(dbPath);
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[1].entry.newValue, "Записано карт(ключей): 2 из 2, удалено: 1 из 1");
    EXPECT_EQ(lines[1].entry.outcome, "OK");
}

TEST_F(ReconcileJobTest, CancelDuringTheReadWritesNoCopy) {
    controller.keys = {1, 2, 3};
    SetFile({4});
    host = std::make_unique<TRecordingJobHost>(loop, controller);
    ReconcileOptions options;
    options.databasePath = dbPath;
    options.file = file;
    options.backupFolder = (dir / "backups").string();
    job = std::make_unique<TReconcileJob>(*host, std::move(options));
    host->Attach(*job);
    job->Start();
    host->RunUntil([&] { return host->requests.size() == 4; });
    controller.hold = true;
    host->RunUntil([&] { return controller.Holding(); });
    job->RequestCancel();
    EXPECT_FALSE(host->TryClose(JobEnd::Cancel));
    controller.Release();
    host->RunUntil([&] { return host->Ended(); });
    EXPECT_EQ(host->closed, JobEnd::Cancel);
    EXPECT_EQ(job->Phase(), ReconcilePhase::Cancelled);
    EXPECT_EQ(host->requests.size(), 5u);
    EXPECT_FALSE(fs::exists(dir / "backups"));
}

TEST_F(ReconcileJobTest, CancelDuringTheApplyStopsAfterTheRequestInFlight) {
    controller.keys = {1};
    SetFile({2, 3, 4});
    Read();
    host->answers.push_back(true);
    ASSERT_TRUE(job->Apply());
    EXPECT_FALSE(job->CanClose);
    controller.hold = true;
    host->RunUntil([&] { return controller.Holding(); });
    job->RequestCancel();
    EXPECT_FALSE(host->TryClose(JobEnd::Cancel));
    controller.Release();
    host->RunUntil([&] { return host->Ended(); });
    EXPECT_EQ(host->closed, JobEnd::Cancel);
    EXPECT_EQ(job->Phase(), ReconcilePhase::Cancelled);
    EXPECT_EQ(host->requests.size(), readRequests + 1);
    EXPECT_EQ(std::vector<std::string>(host->log.end() - 4, host->log.end()),
              (std::vector<std::string>{"Карта(ключ) " + Format(0, 2) + " - key 2 ... OK!", "",
                                        "Сверка прервана.",
                                        "Записано карт(ключей): 1 из 3, удалено: 0 из 1"}));
    EXPECT_FALSE(loop.Run([] { return false; }));  // nothing further is pending
}

TEST_F(ReconcileJobTest, ReadFailureSendsNoWriteAndKeepsNoCopy) {
    controller.keys = {1, 2};
    controller.failAt = 4;
    SetFile({3});
    Read();
    EXPECT_EQ(job->Phase(), ReconcilePhase::Failed);
    EXPECT_EQ(host->requests.size(), 5u);
    EXPECT_EQ(host->log[host->log.size() - 2], "Ошибка при чтении из контроллера!");
    EXPECT_EQ(ready, 0);
    EXPECT_FALSE(fs::exists(dir / "backups"));
}

TEST_F(ReconcileJobTest, RemovalsGoFirstOnlyWhenTheAdditionsWouldOverfillTheController) {
    controller.keys.resize(MaxControllerKeys - 1);
    for (size_t i = 0; i < controller.keys.size(); ++i)
        controller.keys[i] = static_cast<std::uint32_t>(i + 1);
    std::vector<KeyCode> keys(controller.keys.begin() + 1, controller.keys.end());
    keys.push_back(0x800000);
    keys.push_back(0x800001);
    SetFile(keys);  // key 1 extra, two missing: 65,534 + 2 would not fit
    Read();
    ASSERT_TRUE(Apply());
    EXPECT_EQ(Sent(readRequests),
              (std::vector<std::vector<std::uint8_t>>{
                  RemoveKey(1), StoreKey(0x800000), StoreKey(0x800001), {0, 0x42, 0, 0, 0}}));
    EXPECT_NE(std::find(host->log.begin(), host->log.end(),
                        "Удаление выполняется до записи: с новыми карт(ключами) в контроллере "
                        "было бы 65536 карт(ключей), а он вмещает 65535"),
              host->log.end());
    EXPECT_TRUE(job->Agree());
}

// ---------------------------------------------------------------------------------------

TEST(ReconcileCompare, KeysCompareByTheBitsTheControllerHolds) {
    ControllerImage image;
    image.TimeOpen = 255;
    image.RetryRead = 0;
    image.slotCodes = {0x000005, 0x000006};
    DbModel file;
    file.TimeOpen = 801;  // a hand-edited file: sent as 255
    file.RetryRead = -1;  // and 0
    file.keys = {{0x01000005, "high bits"}, {0x000006, ""}, {0x02000006, "same key again"}};
    Differences diff = CompareWithFile(image, file, 0);
    EXPECT_TRUE(diff.Agree());
    EXPECT_EQ(diff.same, 2);
    EXPECT_EQ(SummaryLine(diff), "Совпадает: 2, записать: 0, удалить: 0, добавить в файл: 0");

    file.Vardex = 0x01ABCDEF;
    image.Vardex = 0x00ABCDEF;
    image.RetryRead = 3;
    diff = CompareWithFile(image, file, 0);
    ASSERT_EQ(diff.items.size(), 1u);
    EXPECT_EQ(diff.items[0].kind, DiffKind::Times);
    EXPECT_EQ(diff.items[0].text,
              "Время открывания замка 255 сек. (в контроллере 255), повторное считывание 0 сек. "
              "(в контроллере 3)");
}

TEST(ReconcileCompare, ListsWritesTimesVardexExtrasAndDuplicatesInThatOrder) {
    ControllerImage image;
    image.TimeOpen = 5;
    image.RetryRead = 1;
    image.slotCodes = {0x30, 0x10, 0x30, 0x40};
    DbModel file;
    file.TimeOpen = 5;
    file.RetryRead = 1;
    file.Vardex = 0x10;
    file.keys = {{0x20, "\xc4\xe2\xe5\xf0\xfc"}, {0x10, ""}, {0x05, "b"}};
    Differences diff = CompareWithFile(image, file, 0);
    std::vector<std::pair<DiffKind, KeyCode>> got;
    for (const auto& item : diff.items)
        got.emplace_back(item.kind, item.code);
    EXPECT_EQ(got, (std::vector<std::pair<DiffKind, KeyCode>>{{DiffKind::Write, 0x05},
                                                              {DiffKind::Write, 0x20},
                                                              {DiffKind::Vardex, 0x10},
                                                              {DiffKind::Extra, 0x30},
                                                              {DiffKind::Extra, 0x40},
                                                              {DiffKind::Duplicate, 0x30}}));
    EXPECT_EQ(diff.items[1].description, "Дверь");
    EXPECT_EQ(diff.items[2].text, "Вардекс " + Format(0, 0x10) + " (в контроллере Отсутствует)");
    EXPECT_EQ(diff.controllerDistinct, 3);
    EXPECT_EQ(diff.same, 1);
    diff.items[3].adopt = true;
    EXPECT_EQ(SummaryLine(diff),
              "Совпадает: 1, записать: 2, удалить: 1, добавить в файл: 1, вардекс: записать, в "
              "нескольких ячейках: 1");
}

// ---------------------------------------------------------------------------------------

class BackupTest : public ::testing::Test {
  protected:
    BackupTest() {
        dir = fs::temp_directory_path() /
              ("vx_backup_" + std::to_string(::getpid()) + "_" +
               ::testing::UnitTest::GetInstance()->current_test_info()->name());
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    ~BackupTest() override { fs::remove_all(dir); }
    fs::path dir;
};

TEST_F(BackupTest, TheCopyHoldsWhatTheControllerHeldWithTheFilesDescriptions) {
    ControllerImage image;
    image.TimeOpen = 7;
    image.RetryRead = 2;
    image.Vardex = 0x0A1B2C;
    image.slotCodes = {0x12ABCD, 3, 0x12ABCD};
    DbModel file;
    file.TypeFormat = TypeFormatEmMarine;
    file.keys = {{0x0112ABCD, "\xc4\xe2\xe5\xf0\xfc"}, {9, "not held"}};
    const std::string db = (dir / "doors.vx2").string();
    BackupResult r =
        WriteBackup((dir / "b").string(), db, BackupModel(image, file, 1), FixedTime());
    ASSERT_TRUE(r.result) << r.result.error;
    EXPECT_EQ(
        r.path,
        (dir / "b" / ("doors-" + BackupPathHash(db) + "-000001-20261208-101502.vx2")).string());
    EXPECT_EQ(ReadBytes(r.path),
              "[ControllerSettings]\r\nTimeOpen=7\r\nRetryRead=2\r\nTypeFormat=1\r\n"
              "Vardex=662316\r\n[VardexDB2]\r\n1223629=\xc4\xe2\xe5\xf0\xfc\r\n3=3\r\n");
    EXPECT_EQ(fs::status(r.path).permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
}

// Copies are numbered, never ordered by a clock: after the clock was once set ahead, the
// copy just made is still the newest and stays. Copies named by an earlier version (by
// time alone) count as older than any numbered one. A link's copies are its file's.
TEST_F(BackupTest, CopiesAreNumberedAndTheNewestTwentyPerFileStay) {
    const std::string folder = (dir / "b").string();
    const std::string db = (dir / "doors.vx2").string();
    const std::string other = (dir / "x" / "doors.vx2").string();
    const std::string link = (dir / "link.vx2").string();
    std::ofstream(db) << "";
    fs::create_symlink("doors.vx2", link);
    ASSERT_NE(BackupPathHash(db), BackupPathHash(other));
    EXPECT_EQ(BackupPathHash(db), BackupPathHash(link));
    EXPECT_EQ(BackupPathHash(db).size(), 6u);
    const std::string prefix = "doors-" + BackupPathHash(db) + "-";
    fs::create_directories(folder);
    fs::permissions(folder, fs::perms::all);
    const std::string legacy = prefix + "20991231-235959.vx2";  // a clock set far ahead
    std::ofstream(dir / "b" / legacy) << "";
    DbModel model;
    std::vector<std::string> paths;
    for (int i = 0; i < 3; ++i) {  // the same second three times, the second by the link
        BackupResult r = WriteBackup(folder, i == 1 ? link : db, model, FixedTime());
        ASSERT_TRUE(r.result);
        paths.push_back(fs::path(r.path).filename().string());
    }
    EXPECT_EQ(paths, (std::vector<std::string>{prefix + "000001-20261208-101502.vx2",
                                               prefix + "000002-20261208-101502.vx2",
                                               prefix + "000003-20261208-101502.vx2"}));
    EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);
    ASSERT_TRUE(WriteBackup(folder, other, model, FixedTime()).result);
    std::ofstream(dir / "b" / "unrelated.vx2") << "x";

    // Then the clock goes back a day at every copy.
    std::string last;
    for (int i = 1; i <= 18; ++i) {
        BackupResult r = WriteBackup(folder, db, model, FixedTime() - i * 86400);
        ASSERT_TRUE(r.result);
        last = fs::path(r.path).filename().string();
    }
    EXPECT_EQ(last, prefix + "000021-20261120-101502.vx2");
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(folder))
        names.insert(entry.path().filename().string());
    EXPECT_EQ(names.size(), 22u);  // 20 of db, the other path's, the unrelated file
    EXPECT_FALSE(names.count(legacy));
    EXPECT_FALSE(names.count(prefix + "000001-20261208-101502.vx2"));
    EXPECT_TRUE(names.count(prefix + "000002-20261208-101502.vx2"));
    EXPECT_TRUE(names.count(last));
    EXPECT_TRUE(names.count("unrelated.vx2"));
    EXPECT_TRUE(names.count("doors-" + BackupPathHash(other) + "-000001-20261208-101502.vx2"));
}

TEST_F(BackupTest, TheFolderFollowsTheDataHomeRules) {
    const char* savedData = std::getenv("XDG_DATA_HOME");
    const std::string saved = savedData ? savedData : "";
    const std::string savedHome = std::getenv("HOME") ? std::getenv("HOME") : "";
    ::setenv("XDG_DATA_HOME", "/srv/data", 1);
    EXPECT_EQ(BackupFolder(), "/srv/data/Vardex2/backups");
    ::setenv("XDG_DATA_HOME", "relative", 1);  // ignored, as the rules say
    ::setenv("HOME", "/home/op", 1);
    EXPECT_EQ(BackupFolder(), "/home/op/.local/share/Vardex2/backups");
    ::unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(BackupFolder(), "/home/op/.local/share/Vardex2/backups");
    if (savedData)
        ::setenv("XDG_DATA_HOME", saved.c_str(), 1);
    ::setenv("HOME", savedHome.c_str(), 1);
}

}  // namespace
