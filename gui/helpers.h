// Small GTK helpers every subsystem's window part shares: message boxes,
// accessibility ids, status bar notes, spin buttons. Called on the GUI thread
// or under the GDK lock.
#pragma once

#include <gtk/gtk.h>

// Modal box over the main window, one OK button, plain text.
void show_message(GtkMessageType kind, const char* format, ...) __attribute__((format(printf, 2, 3)));
// Modal box with Pango markup; returns the response id.
int ask_question(GtkMessageType kind, GtkButtonsType buttons, const char* markup_format, ...)
    __attribute__((format(printf, 3, 4)));

void set_accessible_id(GtkWidget* widget, const char* id);

// A save dialog opens in the folder the user last chose a file in, at first in
// the Documents folder (the home folder when there is none), not in GTK's
// list of recent files; remember the folder once the dialog was accepted.
void file_chooser_start_in_last_folder(GtkFileChooser* chooser);
void file_chooser_remember_folder(GtkFileChooser* chooser);

// A note in the status bar under `context`, replacing the context's last one;
// an empty text only removes it.
void status_bar_note(const char* context, const char* text);

// The whole value of spin button `id`, a value typed but not yet confirmed with
// Enter included; 0 when there is no such spin button.
int spin_button_value(const char* id);

// A spin button that takes "." and "," alike as the decimal separator in every
// locale. Text that is no number keeps the value the spin had and shows it
// again; `check` (may be null) hears of every text taken or refused, with the
// number when there is one.
using SpinTextCheck = void (*)(GtkSpinButton* spin, const char* text, const double* value);
void spin_button_take_any_separator(GtkSpinButton* spin, SpinTextCheck check);
