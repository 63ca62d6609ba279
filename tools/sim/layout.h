// Where things live in each of the Controller's three register layouts.
// Layout 1: protocol versions up to 399; layout 2: 400-409; layout 3: 410 on.
#pragma once
#include <cstdint>
#include <vector>

namespace sim {

struct Layout {
    int number = 3;          // 1, 2 or 3
    int settings_words = 0;  // 702 / 750 / 751
    int event_bits = 0;      // 320 / 448
    int events_regs = 0;     // block 256: 26 / 34
    int module_slots = 0;    // rectifier records: 60 / 190 / 180
    uint16_t mains_addr = 0, temps_addr = 0, dry_addr = 0, ext_addr = 0;
    int mask_words = 0;      // one event mask: 20 / 28 words
    // Event codes that move between layouts.
    int code_module_base = 0;   // module n has code base + n
    int code_no_reserve = 0;
    int code_phase_base = 0;    // phase n has code base + n (n = 1..3)
    int code_mains_sensor = 0, code_lightning = 0;
    int code_t2_low = 0, code_t2_high = 0, code_temp_sensor = 0;
    int code_dry_base = 0;      // dry contact n has code base + n
};

Layout layout_for_version(int protocol_version);

// Bit widths of the groups in which event bits (and the event masks) travel,
// first register most significant within each group.
std::vector<int> event_groups(const Layout& layout);

// Settings word of a field, given its layout-1 word number. Layout 2 moves
// everything from word 135 up by 48 (longer event masks); layout 3 moves
// everything from layout-2 word 579 up by one more (the energy-saving word).
int settings_word(const Layout& layout, int layout1_word);

// Layout-1 word numbers of the settings fields the simulator uses.
namespace sw {
constexpr int serial = 3, password = 5, time_zone = 7, time_flags = 8, comment = 9, relay_count = 14,
              masks = 15, alarm_signal = 135, relay_names = 136, load_shunt = 156, breaker_count = 157,
              load_flags = 158, breaker_names = 159, group_count = 419, cells = 420, battery_shunt = 421,
              capacity = 422, charge_current = 423, float_voltage = 424, fast_voltage = 425,
              equalise_voltage = 426, test_voltage = 427, low_voltage = 428, thermo_coef = 429,
              elements_index = 430, block_monitor = 431, block_high = 439, block_low = 440,
              battery_flags = 441, contactor_count = 442, contactor_voltage = 443, contactor_param = 447,
              qb_contactor = 448, qh_contactor = 456, contactor_names = 508, module_count = 528,
              module_reserve = 529, module_type = 530, phase_count = 531, mains_low = 532, mains_high = 533,
              mains_flags = 534, temp_count = 535, t2_min = 536, t2_max = 537, t2_hyst = 538, dry_count = 539,
              dry_type = 540, dry_names = 541, monitoring_password = 621, monitoring_mode = 624,
              rs485_address = 625, init_period = 626, service_centre = 627, phones = 634, sms = 655, mac = 676,
              ip = 679, netmask = 681, router = 683, snmp_public = 685, snmp_private = 690, traps = 695,
              last_flags = 701;
}

// The energy-saving flags word exists in layout 3 only.
constexpr int energy_saving_word_l3 = 579;

}  // namespace sim

namespace sim {
// Event bit `code` inside a field laid out in event groups (the active events
// of block 256, or one event mask of the settings). `regs` is the field's
// first register; false / no change when the code is outside the layout.
bool event_bit(const uint16_t* regs, const Layout& layout, int code);
void set_event_bit(uint16_t* regs, const Layout& layout, int code, bool on);
}
