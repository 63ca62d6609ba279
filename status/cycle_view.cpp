#include "status/cycle_view.h"

#include <algorithm>

namespace {

constexpr unsigned kMaxMainsVolts = 999;

void set(TrendPoint& p, TrendSeries series, float value) { p.value[static_cast<int>(series)] = value; }

} // namespace

TrendPoint trend_point(const CycleView& v)
{
    const StatusImage& s = v.status;
    TrendPoint p = trend_gap(0);
    // The phases the mains page shows with a voltage; without phase
    // measurement the Controller gives a state for the whole mains, no volts.
    for (int i = 0; i < 3; ++i)
        if (v.mains_page.phase_value[i].measured)
            set(p, static_cast<TrendSeries>(static_cast<int>(TrendSeries::MainsL1) + i),
                static_cast<float>(std::min<unsigned>(phase_voltage(s, i + 1), kMaxMainsVolts)));
    if (v.summary_load.voltage.measured)
        set(p, TrendSeries::LoadVoltage, load_voltage(s));
    if (v.summary_load.current.measured)
        set(p, TrendSeries::LoadCurrent, static_cast<float>(load_current(s)));
    if (v.summary_battery.current.measured)
        set(p, TrendSeries::BatteryCurrent, static_cast<float>(battery_current(s)));
    if (v.temperatures.t1.measured)
        set(p, TrendSeries::Temperature1, sensor1_temperature(s));
    if (v.temperatures.t2.measured)
        set(p, TrendSeries::Temperature2, sensor2_temperature(s));
    return p;
}

CycleView build_cycle_view(const StatusImage& status, const PreviousStatusImage& previous, int layout,
                           const SettingsImage& device, const SettingsImage& reference,
                           const SettingsImage* lists_built_from)
{
    CycleView v;
    v.layout = layout;
    v.device_time = device_time_text(device_time(status), settings_s16(device, SettingsField::Timezone),
                                     settings_u16(device, SettingsField::SummerTime) & settings_bits::kSummerTime);
    v.device_seconds = device_time(status);
    v.device_utc_offset_min = settings_s16(device, SettingsField::Timezone) * 15 +
                              ((settings_u16(device, SettingsField::SummerTime) & settings_bits::kSummerTime) ? 60 : 0);
    v.identification = present_identification(status);
    v.device_comment = settings_name(device, SettingsField::Comment, 0);
    v.summary_mains = present_summary_mains(status, device);
    v.summary_load = present_summary_load(status, device);
    v.summary_battery = present_summary_battery(status, device);
    v.summary_alarms = present_summary_alarms(status);
    v.event_lists = active_lists_view(status, previous, device, lists_built_from);
    v.mains_page = present_mains_page(status, device);
    v.load_page = present_load_page(status, device, reference);
    v.battery_page = present_battery_page(status, device, reference);
    v.contactors = contactor_list_view(status, device, reference);
    v.rectifiers = rectifier_list_view(status, device, reference);
    v.temperatures = present_temperatures(status, device);
    v.dry_contacts = dry_contact_list_view(status, device, reference);
    v.ukdv = ukdv_list_view(status, device, reference);
    v.upkb = upkb_list_view(status, device, reference);
    v.alarm1_count = alarm1_count(status, layout);
    v.condition = present_condition(status, device);
    v.status = status;
    v.trend = trend_point(v);
    return v;
}
