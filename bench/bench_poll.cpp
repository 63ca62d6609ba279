// Cycle time: the requests of one poll cycle of a layout-1 Controller (19
// status + 8 settings requests) against rarur-sim on loopback, through the
// program's exchange, as the cycle's own clock measures it (CycleTime),
// compared with a libmodbus client making the same 27
// requests against the same simulator. Target: within 1.5x of libmodbus.
#include <modbus.h>

#include <algorithm>
#include <cstdlib>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "base/app_state.h"
#include "base/headless_ui.h"
#include "base/ui_hooks.h"
#include "link/connection.h"
#include "modbus/exchange.h"
#include "modbus/operations.h"
#include "bench_util.h"
#include "sim_process.h"
#include "status/display_hooks.h"
#include "status/poll.h"
#include "bench_report.h"

namespace {

using Clock = BenchClock;

struct Request {
    int function, address, count;
};

std::vector<Request> layout1_cycle()
{
    std::vector<Request> r = {{4, 0, 15}, {4, 256, 26}, {4, 512, 56}, {4, 768, 35}};
    for (int g = 0; g < 8; ++g)
        r.push_back({4, 1024 + 128 * g, 90});
    r.push_back({4, 2048, 4});
    r.push_back({4, 2304, 90});
    r.push_back({4, 2394, 90});
    for (auto [address, count] : {std::pair{2560, 7}, {2816, 5}, {3072, 16}, {3328, 2}})
        r.push_back({4, address, count});
    for (int off = 0; off < 702; off += 100)
        r.push_back({3, off, std::min(100, 702 - off)});
    return r;
}

} // namespace

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 200;
    SimProcess sim(bench_sim_options(399));
    if (!bench_start_sim(sim))
        return 1;
    // The program: one poll cycle at a time on this thread, the exchange's
    // transport thread underneath.
    poll_set_register_reader(modbus_read_registers);
    poll_set_link_close(link_close);
    if (!bench_connect(sim))
        return 1;

    // libmodbus on its own connection (unit 0xFF as ours), the same requests.
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", sim.port());
    modbus_set_slave(ctx, 0xFF);
    if (modbus_connect(ctx) != 0) {
        std::fprintf(stderr, "libmodbus connect failed\n");
        return 1;
    }
    std::vector<Request> cycle = layout1_cycle();
    uint16_t buffer[125];
    auto libmodbus_cycle = [&]() {
        for (const Request& r : cycle) {
            int n = r.function == 4 ? modbus_read_input_registers(ctx, r.address, r.count, buffer)
                                    : modbus_read_registers(ctx, r.address, r.count, buffer);
            if (n != r.count)
                return false;
        }
        return true;
    };

    // Rounds alternate between the two, so a busy machine weighs on both alike.
    std::vector<double> ours, theirs;
    for (int i = 0; i < rounds; ++i) {
        if (poll_cycle() != CycleResult::Complete) {
            std::fprintf(stderr, "poll cycle failed: %s\n", headless_log().c_str());
            return 1;
        }
        // The cycle's own clock: its requests, without the display step.
        ours.push_back(poll_last_cycle_time() * 1000.0);
        auto start = Clock::now();
        if (!libmodbus_cycle()) {
            std::fprintf(stderr, "libmodbus request failed\n");
            return 1;
        }
        theirs.push_back(ms_since(start));
    }
    modbus_close(ctx);
    modbus_free(ctx);
    {
        GdkLock lock;
        link_close();
    }
    exchange_wait_stopped();
    std::string served = sim.control("status");
    size_t at = served.find("requests=");
    long requests = at == std::string::npos ? -1 : std::atol(served.c_str() + at + 9);
    if (requests != static_cast<long>(2 * rounds * cycle.size())) {
        std::fprintf(stderr, "the simulator served %ld requests, expected %zu\n", requests, 2 * rounds * cycle.size());
        return 1;
    }

    double a = median(ours), b = median(theirs);
    double a_min = *std::min_element(ours.begin(), ours.end());
    double b_min = *std::min_element(theirs.begin(), theirs.end());
    std::printf("poll cycle, %zu requests, layout 1, loopback, %d rounds (median / best):\n", cycle.size(), rounds);
    std::printf("  rarur poll cycle   %8.3f ms  %8.3f ms\n", a, a_min);
    std::printf("  libmodbus client   %8.3f ms  %8.3f ms\n", b, b_min);
    std::printf("  ratio              %8.2f     %8.2f     (target <= 1.50 on the median) %s\n", a / b, a_min / b_min,
                a / b <= 1.5 ? "met" : "NOT MET");
    bench_report("poll_cycle", a, "ms", b, "libmodbus_client", "ratio<=1.5", a / b <= 1.5);
    return 0;
}
