// rarur-sim: a RARUR Controller with a live plant, for the demo and the tests.
#include "control.h"
#include "modem_endpoint.h"
#include "server.h"
#include "stream_endpoint.h"

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace sim;

namespace {

volatile std::sig_atomic_t stop_requested = 0;

void on_signal(int) { stop_requested = 1; }

struct Options {
    std::string listen, port_file, usb_dir, modem_pty, record, control;
    std::vector<int> usb_ids;
    std::vector<std::string> faults;
    int protocol_version = 410;
    uint32_t serial = 100123;
    int modem_result = 1;
    int modem_guard_ms = 1000;
    int modem_baud = 0;
    uint32_t seed = 1;
    bool freeze = false;
};

void usage()
{
    std::fputs(
        "usage: rarur-sim [options]\n"
        "  --listen HOST:PORT       Modbus TCP endpoint (PORT 0: any free port; IPv6 as [::1]:PORT)\n"
        "  --port-file FILE         write the bound TCP port here once every endpoint is ready\n"
        "  --usb-dir DIR --usb-id N USB stand-in socket DIR/rarur-N.sock (--usb-id repeatable)\n"
        "  --modem-pty PATH         Hayes modem on a pty; PATH becomes a symlink to its slave\n"
        "  --modem-result N         result code answered to a dial (default 1, CONNECT)\n"
        "  --modem-guard MS         guard time around \"+++\" (default 1000)\n"
        "  --modem-baud N           pace the modem's line at N baud, 10 bits a byte (default: no pacing)\n"
        "  --protocol-version V     identification register 1 and the layout (default 410)\n"
        "  --serial N               serial number of the Controller (default 100123)\n"
        "  --record FILE            append one line per request\n"
        "  --control PATH           Unix socket for control commands\n"
        "  --fault \"RULE\"           a fault as in the control command \"fault RULE\" (repeatable)\n"
        "  --seed N                 seed of the plant's randomness (default 1)\n"
        "  --freeze                 start with the plant frozen\n"
        "  --version                print the version and exit\n",
        stderr);
}

bool parse_int(const char* text, long lo, long hi, long& v)
{
    char* end = nullptr;
    v = std::strtol(text, &end, 10);
    return *text && !*end && v >= lo && v <= hi;
}

// Reads a whole number within [lo, hi] into `out`; false leaves `out` alone.
template <typename T>
bool set_int(const char* text, long lo, long hi, T& out)
{
    long n = 0;
    if (!parse_int(text, lo, hi, n))
        return false;
    out = T(n);
    return true;
}

// The options that take a value; `set` is false for a value out of range.
struct ValueOption {
    const char* name;
    bool (*set)(Options& o, const char* v);
};

constexpr ValueOption kValueOptions[] = {
    {"--listen", [](Options& o, const char* v) { o.listen = v; return true; }},
    {"--port-file", [](Options& o, const char* v) { o.port_file = v; return true; }},
    {"--usb-dir", [](Options& o, const char* v) { o.usb_dir = v; return true; }},
    {"--usb-id", [](Options& o, const char* v) {
         int id = 0;
         if (!set_int(v, 0, 1000000, id))
             return false;
         o.usb_ids.push_back(id);
         return true;
     }},
    {"--modem-pty", [](Options& o, const char* v) { o.modem_pty = v; return true; }},
    {"--modem-result", [](Options& o, const char* v) { return set_int(v, 0, 255, o.modem_result); }},
    {"--modem-guard", [](Options& o, const char* v) { return set_int(v, 0, 10000, o.modem_guard_ms); }},
    {"--modem-baud", [](Options& o, const char* v) { return set_int(v, 0, 1000000, o.modem_baud); }},
    {"--protocol-version", [](Options& o, const char* v) { return set_int(v, 0, 65535, o.protocol_version); }},
    {"--serial", [](Options& o, const char* v) { return set_int(v, 0, 999999, o.serial); }},
    {"--record", [](Options& o, const char* v) { o.record = v; return true; }},
    {"--control", [](Options& o, const char* v) { o.control = v; return true; }},
    {"--fault", [](Options& o, const char* v) { o.faults.push_back(v); return true; }},
    {"--seed", [](Options& o, const char* v) { return set_int(v, 0, 0xFFFFFFFFL, o.seed); }},
};

int parse_options(int argc, char** argv, Options& o)
{
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--freeze") {
            o.freeze = true;
            continue;
        }
        if (a == "--help" || a == "-h") {
            usage();
            std::exit(0);
        }
        if (a == "--version") {
            std::fputs("rarur-sim (RARUR Service) " RARUR_VERSION "\n", stdout);
            std::exit(0);
        }
        const ValueOption* option = nullptr;
        for (const ValueOption& candidate : kValueOptions)
            if (a == candidate.name)
                option = &candidate;
        if (!option) {
            std::fprintf(stderr, "rarur-sim: unknown option %s\n", a.c_str());
            return -1;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "rarur-sim: %s needs a value\n", a.c_str());
            return -1;
        }
        const char* v = argv[++i];
        if (!option->set(o, v)) {
            std::fprintf(stderr, "rarur-sim: bad option or value: %s %s\n", a.c_str(), v);
            return -1;
        }
    }
    if (!o.usb_ids.empty() && o.usb_dir.empty()) {
        std::fprintf(stderr, "rarur-sim: --usb-id needs --usb-dir\n");
        return -1;
    }
    if (!o.usb_dir.empty() && o.usb_ids.empty())
        o.usb_ids.push_back(1);
    return 0;
}

int write_port_file(const std::string& path, int port)
{
    std::string tmp = path + ".tmp";
    std::FILE* f = std::fopen(tmp.c_str(), "w");
    if (!f)
        return -1;
    std::fprintf(f, "%d\n", port);
    if (std::fclose(f) != 0)
        return -1;
    return std::rename(tmp.c_str(), path.c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    Options o;
    if (parse_options(argc, argv, o) < 0) {
        usage();
        return 2;
    }
    struct sigaction sa{};
    sa.sa_handler = on_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    auto simulator = std::make_unique<Sim>();
    Sim& sim = *simulator;
    PlantOptions po;
    po.protocol_version = o.protocol_version;
    po.serial = o.serial;
    po.seed = o.seed;
    po.frozen = o.freeze;
    plant_init(sim.plant, po);
    for (const std::string& rule : o.faults) {
        std::string error;
        if (fault_command(sim.faults, rule, error) < 0) {
            std::fprintf(stderr, "rarur-sim: --fault \"%s\": %s\n", rule.c_str(), error.c_str());
            return 2;
        }
    }
    if (!o.record.empty() && !sim.recorder.open(o.record)) {
        std::fprintf(stderr, "rarur-sim: cannot open %s: %s\n", o.record.c_str(), std::strerror(errno));
        return 1;
    }

    std::unique_ptr<StreamEndpoint> tcp;
    std::vector<std::unique_ptr<StreamEndpoint>> usb;
    std::unique_ptr<ModemEndpoint> modem;
    std::unique_ptr<ControlEndpoint> control;
    if (!o.listen.empty()) {
        tcp = std::make_unique<StreamEndpoint>(sim, Framing::tcp);
        if (tcp->listen_tcp(o.listen) < 0)
            return 1;
    }
    for (int id : o.usb_ids) {
        auto ep = std::make_unique<StreamEndpoint>(sim, Framing::usb);
        if (ep->listen_unix(o.usb_dir + "/rarur-" + std::to_string(id) + ".sock") < 0)
            return 1;
        usb.push_back(std::move(ep));
    }
    if (!o.modem_pty.empty()) {
        modem = std::make_unique<ModemEndpoint>(sim, o.modem_result, o.modem_guard_ms, o.modem_baud);
        if (modem->open(o.modem_pty) < 0)
            return 1;
    }
    if (!o.control.empty()) {
        control = std::make_unique<ControlEndpoint>(sim, modem != nullptr);
        if (control->listen(o.control) < 0)
            return 1;
    }
    if (!o.port_file.empty() && write_port_file(o.port_file, tcp ? tcp->port() : 0) < 0) {
        std::fprintf(stderr, "rarur-sim: cannot write %s\n", o.port_file.c_str());
        return 1;
    }
    if (tcp)
        std::fprintf(stderr, "rarur-sim: protocol %d (layout %d), Modbus TCP on port %d\n", o.protocol_version,
                     sim.plant.layout.number, tcp->port());

    int64_t last_tick = now_ms();
    while (!stop_requested) {
        int64_t now = now_ms();
        if (now - last_tick >= 1000) {
            plant_tick(sim.plant, double(now - last_tick) / 1000.0);
            last_tick = now;
        }
        Loop loop;
        loop.wake_at(last_tick + 1000);
        if (tcp)
            tcp->prepare(loop, now);
        for (auto& ep : usb)
            ep->prepare(loop, now);
        if (modem)
            modem->prepare(loop, now);
        if (control)
            control->prepare(loop);
        loop.run_once();
    }
    return 0;
}
