// rarur-cli journal against rarur-sim as a process: the file it writes (the
// spreadsheet and CSV), what Ctrl-C and a file that cannot be written leave,
// and the archive: the requests of a first run, of a second one against the
// unchanged Controller and after new events, a read cut short that appends
// only what keeps the archive without a gap, and a Controller whose journal
// started again.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "cli_process.h"
#include "sim_process.h"

namespace {

int journal_requests(const SimProcess& sim)
{
    int n = 0;
    for (const std::string& line : sim.record_lines())
        n += line.find("fn=14 file=0001 ") != std::string::npos;
    return n;
}

std::string file_text(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::vector<std::string> lines_of(const std::string& text)
{
    std::vector<std::string> lines;
    size_t at = 0;
    for (size_t end; (end = text.find("\r\n", at)) != std::string::npos; at = end + 2)
        lines.push_back(text.substr(at, end - at));
    return lines;
}

// The descriptor (second field) of each archived row.
std::vector<long> descriptors(const std::string& archive)
{
    std::vector<long> d;
    std::vector<std::string> lines = lines_of(archive);
    for (size_t i = 1; i < lines.size(); ++i)
        d.push_back(std::strtol(lines[i].c_str() + lines[i].find(',') + 1, nullptr, 10));
    return d;
}

size_t count_of(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

std::string tcp(const SimProcess& sim) { return "tcp:127.0.0.1:" + std::to_string(sim.port()); }

}  // namespace

TEST(CliJournal, writes_the_read_rows_as_a_spreadsheet_or_csv_also_when_stopped_and_never_half_a_file)
{
    SimOptions o;
    o.freeze = true;
    SimProcess sim(o);
    ASSERT_TRUE(sim.running()) << sim.log();
    std::string xml = sim.dir() + "/J.xml", csv = sim.dir() + "/J.csv";

    CliResult r = run_cli({"journal", tcp(sim), "-o", xml});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_NE(r.err.find("Журнал событий: "), std::string::npos) << r.err;   // progress lines, not a terminal
    std::string sheet = file_text(xml);
    size_t rows = count_of(sheet, "ss:StyleID=\"RARUR_tbl_val_event\"");
    EXPECT_GT(rows, 500u);
    EXPECT_NE(sheet.find("RARUR 'ЭПУ-1'</Data>"), std::string::npos);
    EXPECT_NE(sheet.find("ss:ExpandedRowCount=\"" + std::to_string(rows + 4) + "\""), std::string::npos);
    EXPECT_EQ(sheet.substr(sheet.size() - 13), "</Workbook>\r\n");

    r = run_cli({"journal", tcp(sim), "-o", csv});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::vector<std::string> table = lines_of(file_text(csv));
    ASSERT_EQ(table.size(), rows + 1);
    EXPECT_EQ(table[0], "№,Д,Тип,Дата,Описание");
    EXPECT_EQ(table[1].substr(0, 2), "1,");
    EXPECT_NE(table[1].find(",Включение RARUR"), std::string::npos) << table[1];

    // Ctrl-C in the middle: the rows read so far are written, and said so.
    ASSERT_EQ(sim.control("fault delay 5"), "ok");
    std::string stopped = sim.dir() + "/stopped.csv";
    CliRun run;
    run.args = {"journal", tcp(sim), "-o", stopped};
    run.interrupt_after_ms = 1500;
    r = run_cli(run);
    EXPECT_EQ(r.exit_code, 130) << r.err;
    EXPECT_NE(r.err.find("прервано"), std::string::npos) << r.err;
    size_t kept = lines_of(file_text(stopped)).size();
    EXPECT_GT(kept, 1u);
    EXPECT_LT(kept, rows);
    sim.control("fault clear");

    // A file that cannot be made: said in the window's words, nothing there.
    r = run_cli({"journal", tcp(sim), "-o", sim.dir() + "/no/such/folder/J.xml"});
    EXPECT_EQ(r.exit_code, 4);
    EXPECT_NE(r.err.find("Ошибка открытия файла '" + sim.dir() + "/no/such/folder/J.xml': "), std::string::npos)
        << r.err;
    // Another extension is refused before any request.
    sim.clear_record();
    r = run_cli({"journal", tcp(sim), "-o", sim.dir() + "/J.txt"});
    EXPECT_EQ(r.exit_code, 2);
    EXPECT_EQ(journal_requests(sim), 0);
}

TEST(CliJournal, archive_reads_each_record_once_and_keeps_the_file_in_order_without_gaps)
{
    SimOptions o;
    o.freeze = true;
    SimProcess sim(o);
    ASSERT_TRUE(sim.running()) << sim.log();
    std::string dir = sim.dir() + "/archive";
    std::string path = dir + "/100123.csv";

    // First run: the whole ring, up to its unwritten part.
    CliResult r = run_cli({"journal", tcp(sim), "--archive", dir});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(r.out, "");
    std::string first = file_text(path);
    std::vector<long> d = descriptors(first);
    ASSERT_GT(d.size(), 500u);
    EXPECT_TRUE(std::is_sorted(d.begin(), d.end())) << "oldest first";
    int first_requests = journal_requests(sim);
    EXPECT_GE(first_requests, int(d.size()));
    EXPECT_LT(first_requests, 1000) << "the never written part of the ring is not read";

    // Unchanged Controller: only its last record is looked at again.
    sim.clear_record();
    r = run_cli({"journal", tcp(sim), "--archive", dir});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(journal_requests(sim), 1);
    EXPECT_EQ(file_text(path), first);

    // New events: the check and the new records, appended after the old.
    for (int i = 0; i < 3; ++i)
        ASSERT_EQ(sim.control("journal add 512"), "ok");
    sim.clear_record();
    r = run_cli({"journal", tcp(sim), "--archive", dir});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_EQ(journal_requests(sim), 1 + 3);
    std::string third = file_text(path);
    EXPECT_EQ(third.substr(0, first.size()), first);
    std::vector<long> d3 = descriptors(third);
    ASSERT_EQ(d3.size(), d.size() + 3);
    EXPECT_EQ(d3.back(), d.back() + 3);
    std::printf("archive journal requests: first run %d, unchanged %d, after 3 events %d\n", first_requests, 1,
                1 + 3);

    // A read cut short (here a record the Controller will not give) appends
    // only the records right after the archive's end; the next run takes the
    // rest: every record once, in order.
    for (int i = 0; i < 60; ++i)
        ASSERT_EQ(sim.control("journal add 513"), "ok");
    std::vector<std::string> lines = lines_of(third);
    long last_position = std::strtol(lines.back().c_str(), nullptr, 10);
    ASSERT_EQ(sim.control("fault exception fn=14 file=1 record=" + std::to_string((last_position + 31) % 4096) +
                          " code=4"),
              "ok");
    r = run_cli({"journal", tcp(sim), "--archive", dir});
    EXPECT_EQ(r.exit_code, 4) << r.err;
    std::vector<long> cut = descriptors(file_text(path));
    ASSERT_EQ(cut.size(), d3.size() + 30);
    for (size_t i = d3.size(); i < cut.size(); ++i)
        EXPECT_EQ(cut[i], cut[i - 1] + 1);
    sim.control("fault clear");
    r = run_cli({"journal", tcp(sim), "--archive", dir});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    std::vector<long> all = descriptors(file_text(path));
    ASSERT_EQ(all.size(), d3.size() + 60);
    for (size_t i = d3.size(); i < all.size(); ++i)
        EXPECT_EQ(all[i], all[i - 1] + 1);

    // The same Controller with its journal started again (another history):
    // noticed, said, and the whole ring read and appended.
    std::string kept = file_text(path);
    sim.stop();
    SimOptions again = o;
    again.args = {"--seed", "7"};
    SimProcess reset(again);
    ASSERT_TRUE(reset.running()) << reset.log();
    std::string moved = reset.dir() + "/archive";
    ASSERT_EQ(std::rename(dir.c_str(), moved.c_str()), 0);
    r = run_cli({"journal", tcp(reset), "--archive", moved});
    ASSERT_EQ(r.exit_code, 0) << r.err;
    EXPECT_NE(r.err.find("больше нет"), std::string::npos) << r.err;
    std::string after = file_text(moved + "/100123.csv");
    EXPECT_EQ(after.substr(0, kept.size()), kept);
    EXPECT_GT(descriptors(after).size(), all.size() + 500);
}
