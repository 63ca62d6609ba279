// GTK implementations of the UI hooks: the log pane, the window title, the
// status-bar counters and activity dot, and the two kinds of modal box.
#include <gtk/gtk.h>

#include <string>
#include <thread>

#include "base/activity.h"
#include "events/alarm_notice.h"
#include "base/app_state.h"
#include "app/gtk_ui.h"
#include "gui/helpers.h"
#include "gui/widgets.h"
#include "base/ui_hooks.h"
#include "base/text_format.h"
#include "app/widgets.h"
#include "link/backend.h"

MainWidgets shell_widgets;

namespace {


void lock_gdk() { gdk_threads_enter(); }
void unlock_gdk() { gdk_threads_leave(); }

// The thread that runs the main loop; it holds the GDK lock whenever it runs
// anything of the program's.
std::thread::id g_gui_thread;
bool on_gui_thread() { return std::this_thread::get_id() == g_gui_thread; }

// Hours of -L frame dumps from a noisy link must not grow the program without
// end: the log pane keeps this many lines, the oldest go first.
constexpr int kLogLinesKept = 10000;

void append_to_log_pane(LogTag tag, const char* text)
{
    if (!shell_widgets.log_buffer)
        return;
    GtkTextIter end;
    gtk_text_buffer_get_end_iter(shell_widgets.log_buffer, &end);
    gtk_text_buffer_insert_with_tags_by_name(shell_widgets.log_buffer, &end, text, -1, log_tag_name(tag), nullptr);
    // The last line is the empty one after the final newline.
    int surplus = gtk_text_buffer_get_line_count(shell_widgets.log_buffer) - 1 - kLogLinesKept;
    if (surplus > 0) {
        GtkTextIter start, cut;
        gtk_text_buffer_get_start_iter(shell_widgets.log_buffer, &start);
        gtk_text_buffer_get_iter_at_line(shell_widgets.log_buffer, &cut, surplus);
        gtk_text_buffer_delete(shell_widgets.log_buffer, &start, &cut);
    }
    gtk_text_buffer_get_end_iter(shell_widgets.log_buffer, &end);
    GtkTextMark* mark = gtk_text_buffer_create_mark(shell_widgets.log_buffer, "log_scroll", &end, TRUE);
    gtk_text_buffer_move_mark(shell_widgets.log_buffer, mark, &end);
    if (shell_widgets.log_view)
        gtk_text_view_scroll_mark_onscreen(GTK_TEXT_VIEW(shell_widgets.log_view), mark);
    gtk_text_buffer_delete_mark(shell_widgets.log_buffer, mark);
}

// The link's title, and the first-degree alarms shown after it, so that a
// minimised window still tells.
std::string g_title_base = "RARUR Service";
unsigned g_title_alarms = 0;

void show_title()
{
    if (shell_widgets.main_window)
        gtk_window_set_title(GTK_WINDOW(shell_widgets.main_window), title_with_alarms(g_title_base, g_title_alarms).c_str());
}

void set_window_title(const char* title)
{
    g_title_base = title ? title : "";
    show_title();
    // The device page names the link the same way the title does, without
    // the program's name: the title is the one place a link describes itself.
    if (GtkWidget* link = widget_by_id("AboutLink"); link && GTK_IS_LABEL(link)) {
        static const std::string kPrefix = "RARUR Service - ";
        const std::string& text = g_title_base;
        gtk_label_set_text(GTK_LABEL(link), text.rfind(kPrefix, 0) == 0 ? text.c_str() + kPrefix.size() : "-");
    }
}

void show_activity_dot(ActivityDot dot)
{
    if (!shell_widgets.net_active)
        return;
    switch (dot) {
    case ActivityDot::Hidden:
        gtk_widget_hide(shell_widgets.net_active);
        break;
    case ActivityDot::Shown:
        gtk_widget_show(shell_widgets.net_active);
        break;
    case ActivityDot::Sending:
        gtk_label_set_markup(GTK_LABEL(shell_widgets.net_active), "<span color=\"#4040FF\" face=\"bold\">●</span>");
        break;
    case ActivityDot::Receiving:
        gtk_label_set_markup(GTK_LABEL(shell_widgets.net_active), "<span color=\"#00AA00\" face=\"bold\">●</span>");
        break;
    }
}

void show_transfer_counters(uint64_t sent, uint64_t received)
{
    if (shell_widgets.transferred_send)
        gtk_label_set_text(GTK_LABEL(shell_widgets.transferred_send), format_byte_count(sent).c_str());
    if (shell_widgets.transferred_recv)
        gtk_label_set_text(GTK_LABEL(shell_widgets.transferred_recv), format_byte_count(received).c_str());
}

void show_connect_controls(int disconnected) { set_connect_controls(disconnected); }

void show_message_box(MessageKind kind, const char* text)
{
    GtkMessageType type = GTK_MESSAGE_INFO;
    switch (kind) {
    case MessageKind::Info: type = GTK_MESSAGE_INFO; break;
    case MessageKind::Warning: type = GTK_MESSAGE_WARNING; break;
    case MessageKind::Question: type = GTK_MESSAGE_QUESTION; break;
    case MessageKind::Error: type = GTK_MESSAGE_ERROR; break;
    }
    show_message(type, "%s", text);
}

int ask_question_box(const char* markup)
{
    return ask_question(GTK_MESSAGE_QUESTION, GTK_BUTTONS_YES_NO, "%s", markup) == GTK_RESPONSE_YES;
}

const char* entered_device_address()
{
    return shell_widgets.device_address ? gtk_entry_get_text(GTK_ENTRY(shell_widgets.device_address)) : "";
}

struct PostedTask {
    void (*task)(void*);
    void* data;
};

gboolean run_posted(gpointer data)
{
    auto* posted = static_cast<PostedTask*>(data);
    posted->task(posted->data);
    delete posted;
    return FALSE;
}

void post_to_gui(void (*task)(void*), void* data)
{
    gdk_threads_add_idle(run_posted, new PostedTask{task, data});
}

// The log's queue, the dot and the counters.
gboolean drain_activity(gpointer)
{
    activity_drain();
    return TRUE;
}

// The dot and the counters follow the exchange at this pace; the eye does not
// follow them faster.
constexpr guint kActivityPeriodMs = 100;

}  // namespace

void set_title_alarm_count(unsigned count)
{
    if (count == g_title_alarms)
        return;
    g_title_alarms = count;
    show_title();
}

void gtk_ui_install()
{
    g_gui_thread = std::this_thread::get_id();
    ui_install(UiHooks{lock_gdk, unlock_gdk, on_gui_thread, append_to_log_pane, set_window_title, show_activity_dot,
                       show_transfer_counters, show_connect_controls, show_message_box, ask_question_box,
                       entered_device_address, post_to_gui});
}

void gtk_ui_start_activity_timer() { gdk_threads_add_timeout(kActivityPeriodMs, drain_activity, nullptr); }

void create_log_tags(GtkTextBuffer* buffer)
{
    gtk_text_buffer_create_tag(buffer, "send_text", "foreground", "blue", "pixels-above-lines", 3,
                               "weight", PANGO_WEIGHT_NORMAL, nullptr);
    gtk_text_buffer_create_tag(buffer, "recv_text", "foreground", "green", "pixels-above-lines", 3,
                               "weight", PANGO_WEIGHT_NORMAL, nullptr);
    gtk_text_buffer_create_tag(buffer, "err_text", "foreground", "red", "pixels-above-lines", 3,
                               "weight", 700, nullptr);
    gtk_text_buffer_create_tag(buffer, "norm_text", "foreground", "black", "pixels-above-lines", 3,
                               "weight", PANGO_WEIGHT_NORMAL, nullptr);
}

void set_connect_controls(int disconnected)
{
    for (const LinkBackend* backend : link_backends())
        if (GtkWidget* item = widget_by_id(backend->menu_item))
            gtk_widget_set_sensitive(item, disconnected ? TRUE : FALSE);
    if (shell_widgets.connect_item)
        gtk_widget_set_sensitive(shell_widgets.connect_item, disconnected ? TRUE : FALSE);
    if (shell_widgets.disconnect_item)
        gtk_widget_set_sensitive(shell_widgets.disconnect_item, disconnected ? FALSE : TRUE);
}
