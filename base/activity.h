// What the transport thread shows of its work: the activity dot, the transfer
// counters and the frame dumps of the -L log. The thread never waits for the
// window for these (it would do so several times per request): the dot and
// counters are atomics, the dumps go into the log's queue among the other
// lines, and the window picks them up from a timer.
#pragma once

#include <cstdint>

#include "base/ui_hooks.h"

// Any thread, no lock.
void activity_dot(ActivityDot dot);
// A frame dump of up to 260 bytes, as log_hex_dump would write it.
void activity_frame(LogTag tag, const uint8_t* bytes, long length);

// Puts what is pending into the window: the queued log lines (frame dumps
// among them), then the counters and the dot where they changed. The
// window's thread, from its timer.
void activity_drain();
