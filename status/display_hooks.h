// How the poll thread reaches the window. It never includes GTK and never
// takes the window's lock: at the end of a complete cycle it posts the whole
// view of the cycle (CycleView, a value it computed) to the GUI thread, where
// the display appliers take it in a fixed order, in one step. The GTK layer installs appliers that copy the view
// into widgets; other subsystems put their own appliers into their steps
// (event lists, equipment lists). Without a window the headless hooks record
// what would have been shown.
#pragma once

#include <string>
#include <vector>

#include "status/cycle_view.h"

// The order in which the appliers run after a complete cycle.
enum class DisplayStep {
    Identification,
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
    Trends,
    Count_
};
constexpr int kDisplaySteps = static_cast<int>(DisplayStep::Count_);

using DisplayApplier = void (*)(const CycleView& view);

// Called on the GUI thread with the GDK lock held, except set_progress.
struct PollDisplayHooks {
    // Status-bar label of the cycle. Any thread, with or without the lock:
    // the window shows the latest at its own pace.
    void (*set_progress)(const char* markup);
    void (*set_cycle_time)(const char* text);         // CycleTime
    // The values on screen stopped being live (cycles keep being given up),
    // or are live again.
    void (*set_stale)(bool stale);
    // Settings page after the first good settings read of a connection; the
    // edit copy of `layout` has just been refreshed from the device copy.
    void (*load_settings_page)(int layout);
    DisplayApplier appliers[kDisplaySteps];
};

PollDisplayHooks& display_hooks();
// Puts one applier in place, keeping the others (subsystems call this at start-up).
void display_set_applier(DisplayStep step, DisplayApplier applier);
// Runs every applier on `view`, in step order. GDK lock held.
void display_apply(const CycleView& view);
// The values on screen stopped being live, or are live again: set_stale, then
// whoever asked to hear it (the trends draw a gap there). GDK lock held.
void display_set_stale(bool stale);
// Adds a listener of display_set_stale (subsystems, at start-up).
void display_add_stale_listener(void (*listener)(bool stale));
// The recording hooks; what display_hooks() starts with.
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
    bool stale = false;
    SummaryMainsView summary_mains;
    SummaryLoadView summary_load;
    SummaryBatteryView summary_battery;
    SummaryAlarmsView summary_alarms;
    MainsPageView mains_page;
    LoadPageView load_page;
    BatteryPageView battery_page;
    TemperaturesView temperatures;
    CycleView last_view;                 // the whole view of the last display pass
};
DisplayRecord display_record();
void display_record_clear();
