#include "base/ui_hooks.h"

#include <mutex>

#include "base/activity.h"
#include "base/headless_ui.h"

namespace {

std::mutex g_headless_lock;   // stands in for the GDK lock: not recursive either
std::mutex g_state_lock;      // guards the captured texts for readers without the lock
std::string g_log, g_log_tagged, g_title = "RARUR Service", g_messages, g_address;
int g_controls = -1;
int g_answer = 0;


void h_lock() { g_headless_lock.lock(); }
void h_unlock() { g_headless_lock.unlock(); }
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

void h_post(void (*task)(void*), void* data)
{
    std::lock_guard<std::mutex> g(g_headless_lock);
    task(data);
}

const UiHooks kHeadless = {h_lock, h_unlock, h_append_log, h_set_title, h_set_activity,
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

void headless_ui_install() { g_hooks = kHeadless; }
void headless_ui_clear()
{
    std::lock_guard<std::mutex> g(g_state_lock);
    g_log.clear();
    g_log_tagged.clear();
    g_messages.clear();
    g_title = "RARUR Service";
    g_controls = -1;
}
std::string headless_log()
{
    activity_drain_frames();
    std::lock_guard<std::mutex> g(g_state_lock);
    return g_log;
}
std::string headless_log_tagged()
{
    activity_drain_frames();
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
