// rarur-cli clock and service against rarur-sim: what the Controller was sent
// and did, and an exit code that says whether it took the command.
#include <gtest/gtest.h>

#include "cli_process.h"
#include "sim_process.h"

#ifdef RARUR_SIM_PATH
namespace {

class CliCommandsAgainstSim : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(sim.running()) << sim.log(); }
    CliResult run(std::vector<std::string> args, const std::string& password = "123456")
    {
        args.insert(args.begin() + 1, "tcp:127.0.0.1:" + std::to_string(sim.port()));
        // A computer in UTC+3 without summer time, texts in the C locale.
        CliRun r;
        r.args = std::move(args);
        r.env = {{"RARUR_MONITORING_PASSWORD", password}, {"TZ", "MSK-3"}, {"LC_ALL", "C"}};
        return run_cli(r);
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

TEST_F(CliCommandsAgainstSim, ClockIsSetToTheComputersLocalTimeAndADateThatDoesNotExistIsNeverSent)
{
    CliResult set = run({"clock", "--set", "2024-01-01 00:00:00"});
    ASSERT_EQ(set.exit_code, 0) << set.err;
    EXPECT_EQ(sim.status_value("time"), "1704056400");
    EXPECT_EQ(set.out, "Установлено время контроллера: 01 Jan 2024 00:00:00 (31 Dec 2023 21:00:00 UTC), "
                       "по часам контроллера 01 Jan 2024 00:00:00\n");

    for (const char* wrong : {"2024-02-30 00:00:00", "2024-01-01 24:00:00", "2024-01-01", "1969-12-31 23:00:00"}) {
        CliResult refused = run({"clock", "--set", wrong});
        EXPECT_EQ(refused.exit_code, 2) << wrong << "\n" << refused.err;
    }
    EXPECT_EQ(sim.recorded_writes(), (std::vector<std::string>{"fn=10 addr=4100 count=5 data=3132333435366591D650"}));
}

TEST_F(CliCommandsAgainstSim, AServiceCommandSucceedsOnlyWhenTheControllerTookIt)
{
    CliResult on = run({"service", "eq-charge-on"});
    ASSERT_EQ(on.exit_code, 0) << on.err;
    EXPECT_EQ(on.out, "Выравнивающий заряд запущен\n");
    EXPECT_EQ(sim.status_value("mode"), "3");

    CliResult wrong_password = run({"service", "eq-charge-off"}, "654321");
    EXPECT_EQ(wrong_password.exit_code, 1);
    EXPECT_EQ(wrong_password.out, "");
    EXPECT_NE(wrong_password.err.find("неверный пароль мониторинга"), std::string::npos) << wrong_password.err;

    ASSERT_EQ(sim.control("fault exception fn=10 code=6 times=1"), "ok");
    CliResult busy = run({"service", "eq-charge-off"});
    EXPECT_EQ(busy.exit_code, 4);
    EXPECT_EQ(busy.out, "");
    EXPECT_NE(busy.err.find("Ошибка остановки выравнивающего заряда [-1]"), std::string::npos) << busy.err;
    EXPECT_EQ(sim.status_value("mode"), "3");   // still equalising: neither was taken

    CliResult unknown = run({"service", "eq-charge"});
    EXPECT_EQ(unknown.exit_code, 2);
    EXPECT_EQ(sim.recorded_writes().size(), 3u);
}

#endif
