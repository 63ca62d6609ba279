#include "registers/settings_image.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstring>

#include <glib.h>

#include "base/text_format.h"
#include "registers/event_bits.h"

namespace {

using F = SettingsField;
using K = FieldKind;

// Word numbers per layout. Layout 2 lengthens every event mask by 8 words,
// layout 3 inserts the energy-saving word at 579; the unit tests hold this
// table against those two rules.
constexpr SettingsFieldInfo kFields[] = {
    {F::Header0, {0, 0, 0}, K::Word, 1, 2},
    {F::Header12, {1, 1, 1}, K::Bytes, 1, 4},
    {F::SerialNumber, {3, 3, 3}, K::Dword, 1, 4},
    {F::Password, {5, 5, 5}, K::Text, 1, 4},
    {F::Timezone, {7, 7, 7}, K::Word, 1, 2},
    {F::SummerTime, {8, 8, 8}, K::Word, 1, 2},
    {F::Comment, {9, 9, 9}, K::Text, 1, 10},
    {F::RelayCount, {14, 14, 14}, K::Word, 1, 2},
    {F::EventMasks, {15, 15, 15}, K::EventMask, 6, 0},
    {F::AlarmSignal, {135, 183, 183}, K::Word, 1, 2},
    {F::RelayNames, {136, 184, 184}, K::Text, 4, 10},
    {F::LoadShuntType, {156, 204, 204}, K::Word, 1, 2},
    {F::LoadBreakerCount, {157, 205, 205}, K::Word, 1, 2},
    {F::LoadShuntFlags, {158, 206, 206}, K::Word, 1, 2},
    {F::LoadBreakerNames, {159, 207, 207}, K::Text, 52, 10},
    {F::BatteryGroupCount, {419, 467, 467}, K::Word, 1, 2},
    {F::CellsPerGroup, {420, 468, 468}, K::Word, 1, 2},
    {F::BatteryShuntType, {421, 469, 469}, K::Word, 1, 2},
    {F::BatteryCapacity, {422, 470, 470}, K::Word, 1, 2},
    {F::ChargeCurrent, {423, 471, 471}, K::Word, 1, 2},
    {F::FloatVoltage, {424, 472, 472}, K::Word, 1, 2},
    {F::FastChargeVoltage, {425, 473, 473}, K::Word, 1, 2},
    {F::EqChargeVoltage, {426, 474, 474}, K::Word, 1, 2},
    {F::TestVoltage, {427, 475, 475}, K::Word, 1, 2},
    {F::LowBatteryVoltage, {428, 476, 476}, K::Word, 1, 2},
    {F::TermocompensationK, {429, 477, 477}, K::Word, 1, 2},
    {F::ElementsPerBlock, {430, 478, 478}, K::Word, 1, 2},
    {F::BlockMonitorAddress, {431, 479, 479}, K::Word, 8, 2},
    {F::BlockHighVoltage, {439, 487, 487}, K::Word, 1, 2},
    {F::BlockLowVoltage, {440, 488, 488}, K::Word, 1, 2},
    {F::BatteryFlags, {441, 489, 489}, K::Word, 1, 2},
    {F::ContactorCount, {442, 490, 490}, K::Word, 1, 2},
    {F::ContactorVoltage, {443, 491, 491}, K::Word, 4, 2},
    {F::ContactorBySK, {447, 495, 495}, K::Word, 1, 2},
    {F::BatteryBreakerContactor, {448, 496, 496}, K::Word, 8, 2},
    {F::LoadBreakerContactor, {456, 504, 504}, K::Word, 52, 2},
    {F::ContactorNames, {508, 556, 556}, K::Text, 4, 10},
    {F::RectifierCount, {528, 576, 576}, K::Word, 1, 2},
    {F::RectifierReserve, {529, 577, 577}, K::Word, 1, 2},
    {F::RectifierType, {530, 578, 578}, K::Word, 1, 2},
    {F::EnergySaving, {-1, -1, 579}, K::Word, 1, 2},
    {F::MainsPhaseCount, {531, 579, 580}, K::Word, 1, 2},
    {F::MainsLow, {532, 580, 581}, K::Word, 1, 2},
    {F::MainsHigh, {533, 581, 582}, K::Word, 1, 2},
    {F::MainsFlags, {534, 582, 583}, K::Word, 1, 2},
    {F::TempSensorCount, {535, 583, 584}, K::Word, 1, 2},
    {F::T2Min, {536, 584, 585}, K::Word, 1, 2},
    {F::T2Max, {537, 585, 586}, K::Word, 1, 2},
    {F::T2Hyst, {538, 586, 587}, K::Word, 1, 2},
    {F::DryContactCount, {539, 587, 588}, K::Word, 1, 2},
    {F::DryContactTypes, {540, 588, 589}, K::Word, 1, 2},
    {F::DryContactNames, {541, 589, 590}, K::Text, 16, 10},
    {F::MonitoringPassword, {621, 669, 670}, K::Text, 1, 6},
    {F::MonitoringMode, {624, 672, 673}, K::Word, 1, 2},
    {F::MonitoringRS485, {625, 673, 674}, K::Word, 1, 2},
    {F::MonitoringInitPeriod, {626, 674, 675}, K::Word, 1, 2},
    {F::ServiceCentre, {627, 675, 676}, K::Text, 1, 14},
    {F::Phones, {634, 682, 683}, K::Text, 3, 14},
    {F::SmsNumbers, {655, 703, 704}, K::Text, 3, 14},
    {F::Mac, {676, 724, 725}, K::Bytes, 1, 6},
    {F::Ip, {679, 727, 728}, K::Bytes, 1, 4},
    {F::NetMask, {681, 729, 730}, K::Bytes, 1, 4},
    {F::Router, {683, 731, 732}, K::Bytes, 1, 4},
    {F::TrapPublic, {685, 733, 734}, K::Text, 1, 10},
    {F::TrapPrivate, {690, 738, 739}, K::Text, 1, 10},
    {F::TrapIps, {695, 743, 744}, K::Bytes, 3, 4},
    {F::MonitoringFlags, {701, 749, 750}, K::Word, 1, 2},
};
static_assert(std::size(kFields) == static_cast<size_t>(SettingsField::Count_));

constexpr bool table_in_field_order()
{
    for (size_t i = 0; i < std::size(kFields); ++i)
        if (static_cast<size_t>(kFields[i].field) != i)
            return false;
    return true;
}
static_assert(table_in_field_order());

void swap_words(uint8_t* p, size_t words)
{
    if constexpr (std::endian::native == std::endian::little) {
        for (size_t i = 0; i < words; ++i)
            std::swap(p[2 * i], p[2 * i + 1]);
    }
}

void swap_dword(uint8_t* p)
{
    if constexpr (std::endian::native == std::endian::little)
        std::reverse(p, p + 4);
}

size_t field_offset(const SettingsImage& image, SettingsField field, int item, size_t* size)
{
    const SettingsFieldInfo& info = settings_field_info(field);
    int word = settings_word(field, image.layout);
    if (word < 0 || item < 0 || item >= info.items) {
        *size = 0;
        return 0;
    }
    size_t item_bytes = settings_item_bytes(field, image.layout);
    *size = item_bytes;
    return static_cast<size_t>(word) * 2 + item_bytes * static_cast<size_t>(item);
}

} // namespace

std::span<const SettingsFieldInfo> settings_fields() { return kFields; }

const SettingsFieldInfo& settings_field_info(SettingsField field)
{
    return kFields[static_cast<size_t>(field)];
}

int settings_word(SettingsField field, int layout)
{
    layout = std::clamp(layout, 1, 3);
    return settings_field_info(field).word[static_cast<size_t>(layout - 1)];
}

size_t settings_item_bytes(SettingsField field, int layout)
{
    const SettingsFieldInfo& info = settings_field_info(field);
    return info.kind == FieldKind::EventMask ? event_bits_bytes(layout) : info.item_bytes;
}

void settings_convert(int layout, uint8_t* words)
{
    for (const SettingsFieldInfo& info : kFields) {
        int word = info.word[static_cast<size_t>(std::clamp(layout, 1, 3) - 1)];
        if (word < 0)
            continue;
        uint8_t* p = words + 2 * word;
        switch (info.kind) {
        case FieldKind::Word:
            swap_words(p, info.items);
            break;
        case FieldKind::Dword:
            swap_dword(p);
            break;
        case FieldKind::EventMask:
            for (int k = 0; k < info.items; ++k)
                event_bits_convert(p + k * event_bits_bytes(layout), layout);
            break;
        case FieldKind::Text:
        case FieldKind::Bytes:
            break;
        }
    }
}

uint16_t settings_u16(const SettingsImage& image, SettingsField field, int item)
{
    size_t size = 0;
    size_t offset = field_offset(image, field, item, &size);
    if (size < 2)
        return 0;
    uint16_t v;
    std::memcpy(&v, image.bytes.data() + offset, 2);
    return v;
}

int16_t settings_s16(const SettingsImage& image, SettingsField field, int item)
{
    return static_cast<int16_t>(settings_u16(image, field, item));
}

uint32_t settings_u32(const SettingsImage& image, SettingsField field)
{
    size_t size = 0;
    size_t offset = field_offset(image, field, 0, &size);
    if (size < 4)
        return 0;
    uint32_t v;
    std::memcpy(&v, image.bytes.data() + offset, 4);
    return v;
}

void settings_set_u16(SettingsImage& image, SettingsField field, uint16_t value, int item)
{
    size_t size = 0;
    size_t offset = field_offset(image, field, item, &size);
    if (size >= 2)
        std::memcpy(image.bytes.data() + offset, &value, 2);
}

void settings_set_u32(SettingsImage& image, SettingsField field, uint32_t value)
{
    size_t size = 0;
    size_t offset = field_offset(image, field, 0, &size);
    if (size >= 4)
        std::memcpy(image.bytes.data() + offset, &value, 4);
}

std::span<const uint8_t> settings_item(const SettingsImage& image, SettingsField field, int item)
{
    size_t size = 0;
    size_t offset = field_offset(image, field, item, &size);
    return {image.bytes.data() + offset, size};
}

std::span<uint8_t> settings_item(SettingsImage& image, SettingsField field, int item)
{
    size_t size = 0;
    size_t offset = field_offset(image, field, item, &size);
    return {image.bytes.data() + offset, size};
}

std::span<const uint8_t> settings_event_mask(const SettingsImage& image, int k)
{
    return settings_item(image, SettingsField::EventMasks, k - 1);
}

namespace {

// UTF-8 of each byte of the Controller's code page, built once by the system's
// converter; empty for a byte it has no character for. Names are converted
// every poll cycle and a converter opened and closed per name costs more than
// the name.
const std::array<std::string, 256>& windows_1251_to_utf8()
{
    static const std::array<std::string, 256> table = [] {
        std::array<std::string, 256> t;
        for (int byte = 1; byte < 256; ++byte) {
            const gchar in = static_cast<gchar>(byte);
            gsize written = 0;
            gchar* text = g_convert(&in, 1, "UTF-8", "WINDOWS-1251", nullptr, &written, nullptr);
            if (text)
                t[byte].assign(text, written);
            g_free(text);
        }
        return t;
    }();
    return table;
}

} // namespace

std::string device_string_to_utf8(std::span<const uint8_t> field)
{
    const auto& table = windows_1251_to_utf8();
    std::string result;
    for (uint8_t byte : field) {
        if (byte == 0)
            break;
        if (table[byte].empty())
            return {}; // as the converter refuses the whole text
        result += table[byte];
    }
    // A name reaches the window, the log, terminals, monitoring engines and
    // files: a line feed or an escape sequence in it must reach none of them.
    return printable_text(std::move(result));
}

std::string quoted_device_string(std::span<const uint8_t> field)
{
    std::string name = device_string_to_utf8(field);
    if (name.empty())
        return {};
    char text[150];
    std::snprintf(text, sizeof text, "\"%s\"", name.c_str());
    return text;
}

int device_string_from_utf8(std::span<uint8_t> field, const char* utf8)
{
    gsize written = 0;
    gchar* text = g_convert(utf8, -1, "WINDOWS-1251", "UTF-8", nullptr, &written, nullptr);
    if (!text)
        return -1;
    if (written > field.size()) {
        g_free(text);
        return -2;
    }
    std::fill(field.begin(), field.end(), 0);
    std::memcpy(field.data(), text, written);
    g_free(text);
    return 0;
}

std::string settings_name(const SettingsImage& image, SettingsField field, int item)
{
    return device_string_to_utf8(settings_item(image, field, item));
}
