// Start-up, the main window, the About box and closing.
#pragma once

#include <gtk/gtk.h>

// True when an argument after the program name is exactly "-L" or "--log".
bool wants_frame_log(int argc, char** argv);

// Start-up steps up to a shown main window; returns false when the interface
// could not be unpacked or parsed (an error box has been shown).
// The caller holds the GDK lock and runs the main loop afterwards.
bool app_start(int* argc, char*** argv);

// Puts the summary strip and the status data back to their idle state.
void reset_main_display();

// Closing question and shutdown: the window is hidden at once, then the
// links end and the main loop quits. True when the program may close.
bool close_main_window();

extern "C" {
gboolean main_delete_event(GtkWidget* widget, GdkEvent* event, gpointer data);
void menu_exit(GtkMenuItem* item, gpointer data);
void about_message(GtkMenuItem* item, gpointer data);
gboolean about_key_press_event(GtkWidget* widget, GdkEventKey* event, gpointer data);
}
