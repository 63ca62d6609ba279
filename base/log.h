// The log pane: the program's only record of what happened. Any thread, with
// no lock held: a line goes into one queue, frame dumps included, and the
// window takes the queue in the order it was written, on its activity timer.
// On the window's own thread the queue is emptied at once, so a handler's line
// is in the pane when the handler returns and still after every line queued
// before it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "base/ui_hooks.h"

void log_message(LogTag tag, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Up to 260 bytes as "%02X " each, one line.
void log_hex_dump(LogTag tag, const uint8_t* bytes, long length);

// Queues `text` as it is. A frame dump is the first to go when too many wait.
void log_queue(LogTag tag, std::string text, bool frame_dump);
// Puts what is queued into the window (ui().append_log), oldest first; with
// the log switched off it is dropped. The window's thread only (the headless
// stand-in drains it for whoever reads its log).
void log_drain();
// Drops what is queued (a headless log being cleared).
void log_drop_pending();
