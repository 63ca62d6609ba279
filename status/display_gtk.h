// The window side of the live display: puts the poll thread's hooks in place
// and applies presenter output to the widgets of the summary strip and the
// mains, load, battery and temperature displays. GUI thread or GDK lock.
#pragma once

// Installs the GTK hooks into display_hooks(), keeping updaters that other
// subsystems have already put in place. Call once the widgets are looked up.
void status_display_install();
// Takes every label, box and list the cycle writes back to what the window
// showed before any Controller was seen; clears DeviceTime, the progress mark
// and the stale look.
void status_display_reset();

// The settings page fill, run when the poll thread loads the page after the
// first good settings read of a connection (the edit copy is fresh then).
void status_set_settings_page_fill(void (*fill)(int layout));
