// Writing the settings back to rarur-sim over a real TCP link with the poll
// thread running beside it: the requests as the simulator recorded them, the
// check against the next settings read, and the failures that must stop the
// write before the command block.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/app_state.h"
#include "base/headless_ui.h"
#include "base/ui_hooks.h"
#include "link/connection.h"
#include "modbus/exchange.h"
#include "modbus/operations.h"
#include "registers/settings_store.h"
#include "settings/apply.h"
#include "settings/apply_plan.h"
#include "poll_sim_fixture.h"
#include "sim_process.h"
#include "status/display_hooks.h"
#include "status/poll.h"

#ifdef RARUR_SIM_PATH
namespace {

using F = SettingsField;

struct Write {
    int address, count;
    std::string data;
    bool operator==(const Write& o) const { return address == o.address && count == o.count; }
};

std::ostream& operator<<(std::ostream& out, const Write& w) { return out << std::hex << w.address << std::dec << "/" << w.count; }

// The writes (function 0x10) the simulator recorded, and whether 0x4000 was read.
std::vector<Write> writes(const SimProcess& sim, bool* command_read = nullptr)
{
    std::vector<Write> out;
    if (command_read)
        *command_read = false;
    for (const std::string& line : sim.record_lines()) {
        unsigned addr = 0;
        int count = 0;
        size_t at = line.find("fn=10 ");
        if (at != std::string::npos && std::sscanf(line.c_str() + at, "fn=10 addr=%x count=%d", &addr, &count) == 2) {
            size_t data = line.find("data=");
            out.push_back({int(addr), count, data == std::string::npos ? "" : line.substr(data + 5)});
        }
        if (command_read && line.find("fn=03 addr=4000 count=2") != std::string::npos)
            *command_read = true;
    }
    return out;
}

std::vector<std::string> g_texts;

class ApplyAgainstSim : public PollSimFixture {
protected:
    void SetUp() override
    {
        PollSimFixture::SetUp();
        g_texts.clear();
        settings_apply_set_hooks({nullptr, [](const char* t) { g_texts.push_back(t); }, nullptr, nullptr});
        settings_apply_set_verify_timeout(15000);
        store_monitoring_password("123456", 6);
    }
    void TearDown() override
    {
        PollSimFixture::TearDown();
        settings_apply_set_hooks({});
    }

    // Connects and waits for the poll's first settings read of `layout`.
    SettingsImage connect(const SimProcess& sim, int layout)
    {
        EXPECT_EQ(PollSimFixture::connect(sim), 0);
        // The first read of a connection loads the page (and clears settings_modified).
        EXPECT_TRUE(wait_until([] { return display_record().settings_page_loads > 0; }));
        EXPECT_TRUE(wait_until([&] { return settings_u32(settings_device_copy(layout), F::SerialNumber) != 0; }));
        return settings_device_copy(layout);
    }

    int apply(const SettingsImage& device, const SettingsImage& edit)
    {
        ApplyRequest request{edit, device, {}};
        std::memcpy(request.password, app.monitoring_password, 6);
        return settings_apply_run(WorkerContext(link_session_current()), request);
    }
};

SimOptions frozen(int version)
{
    SimOptions o;
    o.protocol_version = version;
    o.freeze = true;
    return o;
}

} // namespace

TEST_F(ApplyAgainstSim, Layout1WritesTheSegmentsInOrderThroughTheTrapFlagsAndIsVerified)
{
    SimProcess sim(frozen(300));
    ASSERT_TRUE(sim.running()) << sim.log();
    SettingsImage device = connect(sim, 1);
    // No optional segment: the passwords and communities are empty in the edit.
    SettingsImage edit = device;
    for (F f : {F::Password, F::MonitoringPassword, F::TrapPublic, F::TrapPrivate})
        settings_item(edit, f)[0] = 0;
    settings_item(edit, F::TrapIps, 2)[3] = 77;
    settings_set_u16(edit, F::MonitoringFlags, settings_u16(edit, F::MonitoringFlags) | (1 << 9) | (1 << 5));
    settings_set_u16(edit, F::FloatVoltage, 540);
    sim.clear_record();

    EXPECT_EQ(apply(device, edit), kApplyVerified) << headless_log();
    bool command_read = false;
    std::vector<Write> w = writes(sim, &command_read);
    EXPECT_TRUE(command_read);
    std::vector<Write> expected = {{0x3000, 2, ""}};
    for (int i = 0; i < 6; ++i)
        expected.push_back({0x3004 + 100 * i, 100, ""});
    expected.insert(expected.end(), {{0x3004 + 600, 14, ""}, {0x326D, 61, ""}, {0x32B4, 7, ""}, {0x4000, 6, ""}});
    EXPECT_EQ(w, expected);
    // The last segment carries trap 3's address and closes with the flags
    // word: phone 1 and trap 1 as shipped, SMS 2 and trap 3 enabled.
    ASSERT_EQ(w.size(), expected.size());
    EXPECT_EQ(w[9].data.substr(w[9].data.size() - 8), "004D02A2") << w[9].data;
    EXPECT_EQ(w[10].data.substr(w[10].data.size() - 4), "0001");
    EXPECT_EQ(g_texts.back(), "Настройки применены и проверены");
    SettingsImage now = settings_device_copy(1);
    EXPECT_EQ(settings_item(now, F::TrapIps, 2)[3], 77);
    EXPECT_EQ(settings_u16(now, F::FloatVoltage), 540);
    EXPECT_EQ(settings_item(now, F::TrapPublic)[0], 'p') << "an empty community is not written";
}

TEST_F(ApplyAgainstSim, Layout3WithEveryOptionalSegmentAndANewMonitoringPasswordAsksForItAgain)
{
    SimProcess sim(frozen(410));
    ASSERT_TRUE(sim.running()) << sim.log();
    SettingsImage device = connect(sim, 3);
    SettingsImage edit = device;
    ASSERT_EQ(device_string_from_utf8(settings_item(edit, F::MonitoringPassword), "654321"), 0);
    ASSERT_EQ(device_string_from_utf8(settings_item(edit, F::TrapPrivate), "secret"), 0);
    sim.clear_record();
    app.password_entered = 1;

    EXPECT_EQ(apply(device, edit), kApplyVerified) << headless_log();
    std::vector<Write> expected = {{0x3000, 2, ""}, {0x3002, 2, ""}};
    for (int i = 0; i < 6; ++i)
        expected.push_back({0x3004 + 100 * i, 100, ""});
    expected.insert(expected.end(), {{0x3004 + 600, 63, ""},
                                     {0x3000 + 667, 3, ""},
                                     {0x3000 + 670, 61, ""},
                                     {0x3000 + 731, 5, ""},
                                     {0x3000 + 736, 5, ""},
                                     {0x3000 + 741, 7, ""},
                                     {0x4000, 6, ""}});
    EXPECT_EQ(writes(sim), expected);
    EXPECT_EQ(app.password_entered, 0) << "the next command asks for the new password";
    EXPECT_EQ(settings_name(settings_device_copy(3), F::TrapPrivate, 0), "secret");
}

TEST_F(ApplyAgainstSim, AFailureBeforeTheCommandBlockWritesNoCommandAndKeepsTheEdits)
{
    SimProcess sim(frozen(410));
    ASSERT_TRUE(sim.running()) << sim.log();
    SettingsImage device = connect(sim, 3);
    SettingsImage edit = device;
    settings_set_u16(edit, F::FloatVoltage, 540);
    app.settings_modified = 1;

    // The command registers cannot be read: nothing at all is written.
    ASSERT_EQ(sim.control("fault exception fn=03 addr=0x4000 code=4"), "ok");
    sim.clear_record();
    EXPECT_EQ(apply(device, edit), kApplyTransferError);
    EXPECT_TRUE(writes(sim).empty());
    EXPECT_EQ(g_texts.back(), "Ошибка передачи параметров");

    // One segment refused: the writes stop there and no command block follows.
    ASSERT_EQ(sim.control("fault clear"), "ok");
    ASSERT_EQ(sim.control("fault exception fn=10 addr=0x3100 code=4"), "ok");
    sim.clear_record();
    headless_ui_clear();
    EXPECT_EQ(apply(device, edit), kApplyTransferError);
    std::vector<Write> w = writes(sim);
    ASSERT_FALSE(w.empty());
    EXPECT_EQ(w.back().address, 0x3004 + 200);
    for (const Write& x : w)
        EXPECT_NE(x.address, 0x4000);
    EXPECT_NE(headless_log().find("Ошибка передачи параметров\n"), std::string::npos);
    EXPECT_EQ(app.settings_modified, 1);
    EXPECT_EQ(settings_u16(settings_device_copy(3), F::FloatVoltage), settings_u16(device, F::FloatVoltage));
}

TEST_F(ApplyAgainstSim, AWrongMonitoringPasswordIsSaidSoAskedAgainAndNothingIsTaken)
{
    SimProcess sim(frozen(410));
    ASSERT_TRUE(sim.running()) << sim.log();
    SettingsImage device = connect(sim, 3);
    SettingsImage edit = device;
    settings_set_u16(edit, F::FloatVoltage, 540);
    store_monitoring_password("999999", 6);
    app.password_entered = 1;

    EXPECT_EQ(apply(device, edit), kApplyCommandRefused);
    EXPECT_EQ(g_texts.back(), "Контроллер отклонил пароль мониторинга");
    EXPECT_NE(headless_log().find("Контроллер отклонил пароль мониторинга\n"), std::string::npos);
    EXPECT_EQ(app.password_entered, 0) << "the next write asks for the password again";
    EXPECT_EQ(writes(sim).back().address, 0x4000);
    EXPECT_EQ(settings_u16(settings_device_copy(3), F::FloatVoltage), settings_u16(device, F::FloatVoltage));
}
#endif

#ifdef RARUR_SIM_PATH
// The whole body is written, so a write prepared against settings another
// client has since changed would undo that change unseen: with the recheck,
// a read begun after the start must still hold what was reviewed, or nothing
// at all is written and the other client's value stays.
TEST_F(ApplyAgainstSim, ARecheckedWriteRefusesSettingsChangedSinceTheReviewAndWritesNothing)
{
    SimProcess sim(frozen(410));
    ASSERT_TRUE(sim.running()) << sim.log();
    SettingsImage device = connect(sim, 3);
    SettingsImage edit = device;
    settings_set_u16(edit, F::FloatVoltage, 540);
    int cells_word = int(settings_item(device, F::CellsPerGroup).data() - device.data()) / 2;
    uint16_t cells = settings_u16(device, F::CellsPerGroup);

    ASSERT_EQ(sim.control("settings write " + std::to_string(cells_word) + " " + std::to_string(cells + 1)),
              "ok");
    sim.clear_record();
    ApplyRequest request{edit, device, {}, true};
    std::memcpy(request.password, app.monitoring_password, 6);
    EXPECT_EQ(settings_apply_run(WorkerContext(link_session_current()), request), kApplyDeviceChanged)
        << headless_log();
    EXPECT_TRUE(writes(sim).empty());
    EXPECT_NE(headless_log().find("Настройки контроллера изменились после просмотра изменений (1)"), std::string::npos)
        << headless_log();
    SettingsImage now = settings_device_copy(3);
    EXPECT_EQ(settings_u16(now, F::CellsPerGroup), cells + 1);
    EXPECT_EQ(settings_u16(now, F::FloatVoltage), settings_u16(device, F::FloatVoltage));

    // Against the settings as they now are, the same write goes through.
    sim.clear_record();
    request.device = now;
    request.edit = now;
    settings_set_u16(request.edit, F::FloatVoltage, 540);
    EXPECT_EQ(settings_apply_run(WorkerContext(link_session_current()), request), kApplyVerified) << headless_log();
    EXPECT_EQ(writes(sim).back().address, 0x4000);
    EXPECT_EQ(settings_u16(settings_device_copy(3), F::CellsPerGroup), cells + 1);
}
#endif

#ifdef RARUR_SIM_PATH
namespace {

bool recorded(const SimProcess& sim, const std::string& what)
{
    for (const std::string& line : sim.record_lines())
        if (line.find(what) != std::string::npos)
            return true;
    return false;
}

int word_of(const SettingsImage& image, F field)
{
    return int(settings_item(image, field).data() - image.data()) / 2;
}

} // namespace

// Another client writes while this write is under way: after our command
// block (the check reads a value neither we nor the review held), or between
// our data and our command (its command carries our data, ours is refused).
// Either way the result names another client and lists its rows.
TEST_F(ApplyAgainstSim, AnotherClientsWriteDuringOursIsNamedAndItsRowsListed)
{
    SimProcess sim(frozen(410));
    ASSERT_TRUE(sim.running()) << sim.log();
    SettingsImage device = connect(sim, 3);
    SettingsImage edit = device;
    settings_set_u16(edit, F::MainsLow, 195);
    const std::string other_write = "settings write " + std::to_string(word_of(device, F::MainsHigh)) + " 270";
    for (const char* between : {"addr=4000 count=6", "addr=32E5 count=7"}) {
        SCOPED_TRACE(between);
        // Each reply late enough for the other client to come in between.
        ASSERT_EQ(sim.control("fault delay 200"), "ok");
        sim.clear_record();
        headless_ui_clear();
        SettingsImage before = settings_device_copy(3);
        int result = 0;
        std::thread writer([&] { result = apply(before, edit); });
        bool seen = wait_until([&] { return recorded(sim, between); }, 20000);
        EXPECT_EQ(sim.control(other_write), "ok");
        writer.join();
        ASSERT_TRUE(seen) << sim.log();
        EXPECT_EQ(result, std::string(between).find("4000") != std::string::npos ? kApplyMismatch
                                                                                  : kApplyCommandRefused)
            << headless_log();
        EXPECT_EQ(g_texts.back(), "Другой клиент изменил настройки во время записи");
        EXPECT_NE(headless_log().find("Другой клиент изменил настройки во время записи (1):\n"
                                      "Верхний порог напряжения: записано 260, прочитано 270\n"),
                  std::string::npos)
            << headless_log();
        EXPECT_EQ(settings_u16(settings_device_copy(3), F::MainsHigh), 270);
        ASSERT_EQ(sim.control("fault delay 0"), "ok");
        ASSERT_EQ(sim.control("settings write " + std::to_string(word_of(device, F::MainsHigh)) + " 260"), "ok");
        ASSERT_TRUE(wait_until([&] { return settings_u16(settings_device_copy(3), F::MainsHigh) == 260; }));
    }
}

// The command block is carried out but its reply is lost: with the link still
// up the settings are read back, and the result is what the Controller holds.
TEST_F(ApplyAgainstSim, ACommandWhoseReplyIsLostIsReadBackAndSaidAsTheControllerHoldsIt)
{
    SimProcess sim(frozen(410));
    ASSERT_TRUE(sim.running()) << sim.log();
    SettingsImage device = connect(sim, 3);
    SettingsImage edit = device;
    settings_set_u16(edit, F::MainsLow, 195);
    ASSERT_EQ(sim.control("fault delay 200"), "ok");
    sim.clear_record();
    int result = 0;
    std::thread writer([&] { result = apply(device, edit); });
    // Silent from the last data segment's reply on: the command is taken unanswered.
    bool seen = wait_until([&] { return recorded(sim, "addr=32E5 count=7"); }, 20000);
    EXPECT_EQ(sim.control("fault silence on"), "ok");
    seen = seen && wait_until([&] { return recorded(sim, "addr=4000 count=6"); }, 20000);
    EXPECT_EQ(sim.control("fault silence off"), "ok");
    EXPECT_EQ(sim.control("fault delay 0"), "ok");
    writer.join();
    ASSERT_TRUE(seen);
    EXPECT_EQ(result, kApplyVerified) << headless_log();
    EXPECT_EQ(g_texts.back(), "Настройки применены и проверены");
    EXPECT_NE(headless_log().find("Контроллер не ответил на команду записи настроек; настройки прочитаны снова"),
              std::string::npos)
        << headless_log();
    EXPECT_EQ(settings_u16(settings_device_copy(3), F::MainsLow), 195);
}
#endif
