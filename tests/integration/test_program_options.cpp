// The three programs read their options alike: --version and --help on
// stdout with status 0 and no display needed, a wrong option as
// "NAME: reason" and a hint to --help on stderr with status 2; values after
// "=" or as the next argument.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "cli_process.h"
#include "sim_process.h"

namespace {

#ifdef RARUR_SIM_PATH
const char* const kSim = RARUR_SIM_PATH;
#else
const char* const kSim = nullptr;
#endif

CliResult run_program(const std::string& program, std::vector<std::string> args)
{
    CliRun run;
    run.program = program;
    run.args = std::move(args);
    // A display that does not exist: whatever needs one fails.
    run.env = {{"DISPLAY", ":987654"}, {"LANG", "ru_RU.UTF-8"}};
    return run_cli(run);
}

bool ends_with(const std::string& text, const std::string& end)
{
    return text.size() >= end.size() && text.compare(text.size() - end.size(), end.size(), end) == 0;
}

bool exists(const std::string& path)
{
    struct stat st {};
    return stat(path.c_str(), &st) == 0;
}

}  // namespace

TEST(ProgramOptions, AllThreeAnswerVersionHelpAndAWrongOptionAlike)
{
    std::vector<std::pair<std::string, std::string>> programs = {{"rarur-cli", RARUR_CLI_PATH},
                                                                 {"rarur-service", RARUR_SERVICE_PATH}};
    if (kSim)
        programs.push_back({"rarur-sim", kSim});
    for (const auto& [name, path] : programs) {
        SCOPED_TRACE(name);
        CliResult version = run_program(path, {"--version"});
        EXPECT_EQ(version.exit_code, 0);
        EXPECT_EQ(version.out.rfind(name + " (RARUR Service) ", 0), 0u) << version.out;
        EXPECT_TRUE(ends_with(version.out, "\n")) << version.out;
        EXPECT_EQ(version.err, "");

        CliResult help = run_program(path, {"--help"});
        EXPECT_EQ(help.exit_code, 0);
        EXPECT_NE(help.out.find("--version"), std::string::npos) << help.out;
        EXPECT_EQ(help.err, "");

        CliResult wrong = run_program(path, {"--no-such-option"});
        EXPECT_EQ(wrong.exit_code, 2);
        EXPECT_EQ(wrong.out, "");
        EXPECT_EQ(wrong.err.rfind(name + ": ", 0), 0u) << wrong.err;
        EXPECT_NE(wrong.err.find("--no-such-option"), std::string::npos) << wrong.err;
        EXPECT_TRUE(ends_with(wrong.err, "\nПодробнее: " + name + " --help\n")) << wrong.err;
    }

    // GTK+'s own options still reach it, after "=" too: the display named
    // here is the one it tries to open.
    CliResult display = run_program(RARUR_SERVICE_PATH, {"--display=:987655"});
    EXPECT_NE(display.exit_code, 0);
    EXPECT_NE(display.err.find(":987655"), std::string::npos) << display.err;
    CliResult argument = run_program(RARUR_SERVICE_PATH, {"journal.xml"});
    EXPECT_EQ(argument.exit_code, 2);
    EXPECT_NE(argument.err.find("journal.xml"), std::string::npos) << argument.err;
}

TEST(ProgramOptions, SimulatorTakesValuesBothWaysKeepsItsRangesAndRepeats)
{
    if (!kSim)
        GTEST_SKIP() << "rarur-sim is not built";
    // Each range as before: the first value past it is refused, by name.
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--seed=4294967296"}, {"--serial", "1000000"}, {"--modem-result=256"},
          {"--modem-guard", "-1"}, {"--protocol-version=65536"}, {"--usb-id", "1000001", "--usb-dir", "/tmp"},
          {"--seed", "7x"}, {"--usb-id=3"}, {"--fault", "no such rule"}, {"--seed"}}) {
        CliResult r = run_program(kSim, args);
        SCOPED_TRACE(args.front());
        EXPECT_EQ(r.exit_code, 2) << r.err;
        EXPECT_EQ(r.err.rfind("rarur-sim: ", 0), 0u) << r.err;
        EXPECT_NE(r.err.find(args.front().substr(0, args.front().find('='))), std::string::npos) << r.err;
    }

    // The edges of the ranges are taken, "=" or not, and --usb-id repeats.
    SimOptions options;
    options.usb_id = 3;
    options.args = {"--usb-id=7", "--seed", "4294967295", "--serial=999999", "--modem-result=255"};
    SimProcess sim(options);
    ASSERT_TRUE(sim.running()) << sim.log();
    EXPECT_TRUE(exists(sim.dir() + "/rarur-3.sock"));
    EXPECT_TRUE(exists(sim.dir() + "/rarur-7.sock"));
    EXPECT_TRUE(sim.stop());
}
