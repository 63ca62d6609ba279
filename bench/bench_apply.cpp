// Apply time: writing a full layout-3 settings image (every optional segment)
// to rarur-sim on loopback through the program's apply sequence, against its
// floor: the same requests made by a libmodbus client with no pause, plus the
// 25 ms pause after each write request that the sequence keeps on purpose.
// Target: within 1.2x of the floor.
#include <modbus.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "base/app_state.h"
#include "base/headless_ui.h"
#include "base/ui_hooks.h"
#include "link/connection.h"
#include "modbus/exchange.h"
#include "modbus/operations.h"
#include "settings/apply.h"
#include "settings/apply_plan.h"
#include "bench_util.h"
#include "sim_process.h"
#include "bench_report.h"

namespace {

using Clock = BenchClock;
constexpr double kPauseMs = 25.0;

} // namespace

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? std::max(3, std::atoi(argv[1])) : 20;
    SimProcess sim(bench_sim_options(410));
    if (!bench_start_sim(sim))
        return 1;
    // The link without a poll thread: only the apply talks to the simulator.
    if (!bench_connect(sim))
        return 1;

    SettingsImage image;
    image.layout = 3;
    for (int offset = 0; offset < settings_word_count(3); offset += 100) {
        int count = std::min(100, settings_word_count(3) - offset);
        if (modbus_read_registers(uint16_t(offset), unsigned(count), image.data() + 2 * offset, 0x03) != ModbusResult::Ok) {
            std::fprintf(stderr, "settings read failed\n");
            return 1;
        }
    }
    settings_from_registers(3, image.data());
    SettingsImage wire = image;
    settings_to_registers(3, wire.data());
    std::vector<SettingsSegment> segments = settings_write_segments(3, wire.data());
    int write_requests = 0;
    for (const SettingsSegment& s : segments)
        write_requests += (s.count + kSettingsWriteRequest - 1) / kSettingsWriteRequest;

    ApplyRequest request{image, image, {}};
    std::memcpy(request.password, "123456", 6);
    settings_apply_set_verify_timeout(0); // no poll here to read the settings back

    modbus_t* ctx = modbus_new_tcp("127.0.0.1", sim.port());
    modbus_set_slave(ctx, 0xFF);
    if (modbus_connect(ctx) != 0) {
        std::fprintf(stderr, "libmodbus connect failed\n");
        return 1;
    }
    auto libmodbus_apply = [&]() {
        uint16_t regs[125], command[6] = {0, 0, 0x3132, 0x3334, 0x3536, 1};
        if (modbus_read_registers(ctx, kSettingsCommandAddress, 2, command) != 2)
            return false;
        for (const SettingsSegment& s : segments)
            for (int done = 0; done < s.count; done += kSettingsWriteRequest) {
                int n = std::min(kSettingsWriteRequest, s.count - done);
                for (int i = 0; i < n; ++i) {
                    const uint8_t* p = wire.data() + 2 * (s.offset + 3 + done + i);
                    regs[i] = uint16_t(p[0] << 8 | p[1]);
                }
                if (modbus_write_registers(ctx, kSettingsWriteBase + s.offset + done, n, regs) != n)
                    return false;
            }
        return modbus_write_registers(ctx, kSettingsCommandAddress, 6, command) == 6;
    };

    std::vector<double> ours, floor;
    for (int i = 0; i < rounds; ++i) {
        auto start = Clock::now();
        int result = settings_apply_run(WorkerContext(link_session_current()), request);
        ours.push_back(ms_since(start));
        if (result != kApplyUnverified) {
            std::fprintf(stderr, "apply failed (%d): %s\n", result, headless_log().c_str());
            return 1;
        }
        start = Clock::now();
        if (!libmodbus_apply()) {
            std::fprintf(stderr, "libmodbus apply failed\n");
            return 1;
        }
        floor.push_back(ms_since(start) + write_requests * kPauseMs);
    }
    modbus_close(ctx);
    modbus_free(ctx);
    {
        GdkLock lock;
        link_close();
    }
    exchange_wait_stopped();

    double a = median(ours), b = median(floor);
    std::printf("apply, layout 3, all %zu segments in %d write requests + 0x4000 read + command, loopback, %d rounds:\n",
                segments.size(), write_requests, rounds);
    std::printf("  rarur apply                       %8.2f ms (median), %8.2f ms (best)\n", a,
                *std::min_element(ours.begin(), ours.end()));
    std::printf("  floor (libmodbus + %d x 25 ms)     %8.2f ms (median)\n", write_requests, b);
    std::printf("  ratio                             %8.3f    (target <= 1.20) %s\n", a / b, a / b <= 1.2 ? "met" : "NOT MET");
    bench_report("settings_apply", a, "ms", b, "floor", "ratio<=1.2", a / b <= 1.2);
    return 0;
}
