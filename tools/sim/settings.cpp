#include "settings.h"

#include "cp1251.h"

#include <algorithm>

namespace sim {

uint32_t Settings::u32(int w) const { return (uint32_t(word(w)) << 16) | word(w + 1); }

void Settings::set_u32(int w, uint32_t v)
{
    set_word(w, uint16_t(v >> 16));
    set_word(w + 1, uint16_t(v & 0xFFFF));
}

std::string Settings::bytes(int w, int length) const
{
    std::string out;
    int first = settings_word(layout, w);
    for (int i = 0; i < length; ++i) {
        uint16_t r = regs[first + i / 2];
        out.push_back(char(i % 2 == 0 ? r >> 8 : r & 0xFF));
    }
    return out;
}

void Settings::set_bytes(int w, const std::string& value, int length)
{
    int first = settings_word(layout, w);
    for (int i = 0; i < length; ++i) {
        uint8_t b = i < int(value.size()) ? uint8_t(value[i]) : 0;
        uint16_t& r = regs[first + i / 2];
        if (i % 2 == 0)
            r = uint16_t((r & 0x00FF) | (b << 8));
        else
            r = uint16_t((r & 0xFF00) | b);
    }
}

void Settings::set_name(int w, int n, const std::string& utf8)
{
    // Names are 10 bytes = 5 words each.
    set_bytes(w + 5 * (n - 1), to_cp1251(utf8), 10);
}

int Settings::breaker_count() const { return std::min<int>(word(sw::breaker_count), 52); }
int Settings::group_count() const { return std::min<int>(word(sw::group_count), 8); }
int Settings::contactor_count() const { return std::min<int>(word(sw::contactor_count), 4); }
int Settings::module_count() const { return std::min<int>(word(sw::module_count), layout.module_slots); }
int Settings::phase_count() const { return std::min<int>(word(sw::phase_count), 3); }
int Settings::dry_count() const { return std::min<int>(word(sw::dry_count), 16); }

int Settings::blocks_per_group() const
{
    static const int elements[] = {1, 3, 6};
    int e = word(sw::elements_index);
    if (e > 2)
        return 0;
    return std::min(word(sw::cells) / elements[e], 30);
}

static void select(Settings& s, int mask, int first, int last)
{
    for (int c = first; c <= last; ++c)
        set_event_bit(s.mask(mask), s.layout, c, true);
}

Settings default_settings(const Layout& layout, uint32_t serial)
{
    Settings s;
    s.layout = layout;
    s.regs.assign(layout.settings_words, 0);
    const Layout& l = layout;

    s.regs[0] = uint16_t(layout.settings_words);  // header, not interpreted
    s.set_u32(sw::serial, serial);
    s.set_bytes(sw::password, "0000", 4);
    s.set_word(sw::time_zone, 12);  // +3 h
    s.set_word(sw::time_flags, 0);
    s.set_bytes(sw::comment, to_cp1251("ЭПУ-1"), 10);
    s.set_word(sw::relay_count, 4);

    // Alarm level 1: controller, breakers, mains. Level 2: battery.
    // Relays: 1 rectifiers, 2 temperatures and dry contacts, 3 contactors, 4 load bus.
    select(s, 1, 0, 0);
    select(s, 1, 35, 87);
    select(s, 1, l.code_phase_base + 1, l.code_lightning);
    select(s, 2, 96, 97);
    select(s, 2, 103, 119);
    if (l.number == 2) {
        select(s, 3, 160, 350);
    } else {
        select(s, 3, l.code_module_base + 1, l.code_no_reserve);
    }
    select(s, 4, l.code_t2_low, l.code_temp_sensor);
    select(s, 4, l.code_dry_base + 1, l.code_dry_base + 16);
    select(s, 5, 128, 135);
    select(s, 6, 32, 33);

    s.set_word(sw::alarm_signal, 1);
    s.set_name(sw::relay_names, 1, "Авария");
    s.set_name(sw::relay_names, 2, "Сеть");
    s.set_name(sw::relay_names, 3, "АБ");
    s.set_name(sw::relay_names, 4, "ВУВ");

    s.set_word(sw::load_shunt, 12);  // 200 A
    s.set_word(sw::breaker_count, 12);
    s.set_word(sw::load_flags, 1);
    s.set_name(sw::breaker_names, 1, "Связь");
    s.set_name(sw::breaker_names, 2, "Освещение");
    s.set_name(sw::breaker_names, 3, "Сервер");
    s.set_name(sw::breaker_names, 5, "АТС");
    s.set_name(sw::breaker_names, 7, "Вентиляция");  // all 10 bytes used
    s.set_name(sw::breaker_names, 8, "Охрана");

    s.set_word(sw::group_count, 2);
    s.set_word(sw::cells, 24);
    s.set_word(sw::battery_shunt, 10);  // 100 A
    s.set_word(sw::capacity, 200);
    s.set_word(sw::charge_current, 20);  // 0.20, inside the stored range 10..100
    s.set_word(sw::float_voltage, 535);
    s.set_word(sw::fast_voltage, 560);
    s.set_word(sw::equalise_voltage, 565);
    s.set_word(sw::test_voltage, 460);
    s.set_word(sw::low_voltage, 440);
    s.set_word(sw::thermo_coef, 30);
    s.set_word(sw::elements_index, 2);  // 6 elements per block: 4 blocks
    s.set_word(sw::block_monitor + 0, 1 * 8 + 0);
    s.set_word(sw::block_monitor + 1, 1 * 8 + 1);
    s.set_word(sw::block_high, 1440);
    s.set_word(sw::block_low, 1080);
    s.set_word(sw::battery_flags, 0x16);  // fast charge, thermal compensation, block control

    s.set_word(sw::contactor_count, 2);
    s.set_word(sw::contactor_voltage + 0, 440);
    s.set_word(sw::contactor_voltage + 1, 430);
    s.set_word(sw::qb_contactor + 0, 2);
    s.set_word(sw::qb_contactor + 1, 2);
    s.set_word(sw::qh_contactor + 5, 1);
    s.set_word(sw::qh_contactor + 6, 1);
    s.set_name(sw::contactor_names, 1, "Нагрузка");
    s.set_name(sw::contactor_names, 2, "Батарея");

    s.set_word(sw::module_count, 6);
    s.set_word(sw::module_reserve, 1);
    s.set_word(sw::module_type, 0x8000 | 2);
    if (l.number == 3)
        s.regs[energy_saving_word_l3] = 0;
    s.set_word(sw::phase_count, 3);
    s.set_word(sw::mains_low, 180);
    s.set_word(sw::mains_high, 260);
    s.set_word(sw::mains_flags, 0x05);  // measurement + lightning protection
    s.set_word(sw::temp_count, 2);
    s.set_word(sw::t2_min, 50);
    s.set_word(sw::t2_max, 400);
    s.set_word(sw::t2_hyst, 20);
    s.set_word(sw::dry_count, 4);
    s.set_word(sw::dry_type, 0x0002);
    s.set_name(sw::dry_names, 1, "Дверь");
    s.set_name(sw::dry_names, 2, "Пожар");
    s.set_name(sw::dry_names, 3, "Затопление");
    s.set_name(sw::dry_names, 4, "Охрана");

    s.set_bytes(sw::monitoring_password, "123456", 6);
    s.set_word(sw::monitoring_mode, 0);
    s.set_word(sw::rs485_address, 1);
    s.set_word(sw::init_period, 5);
    s.set_bytes(sw::service_centre, "79168999100", 14);
    s.set_bytes(sw::phones, "84951234567", 14);
    s.set_bytes(sw::sms, "79161234567", 14);
    s.set_bytes(sw::mac, std::string("\x00\x1A\x2B\x3C\x4D\x5E", 6), 6);
    s.set_bytes(sw::ip, std::string("\xC0\xA8\x01\x64", 4), 4);
    s.set_bytes(sw::netmask, std::string("\xFF\xFF\xFF\x00", 4), 4);
    s.set_bytes(sw::router, std::string("\xC0\xA8\x01\x01", 4), 4);
    s.set_bytes(sw::snmp_public, "public", 10);
    s.set_bytes(sw::snmp_private, "private", 10);
    s.set_bytes(sw::traps, std::string("\xC0\xA8\x01\x0A", 4), 4);
    s.set_word(sw::last_flags, (1 << 1) | (1 << 7));
    return s;
}

std::string monitoring_password(const Settings& s) { return s.bytes(sw::monitoring_password, 6); }

}  // namespace sim
