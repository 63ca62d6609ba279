#include "registers/status_image.h"

#include <algorithm>
#include <bit>
#include <cstring>

namespace {

void swap16(uint16_t* p, size_t count)
{
    if constexpr (std::endian::native == std::endian::little) {
        for (size_t i = 0; i < count; ++i)
            p[i] = static_cast<uint16_t>((p[i] >> 8) | (p[i] << 8));
    }
}

// Two registers as read (high word first, big-endian) -> host-order 32 bits.
void swap32(uint16_t* p)
{
    if constexpr (std::endian::native == std::endian::little) {
        auto* b = reinterpret_cast<uint8_t*>(p);
        std::reverse(b, b + 4);
    }
}

uint32_t read32(const uint16_t* p)
{
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

} // namespace

void convert_identification(StatusImage& s)
{
    uint16_t* r = s.identification.data();
    swap16(r, 3);
    swap32(r + 3);
    swap32(r + 5);
    swap16(r + 7, 8);
}

void convert_events(StatusImage& s, int buffer_layout)
{
    uint16_t* r = s.events[buffer_layout - 1].data();
    swap16(r, 6);
    event_bits_convert(reinterpret_cast<uint8_t*>(r + 6), buffer_layout);
}

void convert_load(StatusImage& s)
{
    uint16_t* r = s.load.data();
    swap16(r, 1);
    swap32(r + 1);
    swap16(r + 3, status_size::kLoad - 3);
}

void convert_battery(StatusImage& s)
{
    uint16_t* r = s.battery.data();
    swap32(r);
    swap16(r + 2, 1);
    for (int g = 0; g < kBatteryGroupsRead; ++g) {
        uint16_t* group = r + 3 + 4 * g;
        swap16(group, 1);
        swap32(group + 1);
        swap16(group + 3, 1);
    }
}

void convert_battery_blocks(StatusImage& s, int group)
{
    swap16(s.battery_blocks[group].data(), status_size::kBatteryBlocks);
}

void convert_contactors(StatusImage& s) { swap16(s.contactors.data(), s.contactors.size()); }

void convert_rectifiers(StatusImage& s, int layout)
{
    swap16(s.rectifiers[layout - 1].data(), static_cast<size_t>(rectifier_registers(layout)));
}

void convert_mains(StatusImage& s) { swap16(s.mains.data(), s.mains.size()); }
void convert_temperatures(StatusImage& s) { swap16(s.temperatures.data(), s.temperatures.size()); }
void convert_dry_contacts(StatusImage& s) { swap16(s.dry_contacts.data(), s.dry_contacts.size()); }
void convert_extensions(StatusImage& s) { swap16(s.extensions.data(), s.extensions.size()); }

uint32_t serial_number(const StatusImage& s) { return read32(&s.identification[3]); }
uint32_t device_time(const StatusImage& s) { return read32(&s.identification[5]); }

std::span<const uint8_t> event_bits(const StatusImage& s, int buffer_layout)
{
    return {reinterpret_cast<const uint8_t*>(s.events[buffer_layout - 1].data() + 6), event_bits_bytes(buffer_layout)};
}

std::span<const uint8_t> events_block_bytes(const StatusImage& s, int buffer_layout)
{
    return {reinterpret_cast<const uint8_t*>(s.events[buffer_layout - 1].data()),
            2 * static_cast<size_t>(events_block_registers(buffer_layout))};
}

uint32_t load_current(const StatusImage& s) { return read32(&s.load[1]); }

uint16_t breaker_state(const StatusImage& s, int breaker)
{
    if (breaker < 1 || breaker > kLoadBreakers)
        return 3;
    return s.load[3 + breaker];
}

int32_t battery_current(const StatusImage& s) { return static_cast<int32_t>(read32(&s.battery[0])); }

uint16_t group_voltage(const StatusImage& s, int group) { return s.battery[3 + 4 * group]; }
int32_t group_current(const StatusImage& s, int group)
{
    return static_cast<int32_t>(read32(&s.battery[4 + 4 * group]));
}
uint16_t group_status(const StatusImage& s, int group) { return s.battery[6 + 4 * group]; }

uint16_t block_voltage(const StatusImage& s, int group, int block) { return s.battery_blocks[group][3 * block]; }
int16_t block_temperature(const StatusImage& s, int group, int block)
{
    return static_cast<int16_t>(s.battery_blocks[group][3 * block + 1]);
}
uint16_t block_state(const StatusImage& s, int group, int block) { return s.battery_blocks[group][3 * block + 2]; }

uint16_t rectifier_voltage(const StatusImage& s, int layout, int module)
{
    return s.rectifiers[layout - 1][3 * module];
}
uint16_t rectifier_current(const StatusImage& s, int layout, int module)
{
    return s.rectifiers[layout - 1][3 * module + 1];
}
uint16_t rectifier_state(const StatusImage& s, int layout, int module)
{
    return s.rectifiers[layout - 1][3 * module + 2];
}
