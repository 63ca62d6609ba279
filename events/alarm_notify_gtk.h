// Desktop notifications of new first-degree alarms, through the
// freedesktop notification service on the session bus.
#pragma once

#include <string>
#include <vector>

// Asks the notification service to show that these alarms appeared, when the
// main window does not have the focus (nothing otherwise). Never waits: the
// call goes out and its answer comes back on the main loop. Any thread,
// GDK lock held.
void notify_new_alarms(const std::vector<std::string>& texts);
