#include "base/log.h"

#include <cstdarg>
#include <deque>
#include <mutex>
#include <utility>

#include "base/app_state.h"
#include "base/text_format.h"

namespace {

// A noisy link logged with -L can produce frames faster than anyone reads
// them; past this many pending dumps the oldest are dropped.
constexpr size_t kMaxPendingFrames = 4096;
// A window that stopped draining (a tool without one never reads its log)
// must not make the queue grow without end.
constexpr size_t kMaxPendingLines = 65536;

struct Line {
    LogTag tag;
    std::string text;
    bool frame_dump;
};

// Never destroyed: a worker may still be logging while the process tears its
// statics down.
struct Pending {
    std::mutex lock;         // leaf lock: guards lines and frame_dumps
    std::deque<Line> lines;
    size_t frame_dumps = 0;
    // Held while lines go into the window: two drains on different threads
    // (possible only headless) must not swap their order.
    std::mutex drain;
};
Pending& pending()
{
    static Pending* instance = new Pending;
    return *instance;
}

void drop_oldest_frame_dump(Pending& p)
{
    for (auto it = p.lines.begin(); it != p.lines.end(); ++it)
        if (it->frame_dump) {
            p.lines.erase(it);
            --p.frame_dumps;
            return;
        }
}

}  // namespace

void log_queue(LogTag tag, std::string text, bool frame_dump)
{
    Pending& p = pending();
    std::lock_guard g(p.lock);
    if (frame_dump && p.frame_dumps >= kMaxPendingFrames)
        drop_oldest_frame_dump(p);
    if (p.lines.size() >= kMaxPendingLines) {
        p.frame_dumps -= p.lines.front().frame_dump ? 1 : 0;
        p.lines.pop_front();
    }
    p.lines.push_back(Line{tag, std::move(text), frame_dump});
    p.frame_dumps += frame_dump ? 1 : 0;
}

void log_drain()
{
    Pending& p = pending();
    std::lock_guard d(p.drain);
    std::deque<Line> lines;
    {
        std::lock_guard g(p.lock);
        lines.swap(p.lines);
        p.frame_dumps = 0;
    }
    if (!app.log_enabled)
        return;
    for (const Line& line : lines)
        ui().append_log(line.tag, line.text.c_str());
}

void log_drop_pending()
{
    Pending& p = pending();
    std::lock_guard d(p.drain);
    std::lock_guard g(p.lock);
    p.lines.clear();
    p.frame_dumps = 0;
}

void log_message(LogTag tag, const char* format, ...)
{
    if (!app.log_enabled)
        return;
    va_list args;
    va_start(args, format);
    std::string text = vformat(format, args);
    va_end(args);
    log_queue(tag, std::move(text), false);
    if (ui().on_gui_thread())
        log_drain();
}

void log_hex_dump(LogTag tag, const uint8_t* bytes, long length)
{
    log_message(tag, "%s\n", hex_dump_text(bytes, length).c_str());
}
