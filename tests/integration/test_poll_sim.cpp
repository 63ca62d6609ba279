// The poll thread over a real TCP link against rarur-sim: the requests of one
// cycle as the simulator recorded them, and what a failing request costs.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/app_state.h"
#include "base/headless_ui.h"
#include "base/ui_hooks.h"
#include "link/connection.h"
#include "link/usb.h"
#include "modbus/exchange.h"
#include "modbus/operations.h"
#include "poll_sim_fixture.h"
#include "registers/settings_store.h"
#include "sim_process.h"
#include "status/display_hooks.h"
#include "status/poll.h"

namespace {

struct Request {
    int function, address, count;
    bool operator==(const Request&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Request& r)
{
    return out << "fn=" << r.function << " addr=" << r.address << " count=" << r.count;
}

std::vector<Request> recorded(const SimProcess& sim)
{
    std::vector<Request> requests;
    for (const std::string& line : sim.record_lines()) {
        unsigned fn = 0, addr = 0;
        int count = 0;
        size_t at = line.find("fn=");
        if (at != std::string::npos && std::sscanf(line.c_str() + at, "fn=%x addr=%x count=%d", &fn, &addr, &count) == 3)
            requests.push_back({static_cast<int>(fn), static_cast<int>(addr), count});
    }
    return requests;
}

std::vector<Request> one_cycle(int layout, int battery_groups = 8, bool settings = true)
{
    std::vector<Request> r = {{4, 0, 15}, {4, 256, layout == 1 ? 26 : 34}, {4, 512, 56}, {4, 768, 35}};
    for (int g = 0; g < battery_groups; ++g)
        r.push_back({4, 1024 + 128 * g, 90});
    r.push_back({4, 2048, 4});
    int total = layout == 1 ? 180 : layout == 2 ? 570 : 540;
    for (int off = 0; off < total; off += 90)
        r.push_back({4, 2304 + off, std::min(90, total - off)});
    int shift = layout == 1 ? 0 : 512;
    for (auto [address, count] : {std::pair{2560, 7}, {2816, 5}, {3072, 16}, {3328, 2}})
        r.push_back({4, address + shift, count});
    if (settings) {
        int words = settings_word_count(layout);
        for (int off = 0; off < words; off += 100)
            r.push_back({3, off, std::min(100, words - off)});
    }
    return r;
}

class PollAgainstSim : public PollSimFixture {
protected:
    static int cycles() { return display_record().complete_cycles; }
};

} // namespace

TEST_F(PollAgainstSim, EachLayoutMakesExactlyItsCycleOfRequests)
{
    for (int version : {399, 400, 410}) {
        SCOPED_TRACE(version);
        SimOptions options;
        options.protocol_version = version;
        SimProcess sim(options);
        ASSERT_TRUE(sim.running()) << sim.log();
        display_record_clear();
        ASSERT_EQ(connect(sim), 0) << headless_log();
        ASSERT_TRUE(wait_until([] { return cycles() >= 2; })) << headless_log();
        {
            GdkLock lock;
            link_close();
        }
        ASSERT_TRUE(wait_until([] { return !app.poll_running; }));
        exchange_wait_stopped();

        int layout = layout_for_version(version);
        std::vector<Request> cycle = one_cycle(layout);
        EXPECT_EQ(cycle.size(), layout == 1 ? 27u : layout == 2 ? 32u : 31u);
        std::vector<Request> seen = recorded(sim);
        ASSERT_GE(seen.size(), 2 * cycle.size());
        EXPECT_EQ(std::vector<Request>(seen.begin(), seen.begin() + cycle.size()), cycle);
        EXPECT_EQ(std::vector<Request>(seen.begin() + cycle.size(), seen.begin() + 2 * cycle.size()), cycle);

        DisplayRecord r = display_record();
        EXPECT_EQ(r.identification.protocol_version, std::to_string(version));
        EXPECT_EQ(r.settings_page_loads, 1);
        EXPECT_FALSE(r.cycle_time.empty());
        status_data_reset();
    }
}

TEST_F(PollAgainstSim, Version411IsRefusedAndTheLinkCloses)
{
    SimOptions options;
    options.protocol_version = 411;
    SimProcess sim(options);
    ASSERT_TRUE(sim.running()) << sim.log();
    ASSERT_EQ(connect(sim), 0) << headless_log();
    ASSERT_TRUE(wait_until([] { return !app.poll_running && !app.link_open; })) << headless_log();
    EXPECT_NE(headless_log_tagged().find("[err_text]Версия протокола не поддерживается программой!\n"),
              std::string::npos);
    EXPECT_EQ(recorded(sim), (std::vector<Request>{{4, 0, 15}}));
    EXPECT_EQ(cycles(), 0);
}

TEST_F(PollAgainstSim, FailingBatteryGroupSkipsTheRestAndTheSettingsButTheCycleCompletes)
{
    SimOptions options;
    options.args = {"--fault", "exception fn=04 addr=0580 code=2"}; // group at 1408
    SimProcess sim(options);
    ASSERT_TRUE(sim.running()) << sim.log();
    ASSERT_EQ(connect(sim), 0) << headless_log();
    ASSERT_TRUE(wait_until([] { return cycles() >= 1; })) << headless_log();
    {
        GdkLock lock;
        link_close();
    }
    ASSERT_TRUE(wait_until([] { return !app.poll_running; }));
    std::vector<Request> cycle = one_cycle(3, 4, false);
    std::vector<Request> seen = recorded(sim);
    ASSERT_GE(seen.size(), cycle.size());
    EXPECT_EQ(std::vector<Request>(seen.begin(), seen.begin() + cycle.size()), cycle);
    EXPECT_EQ(display_record().settings_page_loads, 0);
    EXPECT_FALSE(display_record().summary_load.voltage.markup->empty());
}

TEST_F(PollAgainstSim, FailedSettingsRequestKeepsThePreviousDeviceCopy)
{
    SimProcess sim;
    ASSERT_TRUE(sim.running()) << sim.log();
    ASSERT_EQ(connect(sim), 0) << headless_log();
    ASSERT_TRUE(wait_until([] { return cycles() >= 1; })) << headless_log();
    SettingsImage good = settings_device_copy(3);
    ASSERT_NE(settings_u16(good, SettingsField::MainsPhaseCount), 0);

    ASSERT_EQ(sim.control("fault exception fn=03 addr=0190 code=4"), "ok"); // fifth request, from 400
    int before = cycles();
    ASSERT_TRUE(wait_until([&] { return cycles() >= before + 2; })) << headless_log();
    EXPECT_EQ(settings_device_copy(3).bytes, good.bytes);
    EXPECT_EQ(settings_reference_copy(3).bytes, good.bytes);
    EXPECT_EQ(display_record().settings_page_loads, 1);
}

TEST_F(PollAgainstSim, QuickReconnectKeepsOnePollThreadPolling)
{
    SimProcess sim;
    ASSERT_TRUE(sim.running()) << sim.log();
    ASSERT_EQ(connect(sim), 0) << headless_log();
    ASSERT_TRUE(wait_until([] { return cycles() >= 1; })) << headless_log();
    for (int round = 0; round < 3; ++round) {
        {
            GdkLock lock;
            link_close();
        }
        ASSERT_EQ(connect(sim), 0) << headless_log();
        int before = cycles();
        ASSERT_TRUE(wait_until([&] { return cycles() >= before + 2; })) << "round " << round << "\n" << headless_log();
        EXPECT_EQ(app.poll_running, 1);
    }
}

TEST_F(PollAgainstSim, MaskedLoadEventTurnsTheLoadLabelRed)
{
    SimOptions options;
    options.freeze = true;
    SimProcess sim(options);
    ASSERT_TRUE(sim.running()) << sim.log();
    ASSERT_EQ(sim.control("event set 40"), "ok"); // a load event, in alarm mask 1 of the served settings
    ASSERT_EQ(connect(sim), 0) << headless_log();
    ASSERT_TRUE(wait_until([] { return cycles() >= 1; })) << headless_log();
    EXPECT_EQ(*display_record().summary_load.label.markup, red("Нагрузка"));
    EXPECT_EQ(*display_record().summary_mains.label.markup, "Сеть");

    ASSERT_EQ(sim.control("event clear 40"), "ok");
    int before = cycles();
    ASSERT_TRUE(wait_until([&] { return cycles() >= before + 2; })) << headless_log();
    EXPECT_EQ(*display_record().summary_load.label.markup, "Нагрузка");
}

// Two cycles over one link of a frozen plant, then the link closed: what the
// poll thread read and what it showed.
struct PolledValues {
    StatusImage status;
    std::vector<uint8_t> settings;
    std::vector<std::string> summary;
};

TEST_F(PollAgainstSim, AUsbLinkReadsAndShowsWhatEthernetDoes)
{
    SimOptions options;
    options.freeze = true;
    options.usb_id = 5;
    SimProcess sim(options);
    ASSERT_TRUE(sim.running()) << sim.log();
    setenv("RARUR_USB_DIR", sim.dir().c_str(), 1);

    auto poll_over = [&](LinkKind kind) {
        status_data_reset();
        display_record_clear();
        app.link_kind = kind;
        int connected;
        if (kind == LinkKind::Usb) {
            GdkLock lock;
            connected = usb_connect(nullptr);
        } else {
            connected = connect(sim);
        }
        PolledValues v;
        EXPECT_EQ(connected, 0) << headless_log();
        EXPECT_TRUE(wait_until([] { return cycles() >= 2; })) << headless_log();
        {
            GdkLock lock;
            link_close();
        }
        EXPECT_TRUE(wait_until([] { return !app.poll_running; }));
        exchange_wait_stopped();
        v.status = status_image();
        auto settings = settings_device_copy(3).bytes;
        v.settings.assign(settings.begin(), settings.end());
        DisplayRecord r = display_record();
        for (const auto& text : {r.summary_load.voltage, r.summary_load.current, r.summary_battery.current,
                                 r.summary_battery.status, r.summary_alarms.count1, r.summary_mains.phase[0]})
            v.summary.push_back(text.markup.value_or("(none)"));
        return v;
    };
    PolledValues usb = poll_over(LinkKind::Usb);
    EXPECT_NE(headless_log().find("Подключен через USB {5}\n"), std::string::npos) << headless_log();
    PolledValues ethernet = poll_over(LinkKind::Ethernet);
    unsetenv("RARUR_USB_DIR");

    EXPECT_EQ(std::memcmp(&usb.status, &ethernet.status, sizeof usb.status), 0);
    EXPECT_NE(usb.status.load[0], 0) << "the load block was read";
    EXPECT_EQ(usb.settings, ethernet.settings);
    EXPECT_EQ(usb.summary, ethernet.summary);
}

#ifdef HAVE_LIBMODBUS
#include <modbus.h>

// The summary strip and the pages show the registers the simulator serves,
// decoded here independently through libmodbus (plant frozen).
TEST_F(PollAgainstSim, DisplayShowsTheServedValues)
{
    SimOptions options;
    options.freeze = true;
    SimProcess sim(options);
    ASSERT_TRUE(sim.running()) << sim.log();
    ASSERT_EQ(connect(sim), 0) << headless_log();
    ASSERT_TRUE(wait_until([] { return cycles() >= 2; })) << headless_log();
    DisplayRecord shown = display_record();

    modbus_t* ctx = modbus_new_tcp("127.0.0.1", sim.port());
    ASSERT_NE(ctx, nullptr);
    modbus_set_slave(ctx, 0xFF);
    ASSERT_EQ(modbus_connect(ctx), 0);
    uint16_t load[56], battery[35], mains[7], alarms[2], temperatures[5];
    ASSERT_EQ(modbus_read_input_registers(ctx, 512, 56, load), 56);
    ASSERT_EQ(modbus_read_input_registers(ctx, 768, 35, battery), 35);
    ASSERT_EQ(modbus_read_input_registers(ctx, 3072, 7, mains), 7);
    ASSERT_EQ(modbus_read_input_registers(ctx, 256, 2, alarms), 2);
    ASSERT_EQ(modbus_read_input_registers(ctx, 3328, 5, temperatures), 5);
    modbus_close(ctx);
    modbus_free(ctx);

    char text[64];
    std::snprintf(text, sizeof text, "%uВ", std::min<unsigned>(mains[0], 999));
    if (mains[1] == 0) {
        EXPECT_EQ(*shown.summary_mains.phase[0].markup, text);
    }
    if (mains[5] == 0) {
        EXPECT_EQ(*shown.mains_page.phase_value[2].markup, std::to_string(std::min<unsigned>(mains[4], 999)) + "В");
    }
    if (load[3] == 0) {
        std::snprintf(text, sizeof text, "%0.1fВ", load[0] / 100.0);
        EXPECT_EQ(*shown.summary_load.voltage.markup, text);
        std::snprintf(text, sizeof text, "%0.2fВ", load[0] / 100.0);
        EXPECT_EQ(*shown.load_page.voltage.markup, text);
    }
    // load shunt 200 A present: two decimals
    std::snprintf(text, sizeof text, "%0.2fА", ((uint32_t(load[1]) << 16) | load[2]) / 1000.0);
    EXPECT_EQ(*shown.summary_load.current.markup, text);
    int32_t battery_ma = static_cast<int32_t>((uint32_t(battery[0]) << 16) | battery[1]);
    std::snprintf(text, sizeof text, "%0.2fА", battery_ma / 1000.0);
    EXPECT_EQ(*shown.summary_battery.current.markup, text);
    EXPECT_EQ(*shown.summary_battery.status.markup, battery_mode_text(battery[2]));
    EXPECT_EQ(*shown.summary_alarms.count1.markup, std::to_string(alarms[0]));
    EXPECT_EQ(*shown.summary_alarms.count2.markup, std::to_string(alarms[1]));
    ASSERT_EQ(shown.battery_page.groups.size(), 2u);
    std::snprintf(text, sizeof text, "%0.2fВ", battery[3 + 4] / 100.0);
    EXPECT_EQ(shown.battery_page.groups[1].row.voltage, text);
    EXPECT_EQ(shown.load_page.rows.size(), 12u);
    EXPECT_EQ(shown.load_page.rows[7].name, "\"Охрана\"");
    if (temperatures[2] != 1) {
        std::snprintf(text, sizeof text, "%0.1f°C &lt;%0.1f°C&gt;", int16_t(temperatures[0]) / 10.0,
                      int16_t(temperatures[1]) / 10.0);
        EXPECT_EQ(*shown.temperatures.t1.markup, text);
    }
    EXPECT_EQ(shown.device_comment, "ЭПУ-1");
    EXPECT_NE(shown.device_time.find("(+3:00)"), std::string::npos);
}
#endif

TEST_F(PollAgainstSim, ClosingTheProgramEndsEveryWorkerBeforeItReturns)
{
    // The main loop ends and the process exits right after: a worker still
    // running then would touch the window and data being torn down.
    SimProcess sim;
    ASSERT_TRUE(sim.running()) << sim.log();
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        ASSERT_EQ(connect(sim), 0) << headless_log();
        if (round == 0) {
            ASSERT_TRUE(wait_until([] { return cycles() >= 1; })) << headless_log();
        }
        GdkLock lock;
        link_close_for_exit();
        EXPECT_EQ(app.link_open.load(), 0);
        EXPECT_EQ(app.poll_running.load(), 0);
        EXPECT_EQ(app.transport_running.load(), 0);
        std::string log = headless_log(), last = "Отключен\n";
        EXPECT_TRUE(log.ends_with(last)) << log;
    }
}
