#include "events/active_lists_gtk.h"

#include "status/display_hooks.h"
#include "status/equipment_gtk.h"

void apply_active_event_lists(const ActiveListsView& lists)
{
    if (!lists.changed)
        return;
    for (int k = 0; k < kActiveListCount; ++k) {
        ListView view;
        view.rebuild = true;
        for (const std::string& text : lists.rows[k]) {
            ListRow row;
            row.cells.emplace_back(1, text);   // the active lists carry no icon
            view.rows.push_back(std::move(row));
        }
        apply_list_view(kActiveListStores[k], view);
    }
}

void event_lists_display_install()
{
    display_set_applier(DisplayStep::EventLists, [](const CycleView& v) { apply_active_event_lists(v.event_lists); });
}

void event_lists_display_reset()
{
    ActiveListsView empty;
    empty.changed = true;
    apply_active_event_lists(empty);
}
