#include "base/activity.h"

#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <utility>

#include "base/app_state.h"
#include "base/text_format.h"

namespace {

// A noisy link logged with -L can produce frames faster than anyone reads
// them; past this many pending dumps the oldest are dropped.
constexpr size_t kMaxPendingFrames = 4096;

// Never destroyed: a transport thread may still be finishing while the
// process tears its statics down.
struct PendingFrames {
    std::mutex lock;   // leaf lock
    std::deque<std::pair<LogTag, std::string>> frames;
};
PendingFrames& pending()
{
    static PendingFrames* instance = new PendingFrames;
    return *instance;
}
std::atomic<int> g_dot{int(ActivityDot::Hidden)};

// What the window shows now; GUI side only (under the GDK lock).
int g_shown_dot = -1;
uint64_t g_shown_sent = UINT64_MAX, g_shown_received = UINT64_MAX;

}  // namespace

void activity_dot(ActivityDot dot) { g_dot = int(dot); }

void activity_frame(LogTag tag, const uint8_t* bytes, long length)
{
    std::string text = hex_dump_text(bytes, length) + "\n";
    std::lock_guard g(pending().lock);
    if (pending().frames.size() >= kMaxPendingFrames)
        pending().frames.pop_front();
    pending().frames.emplace_back(tag, std::move(text));
}

void activity_drain_frames()
{
    std::deque<std::pair<LogTag, std::string>> frames;
    {
        std::lock_guard g(pending().lock);
        frames.swap(pending().frames);
    }
    if (!app.log_enabled)
        return;
    for (auto& [tag, text] : frames)
        ui().append_log(tag, text.c_str());
}

void activity_drain()
{
    activity_drain_frames();
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
