#include "events/active_lists_gtk.h"

#include "events/active_lists_cycle.h"
#include "status/equipment_gtk.h"

void refresh_active_event_lists(const StatusImage& status, const StatusImage& previous)
{
    ActiveListsView lists = current_active_lists(status, previous);
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
