// The poll cycle against a scripted register reader: which requests one cycle
// makes, and what a failing request costs.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "app/app_state.h"
#include "app/headless_ui.h"
#include "settings/settings_store.h"
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

int scripted_reader(uint16_t start, uint16_t count, uint8_t* out, uint8_t function)
{
    g_script.seen.push_back({start, count, function});
    if (start == g_script.fail_start && function == g_script.fail_function)
        return -1;
    std::memset(out, 0, 2 * count);
    if (function == 4 && start == 0) {
        out[2] = static_cast<uint8_t>(g_script.version >> 8);
        out[3] = static_cast<uint8_t>(g_script.version);
    }
    if (function == 3 && start == 0)
        out[18] = static_cast<uint8_t>(g_script.comment_byte); // word 9
    return 0;
}

void scripted_close()
{
    g_link_closed = true;
    app.link_open = 0;
}

std::vector<Request> expected_cycle(int layout)
{
    std::vector<Request> r = {{0, 15, 4}};
    r.push_back({256, static_cast<uint16_t>(layout == 1 ? 26 : 34), 4});
    r.push_back({512, 56, 4});
    r.push_back({768, 35, 4});
    for (int g = 0; g < 8; ++g)
        r.push_back({static_cast<uint16_t>(1024 + 128 * g), 90, 4});
    r.push_back({2048, 4, 4});
    int total = layout == 1 ? 180 : layout == 2 ? 570 : 540;
    for (int off = 0; off < total; off += 90)
        r.push_back({static_cast<uint16_t>(2304 + off), static_cast<uint16_t>(std::min(90, total - off)), 4});
    uint16_t shift = layout == 1 ? 0 : 512;
    r.push_back({static_cast<uint16_t>(2560 + shift), 7, 4});
    r.push_back({static_cast<uint16_t>(2816 + shift), 5, 4});
    r.push_back({static_cast<uint16_t>(3072 + shift), 16, 4});
    r.push_back({static_cast<uint16_t>(3328 + shift), 2, 4});
    int words = settings_word_count(layout);
    for (int off = 0; off < words; off += 100)
        r.push_back({static_cast<uint16_t>(off), static_cast<uint16_t>(std::min(100, words - off)), 3});
    return r;
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

TEST_F(PollCycle, MakesTheRequestsOfItsLayoutInOrder)
{
    for (uint16_t version : {399, 400, 410}) {
        SCOPED_TRACE(version);
        g_script.seen.clear();
        g_script.version = version;
        EXPECT_EQ(poll_cycle(), CycleResult::Complete);
        int layout = layout_for_version(version);
        EXPECT_EQ(g_script.seen, expected_cycle(layout));
    }
    // 19 + 8, 24 + 8, 23 + 8
    EXPECT_EQ(expected_cycle(1).size(), 27u);
    EXPECT_EQ(expected_cycle(2).size(), 32u);
    EXPECT_EQ(expected_cycle(3).size(), 31u);
}

TEST_F(PollCycle, ShowsProgressAndFillsTheSettingsPageOnce)
{
    g_script.version = 405;
    ASSERT_EQ(poll_cycle(), CycleResult::Complete);
    DisplayRecord r = display_record();
    ASSERT_EQ(r.progress.size(), 32u);
    EXPECT_EQ(r.progress.front(), "<b>1 из 20</b>");
    EXPECT_EQ(r.progress[23], "<b>19 из 20</b>");
    EXPECT_EQ(r.progress.back(), "<b>20 is 20</b>");
    EXPECT_EQ(r.identification.protocol_version, "405");
    EXPECT_EQ(r.device_comment, "A");
    EXPECT_EQ(r.device_time, "01 Jan 1970 00:00:00 (+0:00)");
    EXPECT_EQ(r.cycle_time.back(), 's');
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

TEST_F(PollCycle, RefusesProtocolsAbove410AndClosesTheLink)
{
    g_script.version = 411;
    EXPECT_EQ(poll_cycle(), CycleResult::Refused);
    EXPECT_TRUE(g_link_closed);
    EXPECT_EQ(g_script.seen.size(), 1u);
    EXPECT_EQ(headless_log_tagged(), "[err_text]Версия протокола не поддерживается программой!\n");
    EXPECT_EQ(display_record().complete_cycles, 0);
}

TEST_F(PollCycle, FailedBatteryGroupSkipsTheRestAndTheSettingsButCompletes)
{
    ASSERT_EQ(poll_cycle(), CycleResult::Complete);
    g_script.seen.clear();
    g_script.fail_start = 1408;
    g_script.fail_function = 4;
    g_script.comment_byte = 'Z';
    EXPECT_EQ(poll_cycle(), CycleResult::Complete);
    std::vector<Request> expected = expected_cycle(3);
    // groups 0-3 read, group 3 (1408) fails, 4-7 and the settings skipped
    expected.erase(expected.begin() + 8, expected.begin() + 12);
    expected.resize(expected.size() - 8);
    EXPECT_EQ(g_script.seen, expected);
    DisplayRecord r = display_record();
    EXPECT_EQ(r.complete_cycles, 2);
    EXPECT_EQ(r.device_comment, "A");
}

TEST_F(PollCycle, FailedSettingsRequestKeepsThePreviousDeviceCopy)
{
    ASSERT_EQ(poll_cycle(), CycleResult::Complete);
    EXPECT_EQ(display_record().settings_page_loads, 1);
    // Reconnect: the page-load request is raised again; a device copy from an
    // earlier good read is in place.
    status_data_reset();
    SettingsImage earlier;
    earlier.layout = 3;
    earlier.bytes[18] = 'D';
    settings_store_device(earlier);
    g_script.fail_start = 400; // the fifth settings request
    g_script.fail_function = 3;
    g_script.comment_byte = 'E';
    EXPECT_EQ(poll_cycle(), CycleResult::Complete);
    EXPECT_EQ(g_script.seen.back(), (Request{400, 100, 3}));
    EXPECT_EQ(settings_name(settings_device_copy(3), SettingsField::Comment, 0), "D");
    EXPECT_EQ(settings_name(settings_reference_copy(3), SettingsField::Comment, 0), "");
    EXPECT_EQ(display_record().settings_page_loads, 1);
    EXPECT_EQ(display_record().complete_cycles, 2);
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
