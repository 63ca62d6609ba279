#include "status_blocks.h"

#include <algorithm>
#include <cmath>

#include "wire.h"

namespace sim {

namespace {

uint16_t u16(double v) { return uint16_t(std::clamp<long>(std::lround(v), 0, 0xFFFF)); }
uint16_t s16(double v) { return uint16_t(int16_t(std::clamp<long>(std::lround(v), -32768, 32767))); }

}  // namespace

int alarm_count(const Plant& p, int mask)
{
    int n = 0;
    const uint16_t* m = p.settings.mask(mask);
    for (int c = 0; c < p.layout.event_bits; ++c)
        n += p.events[c] && event_bit(m, p.layout, c);
    return n;
}

InputBlock encode_identification(const Plant& p)
{
    InputBlock b{0, {}};
    auto& r = b.regs;
    r.push_back(p.device_code);
    r.push_back(uint16_t(p.protocol_version));
    r.push_back(p.sw_version);
    push32(r, plant_serial(p));
    push32(r, uint32_t(int64_t(p.clock)));
    r.push_back(0);
    r.push_back(uint16_t(p.journal.newest));
    r.push_back(0);
    r.push_back(uint16_t(p.files.newest_test));
    r.push_back(0);
    r.push_back(uint16_t(p.files.newest_discharge));
    r.push_back(0);
    r.push_back(0);
    return b;
}

InputBlock encode_events(const Plant& p)
{
    InputBlock b{256, std::vector<uint16_t>(p.layout.events_regs, 0)};
    b.regs[0] = uint16_t(alarm_count(p, 1));
    b.regs[1] = uint16_t(alarm_count(p, 2));
    for (int c = 0; c < p.layout.event_bits; ++c)
        if (p.events[c])
            set_event_bit(&b.regs[6], p.layout, c, true);
    return b;
}

InputBlock encode_load(const Plant& p)
{
    InputBlock b{512, {}};
    auto& r = b.regs;
    r.push_back(u16(p.bus_v * 100));
    push32(r, uint32_t(std::lround(p.load_a * 1000)));
    r.push_back(p.load_state);
    int count = p.settings.breaker_count();
    for (int n = 0; n < 52; ++n)
        r.push_back(n < count ? p.breaker[n] : 0);
    return b;
}

InputBlock encode_battery(const Plant& p)
{
    InputBlock b{768, {}};
    auto& r = b.regs;
    double total = 0;
    for (int g = 0; g < 8; ++g)
        total += p.group_a[g];
    push32(r, uint32_t(int32_t(std::lround(total * 1000))));
    r.push_back(p.settings.group_count() ? p.battery_mode : uint16_t(mode_no_battery));
    for (int g = 0; g < 8; ++g) {
        r.push_back(u16(p.group_v[g] * 100));
        push32(r, uint32_t(int32_t(std::lround(p.group_a[g] * 1000))));
        r.push_back(uint16_t((p.group_conn[g] & 3) | ((p.group_breaker[g] & 3) << 2)));
    }
    return b;
}

InputBlock encode_battery_blocks(const Plant& p, int g)
{
    InputBlock b{uint16_t(1024 + 128 * g), {}};
    auto& r = b.regs;
    bool used = g < p.settings.group_count() && (p.settings.word(sw::battery_flags) & 0x10);
    int blocks = p.settings.blocks_per_group();
    for (int k = 0; k < 30; ++k) {
        bool on = used && k < blocks;
        r.push_back(on ? u16(p.block_v[g][k] * 100) : 0);
        r.push_back(on ? s16(p.block_t[g][k] * 10) : 0);
        r.push_back(on ? p.block_state[g][k] : 0);
    }
    return b;
}

InputBlock encode_contactors(const Plant& p)
{
    InputBlock b{2048, {}};
    for (int k = 0; k < 4; ++k)
        b.regs.push_back(uint16_t((p.contactor_closed[k] ? 1 : 0) | ((p.contactor_state[k] & 3) << 1)));
    return b;
}

InputBlock encode_modules(const Plant& p)
{
    InputBlock b{2304, {}};
    int count = p.settings.module_count();
    for (int m = 0; m < p.layout.module_slots; ++m) {
        bool on = m < count;
        bool valid = on && p.module_state[m] != 9 && p.module_state[m] != 10;
        b.regs.push_back(valid && p.module_a[m] > 0 ? u16(p.bus_v * 100 + 5) : 0);
        b.regs.push_back(valid ? u16(p.module_a[m] * 100) : 0);
        b.regs.push_back(on ? p.module_state[m] : 0);
    }
    return b;
}

InputBlock encode_mains(const Plant& p)
{
    InputBlock b{p.layout.mains_addr, {}};
    for (int n = 0; n < 3; ++n) {
        bool on = n < p.settings.phase_count();
        b.regs.push_back(on ? u16(p.phase_v[n]) : 0);
        b.regs.push_back(on ? p.phase_state[n] : 0);
    }
    b.regs.push_back(p.lightning);
    return b;
}

InputBlock encode_temperatures(const Plant& p)
{
    InputBlock b{p.layout.temps_addr, {}};
    b.regs = {s16(p.t1 * 10), s16(p.t1b * 10), p.t1_state, s16(p.t2 * 10), p.t2_state};
    return b;
}

InputBlock encode_dry_contacts(const Plant& p)
{
    InputBlock b{p.layout.dry_addr, {}};
    for (int n = 0; n < 16; ++n)
        b.regs.push_back(n < p.settings.dry_count() ? p.dry[n] : 0);
    return b;
}

InputBlock encode_extension_units(const Plant& p)
{
    return InputBlock{p.layout.ext_addr, {p.upkb_missing, p.ukdv_missing}};
}

int read_input_registers(const Plant& p, int start, int count, std::vector<uint16_t>& out)
{
    // Find the block by address first, so only that one is encoded.
    InputBlock b;
    const Layout& l = p.layout;
    if (start < 256)
        b = encode_identification(p);
    else if (start < 512)
        b = encode_events(p);
    else if (start < 768)
        b = encode_load(p);
    else if (start < 1024)
        b = encode_battery(p);
    else if (start < 2048)
        b = encode_battery_blocks(p, (start - 1024) / 128);
    else if (start < 2304)
        b = encode_contactors(p);
    else if (start < l.mains_addr)
        b = encode_modules(p);
    else if (start < l.temps_addr)
        b = encode_mains(p);
    else if (start < l.dry_addr)
        b = encode_temperatures(p);
    else if (start < l.ext_addr)
        b = encode_dry_contacts(p);
    else
        b = encode_extension_units(p);
    int first = start - b.start;
    if (first < 0 || first + count > int(b.regs.size()))
        return 2;
    out.assign(b.regs.begin() + first, b.regs.begin() + first + count);
    return 0;
}

}  // namespace sim
