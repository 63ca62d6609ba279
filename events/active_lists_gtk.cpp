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

} // namespace

void apply_active_event_lists(const ActiveListsView& lists)
{
    if (!lists.changed)
        return;
    ActiveSince::Update seen = g_since.update(lists.codes, lists.active, g_get_real_time() / 1000);
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
    std::vector<std::string> new_alarms;
    for (uint16_t code : seen.new_alarms)
        for (size_t i = 0; i < lists.codes[0].size() && i < lists.rows[0].size(); ++i)
            if (lists.codes[0][i] == code)
                new_alarms.push_back(lists.rows[0][i]);
    notify_new_alarms(new_alarms);
}

void event_lists_display_install(void (*alarm_count_shown)(unsigned count))
{
    g_show_alarm_count = alarm_count_shown;
    display_set_applier(DisplayStep::EventLists, [](const CycleView& v) {
        show_alarm_count(v.alarm1_count);
        apply_active_event_lists(v.event_lists);
    });
}

void event_lists_display_reset()
{
    ActiveListsView empty;
    empty.changed = true;
    apply_active_event_lists(empty);
    // The next link's first cycle shows what is active as it comes up.
    g_since.reset();
    show_alarm_count(0);
}
