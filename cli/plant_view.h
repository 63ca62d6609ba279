// The one complete poll cycle `status` and `check` report on.
#pragma once

#include <string>

#include "status/cycle_view.h"

// Connects to `address` and waits, within the link options' time-out from
// now, for a complete cycle whose view was made from the Controller's
// settings (the first one, unless its settings read failed). kExitOk with
// *view filled, or the exit code with the reason said on stderr and, in
// *why, in a few words.
int cli_plant_view(const std::string& address, CycleView* view, std::string* why);
