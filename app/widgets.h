// Widget pointers of the main window, looked up once at start-up by their ids
// in the interface description. GTK layer only.
#pragma once

#include <gtk/gtk.h>

// The settings page's place in the notebook "Categories" of the interface
// description.
constexpr int kSettingsNotebookPage = 3;

struct MainWidgets {
    GtkBuilder* builder = nullptr;      // kept: later look-ups by id (ui-driver, subsystems)
    GtkWidget* main_window = nullptr;
    GtkWidget* string_enter_dialog = nullptr;
    GtkWidget* device_address = nullptr;
    GtkWidget* label55 = nullptr;
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
    GtkWidget* device_time = nullptr;
};

extern MainWidgets w;

// Widget by builder id; nullptr when the description has no such id.
GtkWidget* widget_by_id(const char* id);
GObject* object_by_id(const char* id);
// An object made in code, found by id like those of the description from
// then on (a model that the description cannot declare). Holds a reference.
void add_object_id(const char* id, GObject* object);
