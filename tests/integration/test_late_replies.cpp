// One reply, one request, over every link kind against rarur-sim: a reply the
// Controller sends after the program has given its request up (fault late) is
// dropped, never taken for the answer to a later request; a write that went
// without its answer is told as of unknown outcome; and a Controller that
// answers every Ethernet request with transaction 0 still reads right.
#include "poll_sim_fixture.h"
#include "sim_process.h"

#include <gtest/gtest.h>

#ifdef RARUR_SIM_PATH
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "base/app_state.h"
#include "base/headless_ui.h"
#include "base/ui_hooks.h"
#include "base/workers.h"
#include "events/journal_read.h"
#include "link/backend.h"
#include "link/connection.h"
#include "link/modem.h"
#include "modbus/exchange.h"
#include "modbus/operations.h"
#include "status/commands_run.h"
#include "status/display_hooks.h"
#include "status/poll.h"

namespace {

// Each test's simulator is another USB Controller: the link remembers the
// Controllers of its last search by identifier.
int g_usb_id = 40;
constexpr int kLateRecord = 245;
// Every link gives a request up after 2 s here (the modem's reads are made
// as short as the others'), so this reply comes 0.3 s too late.
constexpr int kHoldMs = 2300;
constexpr int kWaitMs = 60000;

struct LinkCase {
    const char* name;
    LinkKind kind;
    bool transaction_zero = false;   // the simulator answers every Ethernet request with transaction 0
};

bool logged(const std::string& text) { return headless_log().find(text) != std::string::npos; }

size_t count_of(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

class LateReplies : public PollSimFixture, public testing::WithParamInterface<LinkCase> {
protected:
    void SetUp() override
    {
        app_state_reset_start_values();
        app.modem_wanted = 0;
        PollSimFixture::SetUp();
        ModemWaits waits;
        waits.call_read_ms = 2;
        modem_set_waits(waits);
        std::memcpy(app.monitoring_password, kDefaultMonitoringPassword, 6);

        SimOptions options;
        options.freeze = true;
        options.usb_id = usb_id_ = ++g_usb_id;
        options.modem = true;
        if (GetParam().transaction_zero)
            options.args = {"--fault", "tid 0"};
        sim_ = std::make_unique<SimProcess>(options);
        ASSERT_TRUE(sim_->running()) << sim_->log();
        ASSERT_EQ(connect(), 0) << headless_log();
        ASSERT_TRUE(wait_until([] { return display_record().complete_cycles >= 1; }, kWaitMs)) << headless_log();
    }
    void TearDown() override
    {
        {
            GdkLock lock;
            if (app.modem_wanted)
                link_close();
        }
        PollSimFixture::TearDown();
        journal_wait();
        workers_wait(kCommandLane);
        workers_wait(kModemLane);
        unsetenv("RARUR_USB_DIR");
        modem_set_waits({});
        app_state_reset_start_values();
    }

    int connect()
    {
        LinkTarget target;
        app.link_kind = GetParam().kind;
        switch (GetParam().kind) {
        case LinkKind::Usb:
            setenv("RARUR_USB_DIR", sim_->dir().c_str(), 1);
            target.usb_id = uint32_t(usb_id_);
            break;
        case LinkKind::Gsm:
            target.address = sim_->modem_path();
            target.phone = "100";
            break;
        default:
            target.address = "127.0.0.1:" + std::to_string(sim_->port());
            break;
        }
        GdkLock lock;
        return connect_target(target);
    }

    // The whole journal read once, by position.
    static std::map<int, JournalRow> read_journal()
    {
        {
            GdkLock lock;
            EXPECT_EQ(journal_read_start(), 0);
        }
        EXPECT_TRUE(wait_until([] { return journal_read_ended(); }, kWaitMs));
        journal_wait();
        std::map<int, JournalRow> rows;
        for (JournalRow& row : journal_take_rows())
            EXPECT_TRUE(rows.emplace(row.position, row).second) << "position " << row.position << " twice";
        return rows;
    }

    std::unique_ptr<SimProcess> sim_;
    int usb_id_ = 0;
};

TEST_P(LateReplies, AJournalRecordAnsweredTooLateIsLeftOutAndNoOtherIsFiledUnderAWrongPosition)
{
    std::map<int, JournalRow> clean = read_journal();
    ASSERT_GT(clean.size(), 500u);
    ASSERT_TRUE(clean.count(kLateRecord));
    // Said once, on the link's first reply.
    EXPECT_EQ(count_of(headless_log(), "не возвращает номер запроса"), GetParam().transaction_zero ? 1u : 0u)
        << headless_log();
    headless_ui_clear();
    int cycles_before = display_record().complete_cycles;

    ASSERT_EQ(sim_->control("fault late fn=14 record=" + std::to_string(kLateRecord) + " ms=" +
                            std::to_string(kHoldMs)),
              "ok");
    std::map<int, JournalRow> late = read_journal();

    clean.erase(kLateRecord);
    ASSERT_EQ(late.size(), clean.size()) << headless_log();
    for (const auto& [position, row] : clean) {
        auto got = late.find(position);
        ASSERT_NE(got, late.end()) << "position " << position;
        EXPECT_EQ(got->second.descriptor, row.descriptor) << "position " << position;
        EXPECT_EQ(got->second.date, row.date) << "position " << position;
        EXPECT_EQ(got->second.event, row.event) << "position " << position;
    }
    std::string log = headless_log();
    EXPECT_TRUE(logged("Команда: x14 Файл: 0001 Запись: 245 Ошибка обмена\n")) << log;
    EXPECT_TRUE(logged("журнала событий (запись 245)\n")) << log;
    EXPECT_EQ(count_of(log, "Ошибка чтения записи"), 1u) << log;
    EXPECT_TRUE(logged("Журнал событий прочитан с ошибками\n")) << log;
    // The poll went on beside the read, and none of its requests failed.
    EXPECT_GT(display_record().complete_cycles, cycles_before);
    EXPECT_EQ(count_of(log, "Команда: x0"), 0u) << log;
    EXPECT_EQ(modbus_last_failure().outcome.failure, ModbusFailure::NoReply);
    EXPECT_NE(modbus_last_failure().text.find("Запись: 245 "), std::string::npos) << modbus_last_failure().text;
}

TEST_P(LateReplies, AWriteAnsweredTooLateIsToldAsUnknownAndItsReplyNeverAnswersTheNextRequest)
{
    ASSERT_EQ(sim_->status_value("mode"), "1");
    uint8_t identification[30], again[30];
    ASSERT_EQ(modbus_read_registers(0, 15, identification, 0x04), ModbusResult::Ok);

    ASSERT_EQ(sim_->control("fault late fn=10 addr=0x4200 ms=" + std::to_string(kHoldMs)), "ok");
    auto told = std::make_shared<std::optional<CommandOutcome>>();
    {
        GdkLock lock;
        ASSERT_EQ(service_command_start(ServiceCommand::BatteryTestOn,
                                        [told](const CommandOutcome& outcome, LinkSession) { *told = outcome; }),
                  0);
    }
    workers_wait(kCommandLane);
    ASSERT_TRUE(wait_until([&] {
        GdkLock lock;
        return told->has_value();
    }));
    const CommandOutcome& outcome = **told;
    EXPECT_EQ(outcome.kind, CommandOutcome::Unknown) << outcome.text;
    EXPECT_NE(outcome.text.find("команда могла быть выполнена"), std::string::npos) << outcome.text;
    EXPECT_FALSE(logged("Контроллер отказал")) << headless_log();
    // The Controller did carry it out.
    EXPECT_EQ(sim_->status_value("mode"), "6");

    // The next request gets its own answer, not the write's.
    ASSERT_EQ(modbus_read_registers(0, 15, again, 0x04), ModbusResult::Ok) << headless_log();
    // Device code, protocol and software versions, serial number: the
    // command changed none of them (it did add a journal record).
    EXPECT_EQ(std::memcmp(identification, again, 10), 0);
    EXPECT_FALSE(logged("Некорректный размер")) << headless_log();
}

INSTANTIATE_TEST_SUITE_P(
    EveryLink, LateReplies,
    testing::Values(LinkCase{"Ethernet", LinkKind::Ethernet},
                    LinkCase{"EthernetAnsweringTransactionZero", LinkKind::Ethernet, true},
                    LinkCase{"Usb", LinkKind::Usb}, LinkCase{"Gsm", LinkKind::Gsm}),
    [](const testing::TestParamInfo<LinkCase>& info) { return std::string(info.param.name); });

}  // namespace
#endif
