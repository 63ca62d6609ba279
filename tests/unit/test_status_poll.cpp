// The poll cycle against a scripted register reader: what it shows and where
// it gives up. The request sequences per layout and the failure rules are
// checked against rarur-sim in the integration tests.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <cstring>
#include <future>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

#include "base/app_state.h"
#include "base/headless_ui.h"
#include "registers/settings_store.h"
#include "status/display_hooks.h"
#include "status/poll.h"

namespace {

struct Request {
    uint16_t start, count;
    uint8_t function;
    bool operator==(const Request&) const = default;
};

struct Script {
    uint16_t version = 410;
    std::vector<Request> seen;
    int fail_start = -1;        // requests at this start address fail
    uint8_t fail_function = 0;
    uint16_t comment_byte = 'A'; // first byte of the comment in the settings block
};
Script g_script;
bool g_link_closed = false;

ModbusOutcome scripted_reader(uint16_t start, unsigned count, uint8_t* out, uint8_t function)
{
    g_script.seen.push_back({start, static_cast<uint16_t>(count), function});
    if (start == g_script.fail_start && function == g_script.fail_function)
        return ModbusResult::Exception;
    std::memset(out, 0, 2 * count);
    if (function == 4 && start == 0) {
        out[2] = static_cast<uint8_t>(g_script.version >> 8);
        out[3] = static_cast<uint8_t>(g_script.version);
    }
    if (function == 3 && start == 0)
        out[18] = static_cast<uint8_t>(g_script.comment_byte); // word 9
    return ModbusResult::Ok;
}

void scripted_close()
{
    g_link_closed = true;
    app.link_open = 0;
}

class PollCycle : public ::testing::Test {
protected:
    void SetUp() override
    {
        headless_ui_install();
        headless_ui_clear();
        display_hooks_headless();
        display_record_clear();
        status_data_reset();
        g_script = Script{};
        g_link_closed = false;
        poll_set_register_reader(scripted_reader);
        poll_set_link_close(scripted_close);
        app.link_open = 1;
    }
    void TearDown() override
    {
        app.link_open = 0;
        poll_set_register_reader(nullptr);
        poll_set_link_close(nullptr);
    }
};

} // namespace

TEST_F(PollCycle, ShowsProgressAndFillsTheSettingsPageOnce)
{
    g_script.version = 405;
    ASSERT_EQ(poll_cycle(), CycleResult::Complete);
    DisplayRecord r = display_record();
    ASSERT_EQ(r.progress.size(), 32u);
    EXPECT_EQ(r.progress.front(), "<b>1 из 20</b>");
    EXPECT_EQ(r.progress[23], "<b>19 из 20</b>");
    EXPECT_EQ(r.progress.back(), "<b>20 из 20</b>");
    EXPECT_EQ(r.identification.protocol_version, "405");
    EXPECT_EQ(r.device_comment, "A");
    EXPECT_EQ(r.device_time, "01 Jan 1970 00:00:00 (+0:00)");
    EXPECT_TRUE(r.cycle_time.ends_with(" с")) << r.cycle_time;
    EXPECT_EQ(r.settings_page_loads, 1);
    EXPECT_EQ(r.complete_cycles, 1);

    g_script.comment_byte = 'B';
    ASSERT_EQ(poll_cycle(), CycleResult::Complete);
    r = display_record();
    EXPECT_EQ(r.settings_page_loads, 1);
    EXPECT_EQ(r.device_comment, "B");
    EXPECT_EQ(settings_name(settings_reference_copy(2), SettingsField::Comment, 0), "B");

    g_script.version = 410;
    ASSERT_EQ(poll_cycle(), CycleResult::Complete);
    EXPECT_EQ(display_record().progress.back(), "<b>20 из 20</b>");
}

TEST_F(PollCycle, AbandonsWhenAStatusBlockFails)
{
    g_script.fail_start = 2048;
    g_script.fail_function = 4;
    EXPECT_EQ(poll_cycle(), CycleResult::Abandoned);
    EXPECT_EQ(g_script.seen.back(), (Request{2048, 4, 4}));
    EXPECT_EQ(display_record().complete_cycles, 0);
}

TEST_F(PollCycle, Layout1ControllerFallsBackToTheLongerEventBlock)
{
    g_script.version = 300;
    g_script.fail_start = 256;
    g_script.fail_function = 4;
    EXPECT_EQ(poll_cycle(), CycleResult::Abandoned);
    std::vector<Request> expected = {{0, 15, 4}, {256, 26, 4}, {256, 34, 4}, {256, 34, 4}};
    EXPECT_EQ(g_script.seen, expected);
}

namespace {

// Hands the last read of the settings block over to the test thread, which
// then holds the GDK lock as a GUI handler would.
std::mutex g_handover_lock;
std::condition_variable g_handover;
int g_handover_step = 0;   // 1: last settings read reached; 2: the test holds the lock

ModbusOutcome reader_with_handover(uint16_t start, unsigned count, uint8_t* out, uint8_t function)
{
    ModbusOutcome result = scripted_reader(start, count, out, function);
    if (function == 3 && start + count == unsigned(settings_word_count(2))) {
        std::unique_lock<std::mutex> g(g_handover_lock);
        g_handover_step = 1;
        g_handover.notify_all();
        g_handover.wait(g, [] { return g_handover_step == 2; });
    }
    return result;
}

} // namespace

TEST_F(PollCycle, ACycleEndingAfterADisconnectShowsNothing)
{
    // "Отключиться" resets the display while the cycle's last read is in; the
    // cycle must not paint the old Controller's values (or refill the settings
    // page) over the reset display once it gets the lock.
    g_script.version = 405;
    g_handover_step = 0;
    poll_set_register_reader(reader_with_handover);
    std::future<void> cycle = std::async(std::launch::async, [] { poll_cycle(); });
    {
        std::unique_lock<std::mutex> g(g_handover_lock);
        g_handover.wait(g, [] { return g_handover_step == 1; });
    }
    {
        GdkLock lock;
        {
            std::lock_guard<std::mutex> g(g_handover_lock);
            g_handover_step = 2;
        }
        g_handover.notify_all();
        // The cycle never waits for the window: it ends with what it shows
        // handed over, still to run, while the link looked open.
        EXPECT_EQ(cycle.wait_for(std::chrono::seconds(20)), std::future_status::ready);
        app.link_open = 0;   // what link_close does under this lock
        status_data_reset();
    }
    cycle.get();
    DisplayRecord r = display_record();
    EXPECT_EQ(r.complete_cycles, 0);
    EXPECT_EQ(r.settings_page_loads, 0);
}

TEST_F(PollCycle, ListsOfAViewTheWindowDroppedAreBuiltAgainByTheNextCycle)
{
    ASSERT_EQ(poll_cycle(), CycleResult::Complete);
    ASSERT_TRUE(display_record().last_view.event_lists.changed);
    // New names in the settings rebuild the lists, but the window drops that
    // cycle: the link had closed by the time it got to it.
    g_script.comment_byte = 'B';
    {
        GdkLock lock;   // the window is busy while the cycle ends
        std::thread poll([] { poll_cycle(); });
        poll.join();   // the cycle never waits for the window
        app.link_open = 0;
    }
    EXPECT_EQ(display_record().complete_cycles, 1);
    // The same values again: the lists on screen are still the first
    // cycle's, so they are built afresh.
    app.link_open = 1;
    ASSERT_EQ(poll_cycle(), CycleResult::Complete);
    EXPECT_TRUE(display_record().last_view.event_lists.changed);
}

TEST_F(PollCycle, ABatteryGroupLostInTheFirstCycleLeavesThePageForTheNextOne)
{
    // Cycle 1: one battery group read fails, so the settings block is not
    // read; the page must not count as loaded for the rest of the connection.
    g_script.fail_start = status_address::kBatteryBlocks;
    g_script.fail_function = 4;
    ASSERT_EQ(poll_cycle(), CycleResult::Complete);
    EXPECT_EQ(display_record().settings_page_loads, 0);
    g_script.fail_start = -1;
    ASSERT_EQ(poll_cycle(), CycleResult::Complete);
    EXPECT_EQ(display_record().settings_page_loads, 1);
    ASSERT_EQ(poll_cycle(), CycleResult::Complete);
    EXPECT_EQ(display_record().settings_page_loads, 1);
}

TEST_F(PollCycle, ThreeGivenUpCyclesInARowMarkTheDataStaleUntilOneCompletes)
{
    ASSERT_EQ(poll_cycle(), CycleResult::Complete);
    g_script.fail_start = 0;   // identification
    g_script.fail_function = 4;
    for (int i = 0; i < 2; ++i)
        EXPECT_EQ(poll_cycle(), CycleResult::Abandoned);
    EXPECT_FALSE(display_record().stale) << "two given-up cycles are a hiccup";
    EXPECT_EQ(poll_cycle(), CycleResult::Abandoned);
    EXPECT_TRUE(display_record().stale);
    EXPECT_EQ(display_record().progress.back(), "<b>нет данных</b>");
    size_t shown = display_record().progress.size();
    EXPECT_EQ(poll_cycle(), CycleResult::Abandoned);
    EXPECT_EQ(display_record().progress.size(), shown) << "steps of given-up cycles keep the mark";

    g_script.fail_start = -1;
    ASSERT_EQ(poll_cycle(), CycleResult::Complete);
    EXPECT_FALSE(display_record().stale);
    EXPECT_EQ(display_record().progress.back(), "<b>20 из 20</b>");
    // The count starts again: two more given up are not yet stale.
    g_script.fail_start = 0;
    poll_cycle();
    poll_cycle();
    EXPECT_FALSE(display_record().stale);
}
