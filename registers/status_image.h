// The Controller's live state: every status block in host order, with a
// buffer per layout for the two blocks whose length depends on the layout
// (block 256 and the rectifier list). Written only by the poll thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "registers/event_bits.h"
#include "registers/settings_image.h"

constexpr int kBatteryGroupsRead = 8;
constexpr int kBlocksPerGroup = 30;
constexpr int kLoadBreakers = 52;

// Registers of block 256: 26 (layout 1) or 34.
constexpr int events_block_registers(int layout) { return layout <= 1 ? 26 : 34; }
// Rectifier records: 60, 190 or 180 of 3 registers.
constexpr int rectifier_records(int layout) { return layout <= 1 ? 60 : layout == 2 ? 190 : 180; }
constexpr int rectifier_registers(int layout) { return 3 * rectifier_records(layout); }

// Start addresses of the blocks whose place moves by 512 from layout 1.
constexpr uint16_t mains_block_address(int layout) { return layout <= 1 ? 2560 : 3072; }
constexpr uint16_t temperature_block_address(int layout) { return layout <= 1 ? 2816 : 3328; }
constexpr uint16_t dry_contact_block_address(int layout) { return layout <= 1 ? 3072 : 3584; }
constexpr uint16_t extension_block_address(int layout) { return layout <= 1 ? 3328 : 3840; }

namespace status_address {
constexpr uint16_t kIdentification = 0;
constexpr uint16_t kEvents = 256;
constexpr uint16_t kLoad = 512;
constexpr uint16_t kBattery = 768;
constexpr uint16_t kBatteryBlocks = 1024; // + 128 * group
constexpr uint16_t kContactors = 2048;
constexpr uint16_t kRectifiers = 2304;
} // namespace status_address

namespace status_size {
constexpr int kIdentification = 15;
constexpr int kLoad = 56;
constexpr int kBattery = 35;
constexpr int kBatteryBlocks = 90;
constexpr int kContactors = 4;
constexpr int kMains = 7;
constexpr int kTemperatures = 5;
constexpr int kDryContacts = 16;
constexpr int kExtensions = 2;
} // namespace status_size

struct StatusImage {
    std::array<uint16_t, status_size::kIdentification> identification{};
    std::array<uint16_t, 34> events[3]{};          // layout 1 uses the first 26
    std::array<uint16_t, status_size::kLoad> load{};
    std::array<uint16_t, status_size::kBattery> battery{};
    std::array<uint16_t, status_size::kBatteryBlocks> battery_blocks[kBatteryGroupsRead]{};
    std::array<uint16_t, status_size::kContactors> contactors{};
    std::array<uint16_t, 570> rectifiers[3]{};     // 180, 570, 540 registers used
    std::array<uint16_t, status_size::kMains> mains{};
    std::array<uint16_t, status_size::kTemperatures> temperatures{};
    std::array<uint16_t, status_size::kDryContacts> dry_contacts{};
    std::array<uint16_t, status_size::kExtensions> extensions{};
};

// The copy taken at the end of the last complete cycle; same shape.
using PreviousStatusImage = StatusImage;

// In-place conversion of a block right after its request succeeded.
void convert_identification(StatusImage& s);
void convert_events(StatusImage& s, int buffer_layout);
void convert_load(StatusImage& s);
void convert_battery(StatusImage& s);
void convert_battery_blocks(StatusImage& s, int group);
void convert_contactors(StatusImage& s);
void convert_rectifiers(StatusImage& s, int layout);
void convert_mains(StatusImage& s);
void convert_temperatures(StatusImage& s);
void convert_dry_contacts(StatusImage& s);
void convert_extensions(StatusImage& s);

// Identification.
inline uint16_t device_code(const StatusImage& s) { return s.identification[0]; }
inline uint16_t protocol_version(const StatusImage& s) { return s.identification[1]; }
inline uint16_t software_version(const StatusImage& s) { return s.identification[2]; }
uint32_t serial_number(const StatusImage& s);
uint32_t device_time(const StatusImage& s);
inline uint16_t journal_start_record(const StatusImage& s) { return s.identification[8]; }
inline uint16_t newest_test_slot(const StatusImage& s) { return s.identification[10]; }
inline uint16_t newest_discharge_slot(const StatusImage& s) { return s.identification[12]; }
inline int status_layout(const StatusImage& s) { return layout_for_version(protocol_version(s)); }

// Block 256 of the given buffer.
inline uint16_t alarm1_count(const StatusImage& s, int buffer_layout) { return s.events[buffer_layout - 1][0]; }
inline uint16_t alarm2_count(const StatusImage& s, int buffer_layout) { return s.events[buffer_layout - 1][1]; }
std::span<const uint8_t> event_bits(const StatusImage& s, int buffer_layout);
// The whole block (header words included) as bytes: what the event lists compare.
std::span<const uint8_t> events_block_bytes(const StatusImage& s, int buffer_layout);

// Load.
inline uint16_t load_voltage(const StatusImage& s) { return s.load[0]; }
uint32_t load_current(const StatusImage& s);
inline uint16_t load_state(const StatusImage& s) { return s.load[3]; }
// Breaker QH1..QH52; 3 (error) outside that range.
uint16_t breaker_state(const StatusImage& s, int breaker);

// Battery. Groups 0..7.
int32_t battery_current(const StatusImage& s);
inline uint16_t battery_mode(const StatusImage& s) { return s.battery[2]; }
uint16_t group_voltage(const StatusImage& s, int group);
int32_t group_current(const StatusImage& s, int group);
uint16_t group_status(const StatusImage& s, int group);
inline int group_connection_state(uint16_t status) { return status & 3; }
inline int group_breaker_state(uint16_t status) { return (status >> 2) & 3; }

// Battery blocks: group 0..7, block 0..29.
uint16_t block_voltage(const StatusImage& s, int group, int block);
int16_t block_temperature(const StatusImage& s, int group, int block);
uint16_t block_state(const StatusImage& s, int group, int block);

// Contactors 0..3: bit 0 closed, bits 1-2 state.
inline bool contactor_closed(const StatusImage& s, int n) { return s.contactors[n] & 1; }
inline int contactor_state(const StatusImage& s, int n) { return (s.contactors[n] >> 1) & 3; }

// Rectifier module m (0-based) of the layout's buffer.
uint16_t rectifier_voltage(const StatusImage& s, int layout, int module);
uint16_t rectifier_current(const StatusImage& s, int layout, int module);
uint16_t rectifier_state(const StatusImage& s, int layout, int module);

// Mains phases 1..3.
inline uint16_t phase_voltage(const StatusImage& s, int phase) { return s.mains[2 * (phase - 1)]; }
inline uint16_t phase_state(const StatusImage& s, int phase) { return s.mains[2 * (phase - 1) + 1]; }
inline uint16_t lightning_state(const StatusImage& s) { return s.mains[6]; }

// Temperatures.
inline int16_t sensor1_temperature(const StatusImage& s) { return static_cast<int16_t>(s.temperatures[0]); }
inline int16_t sensor1_second_value(const StatusImage& s) { return static_cast<int16_t>(s.temperatures[1]); }
inline uint16_t sensor1_state(const StatusImage& s) { return s.temperatures[2]; }
inline int16_t sensor2_temperature(const StatusImage& s) { return static_cast<int16_t>(s.temperatures[3]); }
inline uint16_t sensor2_state(const StatusImage& s) { return s.temperatures[4]; }

// Dry contacts 0..15; extension units.
inline uint16_t dry_contact_state(const StatusImage& s, int n) { return s.dry_contacts[n]; }
inline bool upkb_missing(const StatusImage& s, int address) { return (s.extensions[0] >> address) & 1; }
inline bool ukdv_missing(const StatusImage& s, int address) { return (s.extensions[1] >> address) & 1; }
