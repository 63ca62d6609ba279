// The journal thread over a real TCP link against rarur-sim, beside the poll
// thread: the records it asks for, in order, what a failed record, the stop
// button and a lost link do to a read, and that two reads never overlap.
#include <gtest/gtest.h>

#include <algorithm>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "base/app_state.h"
#include "base/headless_ui.h"
#include "base/ui_hooks.h"
#include "events/journal_read.h"
#include "link/connection.h"
#include "modbus/exchange.h"
#include "modbus/operations.h"
#include "poll_sim_fixture.h"
#include "registers/settings_store.h"
#include "sim_process.h"
#include "status/display_hooks.h"
#include "status/poll.h"

namespace {

// Record numbers of the journal requests (fn=14 file=0001), in order.
std::vector<int> journal_requests(const SimProcess& sim)
{
    std::vector<int> records;
    for (const std::string& line : sim.record_lines()) {
        unsigned file = 0;
        int record = 0, length = 0;
        size_t at = line.find("fn=14 ");
        if (at != std::string::npos &&
            std::sscanf(line.c_str() + at, "fn=14 file=%x record=%d length=%d", &file, &record, &length) == 3 &&
            file == 1 && length == 6)
            records.push_back(record);
    }
    return records;
}

// A whole read takes seconds, longer under the sanitizers.
constexpr int kReadWaitMs = 30000;

bool logged(const std::string& tagged) { return headless_log_tagged().find(tagged) != std::string::npos; }

int start_read()
{
    GdkLock lock;
    return journal_read_start();
}

class JournalAgainstSim : public PollSimFixture {
protected:
    void SetUp() override
    {
        PollSimFixture::SetUp();
        SimOptions options;
        options.freeze = true;
        sim_ = std::make_unique<SimProcess>(options);
        ASSERT_TRUE(sim_->running()) << sim_->log();
        ASSERT_EQ(connect(*sim_), 0) << headless_log();
        // The read starts where the last poll cycle's identification says.
        ASSERT_TRUE(wait_until([] { return status_identification_register(1) != 0; }, kReadWaitMs)) << headless_log();
        std::string status = sim_->control("status");
        size_t at = status.find(" journal=");
        ASSERT_NE(at, std::string::npos) << status;
        newest_ = std::stoi(status.substr(at + 9));
        ASSERT_EQ(status_identification_register(8), newest_);
        journal_take_rows();
    }
    void TearDown() override
    {
        PollSimFixture::TearDown();
        // The read ends with the link.
        journal_wait();
    }

    std::unique_ptr<SimProcess> sim_;
    int newest_ = 0;
};

}  // namespace

TEST_F(JournalAgainstSim, ReadsTwoThousandRecordsBackwardsThroughTheWrapNewestFirst)
{
    ASSERT_LT(newest_, 1999) << "the seeded journal should wrap past record 0 within one read";
    ASSERT_EQ(start_read(), 0);
    EXPECT_TRUE(journal_busy());
    EXPECT_EQ(start_read(), -1) << "a second press while reading starts nothing";
    journal_wait();

    std::vector<int> records = journal_requests(*sim_);
    ASSERT_EQ(records.size(), 2000u);
    for (int i = 0; i < 2000; ++i)
        ASSERT_EQ(records[i], (newest_ - i + 4096) % 4096) << "request " << i;
    EXPECT_EQ(records[newest_ + 1], 4095);

    std::vector<JournalRow> rows = journal_take_rows();
    // The simulator's history: a few hundred records, four erased slots.
    EXPECT_GT(rows.size(), 500u);
    EXPECT_LT(rows.size(), 2000u);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0].event, "Включение RARUR");
    EXPECT_STREQ(rows[0].icon, "gtk-harddisk");
    // Newest first: descriptors count down, with gaps only where a slot is erased.
    for (size_t k = 1; k < rows.size() && k < 400; ++k)
        EXPECT_LT(rows[k].descriptor, rows[k - 1].descriptor) << "row " << k;
    EXPECT_EQ(journal_progress().done, 2000);
    EXPECT_EQ(journal_progress().text.substr(0, 10), "100.0% [0:");
    EXPECT_FALSE(journal_reading());
    EXPECT_TRUE(logged("[norm_text]Журнал событий удачно прочитан\n")) << headless_log();
    EXPECT_FALSE(logged("[err_text]"));
}

TEST_F(JournalAgainstSim, AFailedRecordIsLoggedWithItsAttemptAndNumberAndTheReadGoesOn)
{
    int failing = (newest_ - 3 + 4096) % 4096;
    ASSERT_EQ(sim_->control("fault exception fn=14 file=1 record=" + std::to_string(failing) + " times=1"), "ok");
    ASSERT_EQ(start_read(), 0);
    journal_wait();
    EXPECT_EQ(journal_requests(*sim_).size(), 2000u);
    EXPECT_TRUE(logged("[err_text]Ошибка чтения записи №4 журнала событий (запись " + std::to_string(failing) +
                       ")\n"))
        << headless_log();
    EXPECT_TRUE(logged("[err_text]Журнал событий прочитан с ошибками\n")) << headless_log();
    EXPECT_FALSE(logged("удачно"));
}

TEST_F(JournalAgainstSim, StopEndsTheReadAndANewOneStartsOnlyAfterTheOldHasSaidSo)
{
    ASSERT_EQ(start_read(), 0);
    ASSERT_TRUE(wait_until([] { return journal_progress().done >= 100; }, kReadWaitMs));
    journal_read_stop();
    EXPECT_FALSE(journal_reading());
    // Pressing again as fast as possible: the press that starts the next read
    // comes after the old read has logged its end and let go of everything.
    while (start_read() != 0)
        std::this_thread::yield();
    std::string at_restart = headless_log();
    EXPECT_NE(at_restart.find("Чтение журнала событий отменено пользователем\n"), std::string::npos) << at_restart;
    size_t first = journal_requests(*sim_).size();
    EXPECT_LT(first, 2000u);
    ASSERT_TRUE(wait_until([] { return journal_progress().done >= 5; }, kReadWaitMs));
    journal_read_stop();
    journal_wait();
    // The second read started from the newest record again, and was stopped
    // too. (The simulator may record the first read's last requests after
    // `first` was counted, so the restart is found by its record number.)
    std::vector<int> records = journal_requests(*sim_);
    ASSERT_GT(records.size(), first);
    EXPECT_EQ(std::count(records.begin(), records.end(), newest_), 2);
    std::string log = headless_log();
    size_t first_end = log.find("Чтение журнала событий отменено пользователем\n");
    ASSERT_NE(first_end, std::string::npos);
    EXPECT_NE(log.find("Чтение журнала событий отменено пользователем\n", first_end + 1), std::string::npos) << log;
}

TEST_F(JournalAgainstSim, ALinkLostMidWayEndsTheReadWithErrors)
{
    ASSERT_EQ(start_read(), 0);
    ASSERT_TRUE(wait_until([] { return journal_progress().done >= 100; }, kReadWaitMs));
    ASSERT_EQ(sim_->control("fault close-after 0"), "ok");
    ASSERT_TRUE(wait_until([] { return !journal_busy(); }, kReadWaitMs)) << headless_log();
    EXPECT_LT(journal_requests(*sim_).size(), 2000u);
    EXPECT_TRUE(logged("[err_text]Журнал событий прочитан с ошибками\n")) << headless_log();
    EXPECT_FALSE(logged("удачно"));
    EXPECT_FALSE(journal_reading());
}

TEST_F(JournalAgainstSim, AControllerThatStopsGivingRecordsEndsTheReadAfterTenInARowKeepingTheRowsRead)
{
    ASSERT_EQ(start_read(), 0);
    ASSERT_TRUE(wait_until([] { return journal_progress().done >= 50; }, kReadWaitMs));
    // From here on every journal record is refused (a silent Controller fails
    // the same way, only two seconds later each).
    ASSERT_EQ(sim_->control("fault exception fn=14 file=1 code=4"), "ok");
    ASSERT_TRUE(wait_until([] { return !journal_busy(); }, kReadWaitMs)) << headless_log();
    EXPECT_LT(journal_requests(*sim_).size(), 200u);
    std::vector<JournalRow> rows = journal_take_rows();
    EXPECT_GE(rows.size(), 40u);
    ASSERT_FALSE(rows.empty());
    EXPECT_EQ(rows[0].event, "Включение RARUR");
    std::string log = headless_log_tagged();
    size_t failures = 0;
    for (size_t at = log.find("Ошибка чтения записи №"); at != std::string::npos;
         at = log.find("Ошибка чтения записи №", at + 1))
        ++failures;
    EXPECT_EQ(failures, size_t(kJournalSilentLimit)) << log;
    EXPECT_TRUE(logged("[err_text]Контроллер не отвечает: чтение журнала событий остановлено\n")) << log;
    EXPECT_FALSE(logged("прочитан с ошибками"));
    EXPECT_FALSE(journal_reading());
}
