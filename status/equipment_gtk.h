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

// Puts the equipment lists' appliers into their steps of the poll thread's
// display: contactors and rectifier modules after the battery page, dry
// contacts and extension units after the temperatures.
void equipment_display_install();
// Empties the equipment lists (the link has ended).
void equipment_display_reset();
