#include "settings/apply_plan.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <cstring>

#include "base/text_format.h"
#include "registers/catalogue.h"
#include "settings/bindings.h"
#include "settings/masks.h"
#include "settings/setting_units.h"

namespace {

using F = SettingsField;

enum class When { Always, Password, MonitoringPassword, Public, Never, Private };

struct SegmentRow {
    std::array<int, 3> offset;
    std::array<int, 3> count;
    When when;
};

// Offsets are body registers (image word - 3). The last segment is seven
// registers: trap receivers 1-3 and the flags word after them.
constexpr SegmentRow kSegments[] = {
    {{0, 0, 0}, {2, 2, 2}, When::Always},
    {{2, 2, 2}, {2, 2, 2}, When::Password},
    {{4, 4, 4}, {614, 662, 663}, When::Always},
    {{618, 666, 667}, {3, 3, 3}, When::MonitoringPassword},
    {{621, 669, 670}, {61, 61, 61}, When::Always},
    {{682, 730, 731}, {5, 5, 5}, When::Public},
    {{687, 735, 736}, {0, 0, 0}, When::Never},
    {{687, 735, 736}, {5, 5, 5}, When::Private},
    {{692, 740, 741}, {7, 7, 7}, When::Always},
};

bool first_byte_set(int layout, const uint8_t* wire, F field)
{
    int word = settings_word(field, layout);
    return word >= 0 && wire[2 * word] != 0;
}

bool segment_wanted(When when, int layout, const uint8_t* wire)
{
    switch (when) {
    case When::Always: return true;
    case When::Password: return first_byte_set(layout, wire, F::Password);
    case When::MonitoringPassword: return first_byte_set(layout, wire, F::MonitoringPassword);
    case When::Public: return first_byte_set(layout, wire, F::TrapPublic);
    case When::Private: return first_byte_set(layout, wire, F::TrapPrivate);
    case When::Never: break;
    }
    return false;
}

// ---------------------------------------------------------------- change list

const char* const kMaskTitles[kEventMasks] = {"Авария 1ст", "Авария 2ст", "Реле 1", "Реле 2", "Реле 3", "Реле 4"};
const char* const kModes[] = {"RS-485", "GSM", "PSTN"};

std::string empty_as_dash(std::string text) { return text.empty() ? "(пусто)" : text; }

std::string rectifier_type_text(uint16_t word)
{
    if (word & settings_bits::kRectifierModelRow) {
        const char* name = rectifier_model_name(word & 0x7FFF);
        return *name ? name : format("модель %u", word & 0x7FFFu);
    }
    return format("класс %u, тип %u", word >> 8, word & 0xFFu);
}

std::string combo_text(const SettingsBinding& b, const SettingsImage& image)
{
    int raw = b.part == WordPart::Signed ? settings_s16(image, b.field) : settings_u16(image, b.field);
    switch (b.field) {
    case F::Timezone: {
        int a = std::abs(raw);
        return format("%c%02d:%02d", raw < 0 ? '-' : '+', a / 4, a % 4 * 15);
    }
    case F::LoadShuntType:
    case F::BatteryShuntType:
        if (shunt_rating(raw))
            return format("%d А", shunt_rating(raw));
        break;
    case F::MonitoringMode:
        if (raw >= 0 && raw < 3)
            return kModes[raw];
        break;
    case F::ElementsPerBlock:
        if (raw >= 0)
            return format("%d", cells_per_block(static_cast<unsigned>(raw)));
        break;
    default: break;
    }
    return format("%d", raw);
}

std::string binding_text(const SettingsBinding& b, const SettingsImage& image)
{
    switch (b.kind) {
    case ControlKind::Spin: {
        // The stored value, not the value a spin would clamp it to for show.
        SettingsBinding raw = b;
        raw.shown_min = raw.shown_max = 0;
        return format("%.*f", b.digits, settings_control_value(raw, image).number);
    }
    case ControlKind::Combo: return combo_text(b, image);
    case ControlKind::Check: return settings_control_value(b, image).active ? "вкл." : "выкл.";
    case ControlKind::Entry: return empty_as_dash(settings_control_value(b, image).text);
    case ControlKind::AddressByte: break;
    }
    auto bytes = settings_item(image, b.field, b.item);
    std::string text;
    for (size_t i = 0; i < bytes.size(); ++i)
        text += format(b.rule == TextRule::Hex ? "%s%02X" : "%s%u", i ? (b.rule == TextRule::Hex ? ":" : ".") : "",
                       bytes[i]);
    return text;
}

bool same_bytes(const SettingsImage& a, const SettingsImage& b, F field, int item = 0)
{
    auto x = settings_item(a, field, item), y = settings_item(b, field, item);
    return x.size() == y.size() && std::equal(x.begin(), x.end(), y.begin());
}

// Texts as the page shows them: bytes after the terminating NUL mean nothing.
bool same_text(const SettingsImage& a, const SettingsImage& b, F field, int item = 0)
{
    auto x = settings_item(a, field, item), y = settings_item(b, field, item);
    auto end_x = std::find(x.begin(), x.end(), 0), end_y = std::find(y.begin(), y.end(), 0);
    return std::equal(x.begin(), end_x, y.begin(), end_y);
}

struct ChangeList {
    const SettingsImage& from;
    const SettingsImage& to;
    std::vector<SettingsChange> rows;

    void add(std::string name, std::string a, std::string b)
    {
        if (a != b)
            rows.push_back({std::move(name), std::move(a), std::move(b)});
    }
    void add_always(std::string name, std::string a, std::string b)
    {
        rows.push_back({std::move(name), std::move(a), std::move(b)});
    }
};

void binding_rows(ChangeList& c)
{
    bool batteries = settings_u16(c.to, F::BatteryGroupCount) != 0;
    bool rectifier_done = false;
    std::vector<std::pair<F, int>> addresses_done;
    for (const SettingsBinding& b : settings_bindings()) {
        if (!(b.layouts >> (c.to.layout - 1) & 1))
            continue;
        // The float word shows in one of two places, by the battery group count.
        if ((b.field == F::FloatVoltage && (std::string(b.id) == "S_EPUVoltage") == batteries))
            continue;
        if (b.kind == ControlKind::Check) {
            c.add(b.label, binding_text(b, c.from), binding_text(b, c.to));
            continue;
        }
        if (b.field == F::RectifierType) {
            if (rectifier_done)
                continue;
            rectifier_done = true;
            uint16_t x = settings_u16(c.from, b.field), y = settings_u16(c.to, b.field);
            if (x != y)
                c.add_always((y & settings_bits::kRectifierModelRow) ? "Модель выпрямителей" : "Тип выпрямителей",
                             rectifier_type_text(x), rectifier_type_text(y));
            continue;
        }
        if (b.kind == ControlKind::AddressByte) {
            std::pair<F, int> key{b.field, b.item};
            if (std::find(addresses_done.begin(), addresses_done.end(), key) != addresses_done.end())
                continue;
            addresses_done.push_back(key);
        }
        if (b.kind == ControlKind::Entry || b.kind == ControlKind::AddressByte) {
            if (b.kind == ControlKind::Entry ? !same_text(c.from, c.to, b.field, b.item)
                                             : !same_bytes(c.from, c.to, b.field, b.item))
                c.add_always(b.label, binding_text(b, c.from), binding_text(b, c.to));
        } else {
            c.add(b.label, binding_text(b, c.from), binding_text(b, c.to));
        }
    }
}

void name_rows(ChangeList& c, F field, const char* label)
{
    for (int i = 0; i < settings_field_info(field).items; ++i)
        if (!same_text(c.from, c.to, field, i))
            c.add_always(format(label, i + 1), empty_as_dash(settings_name(c.from, field, i)),
                         empty_as_dash(settings_name(c.to, field, i)));
}

void word_rows(ChangeList& c, F field, const char* label, std::string (*text)(unsigned))
{
    for (int i = 0; i < settings_field_info(field).items; ++i)
        c.add(format(label, i + 1), text(settings_u16(c.from, field, i)), text(settings_u16(c.to, field, i)));
}

void bit_rows(ChangeList& c, F field, int bits, const char* label)
{
    for (int i = 0; i < bits; ++i)
        c.add(format(label, i + 1), (settings_u16(c.from, field) >> i & 1) ? "вкл." : "выкл.",
              (settings_u16(c.to, field) >> i & 1) ? "вкл." : "выкл.");
}

void mask_rows(ChangeList& c)
{
    CatalogueSettings names = catalogue_settings(c.to);
    char text[401];
    for (int code = 0; code < event_code_count(c.to.layout); ++code)
        for (int k = 1; k <= kEventMasks; ++k) {
            bool x = mask_bit(c.from, code, k), y = mask_bit(c.to, code, k);
            if (x == y)
                continue;
            event_text(text, sizeof text, static_cast<uint16_t>(code), c.to.layout, names);
            c.add_always(format("%s: %s", kMaskTitles[k - 1], text), x ? "вкл." : "выкл.", y ? "вкл." : "выкл.");
        }
}

// Whatever no setting of the page owns is listed by word, so a difference is
// never hidden from the user or from the check after writing.
void other_words(ChangeList& c)
{
    const std::vector<uint8_t>& owned = settings_unit_bits(c.to.layout);
    for (size_t w = 3; w < c.to.word_count(); ++w) {
        uint16_t x, y, mask;
        std::memcpy(&x, c.from.data() + 2 * w, 2);
        std::memcpy(&y, c.to.data() + 2 * w, 2);
        uint8_t bytes[2] = {owned[2 * w], owned[2 * w + 1]};
        std::memcpy(&mask, bytes, 2);
        if ((x ^ y) & ~mask)
            c.add_always(format("Слово %zu", w), format("0x%04X", x), format("0x%04X", y));
    }
}

} // namespace

std::vector<SettingsSegment> settings_write_segments(int layout, const uint8_t* wire)
{
    size_t column = static_cast<size_t>(std::clamp(layout, 1, 3) - 1);
    std::vector<SettingsSegment> segments;
    int number = 0;
    for (const SegmentRow& row : kSegments) {
        ++number;
        if (row.count[column] > 0 && segment_wanted(row.when, layout, wire))
            segments.push_back({number, row.offset[column], row.count[column]});
    }
    return segments;
}

bool settings_segments_set_monitoring_password(const std::vector<SettingsSegment>& segments)
{
    return std::any_of(segments.begin(), segments.end(), [](const SettingsSegment& s) { return s.number == 4; });
}

std::vector<uint8_t> settings_command_block(const uint8_t echo[4], const uint8_t password[6])
{
    std::vector<uint8_t> block(2 * kSettingsCommandRegisters, 0);
    std::memcpy(block.data(), echo, 4);
    std::memcpy(block.data() + 4, password, 6);
    block[11] = 0x01;
    return block;
}

SettingsImage settings_expected_after_write(const SettingsImage& device, const SettingsImage& edit)
{
    SettingsImage wire = edit;
    settings_to_registers(wire.layout, wire.data());
    SettingsImage expected = device;
    expected.layout = edit.layout;
    for (const SettingsSegment& s : settings_write_segments(edit.layout, wire.data()))
        std::memcpy(expected.data() + 2 * (s.offset + 3), edit.data() + 2 * (s.offset + 3),
                    2 * static_cast<size_t>(s.count));
    return expected;
}

std::vector<SettingsChange> settings_changes(const SettingsImage& from, const SettingsImage& to)
{
    ChangeList c{from, to, {}};
    binding_rows(c);
    mask_rows(c);
    name_rows(c, F::RelayNames, "Название реле %d");
    name_rows(c, F::LoadBreakerNames, "Название QH%d");
    word_rows(c, F::BlockMonitorAddress, "УПКБ группы %d",
              [](unsigned v) { return format("адрес %u, канал %u", v / 8, v % 8 + 1); });
    bit_rows(c, F::ContactorBySK, 4, "K%d по СК");
    auto contactor = [](unsigned v) { return v == 0 ? std::string("Нет") : format("К%u", v); };
    word_rows(c, F::BatteryBreakerContactor, "Контактор QB%d", contactor);
    word_rows(c, F::LoadBreakerContactor, "Контактор QH%d", contactor);
    name_rows(c, F::ContactorNames, "Название K%d");
    bit_rows(c, F::DryContactTypes, 16, "НЗ/НР СК%d");
    name_rows(c, F::DryContactNames, "Название СК%d");
    other_words(c);
    return c.rows;
}
