// The seam between the workers and the window. Worker threads and the exchange
// never include GTK: they reach the window only through these hooks, taken
// under the GDK lock (GdkLock). The GTK layer installs the real hooks at
// start-up; without a window (tests, benchmarks) the headless hooks stand in.
#pragma once

#include <cstdint>

enum LogTag { norm_text = 0, err_text = 1, send_text = 2, recv_text = 3 };
// The name of the log pane's text tag for `tag` ("norm_text", …).
const char* log_tag_name(LogTag tag);

enum class MessageKind { Info, Warning, Question, Error };

// Exchange activity dot in the status bar.
enum class ActivityDot { Hidden, Shown, Sending, Receiving };

struct UiHooks {
    void (*lock)();
    void (*unlock)();
    // The hooks below are called with the lock held.
    void (*append_log)(LogTag tag, const char* text);
    void (*set_title)(const char* title);
    void (*set_activity)(ActivityDot dot);
    void (*set_transfer_counters)(uint64_t sent, uint64_t received);
    void (*set_connect_controls)(int disconnected);
    void (*show_message)(MessageKind kind, const char* text);
    // Returns 1 for Yes, 0 for anything else.
    int (*ask_question)(const char* markup);
    // Text of the address entry (DeviceAddress); "" without a window.
    const char* (*device_address)();
    // Runs `task` on the GUI thread, holding the lock, once the main loop is
    // idle. Any thread, without the lock. Headless: at once, under the lock.
    void (*post)(void (*task)(void* data), void* data);
};

UiHooks& ui();
void ui_install(const UiHooks& hooks);

// RAII guard for the GDK lock (or the headless stand-in). Never hold it while
// waiting for an exchange.
class GdkLock {
public:
    GdkLock() { ui().lock(); }
    ~GdkLock() { ui().unlock(); }
    GdkLock(const GdkLock&) = delete;
    GdkLock& operator=(const GdkLock&) = delete;
};
