// The Controller's settings block in host order, for the three register
// layouts. Every field the program interprets is reached through one table of
// word numbers per layout, so no reader repeats the layout arithmetic.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "registers/event_bits.h"

// Register layout by protocol version: the two comparisons every reader uses.
constexpr int layout_for_version(int version) { return version <= 399 ? 1 : version >= 410 ? 3 : 2; }
// The energy saving mode (its setting, its event, its marks in the window)
// exists on layout-3 Controllers only.
constexpr bool layout_has_energy_saving(int layout) { return layout == 3; }
// Versions above this are refused by the poll cycle.
constexpr int kMaxProtocolVersion = 410;

constexpr int kSettingsWordsMax = 751;
// Registers read from holding register 0: 702, 750 or 751.
constexpr int settings_word_count(int layout) { return layout <= 1 ? 702 : layout == 2 ? 750 : 751; }
// Holding register that receives image word 3 on write.
constexpr uint16_t kSettingsWriteBase = 0x3000;

enum class FieldKind : uint8_t {
    Word,      // u16, s16, flags and word arrays: byte-swapped
    Dword,     // u32 as one big-endian value, high word first
    Text,      // DeviceString fields: left as bytes
    Bytes,     // octets (MAC, IP) and header words 1-2: left as bytes
    EventMask, // six masks of 320 or 448 bits, converted group by group
};

enum class SettingsField : uint8_t {
    Header0,
    Header12,
    SerialNumber,
    Password,
    Timezone,
    SummerTime,
    Comment,
    RelayCount,
    EventMasks,
    AlarmSignal,
    RelayNames,
    LoadShuntType,
    LoadBreakerCount,
    LoadShuntFlags,
    LoadBreakerNames,
    BatteryGroupCount,
    CellsPerGroup,
    BatteryShuntType,
    BatteryCapacity,
    ChargeCurrent,
    FloatVoltage,
    FastChargeVoltage,
    EqChargeVoltage,
    TestVoltage,
    LowBatteryVoltage,
    TermocompensationK,
    ElementsPerBlock,
    BlockMonitorAddress,
    BlockHighVoltage,
    BlockLowVoltage,
    BatteryFlags,
    ContactorCount,
    ContactorVoltage,
    ContactorBySK,
    BatteryBreakerContactor,
    LoadBreakerContactor,
    ContactorNames,
    RectifierCount,
    RectifierReserve,
    RectifierType,
    EnergySaving,
    MainsPhaseCount,
    MainsLow,
    MainsHigh,
    MainsFlags,
    TempSensorCount,
    T2Min,
    T2Max,
    T2Hyst,
    DryContactCount,
    DryContactTypes,
    DryContactNames,
    MonitoringPassword,
    MonitoringMode,
    MonitoringRS485,
    MonitoringInitPeriod,
    ServiceCentre,
    Phones,
    SmsNumbers,
    Mac,
    Ip,
    NetMask,
    Router,
    TrapPublic,
    TrapPrivate,
    TrapIps,
    MonitoringFlags,
    Count_
};

struct SettingsFieldInfo {
    SettingsField field;
    std::array<int16_t, 3> word; // first word in layouts 1, 2, 3; -1 when absent
    FieldKind kind;
    uint8_t items;      // elements in the field (names, word arrays, masks)
    uint8_t item_bytes; // bytes per element; event masks: see settings_item_bytes
};

// The table, indexed by SettingsField.
std::span<const SettingsFieldInfo> settings_fields();
const SettingsFieldInfo& settings_field_info(SettingsField field);

// First word of the field in the layout, -1 when the layout has none.
int settings_word(SettingsField field, int layout);

// Cells in one monitored battery block for the elements-per-block index:
// 1, 3 or 6. An index the Controller does not define counts as 6, so the
// blocks a Controller measures are shown and exported alike, never dropped.
constexpr int cells_per_block(unsigned index) { return index == 0 ? 1 : index == 1 ? 3 : 6; }
size_t settings_item_bytes(SettingsField field, int layout);

// Flag bits of the words above.
namespace settings_bits {
constexpr uint16_t kSummerTime = 1 << 0;
constexpr uint16_t kAlarmSignal = 1 << 0;
constexpr uint16_t kLoadShuntPresent = 1 << 0;
constexpr uint16_t kShuntToEachBattery = 1 << 0;
constexpr uint16_t kFastCharge = 1 << 1;
constexpr uint16_t kTermocompensation = 1 << 2;
constexpr uint16_t kBatteryAutomatsByDC = 1 << 3;
constexpr uint16_t kBlockControl = 1 << 4;
constexpr uint16_t kEnergySaving = 1 << 0;
constexpr uint16_t kMainsMeasurement = 1 << 0;
constexpr uint16_t kLightLogicOff = 1 << 1;
constexpr uint16_t kLighting = 1 << 2;
constexpr uint16_t kRectifierModelRow = 1 << 15;
} // namespace settings_bits

struct SettingsImage {
    int layout = 1;
    // Image words as bytes: words of kind Word/Dword in host order after
    // settings_from_registers, everything else as the Controller sent it.
    std::array<uint8_t, kSettingsWordsMax * 2> bytes{};

    size_t word_count() const { return static_cast<size_t>(settings_word_count(layout)); }
    uint8_t* data() { return bytes.data(); }
    const uint8_t* data() const { return bytes.data(); }
};

// Byte-order conversion of the first settings_word_count(layout) words, in
// place; each step is its own inverse, so one routine serves both directions.
void settings_convert(int layout, uint8_t* words);
inline void settings_from_registers(int layout, uint8_t* words) { settings_convert(layout, words); }
inline void settings_to_registers(int layout, uint8_t* words) { settings_convert(layout, words); }

// Typed access by field; `item` selects an element of an array field. Fields
// absent in the image's layout read as 0 and ignore writes.
uint16_t settings_u16(const SettingsImage& image, SettingsField field, int item = 0);
int16_t settings_s16(const SettingsImage& image, SettingsField field, int item = 0);
uint32_t settings_u32(const SettingsImage& image, SettingsField field);
void settings_set_u16(SettingsImage& image, SettingsField field, uint16_t value, int item = 0);
void settings_set_u32(SettingsImage& image, SettingsField field, uint32_t value);
// Bytes of one element (a name, a mask, an address); empty when absent.
std::span<const uint8_t> settings_item(const SettingsImage& image, SettingsField field, int item = 0);
std::span<uint8_t> settings_item(SettingsImage& image, SettingsField field, int item = 0);
// Event mask k = 1..6 in host form: 40 or 56 bytes.
std::span<const uint8_t> settings_event_mask(const SettingsImage& image, int k);

// DeviceString: WINDOWS-1251 up to the first NUL or the end of the field,
// control characters made blanks (printable_text). Empty when the field is
// empty or does not convert (the caller shows its unnamed text then).
std::string device_string_to_utf8(std::span<const uint8_t> field);
// The same text put in double quotes, as the lists show item names (at most
// 150 bytes in all); empty when the field is empty or does not convert.
std::string quoted_device_string(std::span<const uint8_t> field);
// Converts `utf8` into the field, padding with NUL bytes. Returns 0; -1 when
// the text has characters outside WINDOWS-1251, -2 when it is longer than the
// field. The field is left unchanged on failure.
int device_string_from_utf8(std::span<uint8_t> field, const char* utf8);

// Text of a named element of the device copy (relay, breaker, contactor, dry
// contact names): settings_item + device_string_to_utf8.
std::string settings_name(const SettingsImage& image, SettingsField field, int item);
