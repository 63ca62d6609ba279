// GTK side of the six active-event lists on the events page.
#pragma once

#include <cstdint>

#include "status/active_lists.h"

// Refreshes Alarm1ListStore, Alarm2ListStore and Rely1ListStore..Rely4ListStore
// in that order, when the view says they changed; `controller_ms` is the
// Controller's clock in its zone (ms since 1970 as if UTC), whose time the
// «с …» column shows. GDK lock held.
void apply_active_event_lists(const ActiveListsView& lists, int64_t controller_ms);

// Puts the lists' applier into the poll thread's display step for event lists.
// Each cycle's count of active first-degree alarms, and 0 once the lists are
// emptied, goes to `alarm_count_shown` (the window's title; may be null).
void event_lists_display_install(void (*alarm_count_shown)(unsigned count));
// Empties the six lists (the link has ended).
void event_lists_display_reset();
