// GTK side of the six active-event lists on the events page.
#pragma once

#include "status/active_lists.h"

// Refreshes Alarm1ListStore, Alarm2ListStore and Rely1ListStore..Rely4ListStore
// in that order, when the view says they changed. GDK lock held.
void apply_active_event_lists(const ActiveListsView& lists);

// Puts the lists' applier into the poll thread's display step for event lists.
void event_lists_display_install();
// Empties the six lists (the link has ended).
void event_lists_display_reset();
