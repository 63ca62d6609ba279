// Cycle time: the requests of one poll cycle of a layout-1 Controller (19
// status + 8 settings requests) against rarur-sim on loopback, through the
// program's exchange, compared with a libmodbus client making the same 27
// requests against the same simulator. Target: within 1.5x of libmodbus.
#include <modbus.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "app/app_state.h"
#include "app/headless_ui.h"
#include "app/ui_hooks.h"
#include "link/connection.h"
#include "modbus/exchange.h"
#include "modbus/operations.h"
#include "sim_process.h"
#include "status/display_hooks.h"
#include "status/poll.h"

namespace {

using Clock = std::chrono::steady_clock;

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

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

double ms_since(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

} // namespace

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? std::max(5, std::atoi(argv[1])) : 200;
    SimOptions options;
    options.protocol_version = 399;
    options.freeze = true;
    SimProcess sim(options);
    if (!sim.running()) {
        std::fprintf(stderr, "rarur-sim did not start: %s\n", sim.log().c_str());
        return 1;
    }

    // The program: one poll cycle at a time on this thread, the exchange's
    // transport thread underneath.
    headless_ui_install();
    poll_set_register_reader(modbus_read_registers);
    poll_set_link_close(link_close);
    connection_hooks = {};
    headless_set_device_address("127.0.0.1:" + std::to_string(sim.port()));
    {
        GdkLock lock;
        if (connect_ethernet() != 0) {
            std::fprintf(stderr, "connect failed: %s\n", headless_log().c_str());
            return 1;
        }
    }
    while (!app.transport_running)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    std::vector<double> ours;
    for (int i = 0; i < rounds; ++i) {
        auto start = Clock::now();
        if (poll_cycle() != CycleResult::Complete) {
            std::fprintf(stderr, "poll cycle failed: %s\n", headless_log().c_str());
            return 1;
        }
        ours.push_back(ms_since(start));
    }
    {
        GdkLock lock;
        link_close();
    }
    exchange_wait_stopped();

    // libmodbus, the same requests on its own connection (unit 0xFF as ours).
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", sim.port());
    modbus_set_slave(ctx, 0xFF);
    if (modbus_connect(ctx) != 0) {
        std::fprintf(stderr, "libmodbus connect failed\n");
        return 1;
    }
    std::vector<Request> cycle = layout1_cycle();
    std::vector<double> theirs;
    uint16_t buffer[125];
    for (int i = 0; i < rounds; ++i) {
        auto start = Clock::now();
        for (const Request& r : cycle) {
            int n = r.function == 4 ? modbus_read_input_registers(ctx, r.address, r.count, buffer)
                                    : modbus_read_registers(ctx, r.address, r.count, buffer);
            if (n != r.count) {
                std::fprintf(stderr, "libmodbus request failed at %d\n", r.address);
                return 1;
            }
        }
        theirs.push_back(ms_since(start));
    }
    modbus_close(ctx);
    modbus_free(ctx);

    double a = median(ours), b = median(theirs);
    std::printf("poll cycle, %zu requests, layout 1, loopback, median of %d:\n", cycle.size(), rounds);
    std::printf("  rarur poll cycle   %8.3f ms\n", a);
    std::printf("  libmodbus client   %8.3f ms\n", b);
    std::printf("  ratio              %8.2f (target <= 1.50) %s\n", a / b, a / b <= 1.5 ? "met" : "NOT MET");
    return 0;
}
