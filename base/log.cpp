#include "base/log.h"

#include <cstdarg>
#include <string>

#include "base/activity.h"
#include "base/app_state.h"
#include "base/text_format.h"

void log_message(LogTag tag, const char* format, ...)
{
    if (!app.log_enabled)
        return;
    va_list args;
    va_start(args, format);
    std::string text = vformat(format, args);
    va_end(args);
    // Frame dumps the transport thread left behind come first: they happened first.
    activity_drain_frames();
    ui().append_log(tag, text.c_str());
}

void log_hex_dump(LogTag tag, const uint8_t* bytes, long length)
{
    log_message(tag, "%s\n", hex_dump_text(bytes, length).c_str());
}
