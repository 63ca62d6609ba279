// The modem link at 9600 baud: rarur-sim's modem paces its line
// (--modem-baud), the program dials it over the pseudo-terminal, then one poll
// cycle of a layout-3 Controller and 100 journal records (file 1, six
// registers each, read as file records through the operations) are timed
// against the floor the line allows: every byte that crossed it, each way, at
// 10 bits a byte, plus the 1 ms the transport rests after each exchange.
// Target: within 1.2x of the floor.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "base/app_state.h"
#include "base/headless_ui.h"
#include "base/ui_hooks.h"
#include "base/workers.h"
#include "link/connection.h"
#include "modbus/exchange.h"
#include "modbus/operations.h"
#include "sim_process.h"
#include "status/display_hooks.h"
#include "status/poll.h"
#include "bench_report.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kBaud = 9600;

struct Window {
    Clock::time_point start = Clock::now();
    uint64_t sent = app.bytes_sent, received = app.bytes_received;
    int exchanges = 0;
};

void report(const char* what, const char* name, const Window& w, int rounds)
{
    double seconds = std::chrono::duration<double>(Clock::now() - w.start).count() / rounds;
    double bytes_out = double(app.bytes_sent - w.sent) / rounds, bytes_in = double(app.bytes_received - w.received) / rounds;
    double line = (bytes_out + bytes_in) * 10.0 / kBaud;
    double floor = line + w.exchanges * 0.001 / rounds;
    std::printf("%-28s %7.0f B out %7.0f B in  line %7.3f s  floor %7.3f s  took %7.3f s  ratio %5.2f %s\n", what,
                bytes_out, bytes_in, line, floor, seconds, seconds / floor,
                seconds / floor <= 1.2 ? "(target <= 1.20 met)" : "(target <= 1.20 NOT MET)");
    bench_report(name, seconds, "s", floor, "line_floor_9600", "ratio<=1.2", seconds / floor <= 1.2);
}

}  // namespace

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 2;
    SimOptions options;
    options.tcp = false;
    options.modem = true;
    options.freeze = true;
    options.args = {"--modem-baud", std::to_string(kBaud)};
    SimProcess sim(options);
    if (!sim.running()) {
        std::fprintf(stderr, "rarur-sim did not start: %s\n", sim.log().c_str());
        return 1;
    }
    headless_ui_install();
    display_hooks_headless();
    connection_unsubscribe_all();   // no poll thread: the cycles run here
    connection_init();
    poll_set_register_reader(modbus_read_registers);
    poll_set_link_close(link_close);

    app.link_kind = LinkKind::Gsm;
    LinkTarget target;
    target.address = sim.modem_path();
    target.phone = "89161234567";
    auto dial_start = Clock::now();
    {
        GdkLock lock;
        connect_target(target);
    }
    if (!wait_until([] { return app.link_open && app.transport_running; }, 30000)) {
        std::fprintf(stderr, "the call did not come up: %s\n", headless_log().c_str());
        return 1;
    }
    std::printf("modem link at %d baud, dialled in %.1f s (the set-up waits 2.6 s by itself)\n", kBaud,
                std::chrono::duration<double>(Clock::now() - dial_start).count());

    if (poll_cycle() != CycleResult::Complete) {   // the first cycle also reads what later ones skip
        std::fprintf(stderr, "poll cycle failed: %s\n", headless_log().c_str());
        return 1;
    }
    Window cycle;
    for (int i = 0; i < rounds; ++i) {
        if (poll_cycle() != CycleResult::Complete) {
            std::fprintf(stderr, "poll cycle failed: %s\n", headless_log().c_str());
            return 1;
        }
    }
    cycle.exchanges = 31 * rounds;   // layout 3: 31 requests a cycle
    report("poll cycle (31 requests)", "modem_poll_cycle", cycle, rounds);

    uint16_t newest = status_identification_register(8);
    Window journal;
    uint8_t record[12];
    for (int i = 0; i < 100; ++i) {
        if (modbus_read_file_record(1, uint16_t((newest - i) & 0x0FFF), 6, record) != ModbusResult::Ok) {
            std::fprintf(stderr, "journal record failed: %s\n", headless_log().c_str());
            return 1;
        }
    }
    journal.exchanges = 100;
    report("100 journal records", "modem_100_journal_records", journal, 1);

    {
        GdkLock lock;
        link_close();
    }
    workers_wait(kModemLane);
    return 0;
}
