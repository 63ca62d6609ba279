#include "status/presenters.h"

#include <algorithm>
#include <cstdlib>

#include <glib.h>

#include "base/controller_time.h"
#include "base/text_format.h"

namespace {

using F = SettingsField;

// Stock ids of list rows.
constexpr const char* kIconOn = "gtk-apply";
constexpr const char* kIconOff = "gtk-cancel";
constexpr const char* kIconError = "gtk-dialog-error";
constexpr const char* kIconUnknown = "gtk-dialog-question";

constexpr const char* kError = "Ошибка";

struct StateText {
    const char* icon;
    const char* text;
};

// Breakers and group breakers: 0 on, 1 off, 2 indeterminate, 3 error.
constexpr StateText kBreakerStates[] = {
    {kIconOn, "Включен"}, {kIconOff, "Отключен"}, {kIconUnknown, "Неизвестно"}, {kIconError, kError}};
// Battery group connection: 0 connected, 1 disconnected, 2 error.
constexpr StateText kConnectionStates[] = {{kIconOn, "Подключена"}, {kIconOff, "Отключена"}, {kIconError, kError}};
// Battery blocks: 0 normal, 1 low, 2 high, 3 overheated, 4 error.
constexpr StateText kBlockStates[] = {
    {kIconOn, "Норма"}, {kIconOff, "Понижено"}, {kIconOff, "Повышено"}, {kIconOff, "Перегрев"}, {kIconError, kError}};
constexpr StateText kStateError = {kIconError, kError};

// Values the Controller may send beyond its own codes get the error row.
template <size_t N>
const StateText& state_text(const StateText (&table)[N], unsigned state)
{
    return state < N ? table[state] : kStateError;
}

// Mains phases: 0 normal, 1 low, 2 high, 3 sensor error.
constexpr unsigned kPhaseSensorError = 3;
bool phase_state_known(unsigned state) { return state <= kPhaseSensorError; }
// Load: 0 normal, 1 thermal compensation, 2 low, 3 high, 4 measurement error.
constexpr unsigned kLoadMeasurementError = 4;
// Temperature sensor 2: 0 normal, 1 below, 2 above, 3 error.
constexpr unsigned kSensor2Error = 3;
constexpr unsigned kSensor1Error = 1;
// Battery blocks from 4, the error, on carry no measurement.
constexpr unsigned kBlockError = 4;

constexpr const char* kModeTexts[] = {"Заряд АБ", "АБ в содержании", "Ускоренный заряд АБ", "Выравнивающий заряд АБ",
                                      "Разряд АБ", "Батарея разряжена", "Тест АБ", "Нет батареи"};

constexpr unsigned kModeDischarge = 4;
constexpr unsigned kModeDischarged = 5;

constexpr int kLoadRange[] = {32, 95};
constexpr int kBatteryRange[] = {96, 127};
constexpr int kEnergySavingCode = 341;

int mains_first_code(int layout) { return layout <= 1 ? 224 : 352; }

WidgetView text(std::string markup) { return alarm_look(markup, false); }
WidgetView shown(WidgetView view)
{
    view.visible = true;
    return view;
}
WidgetView shown(std::string markup) { return shown(text(std::move(markup))); }
WidgetView visibility(bool visible)
{
    WidgetView view;
    view.visible = visible;
    return view;
}
WidgetView as_measured(WidgetView view)
{
    view.measured = true;
    return view;
}
WidgetView unknown(WidgetView view)
{
    view.unknown_code = true;
    return view;
}
// The look of the text on a label whose visibility is decided elsewhere.
void set_look(WidgetView& view, const WidgetView& look)
{
    std::optional<bool> visible = view.visible;
    view = look;
    view.visible = visible;
}

std::string mains_volts(unsigned v) { return format("%uВ", std::min(v, 999u)); }

bool low_or_high(unsigned state) { return state == 1 || state == 2; }

} // namespace

std::string red(const std::string& text)
{
    return "<span fgcolor=\"#FF0000\" font_weight=\"ultrabold\">" + text + "</span>";
}

WidgetView alarm_look(const std::string& text, bool alarm, const std::string& after)
{
    WidgetView view;
    view.markup = (alarm ? red(text) : text) + after;
    view.alarm = alarm;
    return view;
}

bool event_range_alarmed(const StatusImage& s, const SettingsImage& device, int first, int last)
{
    auto mask1 = settings_event_mask(device, 1);
    auto mask2 = settings_event_mask(device, 2);
    for (int buffer = status_layout(s); buffer <= 3; ++buffer)
        if (event_range_selected(event_bits(s, buffer), mask1, mask2, first, last))
            return true;
    return false;
}

const char* battery_mode_text(unsigned mode)
{
    return mode < std::size(kModeTexts) ? kModeTexts[mode] : "Аварийный режим";
}

std::string load_current_text(uint32_t milliamperes, unsigned shunt_type, bool shunt_present)
{
    const char* fmt = "%0.1fА";
    if (shunt_present && shunt_type <= 2)
        fmt = "%0.3fА";
    else if (shunt_present && shunt_type <= 13)
        fmt = "%0.2fА";
    return format(fmt, milliamperes / 1000.0);
}

SummaryMainsView present_summary_mains(const StatusImage& s, const SettingsImage& device)
{
    SummaryMainsView v;
    int layout = status_layout(s);
    unsigned n = settings_u16(device, F::MainsPhaseCount);
    bool measurement = settings_u16(device, F::MainsFlags) & settings_bits::kMainsMeasurement;

    for (unsigned i = 0; i < 3; ++i)
        v.phase[i].visible = i < n;
    int first = mains_first_code(layout);
    v.label = alarm_look("Сеть", event_range_alarmed(s, device, first, first + 31));
    v.energosafe = visibility(layout_has_energy_saving(layout) && event_bit(event_bits(s, 3), kEnergySavingCode));

    unsigned phases = std::clamp(n, 1u, 3u);
    for (unsigned i = 1; i <= phases; ++i) {
        unsigned state = phase_state(s, static_cast<int>(i));
        unsigned volts = phase_voltage(s, static_cast<int>(i));
        WidgetView& label = v.phase[i - 1];
        if (state == kPhaseSensorError) {
            set_look(label, text("---В"));
            continue;
        }
        // A state the Controller does not define may stand for an alarm.
        if (!phase_state_known(state)) {
            set_look(label, unknown(alarm_look(kError, true)));
            if (measurement)
                continue;
            break;
        }
        if (measurement) {
            set_look(label, as_measured(alarm_look(mains_volts(volts), low_or_high(state))));
            continue;
        }
        // Without phase measurement one text stands for the whole mains.
        set_look(label, alarm_look(low_or_high(state) ? "Понижено" : "Норма", low_or_high(state)));
        break;
    }
    return v;
}

SummaryLoadView present_summary_load(const StatusImage& s, const SettingsImage& device)
{
    SummaryLoadView v;
    unsigned shunt_type = settings_u16(device, F::LoadShuntType);
    bool shunt = settings_u16(device, F::LoadShuntFlags) & settings_bits::kLoadShuntPresent;
    v.label = alarm_look("Нагрузка", event_range_alarmed(s, device, kLoadRange[0], kLoadRange[1]));
    v.tk = visibility(false);
    double volts = load_voltage(s) / 100.0;
    unsigned state = load_state(s);
    switch (state) {
    case 0:
        v.voltage = as_measured(text(format("%0.1fВ", volts)));
        break;
    case 1:
        v.voltage = as_measured(text(format("%0.1fВ", volts)));
        v.tk.visible = true;
        break;
    case 2:
        v.voltage = as_measured(alarm_look(format("%0.1fВ Понижено", volts), true));
        break;
    case 3:
        v.voltage = as_measured(alarm_look(format("%0.1fВ Повышено", volts), true));
        break;
    default: // 4, and codes the Controller does not define: no valid measurement
        v.current = text("--,-А");
        v.voltage = text("--,-В");
        v.voltage.unknown_code = state > kLoadMeasurementError;
        return v;
    }
    v.current = as_measured(text(load_current_text(load_current(s), shunt_type, shunt)));
    return v;
}

SummaryBatteryView present_summary_battery(const StatusImage& s, const SettingsImage& device)
{
    SummaryBatteryView v;
    if (settings_u16(device, F::BatteryGroupCount) == 0) {
        v.label = text("АБ");
        v.status = text("Нет батареи");
        v.current = visibility(false);
        return v;
    }
    v.label = alarm_look("АБ", event_range_alarmed(s, device, kBatteryRange[0], kBatteryRange[1]));
    v.status = text(battery_mode_text(battery_mode(s)));
    v.current = shown(as_measured(text(format("%0.2fА", battery_current(s) / 1000.0))));
    return v;
}

SummaryAlarmsView present_summary_alarms(const StatusImage& s)
{
    SummaryAlarmsView v;
    int layout = status_layout(s);
    bool alarm = false;
    for (int buffer = layout; buffer <= 3 && !alarm; ++buffer)
        alarm = alarm1_count(s, buffer) != 0 || alarm2_count(s, buffer) != 0;
    v.label = alarm_look("Аварии", alarm);
    v.count1 = text(format("%u", alarm1_count(s, layout)));
    v.count2 = text(format("%u", alarm2_count(s, layout)));
    return v;
}

MainsPageView present_mains_page(const StatusImage& s, const SettingsImage& device)
{
    MainsPageView v;
    unsigned n = settings_u16(device, F::MainsPhaseCount);
    uint16_t flags = settings_u16(device, F::MainsFlags);

    if (flags & settings_bits::kLighting) {
        unsigned state = lightning_state(s);
        v.lighting_label = visibility(true);
        v.lighting_status = shown(alarm_look(state == 0 ? "Норма" : state == 2 ? kError : "Авария", state != 0));
    } else {
        v.lighting_label = visibility(false);
        v.lighting_status = visibility(false);
    }

    if (!(flags & settings_bits::kMainsMeasurement)) {
        for (int i = 1; i < 3; ++i)
            v.phase_label[i] = v.phase_value[i] = v.phase_status[i] = visibility(false);
        v.phase_value[0] = visibility(false);
        v.phase_label[0] = visibility(true);
        unsigned state = phase_state(s, 1);
        if (!phase_state_known(state))
            v.phase_status[0] = shown(unknown(alarm_look(kError, true)));
        else
            v.phase_status[0] = shown(alarm_look(low_or_high(state) ? "Понижено" : "Норма", low_or_high(state)));
        return v;
    }

    unsigned m = n == 0 ? 1 : n;
    for (unsigned i = 1; i <= 3; ++i) {
        unsigned k = i - 1;
        if (!(n > 3 || i <= m)) {
            v.phase_label[k] = v.phase_value[k] = v.phase_status[k] = visibility(false);
            continue;
        }
        unsigned state = phase_state(s, static_cast<int>(i));
        unsigned volts = phase_voltage(s, static_cast<int>(i));
        v.phase_label[k] = visibility(true);
        if (state >= kPhaseSensorError) {
            v.phase_value[k] = shown("---В");
            v.phase_status[k] = shown(alarm_look(kError, true));
            v.phase_status[k].unknown_code = !phase_state_known(state);
            continue;
        }
        v.phase_status[k] = shown(alarm_look(state == 2 ? "Повышено" : state == 1 ? "Понижено" : "Норма", state != 0));
        v.phase_value[k] = shown(as_measured(alarm_look(mains_volts(volts), low_or_high(state))));
    }
    return v;
}

LoadPageView present_load_page(const StatusImage& s, const SettingsImage& device, const SettingsImage& reference)
{
    LoadPageView v;
    unsigned shunt_type = settings_u16(device, F::LoadShuntType);
    bool shunt = settings_u16(device, F::LoadShuntFlags) & settings_bits::kLoadShuntPresent;
    unsigned count = settings_u16(device, F::LoadBreakerCount);
    unsigned reference_count = settings_u16(reference, F::LoadBreakerCount);

    v.tk = visibility(false);
    double volts = load_voltage(s) / 100.0;
    unsigned state = load_state(s);
    switch (state) {
    case 0:
        v.voltage = as_measured(text(format("%0.2fВ", volts)));
        break;
    case 1:
        v.voltage = as_measured(text(format("%0.2fВ", volts)));
        v.tk.visible = true;
        break;
    case 2:
        v.voltage = as_measured(alarm_look(format("%0.2fВ", volts), true, " Понижено"));
        break;
    case 3:
        v.voltage = as_measured(alarm_look(format("%0.2fВ", volts), true, " Повышено"));
        break;
    default: // 4, and codes the Controller does not define
        v.current = alarm_look("--,-А Ошибка", true);
        v.voltage = alarm_look("--,-В Ошибка", true);
        v.voltage.unknown_code = state > kLoadMeasurementError;
        return v;
    }
    v.current = as_measured(text(load_current_text(load_current(s), shunt_type, shunt)));

    v.update_list = true;
    v.rebuild = count != reference_count;
    unsigned rows = std::clamp(count, 1u, static_cast<unsigned>(kLoadBreakers));
    v.rows.reserve(rows);
    for (unsigned i = 1; i <= rows; ++i) {
        unsigned code = breaker_state(s, static_cast<int>(i));
        const StateText& state = state_text(kBreakerStates, code);
        std::string name = quoted_device_string(settings_item(device, F::LoadBreakerNames, static_cast<int>(i - 1)));
        v.rows.push_back({state.icon, format("QH%u", i), state.text, std::move(name), state_code(kBreakerStates, code)});
    }
    return v;
}

BatteryPageView present_battery_page(const StatusImage& s, const SettingsImage& device, const SettingsImage& reference)
{
    BatteryPageView v;
    unsigned groups = settings_u16(device, F::BatteryGroupCount);
    unsigned cells = settings_u16(device, F::CellsPerGroup);
    unsigned elements = settings_u16(device, F::ElementsPerBlock);
    bool block_control = settings_u16(device, F::BatteryFlags) & settings_bits::kBlockControl;

    v.status = text(battery_mode_text(battery_mode(s)));
    v.current = text(format("%0.2fА", battery_current(s) / 1000.0));
    v.rebuild = groups != settings_u16(reference, F::BatteryGroupCount) ||
                cells != settings_u16(reference, F::CellsPerGroup) ||
                elements != settings_u16(reference, F::ElementsPerBlock);

    unsigned per_block = static_cast<unsigned>(cells_per_block(elements));
    unsigned blocks = block_control ? std::min(cells / per_block, static_cast<unsigned>(kBlocksPerGroup)) : 0;

    for (unsigned g = 1; g <= std::min(groups, 4u); ++g) {
        int group = static_cast<int>(g - 1);
        uint16_t status = group_status(s, group);
        unsigned connection_code = static_cast<unsigned>(group_connection_state(status));
        unsigned breaker_code = static_cast<unsigned>(group_breaker_state(status));
        const StateText& connection = state_text(kConnectionStates, connection_code);
        const StateText& breaker = state_text(kBreakerStates, breaker_code);
        BatteryGroupView view;
        view.row = {connection.icon,
                    format("Группа %u", g),
                    connection.text,
                    format("%0.2fВ", group_voltage(s, group) / 100.0),
                    format("%0.2fА", group_current(s, group) / 1000.0),
                    breaker.icon,
                    true,
                    breaker.text,
                    true,
                    state_code(kConnectionStates, connection_code),
                    state_code(kBreakerStates, breaker_code),
                    true};
        for (unsigned b = 1; b <= blocks; ++b) {
            int block = static_cast<int>(b - 1);
            unsigned state = block_state(s, group, block);
            const StateText& st = state_text(kBlockStates, state);
            BatteryRow row{st.icon, format("Блок %u", b), st.text, "--,-В", "--,-°C", "", false, "", false,
                           state_code(kBlockStates, state), {}, false};
            row.measured = state < kBlockError;
            if (row.measured) {
                row.voltage = format("%0.2fВ", block_voltage(s, group, block) / 100.0);
                row.current_temp = format("%0.1f°C", block_temperature(s, group, block) / 10.0);
            }
            view.blocks.push_back(std::move(row));
        }
        v.groups.push_back(std::move(view));
    }
    return v;
}

TemperaturesView present_temperatures(const StatusImage& s, const SettingsImage& device)
{
    TemperaturesView v;
    if (settings_u16(device, F::TempSensorCount) <= 1) {
        v.t2 = v.t2_label = visibility(false);
    } else {
        v.t2_label = visibility(true);
        unsigned state = sensor2_state(s);
        if (state >= kSensor2Error) {
            // A state the sensor does not define is no reading to trust.
            v.t2 = shown(alarm_look(kError, true));
            v.t2.unknown_code = state > kSensor2Error;
        } else {
            std::string t = format("%0.1f°C", sensor2_temperature(s) / 10.0);
            if (state == 1)
                t += " &lt;T<sub>min</sub>";
            else if (state == 2)
                t += " &gt;T<sub>max</sub>";
            v.t2 = shown(as_measured(text(std::move(t))));
        }
    }
    if (sensor1_state(s) == kSensor1Error)
        v.t1 = alarm_look(kError, true);
    else
        v.t1 = as_measured(
            text(format("%0.1f°C &lt;%0.1f°C&gt;", sensor1_temperature(s) / 10.0, sensor1_second_value(s) / 10.0)));
    return v;
}

std::string device_time_text(uint32_t device_seconds, int16_t tz, int dst)
{
    std::string date_text = controller_time_text(device_seconds, tz, dst != 0);
    // The offset is shown from its total in minutes, so that zones west of UTC
    // keep their sign below one hour and summer time moves them the right way.
    int offset = tz * 15 + (dst ? 60 : 0);
    int magnitude = std::abs(offset);
    return format("%s (%c%d:%02d)", date_text.c_str(), offset < 0 ? '-' : '+', magnitude / 60, magnitude % 60);
}

IdentificationView present_identification(const StatusImage& s)
{
    IdentificationView v;
    v.device_code = format("%d", device_code(s));
    v.protocol_version = format("%d", protocol_version(s));
    v.sw_version = format("%d", software_version(s));
    v.serial_number = format("%u", serial_number(s));
    v.journal_record = format("%u", journal_start_record(s));
    v.newest_test_slot = format("ячейка %u", newest_test_slot(s));
    v.newest_discharge_slot = format("ячейка %u", newest_discharge_slot(s));
    for (int r : {7, 9, 11, 13, 14})
        v.other_registers += format(v.other_registers.empty() ? "%04X" : " %04X", s.identification[r]);
    return v;
}

PlantCondition present_condition(const StatusImage& s, const SettingsImage& device)
{
    PlantCondition c;
    int layout = status_layout(s);
    int first = mains_first_code(layout);
    c.mains_alarmed = event_range_alarmed(s, device, first, first + 31);
    c.load_alarmed = event_range_alarmed(s, device, kLoadRange[0], kLoadRange[1]);
    c.battery_fitted = settings_u16(device, F::BatteryGroupCount) != 0;
    c.battery_alarmed = c.battery_fitted && event_range_alarmed(s, device, kBatteryRange[0], kBatteryRange[1]);
    c.battery_mode = battery_mode(s);
    c.battery_discharging = c.battery_fitted && (c.battery_mode == kModeDischarge || c.battery_mode == kModeDischarged);
    c.alarm1 = alarm1_count(s, layout);
    c.alarm2 = alarm2_count(s, layout);

    // The phases the summary strip shows.
    bool measurement = settings_u16(device, F::MainsFlags) & settings_bits::kMainsMeasurement;
    unsigned phases = measurement ? std::clamp<unsigned>(settings_u16(device, F::MainsPhaseCount), 1u, 3u) : 1;
    unsigned out = 0, watched = 0;
    for (unsigned i = 1; i <= phases; ++i) {
        unsigned state = phase_state(s, static_cast<int>(i));
        if (state >= kPhaseSensorError)
            continue;
        ++watched;
        out += low_or_high(state);
    }
    c.mains_lost = watched > 0 && out == watched;
    return c;
}
