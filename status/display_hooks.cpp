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
void r_cycle_time(const char* text)
{
    record([&](DisplayRecord& r) { r.cycle_time = text; });
}
void r_stale(bool stale)
{
    record([&](DisplayRecord& r) { r.stale = stale; });
}
void r_settings_page(int)
{
    record([&](DisplayRecord& r) { ++r.settings_page_loads; });
}

// The recorder keeps the view the poll thread built; it runs no presenter.
void r_view(const CycleView& v)
{
    record([&](DisplayRecord& r) {
        ++r.complete_cycles;
        r.device_time = v.device_time;
        r.identification = v.identification;
        r.device_comment = v.device_comment;
        r.summary_mains = v.summary_mains;
        r.summary_load = v.summary_load;
        r.summary_battery = v.summary_battery;
        r.summary_alarms = v.summary_alarms;
        r.mains_page = v.mains_page;
        r.load_page = v.load_page;
        r.battery_page = v.battery_page;
        r.temperatures = v.temperatures;
        r.last_view = v;
    });
}

PollDisplayHooks headless_hooks()
{
    PollDisplayHooks h{};
    h.set_progress = r_progress;
    h.set_cycle_time = r_cycle_time;
    h.set_stale = r_stale;
    h.load_settings_page = r_settings_page;
    h.appliers[static_cast<int>(DisplayStep::Identification)] = r_view;
    return h;
}

PollDisplayHooks g_hooks = headless_hooks();
std::vector<void (*)(bool)> g_stale_listeners;

} // namespace

PollDisplayHooks& display_hooks() { return g_hooks; }

void display_set_applier(DisplayStep step, DisplayApplier applier)
{
    g_hooks.appliers[static_cast<int>(step)] = applier;
}

void display_apply(const CycleView& view)
{
    for (DisplayApplier applier : g_hooks.appliers)
        if (applier)
            applier(view);
}

void display_set_stale(bool stale)
{
    if (g_hooks.set_stale)
        g_hooks.set_stale(stale);
    for (auto listener : g_stale_listeners)
        listener(stale);
}

void display_add_stale_listener(void (*listener)(bool stale)) { g_stale_listeners.push_back(listener); }

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
