#include "settings/setting_units.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "base/text_format.h"
#include "registers/event_bits.h"
#include "settings/apply_plan.h"
#include "settings/bindings.h"
#include "settings/masks.h"
#include "settings/rules.h"

namespace {

using F = SettingsField;

struct Bits {
    int index;
    uint8_t mask;
};

// Image bytes of a word of the field's item, host order, as a word mask.
void word_bits(std::vector<Bits>& out, const SettingsImage& layout_image, F field, int item, uint16_t mask,
               int words = 1)
{
    auto span = settings_item(layout_image, field, item);
    if (span.empty())
        return;
    int first = static_cast<int>(span.data() - layout_image.data());
    uint8_t bytes[2];
    std::memcpy(bytes, &mask, 2);
    for (int w = 0; w < words; ++w)
        for (int i = 0; i < 2; ++i)
            if (bytes[i])
                out.push_back({first + 2 * w + i, bytes[i]});
}

void item_bytes(std::vector<Bits>& out, const SettingsImage& layout_image, F field, int item)
{
    auto span = settings_item(layout_image, field, item);
    int first = static_cast<int>(span.data() - layout_image.data());
    for (size_t i = 0; i < span.size(); ++i)
        out.push_back({first + static_cast<int>(i), 0xFF});
}

uint16_t part_mask(WordPart part)
{
    switch (part) {
    case WordPart::LowByte: return 0x00FF;
    case WordPart::HighByte: return 0xFF00;
    default: return 0xFFFF;
    }
}

struct Units {
    std::vector<SettingsUnit> units;
    std::vector<uint8_t> bits;
    // Owner unit of every bit, so a control and a list over the same bits
    // (one setting shown twice) become one unit.
    std::vector<int> owner;
    void add(const std::vector<Bits>& region, const SettingsBinding* b, bool text)
    {
        if (region.empty())
            return;
        int into = -1;
        for (const Bits& x : region)
            for (int bit = 0; bit < 8 && into < 0; ++bit)
                if (x.mask >> bit & 1)
                    into = owner[static_cast<size_t>(x.index * 8 + bit)];
        if (into < 0) {
            into = static_cast<int>(units.size());
            units.push_back({b, text, {}});
        }
        SettingsUnit& u = units[static_cast<size_t>(into)];
        for (const Bits& x : region) {
            auto at = std::find_if(u.bytes.begin(), u.bytes.end(),
                                   [&](const SettingsUnitByte& y) { return y.index == x.index; });
            if (at == u.bytes.end())
                u.bytes.push_back({static_cast<uint16_t>(x.index), x.mask});
            else
                at->mask |= x.mask;
            bits[static_cast<size_t>(x.index)] |= x.mask;
            for (int bit = 0; bit < 8; ++bit)
                if (x.mask >> bit & 1)
                    owner[static_cast<size_t>(x.index * 8 + bit)] = into;
        }
    }
};

Units build(int layout)
{
    Units u;
    SettingsImage image;
    image.layout = layout;
    u.bits.assign(image.word_count() * 2, 0);
    u.owner.assign(image.word_count() * 16, -1);
    // An address is one setting, whichever octet the page edits.
    std::vector<std::pair<F, int>> addresses;
    for (const SettingsBinding& b : settings_bindings()) {
        if (!(b.layouts >> (layout - 1) & 1) || settings_word(b.field, layout) < 0)
            continue;
        std::vector<Bits> region;
        switch (b.kind) {
        case ControlKind::Check: word_bits(region, image, b.field, b.item, b.bit); break;
        case ControlKind::Spin:
        case ControlKind::Combo:
            word_bits(region, image, b.field, b.item, part_mask(b.part), b.part == WordPart::Dword ? 2 : 1);
            break;
        case ControlKind::Entry: item_bytes(region, image, b.field, b.item); break;
        case ControlKind::AddressByte:
            if (std::find(addresses.begin(), addresses.end(), std::pair{b.field, int(b.item)}) != addresses.end())
                continue;
            addresses.push_back({b.field, b.item});
            item_bytes(region, image, b.field, b.item);
            break;
        }
        u.add(region, &b, b.kind == ControlKind::Entry);
    }
    for (F field : {F::RelayNames, F::LoadBreakerNames, F::ContactorNames, F::DryContactNames})
        for (int i = 0; i < settings_field_info(field).items; ++i) {
            std::vector<Bits> region;
            item_bytes(region, image, field, i);
            u.add(region, nullptr, true);
        }
    for (F field : {F::BlockMonitorAddress, F::BatteryBreakerContactor, F::LoadBreakerContactor})
        for (int i = 0; i < settings_field_info(field).items; ++i) {
            std::vector<Bits> region;
            word_bits(region, image, field, i, 0xFFFF);
            u.add(region, nullptr, false);
        }
    // Four contactors "по СК" and sixteen dry-contact types: one bit each.
    for (auto [field, count] : {std::pair{F::ContactorBySK, 4}, std::pair{F::DryContactTypes, 16}})
        for (int bit = 0; bit < count; ++bit) {
            std::vector<Bits> region;
            word_bits(region, image, field, 0, static_cast<uint16_t>(1u << bit));
            u.add(region, nullptr, false);
        }
    // A mask bit per event the layout has; the bits past its last event
    // belong to nothing the page shows.
    for (int code = 0; code < event_code_count(layout); ++code)
        for (int k = 1; k <= kEventMasks; ++k) {
            auto mask = settings_item(image, F::EventMasks, k - 1);
            if (mask.empty())
                continue;
            int first = static_cast<int>(mask.data() - image.data());
            u.add({{first + code / 8, static_cast<uint8_t>(1u << (code % 8))}}, nullptr, false);
        }
    return u;
}

const Units& units_of(int layout)
{
    // Built once, on the first call of any thread (a static's initialisation is guarded).
    static const std::array<Units, 3> all = {build(1), build(2), build(3)};
    return all[static_cast<size_t>(std::clamp(layout, 1, 3) - 1)];
}

// A text up to its terminating NUL: what the page shows of it.
std::string_view shown_text(const SettingsImage& image, const SettingsUnit& unit)
{
    auto first = unit.bytes.front().index, last = unit.bytes.back().index;
    const char* p = reinterpret_cast<const char*>(image.data()) + first;
    size_t n = static_cast<size_t>(last - first + 1);
    return std::string_view(p, strnlen(p, n));
}

// The unit's setting named and shown as the review shows it: from `a` to `b`.
SettingsChange unit_row(const SettingsUnit& unit, const SettingsImage& a, const SettingsImage& b)
{
    SettingsImage with = a;
    settings_unit_copy(unit, b, with);
    std::vector<SettingsChange> rows = settings_changes(a, with);
    if (rows.empty())
        return {"", "", ""};
    SettingsChange row = rows.front();
    for (size_t i = 1; i < rows.size(); ++i) {
        row.name += ", " + rows[i].name;
        row.from += ", " + rows[i].from;
        row.to += ", " + rows[i].to;
    }
    return row;
}

// The value of a unit taken from the page entered again over the settings it
// now sits among, as the page would take it typed.
void reenter(SettingsImage& image, const SettingsUnit& unit)
{
    const SettingsBinding* b = unit.binding;
    if (!b)
        return;
    if (b->kind == ControlKind::Spin) {
        SettingsBinding stored = *b;
        stored.shown_min = stored.shown_max = 0;
        settings_edit_number(image, *b, settings_control_value(stored, image).number);
    }
}

} // namespace

const std::vector<SettingsUnit>& settings_units(int layout) { return units_of(layout).units; }

const std::vector<uint8_t>& settings_unit_bits(int layout) { return units_of(layout).bits; }

bool settings_unit_differs(const SettingsUnit& unit, const SettingsImage& a, const SettingsImage& b)
{
    if (unit.text)
        return shown_text(a, unit) != shown_text(b, unit);
    return std::any_of(unit.bytes.begin(), unit.bytes.end(), [&](const SettingsUnitByte& x) {
        return (a.bytes[x.index] ^ b.bytes[x.index]) & x.mask;
    });
}

void settings_unit_copy(const SettingsUnit& unit, const SettingsImage& from, SettingsImage& to)
{
    for (const SettingsUnitByte& x : unit.bytes)
        to.bytes[x.index] = static_cast<uint8_t>((to.bytes[x.index] & ~x.mask) | (from.bytes[x.index] & x.mask));
}

void settings_keep_unshown(SettingsImage& image, const SettingsImage& controller, std::vector<std::string>* kept)
{
    if (image.layout != controller.layout)
        return;
    const std::vector<uint8_t>& bits = settings_unit_bits(image.layout);
    for (size_t w = 0; w < image.word_count(); ++w) {
        uint16_t was, held, owned;
        std::memcpy(&was, image.data() + 2 * w, 2);
        std::memcpy(&held, controller.data() + 2 * w, 2);
        uint8_t mask[2] = {bits[2 * w], bits[2 * w + 1]};
        std::memcpy(&owned, mask, 2);
        uint16_t hidden = static_cast<uint16_t>((was ^ held) & ~owned);
        if (!hidden)
            continue;
        uint16_t now = static_cast<uint16_t>((was & owned) | (held & ~owned));
        std::memcpy(image.data() + 2 * w, &now, 2);
        // The header words are the Controller's own and never written: no news.
        if (kept && w >= 3)
            kept->push_back(format("слово %zu = 0x%04X: биты 0x%04X страница не показывает, оставлено значение "
                                   "Контроллера 0x%04X",
                                   w, was, hidden, held));
    }
    for (const SettingsUnit& unit : settings_units(image.layout))
        if (unit.text && !settings_unit_differs(unit, image, controller))
            settings_unit_copy(unit, controller, image);
}

SettingsCarried settings_carry_edits(const SettingsImage& base, const SettingsImage& edited,
                                     const SettingsImage& current)
{
    SettingsCarried out{current, {}};
    if (base.layout != current.layout || edited.layout != current.layout)
        return out;
    const std::vector<SettingsUnit>& units = settings_units(current.layout);
    std::vector<size_t> taken;
    for (size_t i = 0; i < units.size(); ++i) {
        const SettingsUnit& unit = units[i];
        if (!settings_unit_differs(unit, base, edited) || !settings_unit_differs(unit, current, edited))
            continue;
        settings_unit_copy(unit, edited, out.image);
        taken.push_back(i);
        if (settings_unit_differs(unit, base, current)) {
            SettingsChange row = unit_row(unit, current, edited);
            out.conflicts.push_back({i, row.name, row.from, row.to});
        }
    }
    // Twice: a limit that follows another setting (the cell count, the module
    // count) is in place the second time.
    for (int pass = 0; pass < 2; ++pass)
        for (size_t i : taken)
            reenter(out.image, units[i]);
    return out;
}

std::vector<SettingsConflict> settings_conflicts_open(const std::vector<SettingsConflict>& conflicts,
                                                      const SettingsImage& edit, const SettingsImage& current)
{
    std::vector<SettingsConflict> open;
    if (edit.layout != current.layout)
        return open;
    const std::vector<SettingsUnit>& units = settings_units(current.layout);
    for (const SettingsConflict& c : conflicts) {
        if (c.unit >= units.size() || !settings_unit_differs(units[c.unit], edit, current))
            continue;
        SettingsChange row = unit_row(units[c.unit], current, edit);
        if (row.from == c.controller)
            open.push_back({c.unit, row.name, row.from, row.to});
    }
    return open;
}

void settings_take_controller_value(SettingsImage& image, const SettingsImage& current,
                                    const SettingsConflict& conflict)
{
    const std::vector<SettingsUnit>& units = settings_units(current.layout);
    if (conflict.unit < units.size() && image.layout == current.layout)
        settings_unit_copy(units[conflict.unit], current, image);
}

std::string settings_conflicts_text(const std::vector<SettingsConflict>& conflicts)
{
    std::string text;
    for (const SettingsConflict& c : conflicts)
        text += format("%s%s: в Контроллере %s, на странице %s", text.empty() ? "" : "\n", c.name.c_str(),
                       c.controller.c_str(), c.page.c_str());
    return text;
}
