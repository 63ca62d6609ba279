// GTK implementations of the UI hooks: the log pane, the window title, the
// status-bar counters and activity dot, and the two kinds of modal box.
#include <gtk/gtk.h>

#include <cstdarg>
#include <string>
#include <thread>

#include "base/activity.h"
#include "events/alarm_notice.h"
#include "base/app_state.h"
#include "app/gtk_ui.h"
#include "base/ui_hooks.h"
#include "base/text_format.h"
#include "app/widgets.h"

MainWidgets w;

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
    if (!w.log_buffer)
        return;
    GtkTextIter end;
    gtk_text_buffer_get_end_iter(w.log_buffer, &end);
    gtk_text_buffer_insert_with_tags_by_name(w.log_buffer, &end, text, -1, log_tag_name(tag), nullptr);
    // The last line is the empty one after the final newline.
    int surplus = gtk_text_buffer_get_line_count(w.log_buffer) - 1 - kLogLinesKept;
    if (surplus > 0) {
        GtkTextIter start, cut;
        gtk_text_buffer_get_start_iter(w.log_buffer, &start);
        gtk_text_buffer_get_iter_at_line(w.log_buffer, &cut, surplus);
        gtk_text_buffer_delete(w.log_buffer, &start, &cut);
    }
    gtk_text_buffer_get_end_iter(w.log_buffer, &end);
    GtkTextMark* mark = gtk_text_buffer_create_mark(w.log_buffer, "log_scroll", &end, TRUE);
    gtk_text_buffer_move_mark(w.log_buffer, mark, &end);
    if (w.log_view)
        gtk_text_view_scroll_mark_onscreen(GTK_TEXT_VIEW(w.log_view), mark);
    gtk_text_buffer_delete_mark(w.log_buffer, mark);
}

// The link's title, and the first-degree alarms shown after it, so that a
// minimised window still tells.
std::string g_title_base = "RARUR Service";
unsigned g_title_alarms = 0;

void show_title()
{
    if (w.main_window)
        gtk_window_set_title(GTK_WINDOW(w.main_window), title_with_alarms(g_title_base, g_title_alarms).c_str());
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
    if (!w.net_active)
        return;
    switch (dot) {
    case ActivityDot::Hidden:
        gtk_widget_hide(w.net_active);
        break;
    case ActivityDot::Shown:
        gtk_widget_show(w.net_active);
        break;
    case ActivityDot::Sending:
        gtk_label_set_markup(GTK_LABEL(w.net_active), "<span color=\"#4040FF\" face=\"bold\">●</span>");
        break;
    case ActivityDot::Receiving:
        gtk_label_set_markup(GTK_LABEL(w.net_active), "<span color=\"#00AA00\" face=\"bold\">●</span>");
        break;
    }
}

void show_transfer_counters(uint64_t sent, uint64_t received)
{
    if (w.transferred_send)
        gtk_label_set_text(GTK_LABEL(w.transferred_send), format_byte_count(sent).c_str());
    if (w.transferred_recv)
        gtk_label_set_text(GTK_LABEL(w.transferred_recv), format_byte_count(received).c_str());
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
    return w.device_address ? gtk_entry_get_text(GTK_ENTRY(w.device_address)) : "";
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

void show_message(GtkMessageType kind, const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    std::string text = vformat(fmt, args);
    va_end(args);
    GtkWidget* dialog = gtk_message_dialog_new(w.main_window ? GTK_WINDOW(w.main_window) : nullptr,
                                               GTK_DIALOG_DESTROY_WITH_PARENT, kind, GTK_BUTTONS_OK,
                                               "%s", text.c_str());
    set_accessible_id(dialog, "MessageDialog");
    gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
}

int ask_question(GtkMessageType kind, GtkButtonsType buttons, const char* markup_format, ...)
{
    va_list args;
    va_start(args, markup_format);
    std::string markup = vformat(markup_format, args);
    va_end(args);
    GtkWidget* dialog = gtk_message_dialog_new(w.main_window ? GTK_WINDOW(w.main_window) : nullptr,
                                               GTK_DIALOG_MODAL, kind, buttons, nullptr);
    gtk_message_dialog_set_markup(GTK_MESSAGE_DIALOG(dialog), markup.c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), "RARUR Service");
    set_accessible_id(dialog, "QuestionDialog");
    int response = gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    return response;
}

void set_accessible_id(GtkWidget* widget, const char* id)
{
    if (!widget || !id)
        return;
    AtkObject* acc = gtk_widget_get_accessible(widget);
    if (acc)
        atk_object_set_accessible_id(acc, id);
    // Also kept on the widget itself, so that the test driver finds widgets made
    // in code (dialogs, the status label) by the same id.
    g_object_set_data_full(G_OBJECT(widget), "rarur-id", g_strdup(id), g_free);
}

void set_connect_controls(int disconnected)
{
    for (GtkWidget* item : w.kind_items)
        if (item)
            gtk_widget_set_sensitive(item, disconnected ? TRUE : FALSE);
    if (w.connect_item)
        gtk_widget_set_sensitive(w.connect_item, disconnected ? TRUE : FALSE);
    if (w.disconnect_item)
        gtk_widget_set_sensitive(w.disconnect_item, disconnected ? FALSE : TRUE);
}

void status_bar_note(const char* context, const char* text)
{
    GtkWidget* bar = widget_by_id("statusbar1");
    if (!bar || !GTK_IS_STATUSBAR(bar))
        return;
    guint id = gtk_statusbar_get_context_id(GTK_STATUSBAR(bar), context);
    gtk_statusbar_pop(GTK_STATUSBAR(bar), id);
    if (text && *text)
        gtk_statusbar_push(GTK_STATUSBAR(bar), id, text);
}

namespace {

// GTK's own "numeric" spins filter keystrokes by the locale's separator: the
// other one vanishes ("54.0" becomes 540 on a Russian desktop) and a pasted
// text with it is dropped whole, leaving an empty field read as 0. Here the
// whole text is read once it is committed.
gint spin_input(GtkSpinButton* spin, gdouble* new_value, gpointer data)
{
    auto check = reinterpret_cast<SpinTextCheck>(data);
    const char* text = gtk_entry_get_text(GTK_ENTRY(spin));
    double value = 0;
    if (parse_decimal(text, &value)) {
        if (check)
            check(spin, text, &value);
        *new_value = value;
        return TRUE;
    }
    if (check)
        check(spin, text, nullptr);
    // The value stays; GTK writes it back into the field.
    *new_value = gtk_adjustment_get_value(gtk_spin_button_get_adjustment(spin));
    return GTK_INPUT_ERROR;
}

}  // namespace

void spin_button_take_any_separator(GtkSpinButton* spin, SpinTextCheck check)
{
    gtk_spin_button_set_numeric(spin, FALSE);
    g_signal_connect(spin, "input", G_CALLBACK(spin_input), reinterpret_cast<gpointer>(check));
}

int spin_button_value(const char* id)
{
    GtkWidget* spin = widget_by_id(id);
    if (!spin || !GTK_IS_SPIN_BUTTON(spin))
        return 0;
    gtk_spin_button_update(GTK_SPIN_BUTTON(spin));
    return gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(spin));
}
