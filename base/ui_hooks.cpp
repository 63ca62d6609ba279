#include "base/ui_hooks.h"

#include <atomic>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <utility>

#include "base/headless_ui.h"
#include "base/log.h"

namespace {

// The window's thread, as a test plays it: whichever thread holds this lock
// (GdkLock). Workers never take it; what they post runs under it.
std::mutex g_gui;
std::atomic<std::thread::id> g_gui_owner{};

struct Posted {
    void (*task)(void*);
    void* data;
};
std::mutex g_posted_lock;   // leaf lock: guards g_posted
std::deque<Posted> g_posted;

std::mutex g_state_lock;      // guards the captured texts for readers without the lock
std::string g_log, g_log_tagged, g_title = "RARUR Service", g_messages, g_address;
int g_controls = -1;
int g_answer = 0;

bool h_on_gui_thread() { return g_gui_owner.load() == std::this_thread::get_id(); }

// Runs what was posted, in order, until nothing is left. Holding g_gui.
void run_posted()
{
    for (;;) {
        Posted next;
        {
            std::lock_guard<std::mutex> g(g_posted_lock);
            if (g_posted.empty())
                return;
            next = g_posted.front();
            g_posted.pop_front();
        }
        next.task(next.data);
    }
}

void take_gui()
{
    g_gui.lock();
    g_gui_owner = std::this_thread::get_id();
}
bool try_take_gui()
{
    if (!g_gui.try_lock())
        return false;
    g_gui_owner = std::this_thread::get_id();
    return true;
}
void let_go_gui()
{
    g_gui_owner = std::thread::id();
    g_gui.unlock();
}
bool anything_posted()
{
    std::lock_guard<std::mutex> g(g_posted_lock);
    return !g_posted.empty();
}
// A task posted just as the lock was let go would wait for its next holder:
// whoever lets go, or posts, looks once more and runs it if the lock is free.
void run_left_over()
{
    while (anything_posted() && try_take_gui()) {
        run_posted();
        let_go_gui();
    }
}

void h_lock() { take_gui(); }
// What was posted while a handler held the lock runs before it is let go, as
// a window runs its idle tasks once the handler has returned.
void h_unlock()
{
    run_posted();
    let_go_gui();
    run_left_over();
}
void h_append_log(LogTag tag, const char* text)
{
    std::lock_guard<std::mutex> g(g_state_lock);
    g_log += text;
    g_log_tagged += std::string("[") + log_tag_name(tag) + "]" + text;
}
void h_set_title(const char* title)
{
    std::lock_guard<std::mutex> g(g_state_lock);
    g_title = title;
}
void h_set_activity(ActivityDot) {}
void h_set_counters(uint64_t, uint64_t) {}
void h_set_connect_controls(int disconnected)
{
    std::lock_guard<std::mutex> g(g_state_lock);
    g_controls = disconnected;
}
void h_show_message(MessageKind, const char* text)
{
    std::lock_guard<std::mutex> g(g_state_lock);
    g_messages += text;
    g_messages += '\n';
}
int h_ask_question(const char*)
{
    std::lock_guard<std::mutex> g(g_state_lock);
    return g_answer;
}
const char* h_device_address()
{
    std::lock_guard<std::mutex> g(g_state_lock);
    return g_address.c_str();
}

// Never waits: with the lock free the task runs at once on the caller's
// thread, which holds the lock meanwhile; otherwise its holder runs it.
void h_post(void (*task)(void*), void* data)
{
    {
        std::lock_guard<std::mutex> g(g_posted_lock);
        g_posted.push_back(Posted{task, data});
    }
    if (!h_on_gui_thread())
        run_left_over();
}

const UiHooks kHeadless = {h_lock, h_unlock, h_on_gui_thread, h_append_log, h_set_title, h_set_activity,
                           h_set_counters, h_set_connect_controls, h_show_message,
                           h_ask_question, h_device_address, h_post};

UiHooks g_hooks = kHeadless;

}  // namespace

const char* log_tag_name(LogTag tag)
{
    switch (tag) {
    case norm_text: return "norm_text";
    case err_text: return "err_text";
    case send_text: return "send_text";
    case recv_text: return "recv_text";
    }
    return "norm_text";
}

UiHooks& ui() { return g_hooks; }
void ui_install(const UiHooks& hooks) { g_hooks = hooks; }

void run_on_gui(std::function<void()> task)
{
    if (ui().on_gui_thread()) {
        task();
        return;
    }
    ui().post(
        [](void* data) {
            std::unique_ptr<std::function<void()>> owned(static_cast<std::function<void()>*>(data));
            (*owned)();
        },
        new std::function<void()>(std::move(task)));
}

void headless_ui_install() { g_hooks = kHeadless; }
void headless_ui_clear()
{
    log_drop_pending();
    std::lock_guard<std::mutex> g(g_state_lock);
    g_log.clear();
    g_log_tagged.clear();
    g_messages.clear();
    g_title = "RARUR Service";
    g_controls = -1;
}
std::string headless_log()
{
    log_drain();
    std::lock_guard<std::mutex> g(g_state_lock);
    return g_log;
}
std::string headless_log_tagged()
{
    log_drain();
    std::lock_guard<std::mutex> g(g_state_lock);
    return g_log_tagged;
}
std::string headless_title()
{
    std::lock_guard<std::mutex> g(g_state_lock);
    return g_title;
}
int headless_connect_controls()
{
    std::lock_guard<std::mutex> g(g_state_lock);
    return g_controls;
}
std::string headless_messages()
{
    std::lock_guard<std::mutex> g(g_state_lock);
    return g_messages;
}
void headless_set_device_address(const std::string& address)
{
    std::lock_guard<std::mutex> g(g_state_lock);
    g_address = address;
}
void headless_set_question_answer(int yes)
{
    std::lock_guard<std::mutex> g(g_state_lock);
    g_answer = yes;
}
