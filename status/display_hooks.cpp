#include "status/display_hooks.h"

#include <mutex>

namespace {

std::mutex g_record_lock;
DisplayRecord g_record;

template <typename F>
void record(F&& change)
{
    std::lock_guard lock(g_record_lock);
    change(g_record);
}

void r_progress(const char* markup)
{
    record([&](DisplayRecord& r) { r.progress.emplace_back(markup); });
}
void r_device_time(const char* text)
{
    record([&](DisplayRecord& r) { r.device_time = text; });
}
void r_identification(const IdentificationView& view)
{
    record([&](DisplayRecord& r) { r.identification = view; });
}
void r_comment(const char* text)
{
    record([&](DisplayRecord& r) { r.device_comment = text; });
}
void r_cycle_time(const char* text)
{
    record([&](DisplayRecord& r) { r.cycle_time = text; });
}
void r_settings_page(int)
{
    record([&](DisplayRecord& r) { ++r.settings_page_loads; });
}

void r_summary_mains(const DisplayContext& c)
{
    auto view = present_summary_mains(c.status, c.device);
    record([&](DisplayRecord& r) {
        r.summary_mains = view;
        ++r.complete_cycles;
    });
}
void r_summary_load(const DisplayContext& c)
{
    auto view = present_summary_load(c.status, c.device);
    record([&](DisplayRecord& r) { r.summary_load = view; });
}
void r_summary_battery(const DisplayContext& c)
{
    auto view = present_summary_battery(c.status, c.device);
    record([&](DisplayRecord& r) { r.summary_battery = view; });
}
void r_summary_alarms(const DisplayContext& c)
{
    auto view = present_summary_alarms(c.status);
    record([&](DisplayRecord& r) { r.summary_alarms = view; });
}
void r_mains_page(const DisplayContext& c)
{
    auto view = present_mains_page(c.status, c.device);
    record([&](DisplayRecord& r) { r.mains_page = view; });
}
void r_load_page(const DisplayContext& c)
{
    auto view = present_load_page(c.status, c.device, c.reference);
    record([&](DisplayRecord& r) { r.load_page = view; });
}
void r_battery_page(const DisplayContext& c)
{
    auto view = present_battery_page(c.status, c.device, c.reference);
    record([&](DisplayRecord& r) { r.battery_page = view; });
}
void r_temperatures(const DisplayContext& c)
{
    auto view = present_temperatures(c.status, c.device);
    record([&](DisplayRecord& r) { r.temperatures = view; });
}

PollDisplayHooks headless_hooks()
{
    PollDisplayHooks h{};
    h.set_progress = r_progress;
    h.set_device_time = r_device_time;
    h.set_identification = r_identification;
    h.set_device_comment = r_comment;
    h.set_cycle_time = r_cycle_time;
    h.load_settings_page = r_settings_page;
    h.updaters[static_cast<int>(DisplayStep::SummaryMains)] = r_summary_mains;
    h.updaters[static_cast<int>(DisplayStep::SummaryLoad)] = r_summary_load;
    h.updaters[static_cast<int>(DisplayStep::SummaryBattery)] = r_summary_battery;
    h.updaters[static_cast<int>(DisplayStep::SummaryAlarms)] = r_summary_alarms;
    h.updaters[static_cast<int>(DisplayStep::MainsPage)] = r_mains_page;
    h.updaters[static_cast<int>(DisplayStep::LoadPage)] = r_load_page;
    h.updaters[static_cast<int>(DisplayStep::BatteryPage)] = r_battery_page;
    h.updaters[static_cast<int>(DisplayStep::Temperatures)] = r_temperatures;
    return h;
}

PollDisplayHooks g_hooks = headless_hooks();

} // namespace

PollDisplayHooks& display_hooks() { return g_hooks; }

void display_hooks_install(const PollDisplayHooks& hooks) { g_hooks = hooks; }

void display_set_updater(DisplayStep step, DisplayUpdater updater)
{
    g_hooks.updaters[static_cast<int>(step)] = updater;
}

void display_hooks_headless() { g_hooks = headless_hooks(); }

DisplayRecord display_record()
{
    std::lock_guard lock(g_record_lock);
    return g_record;
}

void display_record_clear()
{
    std::lock_guard lock(g_record_lock);
    g_record = DisplayRecord{};
}
