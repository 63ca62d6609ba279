// Desktop notifications of new first-degree alarms, through the
// freedesktop notification service on the session bus.
#pragma once

#include <string>
#include <vector>

// Asks the notification service to show that these alarms of `plant` (the
// Controller's type and serial number) appeared, when the main window does
// not have the focus (nothing otherwise). The plant's previous notice is
// replaced, not stacked: an alarm that comes and goes leaves one bubble.
// Never waits: the call goes out and its answer comes back on the main loop.
// Any thread, GDK lock held.
void notify_new_alarms(const std::string& plant, const std::vector<std::string>& texts);
