#include "server.h"

#include "status_blocks.h"
#include "wire.h"

#include <algorithm>
#include <cstdio>
#include <string>

namespace sim {

namespace {

constexpr int settings_write_base = 0x3000;
constexpr int command_settings = 0x4000, command_clock = 0x4100, command_battery = 0x4200,
              command_contactors = 0x4300;

std::vector<uint8_t> exception(uint8_t fn, int code)
{
    return {uint8_t(fn | 0x80), uint8_t(code)};
}

std::string hex(const uint8_t* data, size_t n)
{
    static const char digits[] = "0123456789ABCDEF";
    std::string s;
    for (size_t i = 0; i < n; ++i) {
        s.push_back(digits[data[i] >> 4]);
        s.push_back(digits[data[i] & 15]);
    }
    return s;
}

std::string fields(const char* format, int a, int b, int c)
{
    char buf[96];
    std::snprintf(buf, sizeof buf, format, a, b, c);
    return buf;
}

std::vector<uint8_t> registers_reply(uint8_t fn, const std::vector<uint16_t>& regs)
{
    std::vector<uint8_t> r{fn, uint8_t(regs.size() * 2)};
    for (uint16_t v : regs)
        put_be16(r, v);
    return r;
}

int read_holding(const Plant& p, int start, int count, std::vector<uint16_t>& out)
{
    int n = int(p.settings.regs.size());
    if (start + count <= n) {
        out.assign(p.settings.regs.begin() + start, p.settings.regs.begin() + start + count);
        return 0;
    }
    int staged = start - settings_write_base;
    if (staged >= 0 && staged + count <= n - 3) {
        out.assign(p.staged.regs.begin() + 3 + staged, p.staged.regs.begin() + 3 + staged + count);
        return 0;
    }
    if (start >= command_settings && start + count <= command_settings + 2) {
        for (int a = start; a < start + count; ++a)
            out.push_back(p.command_key[a - command_settings]);
        return 0;
    }
    return ex_address;
}

std::vector<uint8_t> serve_read(Sim& sim, const uint8_t* pdu, size_t length)
{
    uint8_t fn = pdu[0];
    if (length != 5) {
        sim.recorder.line(fields("fn=%02X len=%d", fn, int(length), 0));
        return exception(fn, ex_value);
    }
    int addr = get_be16(pdu + 1), count = get_be16(pdu + 3);
    sim.recorder.line(fields("fn=%02X addr=%04X count=%d", fn, addr, count));
    sim.hold_ms = fault_late_for_registers(sim.faults, fn, addr, count);
    if (count < 1 || count > 125)
        return exception(fn, ex_value);
    if (addr + count > 0x10000)
        return exception(fn, ex_address);
    if (int code = fault_exception_for_registers(sim.faults, fn, addr, count))
        return exception(fn, code);
    std::vector<uint16_t> regs;
    int code = fn == 0x04 ? read_input_registers(sim.plant, addr, count, regs)
                          : read_holding(sim.plant, addr, count, regs);
    if (code)
        return exception(fn, code);
    return registers_reply(fn, regs);
}

bool password_ok(const Plant& p, const uint8_t* data)
{
    return std::string(reinterpret_cast<const char*>(data), 6) == monitoring_password(p.settings);
}

// Command blocks: six password bytes, then the command's own registers.
int run_command(Plant& p, int addr, int count, const uint8_t* data)
{
    if (addr == command_settings && count == 6) {
        if (!password_ok(p, data + 4))
            return ex_device;
        if (get_be16(data) != p.command_key[0] || get_be16(data + 2) != p.command_key[1])
            return ex_value;
        if (get_be16(data + 10) != 1)
            return ex_value;
        plant_apply_settings(p);
        return 0;
    }
    if (addr == command_clock && count == 5) {
        if (!password_ok(p, data))
            return ex_device;
        plant_set_clock(p, (uint32_t(get_be16(data + 6)) << 16) | get_be16(data + 8));
        return 0;
    }
    if ((addr == command_battery || addr == command_contactors) && count == 4) {
        if (!password_ok(p, data))
            return ex_device;
        uint16_t word = get_be16(data + 6);
        if (addr == command_battery)
            return plant_battery_command(p, word);
        if (word != 1)
            return ex_value;
        plant_sync_contactors(p);
        return 0;
    }
    return ex_address;
}

std::vector<uint8_t> serve_write(Sim& sim, const uint8_t* pdu, size_t length)
{
    const uint8_t fn = 0x10;
    if (length < 6) {
        sim.recorder.line(fields("fn=%02X len=%d", fn, int(length), 0));
        return exception(fn, ex_value);
    }
    int addr = get_be16(pdu + 1), count = get_be16(pdu + 3), bytes = pdu[5];
    size_t data_len = length - 6;
    sim.recorder.line(fields("fn=10 addr=%04X count=%d", addr, count, 0) + " data=" + hex(pdu + 6, data_len));
    sim.hold_ms = fault_late_for_registers(sim.faults, fn, addr, count);
    if (count < 1 || count > 123 || bytes != 2 * count || data_len != size_t(bytes))
        return exception(fn, ex_value);
    if (addr + count > 0x10000)
        return exception(fn, ex_address);
    if (int code = fault_exception_for_registers(sim.faults, fn, addr, count))
        return exception(fn, code);
    Plant& p = sim.plant;
    const uint8_t* data = pdu + 6;
    int body = int(p.settings.regs.size()) - 3;
    int offset = addr - settings_write_base;
    if (offset >= 0 && offset + count <= body) {
        for (int i = 0; i < count; ++i)
            p.staged.regs[3 + offset + i] = get_be16(data + 2 * i);
    } else if (int code = run_command(p, addr, count, data)) {
        return exception(fn, code);
    }
    std::vector<uint8_t> r{fn};
    put_be16(r, uint16_t(addr));
    put_be16(r, uint16_t(count));
    return r;
}

std::vector<uint8_t> serve_file_record(Sim& sim, const uint8_t* pdu, size_t length)
{
    const uint8_t fn = 0x14;
    int bytes = length >= 2 ? pdu[1] : -1;
    if (bytes < 7 || bytes > 0xF5 || bytes % 7 != 0 || length != size_t(2 + bytes)) {
        sim.recorder.line(fields("fn=14 len=%d", int(length), 0, 0));
        return exception(fn, ex_value);
    }
    std::vector<uint8_t> r{fn, 0};
    int exception_code = 0;
    for (int i = 0; i < bytes / 7; ++i) {
        const uint8_t* sub = pdu + 2 + 7 * i;
        int type = sub[0], file = get_be16(sub + 1), record = get_be16(sub + 3), len = get_be16(sub + 5);
        sim.recorder.line(fields("fn=14 file=%04X record=%d length=%d", file, record, len));
        sim.hold_ms = std::max(sim.hold_ms, fault_late_for_file(sim.faults, file, record));
        if (exception_code)
            continue;
        if (type != 6) {
            exception_code = ex_address;
            continue;
        }
        if (len < 1 || r.size() + 2 + 2 * size_t(len) > 253) {
            exception_code = ex_value;
            continue;
        }
        if ((exception_code = fault_exception_for_file(sim.faults, file, record)))
            continue;
        std::vector<uint16_t> regs;
        if ((exception_code = read_file_record(sim.plant.journal, sim.plant.files, file, record, len, regs)))
            continue;
        r.push_back(uint8_t(1 + 2 * len));
        r.push_back(6);
        for (uint16_t v : regs)
            put_be16(r, v);
    }
    if (exception_code)
        return exception(fn, exception_code);
    r[1] = uint8_t(r.size() - 2);
    return r;
}

}  // namespace

std::vector<uint8_t> serve_request(Sim& sim, const uint8_t* pdu, size_t length)
{
    sim.hold_ms = 0;
    if (length == 0)
        return {};
    ++sim.requests;
    switch (pdu[0]) {
    case 0x03:
    case 0x04:
        return serve_read(sim, pdu, length);
    case 0x10:
        return serve_write(sim, pdu, length);
    case 0x14:
        return serve_file_record(sim, pdu, length);
    default:
        sim.recorder.line(fields("fn=%02X len=%d", pdu[0], int(length), 0));
        return exception(uint8_t(pdu[0] & 0x7F), ex_function);
    }
}

}  // namespace sim
