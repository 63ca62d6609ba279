// The log pane: the program's only record of what happened. The caller holds
// the GDK lock (GdkLock in worker threads).
#pragma once

#include <cstddef>
#include <cstdint>

#include "base/ui_hooks.h"

void log_message(LogTag tag, const char* format, ...) __attribute__((format(printf, 2, 3)));

// Up to 260 bytes as "%02X " each, one line.
void log_hex_dump(LogTag tag, const uint8_t* bytes, long length);
