// The command line as a monitoring engine runs it: the wall time of one
// `rarur-cli check` process against a frozen rarur-sim, beside one poll cycle
// of the window's exchange measured against the same simulator in the same
// run. Target: check within 1.5x the poll cycle plus the process start, which
// is reported on its own (`rarur-cli --version`). Then a fleet: 100 checks
// against 10 simulators through `xargs -P 4`, the total wall time.
//   build/bench/bench_cli [ROUNDS]
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "bench_report.h"
#include "bench_util.h"
#include "modbus/exchange.h"
#include "modbus/operations.h"
#include "status/poll.h"

namespace {

struct Run {
    double ms = -1;      // wall time from fork to the process reaped
    int status = -1;     // exit status, -1 when it did not exit
    std::string output;  // its standard output
};

// Runs `args` (args[0] is the program) with stdin and stderr on /dev/null.
Run run(const std::vector<std::string>& args)
{
    Run r;
    int out[2];
    if (pipe(out) != 0)
        return r;
    std::vector<char*> argv;
    for (const std::string& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    auto start = BenchClock::now();
    pid_t pid = fork();
    if (pid == 0) {
        int null = open("/dev/null", O_RDWR);
        dup2(null, 0);
        dup2(null, 2);
        dup2(out[1], 1);
        close(out[0]);
        execv(argv[0], argv.data());
        _exit(127);
    }
    close(out[1]);
    char buffer[4096];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0)
        r.output.append(buffer, static_cast<size_t>(n));
    close(out[0]);
    int status = 0;
    if (pid > 0 && waitpid(pid, &status, 0) == pid) {
        r.ms = ms_since(start);
        r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    return r;
}

// A monitoring engine takes OK, WARNING and CRITICAL as answers; UNKNOWN
// (or anything else) means the check could not tell.
bool answered(const Run& r)
{
    return r.status >= 0 && r.status <= 2 && r.output.rfind("RARUR ", 0) == 0 &&
           r.output.rfind("RARUR UNKNOWN", 0) != 0;
}

std::string address(const SimProcess& sim) { return "tcp:127.0.0.1:" + std::to_string(sim.port()); }

// The requests the simulator has served so far; -1 when it does not say.
long served(const SimProcess& sim)
{
    std::string status = sim.control("status");
    size_t at = status.find("requests=");
    return at == std::string::npos ? -1 : std::atol(status.c_str() + at + 9);
}

}  // namespace

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? std::max(3, std::atoi(argv[1])) : 15;
    const std::string cli = RARUR_CLI_PATH;

    // The process start alone: a program that answers at once.
    std::vector<double> start_ms;
    for (int i = 0; i < rounds; ++i) {
        Run r = run({cli, "--version"});
        if (r.status != 0) {
            std::fprintf(stderr, "rarur-cli --version failed (status %d)\n", r.status);
            return 1;
        }
        start_ms.push_back(r.ms);
    }

    // The simulator's default Controller (layout 3), frozen: every cycle the same.
    SimOptions options;
    options.freeze = true;
    SimProcess sim(options);
    if (!bench_start_sim(sim))
        return 1;
    poll_set_register_reader(modbus_read_registers);
    poll_set_link_close(link_close);
    if (!bench_connect(sim))
        return 1;

    // Rounds alternate between the two, so a busy machine weighs on both alike.
    std::vector<double> cycle_ms, check_ms;
    long cycle_requests = 0, check_requests = 0;
    for (int i = 0; i < rounds; ++i) {
        long before = served(sim);
        auto start = BenchClock::now();
        if (poll_cycle() != CycleResult::Complete) {
            std::fprintf(stderr, "poll cycle failed: %s\n", headless_log().c_str());
            return 1;
        }
        cycle_ms.push_back(ms_since(start));
        long between = served(sim);
        Run r = run({cli, "check", address(sim)});
        if (!answered(r)) {
            std::fprintf(stderr, "rarur-cli check did not answer (status %d): %s\n", r.status, r.output.c_str());
            return 1;
        }
        check_ms.push_back(r.ms);
        cycle_requests = between - before;
        check_requests = served(sim) - between;
    }
    {
        GdkLock lock;
        link_close();
    }
    exchange_wait_stopped();

    double start = median(start_ms), cycle = median(cycle_ms), check = median(check_ms);
    double bound = 1.5 * cycle + start;
    std::printf("rarur-cli check against one poll cycle, layout 3, loopback, %d rounds (median / best):\n", rounds);
    std::printf("  process start (--version)  %8.2f ms  %8.2f ms\n", start,
                *std::min_element(start_ms.begin(), start_ms.end()));
    std::printf("  poll cycle (exchange)      %8.2f ms  %8.2f ms   %ld requests\n", cycle,
                *std::min_element(cycle_ms.begin(), cycle_ms.end()), cycle_requests);
    std::printf("  rarur-cli check            %8.2f ms  %8.2f ms   %ld requests\n", check,
                *std::min_element(check_ms.begin(), check_ms.end()), check_requests);
    std::printf("  check - start vs cycle     %8.2f       (target <= 1.50: check <= %.2f ms) %s\n",
                (check - start) / cycle, bound, check <= bound ? "met" : "NOT MET");
    bench_report("cli_process_start", start, "ms", -1, "-", "-", -1);
    bench_report("cli_check_less_start", check - start, "ms", cycle, "poll_cycle", "ratio<=1.5", check <= bound);

    // The fleet: 10 Controllers, each checked 10 times, 4 at a time.
    const int kSims = 10, kChecksEach = 10;
    std::vector<std::unique_ptr<SimProcess>> fleet;
    for (int i = 0; i < kSims; ++i) {
        SimOptions o;
        o.freeze = true;
        o.args = {"--serial", std::to_string(200001 + i)};
        fleet.push_back(std::make_unique<SimProcess>(o));
        if (!bench_start_sim(*fleet.back()))
            return 1;
    }
    std::string list = fleet.front()->dir() + "/addresses";
    {
        std::ofstream out(list);
        for (int round = 0; round < kChecksEach; ++round)
            for (const auto& s : fleet)
                out << address(*s) << "\n";
    }
    std::string results = fleet.front()->dir() + "/results";
    Run fleet_run = run({"/bin/sh", "-c",
                         "xargs -P 4 -n 1 '" + cli + "' check < '" + list + "' > '" + results + "' 2>/dev/null"});
    std::ifstream in(results);
    int lines = 0, unknown = 0;
    for (std::string line; std::getline(in, line);) {
        ++lines;
        if (line.rfind("RARUR ", 0) != 0 || line.rfind("RARUR UNKNOWN", 0) == 0)
            ++unknown;
    }
    const int total = kSims * kChecksEach;
    double serial = total * check;
    std::printf("fleet: %d checks against %d simulators, xargs -P 4, %ld cores:\n", total, kSims,
                sysconf(_SC_NPROCESSORS_ONLN));
    std::printf("  total wall time            %8.0f ms  (%d one after another: about %.0f ms)\n", fleet_run.ms, total,
                serial);
    std::printf("  answered                   %8d of %d (UNKNOWN or no line: %d)\n", lines - unknown, total,
                unknown + (total - lines));
    if (lines != total || unknown != 0) {
        std::fprintf(stderr, "not every check answered\n");
        return 1;
    }
    bench_report("cli_fleet_100_checks", fleet_run.ms / 1000.0, "s", serial / 1000.0, "100_checks_serial", "-", -1);
    return 0;
}
