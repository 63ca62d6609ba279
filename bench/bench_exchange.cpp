// Round-trip cost of the exchange on loopback, against libmodbus's own client
// reading the same server; the time an exception reply takes to come back; the
// CPU used while connected and idle; over USB (the program's own access library
// on a Unix socket), the time an exception reply and a missing reply take.
#include <modbus.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "base/app_state.h"
#include "base/headless_ui.h"
#include "link/connection.h"
#include "link/tcp.h"
#include "link/usb.h"
#include "modbus/exchange.h"
#include "modbus/operations.h"
#include "test_servers.h"
#include "bench_report.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point t)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - t).count();
}

// The median of `times`: unlike the total, it does not move when another
// program on the machine takes the processor away for a few milliseconds.
double median(std::vector<double> times)
{
    std::nth_element(times.begin(), times.begin() + long(times.size() / 2), times.end());
    return times[times.size() / 2];
}

double cpu_seconds()
{
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
           double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

}  // namespace

int main(int argc, char** argv)
{
    int n = argc > 1 ? std::atoi(argv[1]) : 2000;
    int idle_s = argc > 2 ? std::atoi(argv[2]) : 10;
    headless_ui_install();
    connection_init();
    app_state_reset_start_values();
    app.log_enabled = 0;

    LibmodbusServer server;
    std::string address = "127.0.0.1:" + std::to_string(server.port());
    headless_set_device_address(address);
    {
        GdkLock g;
        if (tcp_connect() != 0) {
            std::fprintf(stderr, "connect to %s failed\n", address.c_str());
            return 1;
        }
    }
    uint8_t out[12];
    modbus_read_registers(0, 6, out, 0x04);   // warm-up, and the transport thread is up

    std::vector<double> ours_each(static_cast<size_t>(n)), theirs_each(static_cast<size_t>(n));
    auto t = Clock::now();
    int failures = 0;
    for (int i = 0; i < n; ++i) {
        auto one = Clock::now();
        failures += modbus_read_registers(uint16_t(i % 90), 6, out, 0x04) != ModbusResult::Ok;
        ours_each[size_t(i)] = ms_since(one);
    }
    double ours_ms = ms_since(t);

    // An exception reply (address outside the server's registers).
    double worst = 0, total = 0;
    constexpr int kExceptions = 50;
    for (int i = 0; i < kExceptions; ++i) {
        auto e = Clock::now();
        if (modbus_read_registers(0x0100, 6, out, 0x04) != ModbusResult::Exception)
            ++failures;
        double took = ms_since(e);
        total += took;
        worst = std::max(worst, took);
    }

    // Connected and idle.
    double cpu0 = cpu_seconds();
    std::this_thread::sleep_for(std::chrono::seconds(idle_s));
    double idle_cpu = cpu_seconds() - cpu0;

    {
        GdkLock g;
        link_close();
    }
    exchange_wait_stopped();

    modbus_t* ctx = modbus_new_tcp("127.0.0.1", server.port());
    modbus_set_slave(ctx, 0xFF);
    if (modbus_connect(ctx) != 0) {
        std::fprintf(stderr, "libmodbus connect failed\n");
        return 1;
    }
    uint16_t regs[6];
    modbus_read_input_registers(ctx, 0, 6, regs);
    t = Clock::now();
    for (int i = 0; i < n; ++i) {
        auto one = Clock::now();
        failures += modbus_read_input_registers(ctx, i % 90, 6, regs) != 6;
        theirs_each[size_t(i)] = ms_since(one);
    }
    double theirs_ms = ms_since(t);
    modbus_close(ctx);
    modbus_free(ctx);

    FaultyServer usb(Wire::Usb);
    setenv("RARUR_USB_DIR", usb.dir().c_str(), 1);
    app.link_kind = LinkKind::Usb;
    {
        GdkLock g;
        if (usb_connect(nullptr) != 0) {
            std::fprintf(stderr, "USB connect in %s failed\n", usb.dir().c_str());
            return 1;
        }
    }
    failures += modbus_read_registers(0, 6, out, 0x04) != ModbusResult::Ok;
    double usb_worst = 0, usb_total = 0;
    for (int i = 0; i < kExceptions; ++i) {
        usb.push(Fault::Exception);
        auto e = Clock::now();
        failures += modbus_read_registers(0, 6, out, 0x04) != ModbusResult::Exception;
        double took = ms_since(e);
        usb_total += took;
        usb_worst = std::max(usb_worst, took);
    }
    usb.push(Fault::Silent);
    auto silent = Clock::now();
    failures += modbus_read_registers(0, 6, out, 0x04) != ModbusResult::NoLink;
    double usb_silent_ms = ms_since(silent);
    {
        GdkLock g;
        link_close();
    }
    exchange_wait_stopped();

    std::printf("reads of 6 input registers, %d each, loopback:\n", n);
    std::printf("  modbus_read_registers: %8.1f ms  %8.0f reads/s\n", ours_ms, n / ours_ms * 1000);
    std::printf("  libmodbus client:      %8.1f ms  %8.0f reads/s\n", theirs_ms, n / theirs_ms * 1000);
    std::printf("  ratio (ours / libmodbus time): %.2f   target <= 1.5\n", ours_ms / theirs_ms);
    double ours_median = median(ours_each), theirs_median = median(theirs_each);
    std::printf("  median read: ours %.4f ms, libmodbus %.4f ms, ratio %.2f\n", ours_median, theirs_median,
                ours_median / theirs_median);
    std::printf("exception reply back as -1: mean %.3f ms, worst %.3f ms of %d   target < 20 ms\n",
                total / kExceptions, worst, kExceptions);
    std::printf("idle while connected for %d s: %.3f s CPU = %.3f%% of one core   target < 1%%\n", idle_s,
                idle_cpu, idle_cpu / idle_s * 100);
    std::printf("USB exception reply back as -1: mean %.3f ms, worst %.3f ms of %d   target < 20 ms\n",
                usb_total / kExceptions, usb_worst, kExceptions);
    std::printf("USB missing reply given up after %.0f ms   target about 2000 ms, as on Ethernet\n", usb_silent_ms);
    bench_report("exchange_round_trip", ours_ms / n, "ms", theirs_ms / n, "libmodbus_client", "ratio<=1.5",
                 ours_ms / theirs_ms <= 1.5);
    bench_report("exception_reply", total / kExceptions, "ms", ours_ms / n, "normal_reply", "<20ms", worst < 20);
    bench_report("cpu_connected_idle", idle_cpu / idle_s * 100, "%core", -1, "-", "<1%", idle_cpu / idle_s * 100 < 1);
    bench_report("usb_exception_reply", usb_total / kExceptions, "ms", ours_ms / n, "normal_reply", "<20ms",
                 usb_worst < 20);
    bench_report("usb_missing_reply", usb_silent_ms, "ms", 2000, "Ethernet_budget", "about_2000ms",
                 usb_silent_ms > 1500 && usb_silent_ms < 2500);
    if (failures)
        std::printf("FAILURES: %d\n", failures);
    return failures ? 1 : 0;
}
