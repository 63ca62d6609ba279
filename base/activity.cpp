#include "base/activity.h"

#include <atomic>
#include <string>

#include "base/app_state.h"
#include "base/log.h"
#include "base/text_format.h"

namespace {

std::atomic<int> g_dot{int(ActivityDot::Hidden)};

// What the window shows now; the window's thread only.
int g_shown_dot = -1;
uint64_t g_shown_sent = UINT64_MAX, g_shown_received = UINT64_MAX;

}  // namespace

void activity_dot(ActivityDot dot) { g_dot = int(dot); }

void activity_frame(LogTag tag, const uint8_t* bytes, long length)
{
    log_queue(tag, hex_dump_text(bytes, length) + "\n", true);
}

void activity_drain()
{
    log_drain();
    uint64_t sent = app.bytes_sent, received = app.bytes_received;
    if (sent != g_shown_sent || received != g_shown_received) {
        ui().set_transfer_counters(sent, received);
        g_shown_sent = sent;
        g_shown_received = received;
    }
    int dot = g_dot;
    if (dot != g_shown_dot) {
        ui().set_activity(ActivityDot(dot));
        g_shown_dot = dot;
    }
}
