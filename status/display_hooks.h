// How the poll thread reaches the window. It never includes GTK: at the end of
// a cycle it hands a snapshot (status image, device and reference settings)
// to the display updaters, in a fixed order, under the GDK lock. The GTK layer
// installs updaters that apply presenter output to widgets; other subsystems
// put their own updaters into their steps (event lists, equipment lists).
// Without a window the headless hooks record what would have been shown.
#pragma once

#include <string>
#include <vector>

#include "settings/settings_image.h"
#include "status/presenters.h"
#include "status/status_image.h"

struct DisplayContext {
    const StatusImage& status;
    const PreviousStatusImage& previous;
    int layout;                    // layout in force
    const SettingsImage& device;   // device copy of that layout, taken under settings_lock
    const SettingsImage& reference; // reference copy, taken under reference_lock
};

// The order in which the updaters run after a complete cycle.
enum class DisplayStep {
    SummaryMains,
    SummaryLoad,
    SummaryBattery,
    SummaryAlarms,
    EventLists,
    MainsPage,
    LoadPage,
    BatteryPage,
    Contactors,
    Rectifiers,
    Temperatures,
    DryContacts,
    ExtensionUnits,
    Count_
};
constexpr int kDisplaySteps = static_cast<int>(DisplayStep::Count_);

using DisplayUpdater = void (*)(const DisplayContext& context);

// Called with the GDK lock held.
struct PollDisplayHooks {
    void (*set_progress)(const char* markup);         // status-bar label of the cycle
    void (*set_device_time)(const char* text);        // DeviceTime menu item
    void (*set_identification)(const IdentificationView& view);
    void (*set_device_comment)(const char* text);     // DeviceComment
    void (*set_cycle_time)(const char* text);         // CycleTime
    // Settings page after the first good settings read of a connection; the
    // edit copy of `layout` has just been refreshed from the device copy.
    void (*load_settings_page)(int layout);
    DisplayUpdater updaters[kDisplaySteps];
};

PollDisplayHooks& display_hooks();
void display_hooks_install(const PollDisplayHooks& hooks);
// Puts one updater in place, keeping the others (subsystems call this at start-up).
void display_set_updater(DisplayStep step, DisplayUpdater updater);
// The recording hooks; what ui() starts with.
void display_hooks_headless();

// What the recording hooks saw, for tests and tools.
struct DisplayRecord {
    std::vector<std::string> progress;   // every progress markup, in order
    std::string device_time;
    IdentificationView identification;
    std::string device_comment;
    std::string cycle_time;
    int settings_page_loads = 0;
    int complete_cycles = 0;             // display passes
    SummaryMainsView summary_mains;
    SummaryLoadView summary_load;
    SummaryBatteryView summary_battery;
    SummaryAlarmsView summary_alarms;
    MainsPageView mains_page;
    LoadPageView load_page;
    BatteryPageView battery_page;
    TemperaturesView temperatures;
};
DisplayRecord display_record();
void display_record_clear();
