// What the live display shows, computed from the status image and the device
// copy of the settings without touching a widget. One GTK step applies each
// view; a field left empty (std::nullopt) leaves its widget as it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <vector>

#include "registers/settings_image.h"
#include "registers/status_image.h"

// What a view means beside how it looks. Whoever reads a cycle's views (the
// window's colours, the command line's report and JSON, the monitoring check,
// the trends) reads these and never works them out again from the registers
// or from the markup.
//
// A state code as the Controller sent it, and whether the Controller gives it
// a meaning: one it does not is shown as an error, never as normal.
struct StateCode {
    unsigned code = 0;
    bool unknown = false;
    bool operator==(const StateCode&) const = default;
};

// A code past the end of its table of texts is one the Controller does not define.
template <typename Look, size_t N>
StateCode state_code(const Look (&)[N], unsigned code)
{
    return {code, code >= N};
}

struct WidgetView {
    std::optional<std::string> markup;
    std::optional<bool> visible;
    bool alarm = false;          // shown as an alarm: the markup's red comes from this flag
    bool measured = false;       // shows a value the Controller measured
    bool unknown_code = false;   // shows a state code the Controller defines no meaning for
};

// Alarm markup around a text.
std::string red(const std::string& text);
// The label's text with the alarm look when `alarm` (the one place the flag
// becomes the colour); `after` follows outside the red.
WidgetView alarm_look(const std::string& text, bool alarm, const std::string& after = "");

struct SummaryMainsView {
    WidgetView label;        // GlobalMainsLabel
    WidgetView phase[3];     // GlobalMainsL1..3
    WidgetView energosafe;   // hboxEnergosafe
};

struct SummaryLoadView {
    WidgetView label;        // GlobalLoadLabel
    WidgetView voltage;      // GlobalLoadVoltage
    WidgetView current;      // GlobalLoadCurrent
    WidgetView tk;           // GlobalTK
};

struct SummaryBatteryView {
    WidgetView label;        // GlobalBatteryLabel
    WidgetView status;       // GlobalBatteryStatus
    WidgetView current;      // GlobalBatteryCurrent
};

struct SummaryAlarmsView {
    WidgetView label;        // GlobalAlarmLabel
    WidgetView count1;       // GlobalAlarm1Count
    WidgetView count2;       // GlobalAlarm2Count
};

struct MainsPageView {
    WidgetView phase_label[3];  // MainsL1Label..
    WidgetView phase_value[3];  // MainsL1..
    WidgetView phase_status[3]; // MainsL1Status..
    WidgetView lighting_label;  // MainsLightingLabel
    WidgetView lighting_status; // MainsLightingStatus
};

// One row of AutomatsListStore: AutomatStatus, Automat, AutomatStatusName, AutomatName.
struct AutomatRow {
    std::string status_icon;
    std::string automat;
    std::string status_name;
    std::string name;
    StateCode state;
    bool operator==(const AutomatRow&) const = default;
};

struct LoadPageView {
    WidgetView voltage;      // LoadVoltage
    WidgetView current;      // LoadCurrent
    WidgetView tk;           // LoadTK
    bool update_list = false; // false: leave AutomatsListStore alone this cycle
    bool rebuild = false;     // counts differ from the reference copy
    std::vector<AutomatRow> rows;
};

// One row of BatteryTreeStore (group rows at the top level, block rows below).
struct BatteryRow {
    std::string status_icon;   // StatusImage
    std::string element_name;  // ElementName
    std::string status;        // Status
    std::string voltage;       // Voltage
    std::string current_temp;  // CurrentTemp
    std::string bga_icon;      // BGAImage
    bool bga_icon_visible = false;
    std::string bga_status;    // BGAStatus
    bool bga_status_visible = false;
    StateCode state;           // connection state of a group, state of a block
    StateCode breaker;         // group rows: the group breaker's state
    bool measured = false;     // the voltage and current or temperature are measurements
    bool operator==(const BatteryRow&) const = default;
};

struct BatteryGroupView {
    BatteryRow row;
    std::vector<BatteryRow> blocks;
};

struct BatteryPageView {
    WidgetView status;       // BatteryStatus
    WidgetView current;      // BatterySummaryCurrent
    bool rebuild = false;    // counts differ from the reference copy
    std::vector<BatteryGroupView> groups;
};

struct TemperaturesView {
    WidgetView t1;           // Temperature1
    WidgetView t2;           // Temperature2
    WidgetView t2_label;     // Temperature2Label
};

// Event test of a code range over the block-256 buffers: the buffer of the
// layout in force first, then those of the later layouts.
bool event_range_alarmed(const StatusImage& s, const SettingsImage& device, int first, int last);

// `device` is the device copy of the layout in force (status_layout(s)).
SummaryMainsView present_summary_mains(const StatusImage& s, const SettingsImage& device);
SummaryLoadView present_summary_load(const StatusImage& s, const SettingsImage& device);
SummaryBatteryView present_summary_battery(const StatusImage& s, const SettingsImage& device);
SummaryAlarmsView present_summary_alarms(const StatusImage& s);
MainsPageView present_mains_page(const StatusImage& s, const SettingsImage& device);
LoadPageView present_load_page(const StatusImage& s, const SettingsImage& device, const SettingsImage& reference);
BatteryPageView present_battery_page(const StatusImage& s, const SettingsImage& device, const SettingsImage& reference);
TemperaturesView present_temperatures(const StatusImage& s, const SettingsImage& device);

// Battery mode text; 8 and above is the emergency mode.
const char* battery_mode_text(unsigned mode);
// Load current in mA by the shunt rule.
std::string load_current_text(uint32_t milliamperes, unsigned shunt_type, bool shunt_present);

// Device clock in the Controller's zone: "%d %b %Y %X (%+d:%02d)" in UTF-8.
// tz in quarter hours, dst 0 or 1.
std::string device_time_text(uint32_t device_seconds, int16_t tz, int dst);

// Identification labels: DeviceCode, ProtocolVersion, SWVersion, SerialNumber,
// and the rest of the block on the device page, so an engineer sees all the
// Controller says of itself (registers it gives no meaning to as raw words).
struct IdentificationView {
    std::string device_code, protocol_version, sw_version, serial_number;
    std::string journal_record, newest_test_slot, newest_discharge_slot, other_registers;
};
IdentificationView present_identification(const StatusImage& s);

// The plant as someone watching it from afar judges it (a monitoring system,
// a script): from the same registers and settings as the summary strip.
struct PlantCondition {
    // Every phase the summary shows is out of range (state 1 or 2; without
    // phase measurement the one state of the whole mains): the plant runs on
    // its battery. A phase with a sensor error, or in a state the Controller
    // does not define, does not count as lost.
    bool mains_lost = false;
    bool mains_alarmed = false;     // the summary's red "Сеть"
    bool load_alarmed = false;      // red "Нагрузка"
    bool battery_fitted = false;    // battery groups configured
    bool battery_alarmed = false;   // red "АБ"
    unsigned battery_mode = 0;
    // "Разряд АБ" or "Батарея разряжена".
    bool battery_discharging = false;
    unsigned alarm1 = 0, alarm2 = 0;   // GlobalAlarm1Count, GlobalAlarm2Count
};
PlantCondition present_condition(const StatusImage& s, const SettingsImage& device);
