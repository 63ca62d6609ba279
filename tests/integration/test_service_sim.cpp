// The service commands and the battery record reads of the service page over
// a real TCP link against rarur-sim: what the simulator recorded, byte for
// byte, and what it did.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "base/app_state.h"
#include "base/headless_ui.h"
#include "base/ui_hooks.h"
#include "base/workers.h"
#include "battery/records_read.h"
#include "link/connection.h"
#include "modbus/exchange.h"
#include "sim_process.h"
#include "status/commands_run.h"
#include "status/display_hooks.h"
#include "status/poll.h"

#ifdef RARUR_SIM_PATH
namespace {

class ServiceAgainstSim : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim.running()) << sim.log();
        headless_ui_install();
        headless_ui_clear();
        display_hooks_headless();
        display_record_clear();
        status_data_reset();
        connection_unsubscribe_all();
        connection_init();
        connection_subscribe(ConnectionEvent::LinkOpened, status_link_opened);
        connection_subscribe(ConnectionEvent::ConnectStarted, status_connect_started);
        std::memcpy(app.monitoring_password, kDefaultMonitoringPassword, 6);
        headless_set_device_address("127.0.0.1:" + std::to_string(sim.port()));
        {
            GdkLock lock;
            ASSERT_EQ(connect_ethernet(), 0) << headless_log();
        }
        ASSERT_TRUE(wait_until([] { return display_record().complete_cycles >= 1; })) << headless_log();
    }
    void TearDown() override
    {
        {
            GdkLock lock;
            if (app.link_open)
                link_close();
        }
        workers_wait(kRecordsLane);
        workers_wait(kCommandLane);
        wait_until([] { return !app.poll_running; });
        exchange_wait_stopped();
        connection_unsubscribe_all();
    }
    static SimOptions frozen()
    {
        SimOptions o;
        o.freeze = true;
        return o;
    }
    SimProcess sim{frozen()};
};

}  // namespace

TEST_F(ServiceAgainstSim, EachCommandIsOneWriteOfPasswordAndWordThatTheControllerCarriesOut)
{
    ASSERT_EQ(sim.status_value("mode"), "1");
    ASSERT_EQ(service_command_start(ServiceCommand::EqChargeOn), 0);
    workers_wait(kCommandLane);
    EXPECT_EQ(sim.status_value("mode"), "3");   // equalising
    ASSERT_EQ(service_command_start(ServiceCommand::EqChargeOff), 0);
    workers_wait(kCommandLane);
    ASSERT_EQ(service_command_start(ServiceCommand::BatteryTestOn), 0);
    workers_wait(kCommandLane);
    EXPECT_EQ(sim.status_value("mode"), "6");   // battery test
    ASSERT_EQ(service_command_start(ServiceCommand::BatteryTestOff), 0);
    workers_wait(kCommandLane);
    ASSERT_EQ(service_command_start(ServiceCommand::SyncContactors), 0);
    workers_wait(kCommandLane);
    ASSERT_EQ(clock_command_start(1704056400), 0);
    workers_wait(kCommandLane);
    EXPECT_EQ(sim.status_value("time"), "1704056400");

    EXPECT_EQ(sim.recorded_writes(), (std::vector<std::string>{
                               "fn=10 addr=4200 count=4 data=3132333435360003",
                               "fn=10 addr=4200 count=4 data=3132333435360002",
                               "fn=10 addr=4200 count=4 data=3132333435360001",
                               "fn=10 addr=4200 count=4 data=3132333435360000",
                               "fn=10 addr=4300 count=4 data=3132333435360001",
                               "fn=10 addr=4100 count=5 data=3132333435366591D650",
                           }));
    std::string log = headless_log_tagged();
    for (const char* line : {"Выравнивающий заряд запущен\n", "Выравнивающий заряд остановлен\n",
                             "Батарейный тест запущен\n", "Батарейный тест остановлен\n",
                             "Контактор(ы) синхронизированы\n", "Установлено время контроллера: "})
        EXPECT_NE(log.find(std::string("[norm_text]") + line), std::string::npos) << line << "\n" << log;
    // Midnight in UTC+3, the Controller's zone: the log says what its header will show.
    EXPECT_NE(log.find(" UTC), по часам контроллера 01 Jan 2024 00:00:00\n"), std::string::npos) << log;
}

TEST_F(ServiceAgainstSim, AWholeRecordFileIsReadSectionBySectionUpToItsAbsentGroup)
{
    // Slot 0 holds a discharge of 22 sections, all "in progress": 22 summaries,
    // two group records each and the absent third group.
    RecordFile file;
    int result = 1;
    ASSERT_EQ(record_file_read_start(24, 22, {[](const std::string&) {},
                                          [&](const RecordFile& f, int r, LinkSession) {
                                              file = f;
                                              result = r;
                                          }}),
              0);
    workers_wait(kRecordsLane);
    EXPECT_EQ(result, 0);
    EXPECT_EQ(file.sections, 22);
    EXPECT_EQ(file.summaries[21].completion, 1);
    EXPECT_TRUE(file.groups[21][1].present);
    EXPECT_FALSE(file.groups[21][2].present);
    int file_reads = 0;
    for (const std::string& line : sim.record_lines())
        file_reads += line.find("fn=14 file=0018") != std::string::npos;
    EXPECT_EQ(file_reads, 22 * 4);
}

#endif
