#include "status/equipment.h"

#include <algorithm>
#include <cstdio>

#include "base/text_format.h"

namespace {

constexpr StateLook kContactorStates[] = {
    {kIconNormal, "Норма"},
    {kIconAlarm, "Авария"},
    {kIconError, "Ошибка"},
};

constexpr StateLook kRectifierStates[] = {
    {kIconNormal, "Норма"},
    {kIconAlarm, "Авария"},
    {kIconAlarm, "Авария сети"},
    {kIconAlarm, "Перегрев"},
    {kIconAlarm, "Перегрузка"},
    {kIconAlarm, "Авария вентиляторов"},
    {kIconWarning, "Неисправность вентилятора"},
    {kIconOff, "Отключен"},
    {kIconWarning, "Неподходящий тип"},
    {kIconQuestion, "Неизвестно"},
    {kIconError, "Ошибка"},
};
constexpr unsigned kRectifierUnknown = 9;

constexpr StateLook kDryContactStates[] = {
    {kIconNormal, "Норма"},
    {kIconAlarm, "Авария"},
    {kIconError, "Ошибка"},
};

// The last entry of each table is its error entry, shown for codes the
// Controller defines no text for.
template <size_t N>
StateLook look(const StateLook (&table)[N], unsigned state)
{
    return table[std::min<size_t>(state, N - 1)];
}

// Bit k of a 16-bit register; addresses past the register have no bit.
bool unit_bit(uint16_t bits, int k) { return k >= 0 && k < 16 && ((bits >> k) & 1); }

uint16_t word(std::span<const uint16_t> registers, size_t index)
{
    return index < registers.size() ? registers[index] : 0;
}

// A list's rows are rebuilt, not updated in place, when the configured number
// of its items differs from the reference settings.
ListView view_for_count(const SettingsImage& device, const SettingsImage& reference, SettingsField count_field,
                        int& count)
{
    ListView view;
    count = settings_u16(device, count_field);
    view.rebuild = count != settings_u16(reference, count_field);
    return view;
}

ListRow state_row(int icon_column, int text_column, StateLook state)
{
    ListRow row;
    row.cells.emplace_back(icon_column, state.icon);
    row.cells.emplace_back(text_column, state.text);
    return row;
}

std::vector<ListRow> unit_rows(int units, uint16_t missing)
{
    std::vector<ListRow> rows;
    for (int k = 0; k < units; ++k) {
        ListRow row = state_row(0, 2, extension_unit_look(unit_bit(missing, k)));
        row.cells.emplace_back(1, format("Адр%d", k));
        rows.push_back(std::move(row));
    }
    return rows;
}

}  // namespace

StateLook contactor_state_look(unsigned state) { return look(kContactorStates, state); }
StateLook rectifier_state_look(unsigned state) { return look(kRectifierStates, state); }
StateLook dry_contact_state_look(unsigned state) { return look(kDryContactStates, state); }
StateLook extension_unit_look(bool missing) { return missing ? StateLook{kIconAlarm, "Нет"} : StateLook{kIconNormal, "Норма"}; }

const std::string* ListRow::cell(int column) const
{
    for (const auto& [c, text] : cells)
        if (c == column)
            return &text;
    return nullptr;
}

ListView contactor_list_view(const StatusImage& status, const SettingsImage& device, const SettingsImage& reference)
{
    int count = 0;
    ListView view = view_for_count(device, reference, SettingsField::ContactorCount, count);
    int rows = std::min<int>(count, status_size::kContactors);
    for (int n = 0; n < rows; ++n) {
        unsigned code = static_cast<unsigned>(contactor_state(status, n));
        StateLook state = contactor_state_look(code);
        ListRow row;
        row.state = state_code(kContactorStates, code);
        row.cells.emplace_back(0, state.icon);
        row.cells.emplace_back(1, format("K%d", n + 1));
        row.cells.emplace_back(2, contactor_closed(status, n) ? "Замкнут" : "Разомкнут");
        row.cells.emplace_back(3, state.text);
        row.cells.emplace_back(4, quoted_device_string(settings_item(device, SettingsField::ContactorNames, n)));
        view.rows.push_back(std::move(row));
    }
    return view;
}

ListView rectifier_list_view(const StatusImage& status, const SettingsImage& device, const SettingsImage& reference)
{
    int count = 0;
    ListView view = view_for_count(device, reference, SettingsField::RectifierCount, count);
    int layout = std::clamp(device.layout, 1, 3);
    // One row even without modules configured, so the list is never blank.
    int rows = std::clamp<int>(count, 1, rectifier_records(layout));
    for (int m = 0; m < rows; ++m) {
        unsigned code = rectifier_state(status, layout, m);
        ListRow row = state_row(0, 2, rectifier_state_look(code));
        row.state = state_code(kRectifierStates, code);
        row.cells.emplace_back(1, format("VUV%d", m + 1));
        // From "indeterminate" on the module's measurements are not valid.
        row.measured = code < kRectifierUnknown;
        if (row.measured) {
            row.cells.emplace_back(3, format("%0.2fВ", rectifier_voltage(status, layout, m) / 100.0));
            row.cells.emplace_back(4, format("%0.2fА", rectifier_current(status, layout, m) / 100.0));
        } else {
            row.cells.emplace_back(3, "--,-В");
            row.cells.emplace_back(4, "--,-А");
        }
        view.rows.push_back(std::move(row));
    }
    return view;
}

ListView dry_contact_list_view(const SettingsImage& device, const SettingsImage& reference,
                               std::span<const uint16_t> dry_contacts)
{
    int count = 0;
    ListView view = view_for_count(device, reference, SettingsField::DryContactCount, count);
    int rows = std::min<int>(count, 16);
    for (int i = 1; i <= rows; ++i) {
        unsigned code = word(dry_contacts, i - 1);
        ListRow row = state_row(0, 3, dry_contact_state_look(code));
        row.state = state_code(kDryContactStates, code);
        row.cells.emplace_back(1, format("СК%d", i));
        row.cells.emplace_back(2, quoted_device_string(settings_item(device, SettingsField::DryContactNames, i - 1)));
        view.rows.push_back(std::move(row));
    }
    return view;
}

ListView ukdv_list_view(const SettingsImage& device, const SettingsImage& reference, uint16_t missing_units)
{
    int breakers = 0;
    ListView view = view_for_count(device, reference, SettingsField::LoadBreakerCount, breakers);
    // The Controller monitors 12 breakers itself; each unit takes ten more.
    int units = breakers > 12 ? (breakers - 3) / 10 : 0;
    view.rows = unit_rows(units, missing_units);
    return view;
}

ListView upkb_list_view(const SettingsImage& device, const SettingsImage& reference, uint16_t missing_units)
{
    ListView view;
    if (!(settings_u16(device, SettingsField::BatteryFlags) & settings_bits::kBlockControl)) {
        view.rebuild = true;
        return view;
    }
    uint16_t groups = settings_u16(device, SettingsField::BatteryGroupCount);
    uint16_t cells = settings_u16(device, SettingsField::CellsPerGroup);
    uint16_t elements = settings_u16(device, SettingsField::ElementsPerBlock);
    int g = std::min<int>(groups, 8);
    int highest = 0;
    bool address_changed = false;
    for (int i = 0; i < g; ++i) {
        uint16_t address = settings_u16(device, SettingsField::BlockMonitorAddress, i);
        highest = std::max<int>(highest, address);
        address_changed |= address != settings_u16(reference, SettingsField::BlockMonitorAddress, i);
    }
    view.rebuild = address_changed || groups != settings_u16(reference, SettingsField::BatteryGroupCount) ||
                   elements != settings_u16(reference, SettingsField::ElementsPerBlock) ||
                   cells != settings_u16(reference, SettingsField::CellsPerGroup);
    // One channel per measured block: 1, 3 or 6 cells per block.
    int channels = highest + cells / cells_per_block(elements);
    view.rows = unit_rows((channels + 7) / 8, missing_units);
    return view;
}

ListView dry_contact_list_view(const StatusImage& status, const SettingsImage& device,
                               const SettingsImage& reference)
{
    return dry_contact_list_view(device, reference, status.dry_contacts);
}

ListView ukdv_list_view(const StatusImage& status, const SettingsImage& device, const SettingsImage& reference)
{
    return ukdv_list_view(device, reference, status.extensions[1]);
}

ListView upkb_list_view(const StatusImage& status, const SettingsImage& device, const SettingsImage& reference)
{
    return upkb_list_view(device, reference, status.extensions[0]);
}
