// The seam between the workers and the window. Worker threads and the exchange
// never include GTK and never take the window's lock: log lines go through the
// log's queue, and whatever else they show reaches the window as a value, in a
// task run on the window's thread (run_on_gui). The GTK layer installs the
// real hooks at start-up; without a window (tests, benchmarks) the headless
// hooks stand in.
#pragma once

#include <cstdint>
#include <functional>

enum LogTag { norm_text = 0, err_text = 1, send_text = 2, recv_text = 3 };
// The name of the log pane's text tag for `tag` ("norm_text", …).
const char* log_tag_name(LogTag tag);

enum class MessageKind { Info, Warning, Question, Error };

// Exchange activity dot in the status bar.
enum class ActivityDot { Hidden, Shown, Sending, Receiving };

struct UiHooks {
    // The window's lock (the GDK lock). The GTK layer's, and a test's that
    // plays the window (GdkLock, base/gdk_lock.h); never a worker's.
    void (*lock)();
    void (*unlock)();
    // Whether the caller is the window's thread, holding its lock. Any thread.
    bool (*on_gui_thread)();
    // The hooks below are the window's thread's, with the lock held.
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
    // Runs `task` on the window's thread, holding the lock, once the main
    // loop is idle. Any thread, without the lock; never waits for the window.
    void (*post)(void (*task)(void* data), void* data);
};

UiHooks& ui();
void ui_install(const UiHooks& hooks);

// Runs `task` on the window's thread with the lock held: at once when the
// caller is that thread, otherwise posted. The task owns copies of what it
// shows; the window may take it some time later, when whatever it refers to
// may have changed (it checks, e.g., that its link session is still live).
void run_on_gui(std::function<void()> task);
