// What one complete poll cycle shows, computed in full by the poll thread
// before it takes the GDK lock: the window then only copies texts into
// widgets, in one hand-off. Pure.
#pragma once

#include <string>

#include "registers/settings_image.h"
#include "registers/status_image.h"
#include "status/active_lists.h"
#include "status/equipment.h"
#include "status/presenters.h"
#include "status/trend.h"

struct CycleView {
    int layout = 1;
    std::string device_time;
    // The Controller's clock as it keeps it (UTC) and the offset of its
    // zone (time-zone word and summer time), in minutes.
    uint32_t device_seconds = 0;
    int device_utc_offset_min = 0;
    IdentificationView identification;
    std::string device_comment;
    SummaryMainsView summary_mains;
    SummaryLoadView summary_load;
    SummaryBatteryView summary_battery;
    SummaryAlarmsView summary_alarms;
    ActiveListsView event_lists;
    MainsPageView mains_page;
    LoadPageView load_page;
    BatteryPageView battery_page;
    ListView contactors;
    ListView rectifiers;
    TemperaturesView temperatures;
    ListView dry_contacts;
    ListView ukdv;
    ListView upkb;
    TrendPoint trend;   // its time is stamped when the cycle is shown
    unsigned alarm1_count = 0;   // active first-degree alarms, as GlobalAlarm1Count shows them
    PlantCondition condition;
    // The registers the view was made from, for those who want the values as
    // numbers rather than texts (the command line's JSON).
    StatusImage status;
};

// `device` and `reference` are the device and reference settings copies of
// `layout`; `lists_built_from` the device copy the event lists on screen were
// built from (nullptr: none yet).
CycleView build_cycle_view(const StatusImage& status, const PreviousStatusImage& previous, int layout,
                           const SettingsImage& device, const SettingsImage& reference,
                           const SettingsImage* lists_built_from);

// The values of a cycle that its views mark as measured; time 0.
TrendPoint trend_point(const CycleView& view);

// Cycles given up in a row after which the values on screen are shown as no
// longer live.
constexpr int kStaleAfterGivenUp = 3;

// Whether the values on screen are stale: counts the cycles given up in a row
// and forgets them when a cycle completes.
class StaleWatch {
public:
    // Returns true when this cycle changed whether the data is stale.
    bool cycle_given_up() { return ++given_up_ == kStaleAfterGivenUp; }
    bool cycle_complete()
    {
        bool was = stale();
        given_up_ = 0;
        return was;
    }
    bool stale() const { return given_up_ >= kStaleAfterGivenUp; }
    void reset() { given_up_ = 0; }

private:
    int given_up_ = 0;
};
