// The journal exported by the window and by rarur-cli from the same
// Controller: the window reads and exports it through ui-driver, the command
// line writes it with -o, and the two files are the same byte for byte (the
// workbook carries no time of its making), in the Russian locale whose month
// names reach the dates.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "../integration/cli_process.h"
#include "../integration/sim_process.h"

namespace {

std::string file_text(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

}  // namespace

TEST(JournalExportWindowAndCli, write_the_same_file_from_the_same_controller)
{
    if (!std::setlocale(LC_ALL, "ru_RU.UTF-8"))
        GTEST_SKIP() << "no ru_RU.UTF-8 locale";
    setenv("LANG", "ru_RU.UTF-8", 1);
    setenv("LC_ALL", "ru_RU.UTF-8", 1);
    SimOptions o;
    o.freeze = true;
    SimProcess sim(o);
    ASSERT_TRUE(sim.running()) << sim.log();
    std::string window = sim.dir() + "/window.xml", cli = sim.dir() + "/cli.xml";

    std::string script = "activate imagemenuitem1\nset-text DeviceAddress 127.0.0.1:" + std::to_string(sim.port()) +
                         "\nclick SED_ButtonOk\nwait-until 20000 expect CycleTime text != \"\"\n"
                         "click ReadJournal\n"
                         "wait-until 60000 expect log text contains \"Журнал событий удачно прочитан\\n\"\n"
                         "wait-until 3000 expect JournalProgressPanel visible == 0\n"
                         "answer-file " + window + "\nclick ExportJoural\n"
                         "expect log text contains \"Журнал событий сохранен в файл\"\n";
    std::string path = sim.dir() + "/export.uitest";
    std::ofstream(path) << script;
    std::string command = std::string(UI_DRIVER_PATH) + " --timeout 120 --script " + path;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string json;
    char buffer[4096];
    while (size_t n = fread(buffer, 1, sizeof buffer, pipe))
        json.append(buffer, n);
    int status = pclose(pipe);
    ASSERT_NE(json.find("\"result\":\"pass\""), std::string::npos) << json.substr(0, json.find("\"state\""));
    EXPECT_EQ(status, 0);

    CliResult r = run_cli({"journal", "tcp:127.0.0.1:" + std::to_string(sim.port()), "-o", cli});
    ASSERT_EQ(r.exit_code, 0) << r.err;

    std::string a = file_text(window), b = file_text(cli);
    ASSERT_GT(a.size(), 10000u);
    EXPECT_TRUE(a == b) << "the window's and the command line's exports differ";
}
