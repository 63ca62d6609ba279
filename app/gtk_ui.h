// GTK side of the shell: the UI hooks, log tags, the title and the connect
// controls. Called on the GUI thread or under the GDK lock.
#pragma once

#include <gtk/gtk.h>

// On the GUI thread: the thread that installs the hooks is the window's.
void gtk_ui_install();
// Drains the log's queue (worker lines and frame dumps) and the transport
// thread's dot and counters every 100 ms; once the window is built.
void gtk_ui_start_activity_timer();
void create_log_tags(GtkTextBuffer* buffer);

// The count of active first-degree alarms the title carries after the
// link's own text (0: none shown). GDK lock held.
void set_title_alarm_count(unsigned count);

// "Подключиться" and the link kinds are sensitive exactly when no link is
// open; "Отключиться" exactly when one is.
void set_connect_controls(int disconnected);
