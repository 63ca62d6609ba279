#include "layout.h"

namespace sim {

namespace {

// One row a layout; layouts 2 and 3 differ only in the settings length, the
// rectifier records and the module event codes.
constexpr Layout kLayouts[3] = {
    {.number = 1, .settings_words = 702, .event_bits = 320, .events_regs = 26, .module_slots = 60,
     .mains_addr = 2560, .temps_addr = 2816, .dry_addr = 3072, .ext_addr = 3328, .mask_words = 20,
     .code_module_base = 159, .code_no_reserve = 220, .code_phase_base = 223, .code_mains_sensor = 227,
     .code_lightning = 228, .code_t2_low = 256, .code_t2_high = 257, .code_temp_sensor = 258,
     .code_dry_base = 287},
    {.number = 2, .settings_words = 750, .event_bits = 448, .events_regs = 34, .module_slots = 190,
     .mains_addr = 3072, .temps_addr = 3328, .dry_addr = 3584, .ext_addr = 3840, .mask_words = 28,
     .code_module_base = 160, .code_no_reserve = 160, .code_phase_base = 351, .code_mains_sensor = 355,
     .code_lightning = 356, .code_t2_low = 384, .code_t2_high = 385, .code_temp_sensor = 386,
     .code_dry_base = 415},
    {.number = 3, .settings_words = 751, .event_bits = 448, .events_regs = 34, .module_slots = 180,
     .mains_addr = 3072, .temps_addr = 3328, .dry_addr = 3584, .ext_addr = 3840, .mask_words = 28,
     .code_module_base = 159, .code_no_reserve = 340, .code_phase_base = 351, .code_mains_sensor = 355,
     .code_lightning = 356, .code_t2_low = 384, .code_t2_high = 385, .code_temp_sensor = 386,
     .code_dry_base = 415},
};

}  // namespace

Layout layout_for_version(int v)
{
    return kLayouts[v <= 399 ? 0 : (v >= 410 ? 2 : 1)];
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
