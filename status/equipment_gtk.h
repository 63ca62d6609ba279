// GTK side of the equipment lists and the active-event lists: puts a ListView
// into its list store. Called by the poll thread inside the GDK lock.
#pragma once

#include <gtk/gtk.h>

#include "status/equipment.h"

// Clears the store first when the view says so; otherwise updates the rows in
// place from the first one. Missing rows are appended and surplus rows
// removed, so the store always ends with exactly the view's rows.
void apply_list_view(GtkListStore* store, const ListView& view);

// The same for the store with the given id in the interface description;
// does nothing when the description has no such store.
void apply_list_view(const char* store_id, const ListView& view);

// The four equipment updaters, in the order the display step calls them:
// contactors and rectifier modules after the battery page, dry contacts and
// extension units after the temperatures. `device` and `reference` are the
// device and reference copies of the settings of the layout in force.
void update_contactor_list(const StatusImage& status, const SettingsImage& device, const SettingsImage& reference);
void update_rectifier_list(const StatusImage& status, const SettingsImage& device, const SettingsImage& reference);
void update_dry_contact_list(const StatusImage& status, const SettingsImage& device,
                             const SettingsImage& reference);
void update_extension_unit_lists(const StatusImage& status, const SettingsImage& device,
                                 const SettingsImage& reference);

// Puts the four updaters into their steps of the poll thread's display.
void equipment_display_install();
