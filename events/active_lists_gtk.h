// GTK side of the six active-event lists on the events page.
#pragma once

#include "settings/settings_image.h"
#include "status/status_image.h"

// Refreshes Alarm1ListStore, Alarm2ListStore and Rely1ListStore..Rely4ListStore
// in that order, when the events block differs from the previous cycle's.
// `device` is the device copy of the layout in force. Called by the poll
// thread's display step inside the GDK lock.
void refresh_active_event_lists(const StatusImage& status, const PreviousStatusImage& previous,
                                const SettingsImage& device);

// Puts the lists' updater into the poll thread's display step for event lists.
void event_lists_display_install();
