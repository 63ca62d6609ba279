#include "settings/rules.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <string>

#include "settings/page_view.h"

namespace {

using F = SettingsField;

int max_rectifiers(int layout) { return layout <= 1 ? 60 : layout == 2 ? 190 : 180; }

int32_t clamp_to(const StoredRange& r, int32_t v) { return std::clamp(v, r.min, std::max(r.min, r.max)); }

void store_number(SettingsImage& image, const SettingsBinding& b, int32_t v)
{
    switch (b.part) {
    case WordPart::Dword: settings_set_u32(image, b.field, static_cast<uint32_t>(v)); break;
    case WordPart::LowByte: {
        uint16_t word = settings_u16(image, b.field, b.item);
        settings_set_u16(image, b.field, static_cast<uint16_t>((word & 0xFF00) | (v & 0xFF)), b.item);
        break;
    }
    case WordPart::HighByte: {
        uint16_t word = settings_u16(image, b.field, b.item);
        settings_set_u16(image, b.field, static_cast<uint16_t>((word & 0x00FF) | ((v & 0xFF) << 8)), b.item);
        break;
    }
    case WordPart::Whole:
    case WordPart::Signed: settings_set_u16(image, b.field, static_cast<uint16_t>(v), b.item); break;
    }
}

int32_t stored_number(const SettingsImage& image, const SettingsBinding& b)
{
    switch (b.part) {
    case WordPart::Dword: return static_cast<int32_t>(settings_u32(image, b.field));
    case WordPart::Signed: return settings_s16(image, b.field, b.item);
    case WordPart::LowByte: return settings_u16(image, b.field, b.item) & 0xFF;
    case WordPart::HighByte: return settings_u16(image, b.field, b.item) >> 8;
    case WordPart::Whole: break;
    }
    return settings_u16(image, b.field, b.item);
}

// The stored value clamped again to the control's current limits.
void reclamp(SettingsImage& image, const char* id)
{
    const SettingsBinding* b = settings_binding(id);
    if (b)
        store_number(image, *b, clamp_to(settings_edit_range(*b, image), stored_number(image, *b)));
}

bool all_of(const std::string& text, bool (*allowed)(char))
{
    return std::all_of(text.begin(), text.end(), [&](char c) { return allowed(c); });
}
bool phone_char(char c) { return (c >= '0' && c <= '9') || c == '+'; }
bool digit_char(char c) { return c >= '0' && c <= '9'; }
bool community_char(char c) { return digit_char(c) || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// Octet typed as hexadecimal or decimal: the low 8 bits of the number; an empty
// entry is 0. -1 when a character is no digit of the base.
int parse_octet(const std::string& text, bool hex)
{
    unsigned value = 0;
    for (char c : text) {
        int digit = -1;
        if (c >= '0' && c <= '9')
            digit = c - '0';
        else if (hex && c >= 'a' && c <= 'f')
            digit = c - 'a' + 10;
        else if (hex && c >= 'A' && c <= 'F')
            digit = c - 'A' + 10;
        if (digit < 0)
            return -1;
        value = (value * (hex ? 16 : 10) + static_cast<unsigned>(digit)) & 0xFF;
    }
    return static_cast<int>(value);
}

// Fields whose empty value is never written: the Controller would keep what it
// has while the page showed the field cleared.
bool empty_is_not_written(F field)
{
    return field == F::Password || field == F::MonitoringPassword || field == F::TrapPublic ||
           field == F::TrapPrivate;
}

EditResult accepted(const SettingsBinding& b) { return {true, b.refresh, b.masks}; }

// Stores ASCII `text` into a DeviceString field as is (already checked).
void store_ascii(std::span<uint8_t> field, const std::string& text)
{
    std::fill(field.begin(), field.end(), 0);
    std::memcpy(field.data(), text.data(), std::min(text.size(), field.size()));
}

} // namespace

StoredRange settings_edit_range(const SettingsBinding& b, const SettingsImage& image)
{
    int n = shown_cell_count(settings_u16(image, F::CellsPerGroup));
    switch (b.window) {
    case Window::Float:
        // Without battery groups the word is the load-bus voltage; with them
        // the float-voltage window is the stricter one in force for both keys.
        if (settings_u16(image, F::BatteryGroupCount) == 0)
            return {180, 750};
        return {222 * n / 10, 23 * n};
    case Window::Charge: return {23 * n, 24 * n};
    case Window::Test: return {18 * n, 20 * n};
    case Window::LowBattery: return {17 * n, 20 * n};
    case Window::Reserve: {
        int m = settings_u16(image, F::RectifierCount);
        return {0, m > 60 ? 59 : m < 2 ? 1 : m - 1};
    }
    case Window::RectifierCount: return {1, max_rectifiers(image.layout)};
    case Window::Fixed: break;
    }
    if (b.min == 0 && b.max == 0) {
        // Unclamped numbers still fit their word.
        if (b.part == WordPart::Dword)
            return {0, INT32_MAX};
        if (b.part == WordPart::Signed)
            return {INT16_MIN, INT16_MAX};
        return {0, b.part == WordPart::Whole ? 0xFFFF : 0xFF};
    }
    return {b.min, b.max};
}

int32_t settings_stored_number(const SettingsBinding& b, double shown)
{
    double scaled = shown * b.scale;
    if (!std::isfinite(scaled))
        return 0;
    scaled = std::clamp(scaled, -2.0e9, 2.0e9);
    return static_cast<int32_t>(scaled < 0 ? scaled - 0.5 : scaled + 0.5);
}

EditResult settings_edit_number(SettingsImage& image, const SettingsBinding& b, double shown)
{
    if (b.kind != ControlKind::Spin)
        return {};
    store_number(image, b, clamp_to(settings_edit_range(b, image), settings_stored_number(b, shown)));
    if (b.field == F::CellsPerGroup) {
        // The float word is the load-bus voltage without battery groups: the
        // cell window does not apply to it then.
        if (settings_u16(image, F::BatteryGroupCount) != 0)
            reclamp(image, "S_FloatVoltage");
        for (const char* id : {"S_FastChargeVoltage", "S_EqChargeVoltage", "S_TestVoltage", "S_LowBatteryVoltage",
                               "S_K1Voltage", "S_K2Voltage", "S_K3Voltage", "S_K4Voltage"})
            reclamp(image, id);
    } else if (b.field == F::RectifierCount) {
        reclamp(image, "S_VUVReserv");
    } else if (b.field == F::BatteryGroupCount) {
        // The load-bus voltage becomes the float voltage of the new groups.
        reclamp(image, "S_FloatVoltage");
    }
    return accepted(b);
}

EditResult settings_edit_row(SettingsImage& image, const SettingsBinding& b, int row)
{
    if (b.kind != ControlKind::Combo || row < 0 || row >= b.rows)
        return {};
    if (b.part == WordPart::HighByte)
        store_number(image, b, row);
    else
        store_number(image, b, row - b.row_offset);
    return accepted(b);
}

EditResult settings_edit_check(SettingsImage& image, const SettingsBinding& b, bool active)
{
    if (b.kind != ControlKind::Check)
        return {};
    uint16_t word = settings_u16(image, b.field, b.item);
    bool set = active != b.inverted;
    word = set ? static_cast<uint16_t>(word | b.bit) : static_cast<uint16_t>(word & ~b.bit);
    settings_set_u16(image, b.field, word, b.item);
    return accepted(b);
}

int settings_text_limit(SettingsField field, int layout)
{
    int size = static_cast<int>(settings_item_bytes(field, layout));
    return size == 10 ? 9 : size;
}

EditResult settings_edit_text(SettingsImage& image, const SettingsBinding& b, const char* utf8)
{
    std::string text = utf8 ? utf8 : "";
    if (b.kind == ControlKind::AddressByte) {
        int octet = parse_octet(text, b.rule == TextRule::Hex);
        std::span<uint8_t> bytes = settings_item(image, b.field, b.item);
        if (octet < 0 || b.byte >= bytes.size())
            return {};
        bytes[b.byte] = static_cast<uint8_t>(octet);
        return accepted(b);
    }
    if (b.kind != ControlKind::Entry)
        return {};
    std::span<uint8_t> field = settings_item(image, b.field, b.item);
    if (field.empty() || (text.empty() && empty_is_not_written(b.field)))
        return {};
    switch (b.rule) {
    case TextRule::Phone:
    case TextRule::Digits:
    case TextRule::Community: {
        size_t limit = b.rule == TextRule::Community ? 9 : 13;
        bool (*allowed)(char) =
            b.rule == TextRule::Phone ? phone_char : b.rule == TextRule::Digits ? digit_char : community_char;
        if (text.size() > limit || !all_of(text, allowed))
            return {};
        store_ascii(field, text);
        return accepted(b);
    }
    case TextRule::Free:
    case TextRule::Hex:
    case TextRule::Decimal: break;
    }
    if (settings_edit_name(image, b.field, b.item, text.c_str()) != 0)
        return {};
    return accepted(b);
}

int settings_edit_name(SettingsImage& image, SettingsField field, int item, const char* utf8)
{
    std::span<uint8_t> target = settings_item(image, field, item);
    if (target.empty())
        return -1;
    // Convert into a scratch field as long as the text, then cut: a text too
    // long for the field is cut, a character outside WINDOWS-1251 refused.
    std::string text = utf8 ? utf8 : "";
    std::vector<uint8_t> scratch(text.size() + 1);
    if (device_string_from_utf8(scratch, text.c_str()) != 0)
        return -1;
    // A text shorter than the field leaves zeros behind it, never whatever
    // lay past the scratch copy: those bytes would be written to the Controller.
    size_t limit = static_cast<size_t>(settings_text_limit(field, image.layout));
    std::fill(target.begin(), target.end(), 0);
    std::memcpy(target.data(), scratch.data(), std::min({limit, target.size(), scratch.size()}));
    return 0;
}

int settings_edit_block_monitor(SettingsImage& image, int group, bool channel, const char* text)
{
    if (!text || !*text || group < 0 || group >= settings_field_info(F::BlockMonitorAddress).items)
        return -1;
    char* end = nullptr;
    long value = std::strtol(text, &end, 10);
    if (*end != '\0')
        return -1;
    unsigned word = settings_u16(image, F::BlockMonitorAddress, group);
    long address = word / 8, ch = word % 8 + 1;
    if (channel)
        ch = std::clamp(value, 1L, 8L);
    else
        address = std::clamp(value, 0L, 15L);
    settings_set_u16(image, F::BlockMonitorAddress, static_cast<uint16_t>(address * 8 + ch - 1), group);
    return 0;
}

int settings_toggle_bit(SettingsImage& image, SettingsField field, int bit)
{
    if (bit < 0 || bit > 15 || settings_item(image, field).size() != 2)
        return -1;
    settings_set_u16(image, field, static_cast<uint16_t>(settings_u16(image, field) ^ (1u << bit)));
    return 0;
}

int settings_set_breaker_contactor(SettingsImage& image, int kind, int index, int option)
{
    F field = kind == 0 ? F::BatteryBreakerContactor : F::LoadBreakerContactor;
    if (option < 0 || option > 4 || settings_item(image, field, index).empty())
        return -1;
    settings_set_u16(image, field, static_cast<uint16_t>(option), index);
    return 0;
}

std::string settings_refusal_reason(const SettingsBinding& b, const char* utf8)
{
    SettingsImage scratch;
    scratch.layout = 3;
    if (settings_edit_text(scratch, b, utf8).accepted)
        return {};
    std::string text = utf8 ? utf8 : "";
    const char* why = nullptr;
    if (b.kind == ControlKind::AddressByte)
        why = b.rule == TextRule::Hex ? "только шестнадцатеричные цифры 0–9 и A–F" : "только цифры 0–9";
    else if (text.empty())
        why = "пустое значение не записывается, оставлено прежнее";
    else if (b.rule == TextRule::Phone)
        why = "только цифры и «+», не более 13 знаков";
    else if (b.rule == TextRule::Digits)
        why = "только цифры, не более 13";
    else if (b.rule == TextRule::Community)
        why = "только латинские буквы и цифры, не более 9 знаков";
    else
        why = "есть знаки, которых нет в кодировке контроллера (WINDOWS-1251)";
    return std::string(b.label) + ": " + why;
}

SettingsPair settings_inverted_pair(const SettingsImage& image)
{
    static constexpr std::pair<SettingsField, SettingsField> kPairs[] = {
        {SettingsField::T2Min, SettingsField::T2Max},
        {SettingsField::BlockLowVoltage, SettingsField::BlockHighVoltage}};
    auto spin_of = [&](SettingsField field) -> const SettingsBinding* {
        for (const SettingsBinding& b : settings_bindings())
            if (b.field == field && b.kind == ControlKind::Spin && (b.layouts >> (image.layout - 1) & 1) &&
                settings_word(field, image.layout) >= 0)
                return &b;
        return nullptr;
    };
    for (auto [low, high] : kPairs) {
        const SettingsBinding *l = spin_of(low), *h = spin_of(high);
        if (l && h && settings_control_value(*l, image).number > settings_control_value(*h, image).number)
            return {l, h};
    }
    return {};
}
