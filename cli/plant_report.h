// What `status` and `check` print of one complete poll cycle: the window's
// texts without their markup, the same values as JSON for programs, and the
// one line a monitoring engine reads. Pure: from the cycle's view (and the
// registers it was made from) to text.
#pragma once

#include <string>

#include "status/cycle_view.h"

// A label's Pango markup as plain text: tags dropped, entities decoded.
std::string markup_text(const std::string& markup);

// The plant as the window shows it, in its Russian words, one item a line.
// With `color`, what the window shows as an alarm (red) is set off by the
// terminal's bold red instead.
std::string plant_status_text(const CycleView& view, bool color);

// The same as one JSON object with stable English keys; numbers as numbers
// whatever the locale, null for what the Controller did not measure.
// `address` is the address as typed.
std::string plant_status_json(const CycleView& view, const std::string& address);

// The monitoring plugins' states, which are also the exit codes.
enum class CheckState { Ok = 0, Warning = 1, Critical = 2, Unknown = 3 };

struct CheckResult {
    CheckState state = CheckState::Unknown;
    std::string line;   // "RARUR STATE - summary | perfdata", no newline
};

// CRITICAL: a first-degree alarm is active or the mains are lost; WARNING: a
// second-degree alarm, the battery discharging, or something in a state the
// Controller defines no meaning for; OK otherwise.
CheckResult plant_check(const CycleView& view);
// The line when no cycle was seen: `why` says what went wrong.
CheckResult plant_check_unknown(const std::string& why);
