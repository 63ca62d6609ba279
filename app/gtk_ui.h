// GTK side of the shell: message boxes, log tags, accessibility ids, the
// connect controls. Called on the GUI thread or under the GDK lock.
#pragma once

#include <gtk/gtk.h>

// On the GUI thread: the thread that installs the hooks is the window's.
void gtk_ui_install();
// Drains the log's queue (worker lines and frame dumps) and the transport
// thread's dot and counters every 100 ms; once the window is built.
void gtk_ui_start_activity_timer();
void create_log_tags(GtkTextBuffer* buffer);

// Modal box over the main window, one OK button, plain text.
void show_message(GtkMessageType kind, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Modal box with Pango markup; returns the response id.
int ask_question(GtkMessageType kind, GtkButtonsType buttons, const char* markup_format, ...)
    __attribute__((format(printf, 3, 4)));

void set_accessible_id(GtkWidget* widget, const char* id);

// The count of active first-degree alarms the title carries after the
// link's own text (0: none shown). GDK lock held.
void set_title_alarm_count(unsigned count);

// "Подключиться" and the link kinds are sensitive exactly when no link is
// open; "Отключиться" exactly when one is.
void set_connect_controls(int disconnected);

// A note in the status bar under `context`, replacing the context's last one;
// an empty text only removes it.
void status_bar_note(const char* context, const char* text);

// A spin button that takes "." and "," alike as the decimal separator in every
// locale. Text that is no number keeps the value the spin had and shows it
// again; `check` (may be null) hears of every text taken or refused, with the
// number when there is one.
// The whole value of spin button `id`, a value typed but not yet confirmed with
// Enter included; 0 when there is no such spin button.
int spin_button_value(const char* id);

using SpinTextCheck = void (*)(GtkSpinButton* spin, const char* text, const double* value);
void spin_button_take_any_separator(GtkSpinButton* spin, SpinTextCheck check);
