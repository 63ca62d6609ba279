// Widget pointers of the shell's own parts of the main window (log pane,
// status bar, summary strip, link menu), looked up once at start-up by their
// ids in the interface description. app/ only: the subsystems look up what
// they need by id themselves (gui/widgets.h).
#pragma once

#include <gtk/gtk.h>

#include "gui/widgets.h"

struct MainWidgets {
    GtkWidget* main_window = nullptr;
    GtkWidget* string_enter_dialog = nullptr;
    GtkWidget* device_address = nullptr;
    GtkWidget* categories = nullptr;
    GtkWidget* connect_item = nullptr;      // imagemenuitem1
    GtkWidget* disconnect_item = nullptr;   // imagemenuitem2
    GtkWidget* status_label = nullptr;      // packed at the end of statusbar1
    GtkWidget* about_dialog = nullptr;
    GtkWidget* transferred_send = nullptr;
    GtkWidget* transferred_recv = nullptr;
    GtkWidget* cycle_time = nullptr;
    GtkWidget* net_active = nullptr;
    GtkTextBuffer* log_buffer = nullptr;
    GtkWidget* log_view = nullptr;
    GtkWidget* settings_edited_image = nullptr;   // imageSettingsEdited
    GdkPixbuf* icon = nullptr;

    // summary strip
    GtkWidget* global_mains_label = nullptr;
    GtkWidget* global_mains[3] = {};
    GtkWidget* image_energosafe = nullptr;
    GtkWidget* hbox_energosafe = nullptr;
    GtkWidget* global_load_label = nullptr;
    GtkWidget* global_load_voltage = nullptr;
    GtkWidget* global_tk = nullptr;
    GtkWidget* global_load_current = nullptr;
    GtkWidget* global_battery_label = nullptr;
    GtkWidget* global_battery_current = nullptr;
    GtkWidget* global_battery_status = nullptr;
    GtkWidget* global_alarm1_count = nullptr;
    GtkWidget* global_alarm2_count = nullptr;
    GtkWidget* global_alarm_label = nullptr;
};

extern MainWidgets shell_widgets;
