// rarur-cli records against rarur-sim: the list is the records page's list and
// an exported record is byte for byte the workbook the window writes from the
// same Controller.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>

#include "base/app_state.h"
#include "base/headless_ui.h"
#include "base/workers.h"
#include "battery/record_export.h"
#include "battery/records_read.h"
#include "cli_process.h"
#include "poll_sim_fixture.h"

#ifdef RARUR_SIM_PATH
namespace {

std::vector<std::vector<std::string>> tab_lines(const std::string& text)
{
    std::vector<std::vector<std::string>> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        std::vector<std::string> fields;
        size_t from = 0;
        for (size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1)
            fields.push_back(line.substr(from, tab - from));
        fields.push_back(line.substr(from));
        lines.push_back(fields);
    }
    return lines;
}

std::string file_text(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream s;
    s << in.rdbuf();
    return s.str();
}

// The window's side, in this process: the same simulator read through the
// workers the records page starts.
class CliRecordsAgainstSim : public PollSimFixture {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(sim.running()) << sim.log();
        PollSimFixture::SetUp();
        ASSERT_EQ(connect(sim), 0) << headless_log();
        ASSERT_TRUE(wait_until([] { return display_record().complete_cycles >= 1 && display_record().settings_page_loads >= 1; }))
            << headless_log();
    }
    void TearDown() override
    {
        {
            GdkLock lock;
            if (app.link_open)
                link_close();
        }
        workers_wait(kRecordsLane);
        PollSimFixture::TearDown();
    }
    std::vector<std::string> address() const { return {"tcp:127.0.0.1:" + std::to_string(sim.port())}; }
    static SimOptions frozen()
    {
        SimOptions o;
        o.freeze = true;
        return o;
    }
    SimProcess sim{frozen()};
};

std::vector<std::string> with(std::vector<std::string> args, std::initializer_list<std::string> more)
{
    args.insert(args.begin(), "records");
    args.insert(args.end(), more);
    return args;
}

// Texts formatted "in the user's locale" compare only in one locale.
CliRun in_c(std::vector<std::string> args)
{
    CliRun run;
    run.args = std::move(args);
    run.env = {{"LC_ALL", "C"}};
    return run;
}

}  // namespace

TEST_F(CliRecordsAgainstSim, ListsThePagesRowsAndExportsTheWindowsWorkbookOfTheChosenOne)
{
    RecordSettings settings = record_settings_now();
    RecordListRead listed;
    ASSERT_EQ(record_list_read_start(RecordKind::Discharge, settings.zone_quarters, settings.summer,
                                     {[](const std::string&) {}, [&](const RecordListRead& r, LinkSession) { listed = r; }}),
              0);
    workers_wait(kRecordsLane);
    ASSERT_EQ(listed.rows.size(), 4u);

    CliResult list = run_cli(in_c(with(address(), {"--discharges"})));
    ASSERT_EQ(list.exit_code, 0) << list.err;
    auto lines = tab_lines(list.out);
    ASSERT_EQ(lines.size(), 5u) << list.out;
    EXPECT_EQ(lines[0], (std::vector<std::string>{"Разряд", "D", "Дата", "Длительность", "Статус", "Емкость",
                                                  "Напряжение", "Температура", "Ср. ток"}));
    for (size_t i = 0; i < listed.rows.size(); ++i) {
        const RecordRow& r = listed.rows[i];
        EXPECT_EQ(lines[i + 1], (std::vector<std::string>{r.name, std::to_string(r.descriptor), r.date, r.length,
                                                          r.status, r.capacity, r.voltage, r.temperature,
                                                          r.mean_current}));
    }

    // The second row: the window's double click reads its file and writes this.
    const RecordRow& chosen = listed.rows[1];
    RecordFile record;
    ASSERT_EQ(record_file_read_start(chosen.file, chosen.points,
                                     {[](const std::string&) {}, [&](const RecordFile& f, int, LinkSession) { record = f; }}),
              0);
    workers_wait(kRecordsLane);
    ASSERT_GT(record.sections, 0);
    std::string window_file = sim.dir() + "/window.xml";
    std::string error;
    ASSERT_EQ(record_export_save(window_file, record, settings, &error), 0) << error;

    std::string cli_file = sim.dir() + "/cli.xml";
    CliResult exported = run_cli(in_c(with(address(), {"--discharges", "--export", "2", "-o", cli_file})));
    ASSERT_EQ(exported.exit_code, 0) << exported.err;
    EXPECT_EQ(exported.out, "Разряд сохранен в файл '" + cli_file + "'\n");
    std::string expected = file_text(window_file);
    EXPECT_GT(expected.size(), 1000u);
    EXPECT_EQ(file_text(cli_file), expected);

    // A record no longer listed is not exported; nor is a file that cannot be made.
    ASSERT_EQ(sim.control("record erase discharge " + std::to_string(chosen.file - 24)), "ok");
    CliResult gone = run_cli(in_c(with(address(), {"--discharges", "--export", "4", "-o", sim.dir() + "/gone.xml"})));
    EXPECT_EQ(gone.exit_code, 1) << gone.err;
    CliResult unwritable =
        run_cli(in_c(with(address(), {"--discharges", "--export", "1", "-o", sim.dir() + "/no/such/dir.xml"})));
    EXPECT_EQ(unwritable.exit_code, 4);
    EXPECT_NE(unwritable.err.find("Ошибка открытия файла '" + sim.dir() + "/no/such/dir.xml'"), std::string::npos)
        << unwritable.err;
    EXPECT_EQ(unwritable.out, "");
}

#endif
