#include "layout.h"

namespace sim {

Layout layout_for_version(int v)
{
    Layout l;
    l.number = v <= 399 ? 1 : (v >= 410 ? 3 : 2);
    if (l.number == 1) {
        l.settings_words = 702;
        l.event_bits = 320;
        l.events_regs = 26;
        l.module_slots = 60;
        l.mains_addr = 2560;
        l.temps_addr = 2816;
        l.dry_addr = 3072;
        l.ext_addr = 3328;
        l.mask_words = 20;
        l.code_module_base = 159;
        l.code_no_reserve = 220;
        l.code_phase_base = 223;
        l.code_mains_sensor = 227;
        l.code_lightning = 228;
        l.code_t2_low = 256;
        l.code_t2_high = 257;
        l.code_temp_sensor = 258;
        l.code_dry_base = 287;
        return l;
    }
    l.settings_words = l.number == 2 ? 750 : 751;
    l.event_bits = 448;
    l.events_regs = 34;
    l.module_slots = l.number == 2 ? 190 : 180;
    l.mains_addr = 3072;
    l.temps_addr = 3328;
    l.dry_addr = 3584;
    l.ext_addr = 3840;
    l.mask_words = 28;
    l.code_module_base = l.number == 2 ? 160 : 159;
    l.code_no_reserve = l.number == 2 ? 160 : 340;
    l.code_phase_base = 351;
    l.code_mains_sensor = 355;
    l.code_lightning = 356;
    l.code_t2_low = 384;
    l.code_t2_high = 385;
    l.code_temp_sensor = 386;
    l.code_dry_base = 415;
    return l;
}

std::vector<int> event_groups(const Layout& layout)
{
    if (layout.number == 1)
        return {32, 64, 32, 32, 64, 32, 32, 32};
    return {32, 64, 32, 32, 64, 64, 64, 32, 32, 32};
}

int settings_word(const Layout& layout, int w)
{
    if (layout.number == 1 || w < 135)
        return w;
    int l2 = w + 48;
    if (layout.number == 3 && l2 >= 579)
        return l2 + 1;
    return l2;
}

}  // namespace sim

namespace sim {

static bool locate(const Layout& layout, int code, int& reg, int& bit)
{
    if (code < 0 || code >= layout.event_bits)
        return false;
    int base = 0, first_reg = 0;
    for (int width : event_groups(layout)) {
        if (code < base + width) {
            int j = code - base;
            reg = first_reg + (width / 16 - 1 - j / 16);
            bit = j % 16;
            return true;
        }
        base += width;
        first_reg += width / 16;
    }
    return false;
}

bool event_bit(const uint16_t* regs, const Layout& layout, int code)
{
    int reg = 0, bit = 0;
    return locate(layout, code, reg, bit) && ((regs[reg] >> bit) & 1);
}

void set_event_bit(uint16_t* regs, const Layout& layout, int code, bool on)
{
    int reg = 0, bit = 0;
    if (!locate(layout, code, reg, bit))
        return;
    if (on)
        regs[reg] = uint16_t(regs[reg] | (1u << bit));
    else
        regs[reg] = uint16_t(regs[reg] & ~(1u << bit));
}

}  // namespace sim
