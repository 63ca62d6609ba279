#include "control.h"

#include "status_blocks.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <poll.h>
#include <sstream>
#include <sys/socket.h>
#include <unistd.h>

namespace sim {

namespace {

constexpr size_t max_command = 1024;

std::string on_off(const std::string& word, bool& value)
{
    if (word == "on")
        value = true;
    else if (word == "off")
        value = false;
    else
        return "error expected on or off";
    return "ok";
}

std::string status_line(const Sim& sim)
{
    const Plant& p = sim.plant;
    std::ostringstream s;
    s << "ok version=" << p.protocol_version << " layout=" << p.layout.number << " time=" << uint32_t(p.clock)
      << " frozen=" << (p.frozen ? 1 : 0) << " bus=" << long(p.bus_v * 100 + 0.5)
      << " load=" << long(p.load_a * 1000 + 0.5) << " mode=" << p.battery_mode
      << " alarm1=" << alarm_count(p, 1) << " alarm2=" << alarm_count(p, 2) << " events=";
    bool first = true;
    for (int c = 0; c < p.layout.event_bits; ++c)
        if (p.events[c]) {
            s << (first ? "" : ",") << c;
            first = false;
        }
    if (first)
        s << "-";
    s << " journal=" << p.journal.newest << " test=" << p.files.newest_test
      << " discharge=" << p.files.newest_discharge << " requests=" << sim.requests;
    return s.str();
}

std::string event_command(Plant& p, const std::string& what, const std::string& arg)
{
    char* end = nullptr;
    long code = std::strtol(arg.c_str(), &end, 10);
    if (arg.empty() || *end || code < 0 || code >= p.layout.event_bits)
        return "error event code out of range for this layout";
    if (what == "set") {
        p.forced_on.set(size_t(code));
        p.forced_off.reset(size_t(code));
    } else if (what == "clear") {
        p.forced_on.reset(size_t(code));
        p.forced_off.set(size_t(code));
    } else if (what == "auto") {
        p.forced_on.reset(size_t(code));
        p.forced_off.reset(size_t(code));
    } else {
        return "error expected event set|clear|auto CODE";
    }
    plant_update(p);
    return "ok";
}

}  // namespace

std::string control_command(Sim& sim, const std::string& line, bool have_modem)
{
    std::istringstream in(line);
    std::string cmd, a, b;
    in >> cmd;
    Plant& p = sim.plant;
    if (cmd.empty())
        return "error empty command";
    if (cmd == "status")
        return status_line(sim);
    if (cmd == "freeze") {
        in >> a;
        return on_off(a, p.frozen);
    }
    if (cmd == "event") {
        in >> a >> b;
        return event_command(p, a, b);
    }
    if (cmd == "alarm") {
        in >> a >> b;
        if (a != "raise" && a != "clear")
            return "error expected alarm raise|clear NAME";
        return plant_alarm(p, b, a == "raise") == 0 ? "ok" : "error unknown alarm '" + b + "'";
    }
    if (cmd == "fault") {
        std::string rest;
        std::getline(in, rest);
        if (rest.find("drop-carrier") != std::string::npos && !have_modem)
            return "error no modem endpoint";
        std::string error;
        return fault_command(sim.faults, rest, error) == 0 ? "ok" : "error " + error;
    }
    if (cmd == "journal") {
        // journal add CODE [KIND]
        long code = -1, kind = 2;
        in >> a >> code;
        if (!(in >> kind))
            kind = 2;
        if (a != "add" || code < 0 || code > 0xFFFF || kind < 0 || kind > 0xFFFF)
            return "error expected journal add CODE [KIND]";
        p.journal.add(uint32_t(p.clock), uint16_t(kind), uint16_t(code));
        return "ok";
    }
    if (cmd == "record") {
        // record erase test|discharge SLOT: the slot reads as never written
        // record add test|discharge [POINTS]: a finished record in the next slot
        std::string kind;
        int slot = -1;
        in >> a >> kind >> slot;
        if (a == "add") {
            int points = slot < 0 ? 5 : slot;
            if ((kind != "test" && kind != "discharge") || points < 1 || points > max_sections)
                return "error expected record add test|discharge [POINTS] (1..22)";
            if (plant_add_record(p, kind == "discharge", points) != 0)
                return "error a " + kind + " is being recorded";
            return "ok";
        }
        if (a != "erase" || (kind != "test" && kind != "discharge") || slot < 0 || slot >= battery_slots)
            return "error expected record erase test|discharge SLOT (0..5)";
        (kind == "test" ? p.files.tests : p.files.discharges)[slot].sections.clear();
        return "ok";
    }
    if (cmd == "clock") {
        long long t = -1;
        in >> t;
        if (t < 0 || t > 0xFFFFFFFFLL)
            return "error expected clock SECONDS";
        p.clock = double(t);
        return "ok";
    }
    if (cmd == "settings") {
        // settings write WORD VALUE: what another client writing one word of
        // the settings block and the settings command does, at once.
        long word = -1, value = -1;
        in >> a >> word >> value;
        if (a != "write" || word < 3 || word >= long(p.settings.regs.size()) || value < 0 || value > 0xFFFF)
            return "error expected settings write WORD VALUE (WORD 3.." + std::to_string(p.settings.regs.size() - 1) +
                   ", VALUE 0..65535)";
        p.staged = p.settings;
        p.staged.regs[size_t(word)] = uint16_t(value);
        plant_apply_settings(p);
        return "ok";
    }
    if (cmd == "tick") {
        // Advance a frozen or running plant by whole seconds, for tests.
        int n = 0;
        in >> n;
        if (n < 1 || n > 86400)
            return "error expected tick SECONDS (1..86400)";
        bool frozen = p.frozen;
        p.frozen = false;
        for (int i = 0; i < n; ++i)
            plant_tick(p, 1.0);
        p.frozen = frozen;
        return "ok";
    }
    return "error unknown command '" + cmd + "'";
}

ControlEndpoint::~ControlEndpoint()
{
    for (auto& c : conns_)
        if (c->fd >= 0)
            close(c->fd);
    close_listener(listen_fd_, path_);
}

int ControlEndpoint::listen(const std::string& path)
{
    int fd = listen_unix_socket(path, 4, "control");
    if (fd < 0)
        return -1;
    listen_fd_ = fd;
    path_ = path;
    return 0;
}

void ControlEndpoint::on_readable(Conn& c)
{
    char buf[512];
    long n = read_some(c.fd, buf, sizeof buf);
    if (n < 0)
        close_conn(c);
    if (n <= 0)
        return;
    for (ssize_t i = 0; i < n; ++i) {
        char ch = buf[i];
        if (ch != '\n') {
            if (c.in.size() < max_command)
                c.in.push_back(ch);
            else
                c.overlong = true;
            continue;
        }
        if (!c.in.empty() && c.in.back() == '\r')
            c.in.pop_back();
        std::string reply = c.overlong ? "error command too long" : control_command(sim_, c.in, have_modem_);
        reply.push_back('\n');
        c.out.insert(c.out.end(), reply.begin(), reply.end());
        c.in.clear();
        c.overlong = false;
    }
    if (!flush_some(c.fd, c.out)) {
        close_conn(c);
    }
}

void ControlEndpoint::prepare(Loop& loop)
{
    std::erase_if(conns_, [](const auto& c) { return c->dead; });
    if (listen_fd_ < 0)
        return;
    loop.watch(listen_fd_, POLLIN, [this](short) {
        int fd;
        while ((fd = accept(listen_fd_, nullptr, nullptr)) >= 0) {
            set_nonblocking(fd);
            auto c = std::make_unique<Conn>();
            c->fd = fd;
            conns_.push_back(std::move(c));
        }
    });
    for (auto& cp : conns_) {
        Conn* c = cp.get();
        short events = short(POLLIN | (c->out.empty() ? 0 : POLLOUT));
        loop.watch(c->fd, events, [this, c](short revents) {
            if (c->dead)
                return;
            if (revents & (POLLIN | POLLHUP | POLLERR))
                on_readable(*c);
            else if ((revents & POLLOUT) && !flush_some(c->fd, c->out)) {
                close_conn(*c);
            }
        });
    }
}

}  // namespace sim
