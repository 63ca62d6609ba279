// GTK side of the six active-event lists on the events page.
#pragma once

struct StatusImage;

// Refreshes Alarm1ListStore, Alarm2ListStore and Rely1ListStore..Rely4ListStore
// in that order, when the events block differs from the previous cycle's.
// Called by the poll thread's display step inside the GDK lock.
void refresh_active_event_lists(const StatusImage& status, const StatusImage& previous);
