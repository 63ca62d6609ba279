#include "events/active_lists_gtk.h"

#include <glib.h>

#include "events/alarm_notice.h"
#include "events/alarm_notify_gtk.h"
#include "status/display_hooks.h"
#include "status/equipment_gtk.h"

namespace {

ActiveSince g_since;
void (*g_show_alarm_count)(unsigned count) = nullptr;

void show_alarm_count(unsigned count)
{
    if (g_show_alarm_count)
        g_show_alarm_count(count);
}

// The lists as `lists` gives them, each row with its time from `seen`.
void show_event_lists(const ActiveListsView& lists, const ActiveSince::Update& seen)
{
    for (int k = 0; k < kActiveListCount; ++k) {
        ListView view;
        view.rebuild = true;
        for (size_t i = 0; i < lists.rows[k].size(); ++i) {
            ListRow row;
            row.cells.emplace_back(1, lists.rows[k][i]);   // the active lists carry no icon
            if (i < seen.since[k].size())
                row.cells.emplace_back(2, since_text(seen.since[k][i]));
            view.rows.push_back(std::move(row));
        }
        apply_list_view(kActiveListStores[k], view);
    }
}

// The Controller the lists are from: a drop of the link and a reconnect to
// the same one keeps the times of the events still active.
std::string g_controller;

} // namespace

void apply_active_event_lists(const ActiveListsView& lists, int64_t controller_ms)
{
    if (!lists.changed)
        return;
    g_since.follow(g_controller);
    ActiveSince::Update seen = g_since.update(lists.codes, lists.active, controller_ms);
    show_event_lists(lists, seen);
    std::vector<std::string> new_alarms;
    for (uint16_t code : seen.new_alarms)
        for (size_t i = 0; i < lists.codes[0].size() && i < lists.rows[0].size(); ++i)
            if (lists.codes[0][i] == code)
                new_alarms.push_back(lists.rows[0][i]);
    notify_new_alarms(g_controller, new_alarms);
}

void event_lists_display_install(void (*alarm_count_shown)(unsigned count))
{
    g_show_alarm_count = alarm_count_shown;
    display_set_applier(DisplayStep::EventLists, [](const CycleView& v) {
        g_controller = v.identification.device_code + "/" + v.identification.serial_number;
        show_alarm_count(v.alarm1_count);
        apply_active_event_lists(v.event_lists, (int64_t(v.device_seconds) + v.device_utc_offset_min * 60LL) * 1000);
    });
}

void event_lists_display_reset()
{
    // The lists empty while there is no link; what was active and since when
    // is kept for the same Controller's next link (another one starts afresh).
    show_event_lists(ActiveListsView{}, ActiveSince::Update{});
    show_alarm_count(0);
}
