// What the transport thread shows of its work: the activity dot, the transfer
// counters and the frame dumps of the -L log. The thread never takes the GDK
// lock for these (it would take it several times per request); it leaves them
// here and the window picks them up from a timer, or when anything else is
// logged, so the dumps keep their place among the other log lines.
#pragma once

#include <cstdint>

#include "base/ui_hooks.h"

// Any thread, no lock.
void activity_dot(ActivityDot dot);
// A frame dump of up to 260 bytes, as log_hex_dump would write it.
void activity_frame(LogTag tag, const uint8_t* bytes, long length);

// Puts what is pending into the window: frame dumps into the log, then the
// counters and the dot where they changed. Call holding the GDK lock.
void activity_drain();
// Only the frame dumps (log_message calls this before it writes).
void activity_drain_frames();
