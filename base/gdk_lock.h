// RAII guard for the window's lock (the GDK lock, or the headless stand-in).
// Only the GTK layer, and tests and tools playing the window, take it: a
// worker that took it would wait on the window, and the window may be waiting
// for the worker. Never hold it while waiting for an exchange.
#pragma once

#include "base/ui_hooks.h"

class GdkLock {
public:
    GdkLock() { ui().lock(); }
    ~GdkLock() { ui().unlock(); }
    GdkLock(const GdkLock&) = delete;
    GdkLock& operator=(const GdkLock&) = delete;
};
