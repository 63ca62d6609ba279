#include "events/active_lists_gtk.h"

#include "events/active_lists.h"
#include "status/display_hooks.h"
#include "status/equipment_gtk.h"

void refresh_active_event_lists(const StatusImage& status, const PreviousStatusImage& previous,
                                const SettingsImage& device)
{
    ActiveListsView lists = active_lists_view(status, previous, device);
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
    display_set_updater(DisplayStep::EventLists, [](const DisplayContext& c) {
        refresh_active_event_lists(c.status, c.previous, c.device);
    });
}
