// ui-driver: starts the real main window from the embedded interface
// description and runs a script of user actions addressed by widget id, then
// prints the state of the widgets and stores it was asked about as JSON.
// The script format is described in tests/ui/README.md.
#include <gtk/gtk.h>
#include <signal.h>
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "base/app_state.h"
#include "app/main_window.h"
#include "base/log.h"
#include "link/connection.h"
#include "app/widgets.h"

namespace {

struct Line {
    int number;
    std::vector<std::string> args;
};

std::vector<Line> g_lines;
size_t g_next = 0;
std::map<std::string, std::string> g_vars;
std::vector<std::string> g_failures;
std::vector<std::string> g_printed;          // JSON fragments for `print`
std::vector<std::string> g_dialogs;          // JSON fragments of answered dialogs
std::string g_last_dialog_text;
std::string g_last_dialog_choices;           // rows of its combo box, one per line
std::string g_last_dialog_name;   // the name a file chooser proposed
bool g_closed = false;
bool g_finished = false;
int g_exit_code = 0;
// restart: the script line the next program run starts at (0: none)
int g_restart_line = 0;

// waiting state
gint64 g_wait_until = 0;                     // monotonic µs; 0 = not waiting
std::vector<std::string> g_wait_condition;   // empty = plain wait
int g_wait_line = 0;

// armed answer for the next code-made dialog
std::string g_answer;                        // "yes", "no", "ok", "cancel", "file", "none"
std::string g_answer_text;                   // entry text or file path
int g_answer_line = 0;
// answers armed after the first, for dialogs that follow one another
std::vector<std::pair<std::string, std::string>> g_later_answers;
// rows of the list of the last dialog answered: "cell | cell | cell" per line
std::string g_last_dialog_list;
int g_last_dialog_rows = 0;
// fields of the next code-made dialog to fill before it is answered (answer-set)
std::vector<std::pair<std::string, std::string>> g_answer_fields;

pid_t g_sim_pid = 0;
std::string g_sim_dir;
std::vector<int> g_backlog;   // fill-backlog's connections

std::string json_escape(const std::string& s)
{
    std::string out;
    for (unsigned char c : s) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out += buf;
            } else {
                out += char(c);
            }
        }
    }
    return out;
}

std::string q(const std::string& s) { return "\"" + json_escape(s) + "\""; }

void fail(int line, const std::string& why)
{
    g_failures.push_back("line " + std::to_string(line) + ": " + why);
    std::fprintf(stderr, "ui-driver: line %d: %s\n", line, why.c_str());
}

std::string expand(const std::string& s)
{
    std::string out;
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '$' && i + 1 < s.size() && s[i + 1] == '{') {
            size_t end = s.find('}', i);
            if (end != std::string::npos) {
                std::string name = s.substr(i + 2, end - i - 2);
                auto it = g_vars.find(name);
                if (it != g_vars.end())
                    out += it->second;
                else if (const char* env = std::getenv(name.c_str()))
                    out += env;
                i = end;
                continue;
            }
        }
        out += s[i];
    }
    return out;
}

// ---------------------------------------------------------------- main-loop watchdog
//
// The window must answer at every moment: the driver notes every turn of the
// main loop (nested loops of dialogs and waits included) and fails the script
// when two turns lie further apart than the bound. What it measures:
// - the turns themselves, through a source of the highest priority whose
//   prepare, check and dispatch run on every turn and which wakes the loop
//   every kWatchTickMs, so an idle loop still turns;
// - each action of the script that calls into the program as a turn of its
//   own, as a user's clicks come one per turn.
// What it leaves out: the driver's own blocking steps (starting or stopping
// the simulator, screenshots, checks), the start-up before the window is first
// drawn, the time after the window was hidden for closing, and the time the
// thread stood ready while the machine ran other processes (its run delay
// from /proc/thread-self/schedstat), so a busy machine does not fail it.

#ifndef RARUR_STALL_SCALE
#define RARUR_STALL_SCALE 1   // sanitizer builds run slower and allow as many times longer
#endif
gint64 g_stall_bound_ms = 250 * RARUR_STALL_SCALE;
constexpr guint kWatchTickMs = 10;

struct Watchdog {
    bool armed = false;       // the window has been drawn once
    bool stopped = false;     // the window is gone
    gint64 last_us = 0;       // the last turn
    gint64 last_delay_ns = 0; // the thread's run delay then
    gint64 longest_us = 0;
    int longest_line = 0;
    int line = 0;             // the script line running or last run
    gint64 raise_pending_ms = 0;
    gint64 raised_ms = 0;     // the bound for the line raised_line
    int raised_line = 0;
    int failed_line = -1;     // one failure per line
    int schedstat_fd = -1;
    std::string section;      // stall-section: the part of the script being measured
    gint64 section_longest_us = 0;
} g_watch;

// The time this thread has waited for a processor, in ns (0 when unknown).
gint64 run_delay_ns()
{
    if (g_watch.schedstat_fd < 0)
        return 0;
    char text[96];
    ssize_t n = pread(g_watch.schedstat_fd, text, sizeof text - 1, 0);
    if (n <= 0)
        return 0;
    text[n] = 0;
    long long on_cpu = 0, waiting = 0;
    return std::sscanf(text, "%lld %lld", &on_cpu, &waiting) == 2 ? gint64(waiting) : 0;
}

gint64 current_bound_ms()
{
    return g_watch.raised_line == g_watch.line ? std::max(g_stall_bound_ms, g_watch.raised_ms) : g_stall_bound_ms;
}

// Starts a new interval without judging the last one (the driver's own work).
void watchdog_restart()
{
    g_watch.last_us = g_get_monotonic_time();
    g_watch.last_delay_ns = run_delay_ns();
}

// A turn: the time since the last one, less the time the thread waited for a
// processor, is the program's.
void watchdog_turn()
{
    if (!g_watch.armed || g_watch.stopped)
        return;
    gint64 now = g_get_monotonic_time();
    gint64 delay = run_delay_ns();
    gint64 gap_us = (now - g_watch.last_us) - (delay - g_watch.last_delay_ns) / 1000;
    g_watch.last_us = now;
    g_watch.last_delay_ns = delay;
    if (gap_us > g_watch.longest_us) {
        g_watch.longest_us = gap_us;
        g_watch.longest_line = g_watch.line;
    }
    g_watch.section_longest_us = std::max(g_watch.section_longest_us, gap_us);
    gint64 bound = current_bound_ms();
    if (gap_us > bound * 1000 && g_watch.failed_line != g_watch.line) {
        g_watch.failed_line = g_watch.line;
        fail(g_watch.line, "the main loop stood still for " + std::to_string(gap_us / 1000) + " ms (at most " +
                               std::to_string(bound) + " ms)");
    }
}

// The next line of the script starts: a raised bound holds for one line.
void watchdog_line(int number, bool raises)
{
    watchdog_turn();
    g_watch.line = number;
    if (raises)
        return;
    if (g_watch.raise_pending_ms) {
        g_watch.raised_ms = g_watch.raise_pending_ms;
        g_watch.raised_line = number;
        g_watch.raise_pending_ms = 0;
    }
}

// Ends the section being measured (its longest stall on stderr) and starts `next`.
void watchdog_section(const std::string& next)
{
    watchdog_turn();
    if (!g_watch.section.empty())
        std::fprintf(stderr, "ui-driver: section %s: longest main-loop stall %lld ms\n", g_watch.section.c_str(),
                     static_cast<long long>(g_watch.section_longest_us / 1000));
    g_watch.section = next;
    g_watch.section_longest_us = 0;
}

gboolean watch_prepare(GSource*, gint* timeout)
{
    watchdog_turn();
    *timeout = int(kWatchTickMs);
    return FALSE;
}

gboolean watch_check(GSource*)
{
    watchdog_turn();
    return FALSE;   // nothing to dispatch: waking the loop was all
}

gboolean watch_dispatch(GSource*, GSourceFunc, gpointer) { return TRUE; }

GSourceFuncs g_watch_funcs = {watch_prepare, watch_check, watch_dispatch, nullptr, nullptr, nullptr};

gboolean watchdog_arm(gpointer)
{
    if (!g_watch.armed) {
        g_watch.armed = true;
        watchdog_restart();
    }
    return FALSE;
}

// Drawn once: everything of a higher priority than this idle has run.
gboolean window_mapped(GtkWidget*, GdkEvent*, gpointer)
{
    g_idle_add_full(G_PRIORITY_LOW, watchdog_arm, nullptr, nullptr);
    return FALSE;
}

// Hidden for closing: what follows is no longer the window's.
void window_hidden(GtkWidget*, gpointer)
{
    watchdog_turn();
    g_watch.stopped = true;
}

void watchdog_install()
{
    g_watch.schedstat_fd = open("/proc/thread-self/schedstat", O_RDONLY | O_CLOEXEC);
    GSource* source = g_source_new(&g_watch_funcs, sizeof(GSource));
    g_source_set_priority(source, G_PRIORITY_HIGH);
    g_source_attach(source, nullptr);
    g_source_unref(source);
    g_signal_connect(shell_widgets.main_window, "map-event", G_CALLBACK(window_mapped), nullptr);
    g_signal_connect(shell_widgets.main_window, "hide", G_CALLBACK(window_hidden), nullptr);
}

// ---------------------------------------------------------------- widget state

enum class CellKind { Null, String, Boolean, Number };

// A cell's value as text ("1"/"0" for booleans) and what kind of value it is.
CellKind cell_value(GtkTreeModel* model, GtkTreeIter* iter, int column, std::string& text)
{
    GValue v = G_VALUE_INIT;
    gtk_tree_model_get_value(model, iter, column, &v);
    CellKind kind = CellKind::Null;
    text.clear();
    if (G_VALUE_HOLDS_STRING(&v)) {
        if (const char* s = g_value_get_string(&v)) {
            text = s;
            kind = CellKind::String;
        }
    } else if (G_VALUE_HOLDS_BOOLEAN(&v)) {
        text = g_value_get_boolean(&v) ? "1" : "0";
        kind = CellKind::Boolean;
    } else if (G_VALUE_HOLDS_INT(&v)) {
        text = std::to_string(g_value_get_int(&v));
        kind = CellKind::Number;
    } else if (G_VALUE_HOLDS_UINT(&v)) {
        text = std::to_string(g_value_get_uint(&v));
        kind = CellKind::Number;
    }
    g_value_unset(&v);
    return kind;
}

std::string value_text(GtkTreeModel* model, GtkTreeIter* iter, int column)
{
    std::string text;
    switch (cell_value(model, iter, column, text)) {
    case CellKind::String: return q(text);
    case CellKind::Boolean: return text == "1" ? "true" : "false";
    case CellKind::Number: return text;
    case CellKind::Null: break;
    }
    return "null";
}

// Plain text of a cell, for comparisons.
std::string cell_plain(GtkTreeModel* model, GtkTreeIter* iter, int column)
{
    std::string text;
    cell_value(model, iter, column, text);
    return text;
}

std::string rows_json(GtkTreeModel* model, GtkTreeIter* parent, int depth)
{
    std::string out = "[";
    GtkTreeIter iter;
    bool first = true;
    if (gtk_tree_model_iter_children(model, &iter, parent)) {
        do {
            if (!first)
                out += ",";
            first = false;
            out += "{\"cells\":[";
            int n = gtk_tree_model_get_n_columns(model);
            for (int c = 0; c < n; ++c)
                out += (c ? "," : "") + value_text(model, &iter, c);
            out += "]";
            if (gtk_tree_model_iter_has_child(model, &iter))
                out += ",\"children\":" + rows_json(model, &iter, depth + 1);
            out += "}";
        } while (gtk_tree_model_iter_next(model, &iter));
    }
    return out + "]";
}

// Rows addressed "R" (top level) or "R:C" (child C of top-level row R).
bool find_row(GtkTreeModel* model, const std::string& address, GtkTreeIter* out)
{
    GtkTreePath* path = gtk_tree_path_new_from_string(address.c_str());
    if (!path)
        return false;
    bool ok = gtk_tree_model_get_iter(model, out, path);
    gtk_tree_path_free(path);
    return ok;
}

int count_rows(GtkTreeModel* model, GtkTreeIter* parent)
{
    return gtk_tree_model_iter_n_children(model, parent);
}

std::string log_text(bool tagged)
{
    if (!shell_widgets.log_buffer)
        return "";
    GtkTextIter start, end;
    gtk_text_buffer_get_bounds(shell_widgets.log_buffer, &start, &end);
    if (!tagged) {
        gchar* t = gtk_text_buffer_get_text(shell_widgets.log_buffer, &start, &end, FALSE);
        std::string s = t;
        g_free(t);
        return s;
    }
    // "[tag]text" for each run of text with one tag.
    std::string out;
    GtkTextIter it = start;
    while (!gtk_text_iter_is_end(&it)) {
        GtkTextIter next = it;
        gtk_text_iter_forward_to_tag_toggle(&next, nullptr);
        GSList* tags = gtk_text_iter_get_tags(&it);
        std::string name = "none";
        if (tags) {
            gchar* n = nullptr;
            g_object_get(G_OBJECT(tags->data), "name", &n, nullptr);
            if (n)
                name = n;
            g_free(n);
        }
        g_slist_free(tags);
        gchar* t = gtk_text_iter_get_text(&it, &next);
        out += "[" + name + "]" + t;
        g_free(t);
        it = next;
    }
    return out;
}

GtkWidget* find_widget(const std::string& id)
{
    if (GtkWidget* wd = widget_by_id(id.c_str()))
        return wd;
    if (id == "StatusLabel")
        return shell_widgets.status_label;
    return nullptr;
}

GtkWidget* find_code_dialog();

// Value of a property of a widget, as text; ok=false when it has no such property.
std::string property_of(const std::string& id, const std::string& prop, bool& ok)
{
    ok = true;
    if (id == "app") {
        if (prop == "log_frames") return std::to_string(app.log_frames.load());
        if (prop == "settings_modified") return std::to_string(app.settings_modified.load());
        if (prop == "link_open") return std::to_string(app.link_open.load());
        if (prop == "transport_running") return std::to_string(app.transport_running.load());
        if (prop == "poll_running") return std::to_string(app.poll_running.load());
        if (prop == "link_kind") return std::to_string(int(app.link_kind.load()));
        if (prop == "password_entered") return std::to_string(app.password_entered.load());
        if (prop == "monitoring_password") {
            char buf[32];
            const uint8_t* p = app.monitoring_password;
            std::snprintf(buf, sizeof buf, "%02X %02X %02X %02X %02X %02X", p[0], p[1], p[2], p[3], p[4], p[5]);
            return buf;
        }
        if (prop == "closed") return g_closed ? "1" : "0";
        ok = false;
        return "";
    }
    if (id == "log") {
        if (prop == "lines")
            return std::to_string(shell_widgets.log_buffer ? gtk_text_buffer_get_line_count(shell_widgets.log_buffer) - 1 : 0);
        if (prop == "first-line") {
            std::string text = log_text(false);
            return text.substr(0, text.find('\n'));
        }
        return prop == "tagged" ? log_text(true) : log_text(false);
    }
    if (id == "dialog") {
        if (prop == "choices") return g_last_dialog_choices;
        if (prop == "list") return g_last_dialog_list;
        if (prop == "rows") return std::to_string(g_last_dialog_rows);
        if (prop == "name") return g_last_dialog_name;
        if (prop == "answered") return std::to_string(g_dialogs.size());
        return g_last_dialog_text;
    }
    if (id.rfind("file:", 0) == 0) {
        gchar* contents = nullptr;
        gsize length = 0;
        bool exists = g_file_get_contents(id.c_str() + 5, &contents, &length, nullptr);
        std::string text = exists ? std::string(contents, length) : "";
        g_free(contents);
        if (prop == "exists")
            return exists ? "1" : "0";
        ok = exists && prop == "text";
        return text;
    }
    if (g_closed) {
        ok = false;
        return "";
    }
    GObject* object = object_by_id(id.c_str());
    if (!object && id == "StatusLabel")
        object = G_OBJECT(shell_widgets.status_label);
    if (!object) {
        ok = false;
        return "";
    }
    if (GTK_IS_TREE_MODEL(object)) {
        GtkTreeModel* model = GTK_TREE_MODEL(object);
        if (prop == "rows") return std::to_string(count_rows(model, nullptr));
        ok = false;
        return "";
    }
    if (GTK_IS_TREE_VIEW_COLUMN(object) && prop == "visible")
        return gtk_tree_view_column_get_visible(GTK_TREE_VIEW_COLUMN(object)) ? "1" : "0";
    if (GTK_IS_TREE_VIEW_COLUMN(object) && prop == "title") {
        const char* t = gtk_tree_view_column_get_title(GTK_TREE_VIEW_COLUMN(object));
        return t ? t : "";
    }
    if (!GTK_IS_WIDGET(object)) {
        ok = false;
        return "";
    }
    GtkWidget* wd = GTK_WIDGET(object);
    if (prop == "visible") return gtk_widget_get_visible(wd) ? "1" : "0";
    if (prop == "sensitive") return gtk_widget_get_sensitive(wd) ? "1" : "0";
    if (prop == "sensitive-effective") return gtk_widget_is_sensitive(wd) ? "1" : "0";
    if (prop == "active") {
        if (GTK_IS_CHECK_MENU_ITEM(wd)) return gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(wd)) ? "1" : "0";
        if (GTK_IS_TOGGLE_BUTTON(wd)) return gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(wd)) ? "1" : "0";
        if (GTK_IS_COMBO_BOX(wd)) return std::to_string(gtk_combo_box_get_active(GTK_COMBO_BOX(wd)));
        if (GTK_IS_EXPANDER(wd)) return gtk_expander_get_expanded(GTK_EXPANDER(wd)) ? "1" : "0";
    }
    if (prop == "title" && GTK_IS_WINDOW(wd)) {
        const char* t = gtk_window_get_title(GTK_WINDOW(wd));
        return t ? t : "";
    }
    if (prop == "page" && GTK_IS_NOTEBOOK(wd)) return std::to_string(gtk_notebook_get_current_page(GTK_NOTEBOOK(wd)));
    if (prop == "width" || prop == "height") {
        // A window's own size, as the window manager would remember it; any
        // other widget's allocation.
        int width = 0, height = 0;
        if (GTK_IS_WINDOW(wd)) {
            gtk_window_get_size(GTK_WINDOW(wd), &width, &height);
        } else {
            GtkAllocation allocation;
            gtk_widget_get_allocation(wd, &allocation);
            width = allocation.width, height = allocation.height;
        }
        return std::to_string(prop == "width" ? width : height);
    }
    if (prop == "right" || prop == "bottom") {
        // Where the widget ends inside its window: beyond the window's size,
        // it is cut off.
        GtkAllocation allocation;
        gtk_widget_get_allocation(wd, &allocation);
        int x = 0, y = 0;
        if (!gtk_widget_translate_coordinates(wd, gtk_widget_get_toplevel(wd), 0, 0, &x, &y))
            return "-1";
        return std::to_string(prop == "right" ? x + allocation.width : y + allocation.height);
    }
    if (prop == "request-width" || prop == "request-height") {
        GtkRequisition requisition;
        gtk_widget_size_request(wd, &requisition);
        return std::to_string(prop == "request-width" ? requisition.width : requisition.height);
    }
    if (prop == "position" && GTK_IS_PANED(wd)) return std::to_string(gtk_paned_get_position(GTK_PANED(wd)));
    if (prop == "fraction" && GTK_IS_PROGRESS_BAR(wd)) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "%.3f", gtk_progress_bar_get_fraction(GTK_PROGRESS_BAR(wd)));
        return buf;
    }
    if (prop == "text") {
        if (GTK_IS_LABEL(wd)) return gtk_label_get_text(GTK_LABEL(wd));
        if (GTK_IS_ENTRY(wd)) return gtk_entry_get_text(GTK_ENTRY(wd));
        if (GTK_IS_PROGRESS_BAR(wd)) {
            const char* t = gtk_progress_bar_get_text(GTK_PROGRESS_BAR(wd));
            return t ? t : "";
        }
        if (GTK_IS_MENU_ITEM(wd)) {
            const char* t = gtk_menu_item_get_label(GTK_MENU_ITEM(wd));
            return t ? t : "";
        }
        if (GTK_IS_BUTTON(wd)) {
            const char* t = gtk_button_get_label(GTK_BUTTON(wd));
            return t ? t : "";
        }
        if (GTK_IS_EXPANDER(wd)) {
            const char* t = gtk_expander_get_label(GTK_EXPANDER(wd));
            return t ? t : "";
        }
        if (GTK_IS_SPIN_BUTTON(wd)) return std::to_string(gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(wd)));
        if (GTK_IS_STATUSBAR(wd)) {
            // The message on top of the stack: the first label of the message area.
            GList* children = gtk_container_get_children(GTK_CONTAINER(gtk_statusbar_get_message_area(GTK_STATUSBAR(wd))));
            std::string t;
            for (GList* c = children; c; c = c->next)
                if (GTK_IS_LABEL(c->data)) {
                    t = gtk_label_get_text(GTK_LABEL(c->data));
                    break;
                }
            g_list_free(children);
            return t;
        }
    }
    if (prop == "markup" && GTK_IS_LABEL(wd)) return gtk_label_get_label(GTK_LABEL(wd));
    if (GTK_IS_ABOUT_DIALOG(wd)) {
        const char* t = nullptr;
        if (prop == "program-name") t = gtk_about_dialog_get_program_name(GTK_ABOUT_DIALOG(wd));
        else if (prop == "version") t = gtk_about_dialog_get_version(GTK_ABOUT_DIALOG(wd));
        else if (prop == "comments") t = gtk_about_dialog_get_comments(GTK_ABOUT_DIALOG(wd));
        if (t || prop == "program-name" || prop == "version" || prop == "comments")
            return t ? t : "";
    }
    if (prop == "tooltip") {
        gchar* t = gtk_widget_get_tooltip_markup(wd);
        std::string s = t ? t : "";
        g_free(t);
        return s;
    }
    if (prop == "accessible-id") {
        AtkObject* acc = gtk_widget_get_accessible(wd);
        const char* t = acc ? atk_object_get_accessible_id(acc) : nullptr;
        return t ? t : "";
    }
    ok = false;
    return "";
}

std::string widget_json(const std::string& id)
{
    GObject* object = object_by_id(id.c_str());
    if (!object && id == "StatusLabel")
        object = G_OBJECT(shell_widgets.status_label);
    if (id == "log")
        return q(id) + ":{\"text\":" + q(log_text(false)) + ",\"tagged\":" + q(log_text(true)) + "}";
    if (!object || g_closed)
        return q(id) + ":null";
    if (GTK_IS_TREE_MODEL(object))
        return q(id) + ":{\"rows\":" + rows_json(GTK_TREE_MODEL(object), nullptr, 0) + "}";
    std::string out = q(id) + ":{";
    bool first = true;
    for (const char* prop : {"visible", "sensitive", "active", "text", "markup", "title", "page", "fraction",
                             "tooltip", "accessible-id"}) {
        bool ok = false;
        std::string v = property_of(id, prop, ok);
        if (!ok)
            continue;
        out += (first ? "" : ",") + q(prop) + ":" + q(v);
        first = false;
    }
    return out + "}";
}

bool compare(const std::string& actual, const std::string& op, const std::string& expected)
{
    if (op == "==") return actual == expected;
    if (op == "!=") return actual != expected;
    if (op == "contains") return actual.find(expected) != std::string::npos;
    if (op == "!contains") return actual.find(expected) == std::string::npos;
    if (op == "matches") return g_regex_match_simple(expected.c_str(), actual.c_str(), GRegexCompileFlags(0), GRegexMatchFlags(0));
    if (op == ">=" || op == "<=" || op == ">" || op == "<") {
        double a = std::atof(actual.c_str()), b = std::atof(expected.c_str());
        if (op == ">=") return a >= b;
        if (op == "<=") return a <= b;
        if (op == ">") return a > b;
        return a < b;
    }
    return false;
}

// The list or tree store with this id; nullptr (and why) when there is none.
GtkTreeModel* store_by_id(const std::string& id, std::string& why)
{
    GObject* object = object_by_id(id.c_str());
    if (!object || !GTK_IS_TREE_MODEL(object)) {
        why = "no store " + id;
        return nullptr;
    }
    return GTK_TREE_MODEL(object);
}

// expect ID PROP OP VALUE | expect-cell STORE ROW COL OP VALUE. Returns true
// when the condition holds; `why` says what was seen otherwise.
bool evaluate(const std::vector<std::string>& a, std::string& why)
{
    if (a.empty())
        return false;
    if (a[0] == "expect" && a.size() == 5) {
        bool ok = false;
        std::string actual = property_of(a[1], a[2], ok);
        if (!ok) {
            why = a[1] + " has no property " + a[2];
            return false;
        }
        if (compare(actual, a[3], a[4]))
            return true;
        why = a[1] + "." + a[2] + " is \"" + actual + "\", expected " + a[3] + " \"" + a[4] + "\"";
        return false;
    }
    if (a[0] == "expect-cell" && a.size() == 6) {
        GtkTreeModel* model = store_by_id(a[1], why);
        if (!model)
            return false;
        GtkTreeIter iter;
        if (!find_row(model, a[2], &iter)) {
            why = a[1] + " has no row " + a[2];
            return false;
        }
        int column = std::atoi(a[3].c_str());
        if (column < 0 || column >= gtk_tree_model_get_n_columns(model)) {
            why = a[1] + " has no column " + a[3];
            return false;
        }
        std::string actual = cell_plain(model, &iter, column);
        if (compare(actual, a[4], a[5]))
            return true;
        why = a[1] + "[" + a[2] + "][" + a[3] + "] is \"" + actual + "\", expected " + a[4] + " \"" + a[5] + "\"";
        return false;
    }
    if (a[0] == "expect-children" && a.size() == 5) {
        GtkTreeModel* model = store_by_id(a[1], why);
        GtkTreeIter iter;
        if (!model || !find_row(model, a[2], &iter)) {
            why = "no row " + a[2] + " in " + a[1];
            return false;
        }
        std::string actual = std::to_string(count_rows(model, &iter));
        if (compare(actual, a[3], a[4]))
            return true;
        why = a[1] + "[" + a[2] + "] has " + actual + " children, expected " + a[3] + " " + a[4];
        return false;
    }
    if (a[0] == "store-contains" && a.size() == 4) {
        // store-contains STORE COL TEXT: some top-level row's column contains TEXT
        GtkTreeModel* model = store_by_id(a[1], why);
        if (!model)
            return false;
        GtkTreeIter iter;
        int column = std::atoi(a[2].c_str());
        if (gtk_tree_model_get_iter_first(model, &iter)) {
            do {
                if (cell_plain(model, &iter, column).find(a[3]) != std::string::npos)
                    return true;
            } while (gtk_tree_model_iter_next(model, &iter));
        }
        why = a[1] + " has no row whose column " + a[2] + " contains \"" + a[3] + "\"";
        return false;
    }
    if (a[0] == "store-lacks" && a.size() == 4) {
        std::vector<std::string> b = a;
        b[0] = "store-contains";
        std::string ignored;
        if (!evaluate(b, ignored))
            return true;
        why = a[1] + " has a row whose column " + a[2] + " contains \"" + a[3] + "\"";
        return false;
    }
    why = "malformed condition";
    return false;
}

// ---------------------------------------------------------------- dialogs

bool made_in_code(GtkWidget* window)
{
    GObject* o = G_OBJECT(window);
    if (GTK_IS_BUILDABLE(o)) {
        const char* name = gtk_buildable_get_name(GTK_BUILDABLE(o));
        if (name && object_by_id(name) == o)
            return false;
    }
    return true;
}

// Every window is stamped with the order it was shown in, so that of two
// dialogs open at once (port parameters over the modem dialog, GTK's
// overwrite question over a file chooser) the driver answers the newest, the
// one the user sees on top.
guint64 g_shown_count = 0;

gboolean window_shown(GSignalInvocationHint*, guint, const GValue* values, gpointer)
{
    GObject* object = G_OBJECT(g_value_get_object(&values[0]));
    if (GTK_IS_WINDOW(object))
        g_object_set_data(object, "ui-driver-shown", GSIZE_TO_POINTER(gsize(++g_shown_count)));
    return TRUE;
}

void stamp_shown_windows()
{
    g_type_class_unref(g_type_class_ref(GTK_TYPE_WIDGET));
    g_signal_add_emission_hook(g_signal_lookup("show", GTK_TYPE_WIDGET), 0, window_shown, nullptr, nullptr);
}

GtkWidget* find_code_dialog()
{
    GList* tops = gtk_window_list_toplevels();
    GtkWidget* found = nullptr;
    gsize found_shown = 0;
    for (GList* l = tops; l; l = l->next) {
        GtkWidget* t = GTK_WIDGET(l->data);
        // The About box is run modally like the boxes made in code; the
        // address dialog is only shown, never run, and is driven by its buttons.
        if (!GTK_IS_DIALOG(t) || !gtk_widget_get_visible(t) || !(made_in_code(t) || GTK_IS_ABOUT_DIALOG(t)))
            continue;
        gsize shown = GPOINTER_TO_SIZE(g_object_get_data(G_OBJECT(t), "ui-driver-shown"));
        if (!found || shown >= found_shown) {
            found = t;
            found_shown = shown;
        }
    }
    g_list_free(tops);
    return found;
}

GtkWidget* first_of(GtkWidget* widget, GType type)
{
    if (G_TYPE_CHECK_INSTANCE_TYPE(widget, type))
        return widget;
    if (GTK_IS_CONTAINER(widget)) {
        GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
        GtkWidget* found = nullptr;
        for (GList* l = children; l && !found; l = l->next)
            found = first_of(GTK_WIDGET(l->data), type);
        g_list_free(children);
        return found;
    }
    return nullptr;
}

GtkWidget* first_entry(GtkWidget* widget) { return first_of(widget, GTK_TYPE_ENTRY); }

// The list a dialog shows, kept when the dialog is answered (until the next
// dialog with a list).
void remember_dialog_list(GtkWidget* dialog)
{
    GtkWidget* view = first_of(dialog, GTK_TYPE_TREE_VIEW);
    GtkTreeModel* model = view ? gtk_tree_view_get_model(GTK_TREE_VIEW(view)) : nullptr;
    if (!model)
        return;
    g_last_dialog_list.clear();
    g_last_dialog_rows = 0;
    GtkTreeIter iter;
    if (!gtk_tree_model_get_iter_first(model, &iter))
        return;
    do {
        for (int c = 0; c < gtk_tree_model_get_n_columns(model); ++c)
            g_last_dialog_list += (c ? " | " : "") + cell_plain(model, &iter, c);
        g_last_dialog_list += "\n";
        ++g_last_dialog_rows;
    } while (gtk_tree_model_iter_next(model, &iter));
}

// The rows of a text combo box, one per line.
std::string combo_rows(GtkWidget* combo)
{
    std::string rows;
    GtkTreeModel* model = gtk_combo_box_get_model(GTK_COMBO_BOX(combo));
    GtkTreeIter it;
    for (bool ok = model && gtk_tree_model_get_iter_first(model, &it); ok; ok = gtk_tree_model_iter_next(model, &it)) {
        gchar* text = nullptr;
        gtk_tree_model_get(model, &it, 0, &text, -1);
        rows += std::string(rows.empty() ? "" : "\n") + (text ? text : "");
        g_free(text);
    }
    return rows;
}

std::string dialog_text(GtkWidget* dialog)
{
    std::string text;
    if (GTK_IS_MESSAGE_DIALOG(dialog)) {
        gchar* primary = nullptr;
        g_object_get(dialog, "text", &primary, nullptr);
        text = primary ? primary : "";
        g_free(primary);
    } else {
        const char* t = gtk_window_get_title(GTK_WINDOW(dialog));
        text = t ? t : "";
    }
    return text;
}

// A save chooser accepted by the driver, until it is gone: it checks the
// chosen name in the background and drops a response that comes before.
// Its folder changes in the background too, so the driver answers only once
// the chooser names the file the script asked for; answered earlier, the
// program would save into the folder the chooser opened in.
GtkWidget* g_accepted_chooser = nullptr;
std::string g_accepted_file;
// GTK asks whether to replace a file that exists, over the chooser; each
// ACCEPT sent to the chooser would ask again, one question inside the other.
// The driver answers the question once, to replace the file, and sends nothing more:
// the chooser then answers by itself.
bool g_replace_answered = false;
constexpr int kAnswerLater = 1 << 20;
// The widget of a code-made dialog that carries `id` (set_accessible_id).
GtkWidget* find_in_dialog(GtkWidget* widget, const std::string& id)
{
    const char* own = static_cast<const char*>(g_object_get_data(G_OBJECT(widget), "rarur-id"));
    if (own && id == own)
        return widget;
    GtkWidget* found = nullptr;
    if (GTK_IS_CONTAINER(widget)) {
        GList* children = gtk_container_get_children(GTK_CONTAINER(widget));
        for (GList* l = children; l && !found; l = l->next)
            found = find_in_dialog(GTK_WIDGET(l->data), id);
        g_list_free(children);
    }
    return found;
}

// Entry text, the text of a combo box with an entry, the row of a plain
// combo box, or a toggle's state (1/0).
bool fill_field(GtkWidget* dialog, const std::string& id, const std::string& value)
{
    GtkWidget* field = find_in_dialog(dialog, id);
    if (!field)
        return false;
    if (GTK_IS_ENTRY(field))
        gtk_entry_set_text(GTK_ENTRY(field), value.c_str());
    else if (GTK_IS_COMBO_BOX(field) && GTK_IS_ENTRY(gtk_bin_get_child(GTK_BIN(field))))
        gtk_entry_set_text(GTK_ENTRY(gtk_bin_get_child(GTK_BIN(field))), value.c_str());
    else if (GTK_IS_COMBO_BOX(field))
        gtk_combo_box_set_active(GTK_COMBO_BOX(field), std::atoi(value.c_str()));
    else if (GTK_IS_TOGGLE_BUTTON(field))
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(field), value == "1");
    else
        return false;
    return true;
}

gboolean answer_tick_body();

// Answering is the driver's work; the program's part of it (a dialog's loop
// ending) shows in the turns that follow.
gboolean answer_tick(gpointer)
{
    watchdog_turn();
    gboolean again = answer_tick_body();
    watchdog_restart();
    return again;
}

// Adds a dialog answered to the JSON output and makes it the one `dialog` reads.
void remember_answered(GtkWidget* dialog, const std::string& text, const std::string& answer)
{
    g_last_dialog_text = text;
    const char* title = gtk_window_get_title(GTK_WINDOW(dialog));
    g_dialogs.push_back("{\"title\":" + q(title ? title : "") + ",\"text\":" + q(text) + ",\"answer\":" + q(answer) +
                        "}");
}

gboolean answer_tick_body()
{
    if (g_accepted_chooser && !gtk_widget_get_visible(g_accepted_chooser)) {
        // Answered and hidden by the program, not destroyed.
        g_object_remove_weak_pointer(G_OBJECT(g_accepted_chooser), reinterpret_cast<gpointer*>(&g_accepted_chooser));
        g_accepted_chooser = nullptr;
    }
    if (g_accepted_chooser) {
        GtkWidget* newest = find_code_dialog();
        if (newest && newest != g_accepted_chooser) {
            if (!g_replace_answered) {
                g_replace_answered = true;
                remember_answered(newest, dialog_text(newest), "replace");
                gtk_dialog_response(GTK_DIALOG(newest), GTK_RESPONSE_ACCEPT);
            }
            return TRUE;
        }
        if (g_replace_answered)
            return TRUE;
        gchar* chosen = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(g_accepted_chooser));
        bool ready = chosen && g_accepted_file == chosen;
        g_free(chosen);
        if (ready) {
            gtk_dialog_response(GTK_DIALOG(g_accepted_chooser), GTK_RESPONSE_ACCEPT);
            return TRUE;
        }
        // A folder the chooser was still loading when the driver chose its
        // own (the one it opened in) can win: ask for the folder again until
        // the chooser is in it, then for the name.
        gchar* dir = g_path_get_dirname(g_accepted_file.c_str());
        gchar* folder = gtk_file_chooser_get_current_folder(GTK_FILE_CHOOSER(g_accepted_chooser));
        if (g_strcmp0(folder, dir) != 0)
            gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(g_accepted_chooser), dir);
        else
            gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(g_accepted_chooser),
                                              g_basename(g_accepted_file.c_str()));
        g_free(folder);
        g_free(dir);
        return TRUE;
    }
    if (g_answer.empty())
        return TRUE;
    GtkWidget* dialog = find_code_dialog();
    if (!dialog)
        return TRUE;
    std::string text = dialog_text(dialog);
    GtkWidget* combo = first_of(dialog, GTK_TYPE_COMBO_BOX);
    g_last_dialog_choices = combo ? combo_rows(combo) : "";
    remember_dialog_list(dialog);
    remember_answered(dialog, text, g_answer);
    int response = GTK_RESPONSE_NONE;
    if (GTK_IS_FILE_CHOOSER(dialog)) {
        GtkWidget* name_entry = first_entry(dialog);
        g_last_dialog_name = name_entry ? gtk_entry_get_text(GTK_ENTRY(name_entry)) : "";
        if (g_answer == "file") {
            gtk_file_chooser_set_filename(GTK_FILE_CHOOSER(dialog), g_answer_text.c_str());
            gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(dialog), g_basename(g_answer_text.c_str()));
            gchar* dir = g_path_get_dirname(g_answer_text.c_str());
            gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dialog), dir);
            g_free(dir);
            response = kAnswerLater;
            g_accepted_file = g_answer_text;
            g_replace_answered = false;
            g_accepted_chooser = dialog;
            g_object_add_weak_pointer(G_OBJECT(dialog), reinterpret_cast<gpointer*>(&g_accepted_chooser));
        } else {
            response = GTK_RESPONSE_CANCEL;
        }
    } else if (g_answer == "yes") {
        response = GTK_RESPONSE_YES;
    } else if (g_answer == "no") {
        response = GTK_RESPONSE_NO;
    } else if (g_answer == "ok") {
        for (const auto& [id, value] : g_answer_fields)
            if (!fill_field(dialog, id, value))
                fail(0, "dialog \"" + text + "\" has no field " + id);
        if (GtkWidget* entry = first_entry(dialog); entry && !g_answer_text.empty()) {
            gtk_entry_set_text(GTK_ENTRY(entry), g_answer_text.c_str());
        } else if (combo && !g_answer_text.empty()) {
            // The row whose text is the answer's.
            gchar** rows = g_strsplit(g_last_dialog_choices.c_str(), "\n", -1);
            int row = -1;
            for (int i = 0; rows[i] && row < 0; ++i)
                if (g_answer_text == rows[i])
                    row = i;
            g_strfreev(rows);
            if (row < 0)
                fail(g_answer_line, "the dialog offers no \"" + g_answer_text + "\"");
            gtk_combo_box_set_active(GTK_COMBO_BOX(combo), row);
        }
        response = GTK_IS_MESSAGE_DIALOG(dialog) ? GTK_RESPONSE_OK : GTK_RESPONSE_ACCEPT;
        if (GTK_IS_MESSAGE_DIALOG(dialog))
            response = GTK_RESPONSE_OK;
    } else if (g_answer == "cancel") {
        response = GTK_IS_MESSAGE_DIALOG(dialog) ? GTK_RESPONSE_CANCEL : GTK_RESPONSE_REJECT;
    } else if (g_answer == "close") {
        response = GTK_RESPONSE_DELETE_EVENT;
    }
    g_answer.clear();
    g_answer_text.clear();
    if (!g_later_answers.empty()) {
        std::tie(g_answer, g_answer_text) = g_later_answers.front();
        g_later_answers.erase(g_later_answers.begin());
    }
    g_answer_fields.clear();
    if (response != kAnswerLater)
        gtk_dialog_response(GTK_DIALOG(dialog), response);
    return TRUE;
}

// ---------------------------------------------------------------- simulator

void stop_sim()
{
    if (g_sim_pid > 0) {
        kill(g_sim_pid, SIGCONT);   // a stopped simulator could not take the SIGTERM
        kill(g_sim_pid, SIGTERM);
        int status = 0;
        for (int i = 0; i < 50 && waitpid(g_sim_pid, &status, WNOHANG) == 0; ++i)
            g_usleep(20000);
        kill(g_sim_pid, SIGKILL);
        waitpid(g_sim_pid, &status, WNOHANG);
        g_sim_pid = 0;
    }
}

bool start_sim(const std::vector<std::string>& args, int line)
{
    const char* sim = std::getenv("RARUR_SIM");
    if (!sim || !*sim) {
        fail(line, "RARUR_SIM is not set (path of rarur-sim)");
        return false;
    }
    stop_sim();
    char tmpl[] = "/tmp/ui-driver-sim-XXXXXX";
    if (!mkdtemp(tmpl)) {
        fail(line, "cannot make a temporary folder");
        return false;
    }
    g_sim_dir = tmpl;
    std::string port_file = g_sim_dir + "/port", control = g_sim_dir + "/control.sock", record = g_sim_dir + "/record.txt";
    std::vector<std::string> argv_s = {sim, "--listen", "127.0.0.1:0", "--port-file", port_file, "--control", control,
                                       "--record", record};
    argv_s.insert(argv_s.end(), args.begin() + 1, args.end());
    // USB stand-in sockets go into the simulator's own folder unless told otherwise.
    bool usb_id = std::find(args.begin(), args.end(), "--usb-id") != args.end();
    if (usb_id && std::find(args.begin(), args.end(), "--usb-dir") == args.end())
        argv_s.insert(argv_s.end(), {"--usb-dir", g_sim_dir});
    // A modem named without a folder lives in the simulator's folder.
    for (size_t i = 0; i + 1 < argv_s.size(); ++i) {
        if (argv_s[i] == "--modem-pty" && argv_s[i + 1].find('/') == std::string::npos) {
            argv_s[i + 1] = g_sim_dir + "/" + argv_s[i + 1];
            g_vars["SIM_MODEM"] = argv_s[i + 1];
        }
    }
    std::vector<char*> argv;
    for (auto& s : argv_s)
        argv.push_back(s.data());
    argv.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        execv(argv[0], argv.data());
        _exit(127);
    }
    g_sim_pid = pid;
    for (int i = 0; i < 500; ++i) {
        std::ifstream in(port_file);
        int port = 0;
        if (in >> port && port > 0) {
            g_vars["SIM_PORT"] = std::to_string(port);
            g_vars["SIM_ADDR"] = "127.0.0.1:" + std::to_string(port);
            g_vars["SIM_CONTROL"] = control;
            g_vars["SIM_DIR"] = g_sim_dir;
            g_vars["SIM_RECORD"] = record;
            g_vars["SIM_DIR"] = g_sim_dir;
            return true;
        }
        int status;
        if (waitpid(pid, &status, WNOHANG) == pid) {
            g_sim_pid = 0;
            fail(line, "rarur-sim exited at start");
            return false;
        }
        g_usleep(20000);
    }
    fail(line, "rarur-sim did not report its port");
    return false;
}

bool sim_control(const std::string& command, int line)
{
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", g_vars["SIM_CONTROL"].c_str());
    if (fd < 0 || connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        if (fd >= 0)
            close(fd);
        fail(line, "cannot reach the simulator's control socket");
        return false;
    }
    std::string msg = command + "\n";
    if (write(fd, msg.data(), msg.size()) != ssize_t(msg.size())) {
        close(fd);
        fail(line, "cannot send to the simulator");
        return false;
    }
    std::string reply;
    char c;
    while (read(fd, &c, 1) == 1 && c != '\n')
        reply += c;
    close(fd);
    if (reply.compare(0, 2, "ok") != 0) {
        fail(line, "simulator answered \"" + reply + "\" to \"" + command + "\"");
        return false;
    }
    return true;
}

// ---------------------------------------------------------------- actions

void screenshot(const std::string& path, int line)
{
    if (g_closed || !shell_widgets.main_window) {
        fail(line, "no window to photograph");
        return;
    }
    gdk_window_process_all_updates();
    while (gtk_events_pending())
        gtk_main_iteration_do(FALSE);
    GdkWindow* win = gtk_widget_get_window(shell_widgets.main_window);
    int width = 0, height = 0;
    gdk_drawable_get_size(GDK_DRAWABLE(win), &width, &height);
    GdkPixbuf* pixbuf = gdk_pixbuf_get_from_drawable(nullptr, GDK_DRAWABLE(win), nullptr, 0, 0, 0, 0, width, height);
    if (!pixbuf || !gdk_pixbuf_save(pixbuf, path.c_str(), "png", nullptr, nullptr))
        fail(line, "cannot save the screenshot " + path);
    if (pixbuf)
        g_object_unref(pixbuf);
}

// Scrolls every scrolled window around `widget` so that its top is in view.
void scroll_to(GtkWidget* widget)
{
    while (gtk_events_pending())
        gtk_main_iteration_do(FALSE);
    for (GtkWidget* p = gtk_widget_get_parent(widget); p; p = gtk_widget_get_parent(p)) {
        if (!GTK_IS_SCROLLED_WINDOW(p))
            continue;
        GtkWidget* content = gtk_bin_get_child(GTK_BIN(p));
        if (content && GTK_IS_VIEWPORT(content))
            content = gtk_bin_get_child(GTK_BIN(content));
        int x = 0, y = 0;
        if (!content || !gtk_widget_translate_coordinates(widget, content, 0, 0, &x, &y))
            continue;
        GtkAdjustment* v = gtk_scrolled_window_get_vadjustment(GTK_SCROLLED_WINDOW(p));
        double top = gtk_adjustment_get_upper(v) - gtk_adjustment_get_page_size(v);
        gtk_adjustment_set_value(v, std::max(0.0, std::min<double>(y, top)));
    }
}

void on_main_destroy(GtkWidget*, gpointer) { g_closed = true; }

// Runs one line; returns false when it starts a wait.
// A click on a spin button's up or down arrow, as the mouse gives it: a
// press and a release on the arrows' window, upper half up, lower half down.
bool press_spin_arrow(GtkSpinButton* spin, bool up)
{
    GtkWidget* widget = GTK_WIDGET(spin);
    if (!spin->panel || !gtk_widget_get_mapped(widget))
        return false;
    int height = 0;
    gdk_drawable_get_size(GDK_DRAWABLE(spin->panel), nullptr, &height);
    for (GdkEventType type : {GDK_BUTTON_PRESS, GDK_BUTTON_RELEASE}) {
        GdkEvent* event = gdk_event_new(type);
        event->button.window = GDK_WINDOW(g_object_ref(spin->panel));
        event->button.send_event = TRUE;
        event->button.time = GDK_CURRENT_TIME;
        event->button.button = 1;
        event->button.x = 2;
        event->button.y = up ? 1 : std::max(height - 2, widget->requisition.height / 2 + 1);
        gtk_widget_event(widget, event);
        gdk_event_free(event);
    }
    return true;
}

bool run_line(const Line& line)
{
    std::vector<std::string> a;
    for (const auto& s : line.args) {
        // C escapes (\n, \t, \") in values, as in the texts of the log.
        gchar* unescaped = g_strcompress(expand(s).c_str());
        a.push_back(unescaped);
        g_free(unescaped);
    }
    const std::string& cmd = a[0];
    auto need = [&](size_t n) {
        if (a.size() < n) {
            fail(line.number, "too few arguments for " + cmd);
            return false;
        }
        return true;
    };
    auto widget = [&](const std::string& id) -> GtkWidget* {
        GtkWidget* wd = g_closed ? nullptr : find_widget(id);
        if (!wd)
            fail(line.number, "no widget " + id);
        return wd;
    };

    if (cmd == "wait" && need(2)) {
        g_wait_until = g_get_monotonic_time() + gint64(std::atol(a[1].c_str())) * 1000;
        g_wait_condition.clear();
        return false;
    }
    if (cmd == "pace" && need(2)) {
        // Waits out the rest of a period that began at the previous "pace",
        // so a long script keeps a fixed rhythm however long each step took.
        static gint64 period_start = g_get_monotonic_time();
        gint64 end = period_start + gint64(std::atol(a[1].c_str())) * 1000;
        gint64 now = g_get_monotonic_time();
        period_start = end > now ? end : now;
        g_wait_until = period_start;
        g_wait_condition.clear();
        return false;
    }
    if (cmd == "wait-until" && need(3)) {
        g_wait_until = g_get_monotonic_time() + gint64(std::atol(a[1].c_str())) * 1000;
        g_wait_condition.assign(a.begin() + 2, a.end());
        g_wait_line = line.number;
        return false;
    }
    if (cmd == "activate" && need(2)) {
        if (GtkWidget* wd = widget(a[1])) {
            if (GTK_IS_MENU_ITEM(wd))
                gtk_menu_item_activate(GTK_MENU_ITEM(wd));
            else
                gtk_widget_activate(wd);
        }
    } else if (cmd == "click" && need(2)) {
        if (GtkWidget* wd = widget(a[1]))
            gtk_button_clicked(GTK_BUTTON(wd));
    } else if (cmd == "click-later" && need(2)) {
        // From a source of its own, so the script goes on while the handler
        // runs (a handler that waits while the window keeps answering).
        if (GtkWidget* wd = widget(a[1]))
            gdk_threads_add_idle(
                [](gpointer button) -> gboolean {
                    gtk_button_clicked(GTK_BUTTON(button));
                    return FALSE;
                },
                wd);
    } else if (cmd == "spin" && need(3)) {
        if (GtkWidget* wd = widget(a[1])) {
            if (!GTK_IS_SPIN_BUTTON(wd) || !press_spin_arrow(GTK_SPIN_BUTTON(wd), a[2] == "up"))
                fail(line.number, a[1] + ": no arrow to press (not a spin button shown on screen)");
        }
    } else if (cmd == "atk-set" && need(3)) {
        if (GtkWidget* wd = widget(a[1])) {
            AtkObject* accessible = gtk_widget_get_accessible(wd);
            GValue value = G_VALUE_INIT;
            g_value_init(&value, G_TYPE_DOUBLE);
            g_value_set_double(&value, std::atof(a[2].c_str()));
            // The widgets' accessibility of GTK+ 2 offers the first form of
            // the interface only, which assistive technologies still call.
            G_GNUC_BEGIN_IGNORE_DEPRECATIONS
            bool taken = ATK_IS_VALUE(accessible) && atk_value_set_current_value(ATK_VALUE(accessible), &value);
            G_GNUC_END_IGNORE_DEPRECATIONS
            if (!taken)
                fail(line.number, a[1] + ": its accessible object takes no value");
            g_value_unset(&value);
        }
    } else if (cmd == "set-text" && need(3)) {
        if (GtkWidget* wd = widget(a[1]))
            gtk_entry_set_text(GTK_ENTRY(wd), a[2].c_str());
    } else if (cmd == "enter" && need(3)) {
        // Typed and committed with Enter: a spin button takes the value then.
        if (GtkWidget* wd = widget(a[1])) {
            gtk_entry_set_text(GTK_ENTRY(wd), a[2].c_str());
            gtk_widget_activate(wd);
        }
    } else if (cmd == "icon-press" && need(2)) {
        if (GtkWidget* wd = widget(a[1])) {
            GdkEvent* ev = gdk_event_new(GDK_BUTTON_PRESS);
            g_signal_emit_by_name(wd, "icon-press", GTK_ENTRY_ICON_SECONDARY, ev);
            gdk_event_free(ev);
        }
    } else if (cmd == "toggle" && need(2)) {
        if (GtkWidget* wd = widget(a[1])) {
            if (GTK_IS_RADIO_MENU_ITEM(wd))
                gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(wd), TRUE);
            else if (GTK_IS_CHECK_MENU_ITEM(wd))
                gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(wd), !gtk_check_menu_item_get_active(GTK_CHECK_MENU_ITEM(wd)));
            else if (GTK_IS_TOGGLE_BUTTON(wd))
                gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(wd), !gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(wd)));
            else
                fail(line.number, a[1] + " cannot be toggled");
        }
    } else if (cmd == "scroll-to" && need(2)) {
        if (GtkWidget* wd = widget(a[1]))
            scroll_to(wd);
    } else if (cmd == "toggle-cell" && need(3)) {
        // The toggle renderer of a tree view column, as a click on the row's cell.
        GObject* column = g_closed ? nullptr : object_by_id(a[1].c_str());
        GtkCellRenderer* toggle = nullptr;
        if (column && GTK_IS_CELL_LAYOUT(column)) {
            GList* cells = gtk_cell_layout_get_cells(GTK_CELL_LAYOUT(column));
            for (GList* l = cells; l && !toggle; l = l->next)
                if (GTK_IS_CELL_RENDERER_TOGGLE(l->data))
                    toggle = GTK_CELL_RENDERER(l->data);
            g_list_free(cells);
        }
        if (toggle)
            g_signal_emit_by_name(toggle, "toggled", a[2].c_str());
        else
            fail(line.number, "no toggle column " + a[1]);
    } else if (cmd == "activate-row" && need(3)) {
        // A double click (or Enter) on row PATH of a tree view.
        GtkWidget* wd = widget(a[1]);
        GtkTreePath* path = gtk_tree_path_new_from_string(a[2].c_str());
        if (wd && GTK_IS_TREE_VIEW(wd) && path)
            gtk_tree_view_row_activated(GTK_TREE_VIEW(wd), path, gtk_tree_view_get_column(GTK_TREE_VIEW(wd), 0));
        else
            fail(line.number, "no row " + a[2] + " in tree view " + a[1]);
        if (path)
            gtk_tree_path_free(path);
    } else if (cmd == "select" && need(3)) {
        if (GtkWidget* wd = widget(a[1]))
            gtk_combo_box_set_active(GTK_COMBO_BOX(wd), std::atoi(a[2].c_str()));
    } else if (cmd == "page" && need(2)) {
        gtk_notebook_set_current_page(GTK_NOTEBOOK(shell_widgets.categories), std::atoi(a[1].c_str()));
    } else if (cmd == "answer" && need(2)) {
        g_answer = a[1];
        g_answer_text = a.size() > 2 ? a[2] : "";
        g_answer_line = line.number;
        g_later_answers.clear();
    } else if (cmd == "answer-next" && need(2)) {
        // The dialog after the one armed (or the next one, with none armed).
        std::string text = a.size() > 2 ? a[2] : "";
        if (g_answer.empty())
            g_answer = a[1], g_answer_text = text;
        else
            g_later_answers.emplace_back(a[1], text);
    } else if (cmd == "answer-set" && need(3)) {
        g_answer_fields.emplace_back(a[1], a[2]);
    } else if (cmd == "answer-file" && need(2)) {
        g_answer = "file";
        g_answer_text = a[1];
    } else if (cmd == "set-flag" && need(3)) {
        int v = std::atoi(a[2].c_str());
        if (a[1] == "settings_modified")
            app.settings_modified = v;
        else if (a[1] == "password_entered")
            app.password_entered = v;
        else
            fail(line.number, "unknown flag " + a[1]);
    } else if (cmd == "resize" && need(3)) {
        // As a user drags the window's corner.
        gtk_window_resize(GTK_WINDOW(shell_widgets.main_window), std::atoi(a[1].c_str()), std::atoi(a[2].c_str()));
    } else if (cmd == "pane" && need(3)) {
        // As a user drags the handle between the two halves of a pane.
        if (GtkWidget* wd = widget(a[1]); wd && GTK_IS_PANED(wd))
            gtk_paned_set_position(GTK_PANED(wd), std::atoi(a[2].c_str()));
        else
            fail(line.number, a[1] + " is no pane");
    } else if (cmd == "restart" || cmd == "close") {
        if (!g_closed) {
            GdkEvent* ev = gdk_event_new(GDK_DELETE);
            ev->any.window = GDK_WINDOW(g_object_ref(gtk_widget_get_window(shell_widgets.main_window)));
            ev->any.send_event = TRUE;
            gtk_main_do_event(ev);
            gdk_event_free(ev);
        }
        if (cmd == "restart" && g_closed)
            g_restart_line = g_next < g_lines.size() ? g_lines[g_next].number : line.number + 1;
        else if (cmd == "restart")
            fail(line.number, "the window did not close, so the program cannot start again");
    } else if (cmd == "expect" || cmd == "expect-cell" || cmd == "expect-children" || cmd == "store-contains" ||
               cmd == "store-lacks") {
        std::string why;
        if (!evaluate(a, why))
            fail(line.number, why);
    } else if (cmd == "print") {
        for (size_t i = 1; i < a.size(); ++i)
            g_printed.push_back(widget_json(a[i]));
    } else if (cmd == "screenshot" && need(2)) {
        screenshot(a[1], line.number);
    } else if (cmd == "set" && need(3)) {
        g_vars[a[1]] = a[2];
    } else if (cmd == "set-from" && need(4)) {
        bool ok = false;
        std::string value = property_of(a[2], a[3], ok);
        if (ok)
            g_vars[a[1]] = value;
        else
            fail(line.number, "no " + a[3] + " of " + a[2]);
    } else if (cmd == "sim") {
        start_sim(a, line.number);
    } else if (cmd == "sim-control" && need(2)) {
        std::string command;
        for (size_t i = 1; i < a.size(); ++i)
            command += (i > 1 ? " " : "") + a[i];
        sim_control(command, line.number);
    } else if (cmd == "setenv" && need(3)) {
        g_setenv(a[1].c_str(), a[2].c_str(), TRUE);
    } else if (cmd == "sim-stop") {
        stop_sim();
    } else if (cmd == "sim-signal" && need(2)) {
        // STOP: the simulator's process stands still (accepts nothing, answers
        // nothing) until CONT.
        int signal = a[1] == "STOP" ? SIGSTOP : a[1] == "CONT" ? SIGCONT : 0;
        if (!signal || g_sim_pid <= 0 || kill(g_sim_pid, signal) != 0)
            fail(line.number, "cannot signal the simulator with " + a[1]);
    } else if (cmd == "fill-backlog" && need(2)) {
        // Connections to the Unix socket PATH that nobody accepts, until its
        // queue is full; held until the script ends.
        sockaddr_un to{};
        to.sun_family = AF_UNIX;
        std::snprintf(to.sun_path, sizeof to.sun_path, "%s", a[1].c_str());
        bool full = false;
        for (int i = 0; i < 1024 && !full; ++i) {
            int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
            if (fd >= 0 && connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0) {
                g_backlog.push_back(fd);
                continue;
            }
            full = fd >= 0 && errno == EAGAIN;
            if (fd >= 0)
                close(fd);
            break;
        }
        if (!full)
            fail(line.number, "the queue of " + a[1] + " did not fill");
    } else if (cmd == "stall-section" && need(2)) {
        // The longest stall of each part of a script, for the benchmark.
        watchdog_section(a[1]);
    } else if (cmd == "stall-bound" && need(2)) {
        // The next line may hold the main loop this long (where the program is
        // asked to make the window wait; the script says which).
        g_watch.raise_pending_ms = std::atol(a[1].c_str());
    } else if (cmd == "listen") {
        // A bare TCP peer on a free port: the kernel completes connections to
        // it, nothing ever answers. Enough for the connect flow of the links.
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof addr;
        if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(fd, 8) != 0 ||
            getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size) != 0) {
            fail(line.number, "cannot listen on 127.0.0.1");
        } else {
            g_vars["LISTEN_PORT"] = std::to_string(ntohs(addr.sin_port));
            g_vars["LISTEN_ADDR"] = "127.0.0.1:" + g_vars["LISTEN_PORT"];
        }
    } else if (cmd == "listen-silent") {
        // A peer whose backlog is full: the kernel drops further connection
        // requests, so a connect to it waits out its whole time-out.
        int fd = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in addr{};
        addr.sin_family = AF_INET;
        addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof addr;
        int filler = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
        if (fd < 0 || filler < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
            listen(fd, 0) != 0 || getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &size) != 0 ||
            (connect(filler, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 && errno != EINPROGRESS)) {
            fail(line.number, "cannot listen on 127.0.0.1");
        } else {
            g_vars["SILENT_PORT"] = std::to_string(ntohs(addr.sin_port));
            g_vars["SILENT_ADDR"] = "127.0.0.1:" + g_vars["SILENT_PORT"];
        }
    } else if (cmd == "log-fill" && a.size() >= 2) {
        // Lines as a long session with -L would leave them, numbered from 1.
        int count = std::atoi(a[1].c_str());
        for (int i = 1; i <= count; ++i)
            log_message(send_text, "%d FF 04 00 00 00 0F\n", i);
    } else if (cmd == "file-replace" && need(4)) {
        // A file the program wrote, changed as a person would in an editor.
        gchar* data = nullptr;
        gsize size = 0;
        std::string text;
        if (g_file_get_contents(a[1].c_str(), &data, &size, nullptr))
            text.assign(data, size);
        g_free(data);
        size_t at = text.find(a[2]);
        if (at == std::string::npos) {
            fail(line.number, "no \"" + a[2] + "\" in " + a[1]);
        } else {
            text.replace(at, a[2].size(), a[3]);
            if (!g_file_set_contents(a[1].c_str(), text.data(), gssize(text.size()), nullptr))
                fail(line.number, "cannot write " + a[1]);
        }
    } else if (cmd == "echo") {
        // A word "@ID.PROP" is replaced by that property's value now.
        std::string text;
        for (size_t i = 1; i < a.size(); ++i) {
            std::string word = a[i];
            size_t dot = word.find('.');
            if (word.size() > 1 && word[0] == '@' && dot != std::string::npos) {
                bool ok = false;
                std::string value = property_of(word.substr(1, dot - 1), word.substr(dot + 1), ok);
                word = ok ? value : "?";
            }
            text += (i > 1 ? " " : "") + word;
        }
        std::fprintf(stderr, "%s\n", text.c_str());
    } else {
        fail(line.number, "unknown action " + cmd);
    }
    return true;
}

void finish()
{
    if (g_finished)
        return;
    g_finished = true;
    std::string out = "{\"result\":" + q(g_failures.empty() ? "pass" : "fail") + ",\"failures\":[";
    for (size_t i = 0; i < g_failures.size(); ++i)
        out += (i ? "," : "") + q(g_failures[i]);
    out += "],\"closed\":" + std::string(g_closed ? "true" : "false");
    out += ",\"longest_stall_ms\":" + std::to_string(g_watch.longest_us / 1000) +
           ",\"longest_stall_line\":" + std::to_string(g_watch.longest_line) + ",\"dialogs\":[";
    for (size_t i = 0; i < g_dialogs.size(); ++i)
        out += (i ? "," : "") + g_dialogs[i];
    out += "],\"state\":{";
    for (size_t i = 0; i < g_printed.size(); ++i)
        out += (i ? "," : "") + g_printed[i];
    out += "}}";
    std::printf("%s\n", out.c_str());
    std::fflush(stdout);
    watchdog_section("");
    std::fprintf(stderr, "ui-driver: longest main-loop stall %lld ms (line %d; at most %lld ms)\n",
                 static_cast<long long>(g_watch.longest_us / 1000), g_watch.longest_line,
                 static_cast<long long>(g_stall_bound_ms));
    for (int fd : g_backlog)
        close(fd);
    g_backlog.clear();
    g_exit_code = g_failures.empty() ? 0 : 1;
    stop_sim();
    if (!g_closed)
        gtk_main_quit();
}

// Actions that call into the program. The others are the driver's own work,
// which the watchdog leaves out.
bool calls_program(const std::string& action)
{
    static const char* const kProgram[] = {"activate", "click", "click-later", "set-text", "enter", "spin", "atk-set",
                                           "icon-press", "toggle", "toggle-cell", "activate-row", "select",
                                           "page", "close", "restart", "resize", "pane"};
    for (const char* name : kProgram)
        if (action == name)
            return true;
    return false;
}

gboolean step_body()
{
    if (g_wait_until) {
        if (!g_wait_condition.empty()) {
            std::string why;
            bool holds = evaluate(g_wait_condition, why);
            watchdog_restart();
            if (holds) {
                g_wait_until = 0;
            } else if (g_get_monotonic_time() >= g_wait_until) {
                fail(g_wait_line, "timed out: " + why);
                g_wait_until = 0;
            } else {
                return TRUE;
            }
        } else if (g_get_monotonic_time() < g_wait_until) {
            return TRUE;
        } else {
            g_wait_until = 0;
        }
    }
    while (g_next < g_lines.size()) {
        const Line& line = g_lines[g_next++];
        watchdog_line(line.number, line.args[0] == "stall-bound");
        bool waits = !run_line(line);
        if (calls_program(line.args[0]))
            watchdog_turn();
        else
            watchdog_restart();
        if (waits)
            return TRUE;
        if (g_closed)
            break;
    }
    if (g_restart_line) {
        // The program starts again once this run has ended (main); what went
        // wrong so far is reported now instead.
        if (g_failures.empty()) {
            g_finished = true;
            return FALSE;
        }
        g_restart_line = 0;
    }
    if (g_closed) {
        // After the window closed only the checks that need no widget run.
        while (g_next < g_lines.size()) {
            const Line& line = g_lines[g_next++];
            if (line.args[0] == "expect" && line.args.size() > 1 && (line.args[1] == "app" || line.args[1] == "dialog"))
                run_line(line);
        }
    }
    finish();
    return FALSE;
}

gint64 g_started_us = 0;

gboolean step(gpointer)
{
    if (g_finished)
        return FALSE;
    // The script starts once the window has been drawn (a display that never
    // says so gets ten seconds).
    if (!g_watch.armed) {
        if (g_get_monotonic_time() - g_started_us < 10 * G_USEC_PER_SEC)
            return TRUE;
        std::fprintf(stderr, "ui-driver: the window was not drawn within 10 s; the script starts anyway\n");
        watchdog_arm(nullptr);
    }
    watchdog_turn();
    gboolean again = step_body();
    watchdog_restart();
    return again;
}

gboolean overall_timeout(gpointer)
{
    fail(0, "the script did not finish within its time limit");
    finish();
    if (g_closed)
        gtk_main_quit();
    return FALSE;
}

// The accessibility implementation of the widgets (gail) is loaded only for a
// script that speaks to them as an assistive technology does.
void load_accessibility_for(const std::vector<Line>& lines)
{
    for (const Line& line : lines)
        if (!line.args.empty() && line.args[0] == "atk-set") {
            const char* modules = std::getenv("GTK_MODULES");
            std::string wanted = modules && *modules ? std::string(modules) + ":gail" : "gail";
            setenv("GTK_MODULES", wanted.c_str(), 1);
            return;
        }
}

bool load_script(const char* path)
{
    std::ifstream in(path);
    if (!in) {
        std::fprintf(stderr, "ui-driver: cannot read %s\n", path);
        return false;
    }
    std::string text;
    int number = 0;
    while (std::getline(in, text)) {
        ++number;
        size_t start = text.find_first_not_of(" \t");
        if (start == std::string::npos || text[start] == '#')
            continue;
        gint argc = 0;
        gchar** argv = nullptr;
        GError* error = nullptr;
        if (!g_shell_parse_argv(text.c_str(), &argc, &argv, &error)) {
            std::fprintf(stderr, "ui-driver: %s:%d: %s\n", path, number, error->message);
            g_error_free(error);
            return false;
        }
        Line line{number, {}};
        for (int i = 0; i < argc; ++i)
            line.args.push_back(argv[i]);
        g_strfreev(argv);
        g_lines.push_back(line);
    }
    return true;
}

// `restart`: this run of the program has ended; the driver runs again, as a
// new process with a new program, from the line after. The script's variables
// and its simulator (a child, which a new image keeps) carry over, and so does
// the environment `setenv` changed.
void run_again(const char* script, int timeout_s, const std::vector<std::string>& program_args)
{
    std::vector<std::string> args = {"ui-driver", "--script", script, "--timeout", std::to_string(timeout_s),
                                     "--stall-bound", std::to_string(g_stall_bound_ms), "--from-line",
                                     std::to_string(g_restart_line)};
    for (const auto& [name, value] : g_vars)
        args.insert(args.end(), {"--var", name + "=" + value});
    if (g_sim_pid > 0)
        args.insert(args.end(), {"--sim", std::to_string(g_sim_pid), g_sim_dir});
    args.push_back("--");
    args.insert(args.end(), program_args.begin(), program_args.end());
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    std::fprintf(stderr, "ui-driver: the program starts again at line %d\n", g_restart_line);
    std::fflush(stderr);
    execv("/proc/self/exe", argv.data());
    std::printf("{\"result\":\"fail\",\"failures\":[%s]}\n",
                q("cannot start again: " + std::string(std::strerror(errno))).c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    const char* script = nullptr;
    int timeout_s = 240;
    int from_line = 0;
    std::vector<char*> program_args = {argv[0]};
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--script") == 0 && i + 1 < argc)
            script = argv[++i];
        else if (std::strcmp(argv[i], "--timeout") == 0 && i + 1 < argc)
            timeout_s = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--stall-bound") == 0 && i + 1 < argc)
            g_stall_bound_ms = std::atol(argv[++i]);
        else if (std::strcmp(argv[i], "--from-line") == 0 && i + 1 < argc)   // restart
            from_line = std::atoi(argv[++i]);
        else if (std::strcmp(argv[i], "--var") == 0 && i + 1 < argc) {       // restart
            std::string var = argv[++i];
            size_t eq = var.find('=');
            if (eq != std::string::npos)
                g_vars[var.substr(0, eq)] = var.substr(eq + 1);
        } else if (std::strcmp(argv[i], "--sim") == 0 && i + 2 < argc) {     // restart
            g_sim_pid = pid_t(std::atol(argv[++i]));
            g_sim_dir = argv[++i];
        } else if (std::strcmp(argv[i], "--") == 0) {
            for (++i; i < argc; ++i)
                program_args.push_back(argv[i]);
        }
    }
    if (!script) {
        std::fprintf(stderr, "usage: ui-driver --script FILE [--timeout S] [--stall-bound MS] [-- PROGRAM-ARGS...]\n");
        return 2;
    }
    if (!load_script(script))
        return 2;
    while (g_next < g_lines.size() && g_lines[g_next].number < from_line)
        ++g_next;
    signal(SIGPIPE, SIG_IGN);
    load_accessibility_for(g_lines);
    stamp_shown_windows();
    // gtk_init takes its own options out of the arguments: a restart passes them all.
    std::vector<std::string> own_args(program_args.begin() + 1, program_args.end());

    int pargc = int(program_args.size());
    program_args.push_back(nullptr);
    char** pargv = program_args.data();

    gdk_threads_init();
    gdk_threads_enter();
    if (!app_start(&pargc, &pargv)) {
        std::printf("{\"result\":\"fail\",\"failures\":[\"the main window could not be built\"]}\n");
        gdk_threads_leave();
        return 1;
    }
    g_signal_connect(shell_widgets.main_window, "destroy", G_CALLBACK(on_main_destroy), nullptr);
    watchdog_install();
    g_started_us = g_get_monotonic_time();
    gdk_threads_add_timeout(20, step, nullptr);
    gdk_threads_add_timeout(50, answer_tick, nullptr);
    gdk_threads_add_timeout_seconds(guint(timeout_s), overall_timeout, nullptr);
    gtk_main();
    if (!g_finished) {
        // The window was closed by the script: run the remaining checks.
        step(nullptr);
    }
    // As the program does when its window closes: no worker may outlive main.
    link_close_for_exit();
    gdk_threads_leave();
    if (g_restart_line) {
        run_again(script, timeout_s, own_args);
        g_exit_code = 1;
    }
    stop_sim();
    return g_exit_code;
}
