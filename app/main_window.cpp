#include "app/main_window.h"

#include <gdk/gdkkeysyms.h>
#include <glib/gstdio.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "base/app_state.h"
#include "base/blob.h"
#include "app/embedded.h"
#include "app/gtk_ui.h"
#include "gui/handlers.h"
#include "gui/helpers.h"
#include "base/log.h"
#include "base/ui_hooks.h"
#include "app/widgets.h"
#include "app/window_geometry.h"
#include "app/window_parts.h"
#include "link/backend.h"

namespace {

const char* const kSummaryPlaceholders[][2] = {
    {"GlobalMainsLabel", "Сеть"},   {"GlobalMainsL1", "---В"},       {"GlobalMainsL2", "---В"},
    {"GlobalMainsL3", "---В"},      {"GlobalLoadLabel", "Нагрузка"}, {"GlobalLoadCurrent", "--,-А"},
    {"GlobalLoadVoltage", "--,-В"}, {"GlobalBatteryLabel", "АБ"},    {"GlobalBatteryStatus", ""},
    {"GlobalBatteryCurrent", "-,--А"}, {"GlobalAlarmLabel", "Аварии"}, {"GlobalAlarm1Count", "-"},
    {"GlobalAlarm2Count", "-"},
};

GdkPixbuf* icon_pixbuf()
{
    uint8_t* data = unpack_blob(kIconBlob, kIconBlobCompressed, kIconBlobSize);
    if (!data)
        return nullptr;
    // GdkPixdata header in host byte order: magic, length, type, rowstride,
    // width, height; then the RGBA rows.
    uint32_t h[6];
    std::memcpy(h, data, sizeof h);
    GdkPixbuf* pixbuf = nullptr;
    const uint32_t rowstride = h[3], width = h[4], height = h[5];
    if (h[0] == 0x47646b50 && h[1] <= kIconBlobSize && width > 0 && height > 0 && rowstride >= width * 4 &&
        24 + size_t(rowstride) * height <= kIconBlobSize) {
        GdkPixbuf* view = gdk_pixbuf_new_from_data(data + 24, GDK_COLORSPACE_RGB, TRUE, 8, int(width),
                                                   int(height), int(rowstride), nullptr, nullptr);
        pixbuf = gdk_pixbuf_copy(view);   // pixels copied: the unpacked bytes are freed below
        g_object_unref(view);
    }
    g_free(data);
    return pixbuf;
}

void connect_by_name(GtkBuilder*, GObject* object, const gchar* signal_name, const gchar* handler_name,
                     GObject* connect_object, GConnectFlags flags, gpointer)
{
    GCallback cb = find_handler(handler_name);
    if (!cb) {
        g_warning("no handler registered for %s", handler_name);
        return;
    }
    if (connect_object)
        g_signal_connect_object(object, signal_name, cb, connect_object, flags);
    else
        g_signal_connect_data(object, signal_name, cb, nullptr, nullptr, flags);
}

void register_shell_handlers()
{
    register_handler("main_delete_event", G_CALLBACK(main_delete_event));
    register_handler("menu_exit", G_CALLBACK(menu_exit));
    register_handler("about_message", G_CALLBACK(about_message));
    register_handler("about_key_press_event", G_CALLBACK(about_key_press_event));
    register_handler("gtk_widget_hide_on_delete", G_CALLBACK(gtk_widget_hide_on_delete));
}

// ---- the window's size and pane, from one session to the next

std::string geometry_folder() { return std::string(g_get_user_config_dir()) + "/rarur-service"; }
std::string geometry_path() { return geometry_folder() + "/window"; }

// The size the window has when it is neither maximised nor full-screen: what
// the next session opens with, even if this one ends maximised.
int g_normal_width = 0, g_normal_height = 0;

gboolean main_window_configured(GtkWidget* window, GdkEventConfigure*, gpointer)
{
    GdkWindow* gdk_window = gtk_widget_get_window(window);
    if (gdk_window && !(gdk_window_get_state(gdk_window) & (GDK_WINDOW_STATE_MAXIMIZED | GDK_WINDOW_STATE_FULLSCREEN)))
        gtk_window_get_size(GTK_WINDOW(window), &g_normal_width, &g_normal_height);
    return FALSE;
}

// Before the window is first shown: the remembered size, cut to the screen it
// opens on (the default too, on a screen smaller than it), and the pane.
void apply_window_geometry()
{
    gchar* text = nullptr;
    gsize size = 0;
    WindowGeometry geometry;
    if (g_file_get_contents(geometry_path().c_str(), &text, &size, nullptr))
        geometry = geometry_from_text(text, size);
    g_free(text);
    GtkWindow* window = GTK_WINDOW(shell_widgets.main_window);
    if (geometry.width <= 0 || geometry.height <= 0)
        gtk_window_get_default_size(window, &geometry.width, &geometry.height);
    GdkScreen* screen = gtk_window_get_screen(window);
    GdkRectangle monitor{0, 0, gdk_screen_get_width(screen), gdk_screen_get_height(screen)};
    gdk_screen_get_monitor_geometry(screen, gdk_screen_get_primary_monitor(screen), &monitor);
    geometry = geometry_fit(geometry, monitor.width, monitor.height);
    if (geometry.width > 0 && geometry.height > 0) {
        gtk_window_set_default_size(window, geometry.width, geometry.height);
        g_normal_width = geometry.width;
        g_normal_height = geometry.height;
    }
    if (geometry.pane >= 0)
        if (GtkWidget* pane = widget_by_id("vpaned1"))
            gtk_paned_set_position(GTK_PANED(pane), geometry.pane);
    if (geometry.maximized)
        gtk_window_maximize(window);
    g_signal_connect(shell_widgets.main_window, "configure-event", G_CALLBACK(main_window_configured), nullptr);
}

// On closing, while the window is still shown. A file that cannot be written
// costs the next session its size, nothing else: the program is leaving.
void save_window_geometry()
{
    if (!shell_widgets.main_window || !gtk_widget_get_visible(shell_widgets.main_window))
        return;
    WindowGeometry geometry;
    main_window_configured(shell_widgets.main_window, nullptr, nullptr);
    geometry.width = g_normal_width;
    geometry.height = g_normal_height;
    if (GtkWidget* pane = widget_by_id("vpaned1"))
        geometry.pane = gtk_paned_get_position(GTK_PANED(pane));
    GdkWindow* gdk_window = gtk_widget_get_window(shell_widgets.main_window);
    geometry.maximized = gdk_window && (gdk_window_get_state(gdk_window) & GDK_WINDOW_STATE_MAXIMIZED);
    if (geometry.maximized && geometry.pane >= 0) {
        // The pane as it stands in the normal size: maximising next time gives
        // the pages the extra height again, as it did this time.
        int width = 0, height = 0;
        gtk_window_get_size(GTK_WINDOW(shell_widgets.main_window), &width, &height);
        geometry.pane = std::max(0, geometry.pane - (height - g_normal_height));
    }
    std::string text = geometry_to_text(geometry);
    if (g_mkdir_with_parents(geometry_folder().c_str(), 0700) == 0)
        g_file_set_contents(geometry_path().c_str(), text.data(), static_cast<gssize>(text.size()), nullptr);
}

GtkWidget* must(const char* id)
{
    GtkWidget* widget = widget_by_id(id);
    if (!widget)
        g_warning("the interface description has no widget '%s'", id);
    return widget;
}

void look_up_widgets()
{
    shell_widgets.string_enter_dialog = must("StringEnterDialog");
    shell_widgets.device_address = must("DeviceAddress");
    must("label55");   // the address dialog's heading, set by the connection manager
    shell_widgets.main_window = must("MainWindow");
    gtk_window_set_title(GTK_WINDOW(shell_widgets.main_window), "RARUR Service");
    shell_widgets.categories = must("Categories");
    app.link_kind = kDefaultLinkKind;
    shell_widgets.connect_item = must("imagemenuitem1");
    shell_widgets.disconnect_item = must("imagemenuitem2");
    for (const LinkBackend* backend : link_backends()) {
        GtkWidget* item = must(backend->menu_item);
        if (!item)
            continue;
        gtk_menu_item_set_label(GTK_MENU_ITEM(item), backend->name);
        // A kind the program cannot connect through keeps its item (the radio
        // group stays whole) but is not offered.
        if (!backend->open) {
            gtk_widget_hide(item);
            gtk_widget_set_no_show_all(item, TRUE);
        }
    }
    gtk_widget_set_sensitive(shell_widgets.connect_item, TRUE);
    gtk_widget_set_sensitive(shell_widgets.disconnect_item, FALSE);

    // The status label written by the poll cycle, at the end of the status bar.
    GtkWidget* statusbar = must("statusbar1");
    shell_widgets.status_label = gtk_label_new("");
    set_accessible_id(shell_widgets.status_label, "StatusLabel");
    gtk_box_pack_end(GTK_BOX(statusbar), shell_widgets.status_label, FALSE, FALSE, 2);
    gtk_widget_show(shell_widgets.status_label);
    add_object_id("StatusLabel", G_OBJECT(shell_widgets.status_label));

    shell_widgets.about_dialog = must("AboutDialog");
    // The About box holds the program's version; the device page repeats it
    // beside the Controller's, as the first thing support asks for.
    if (const gchar* version = gtk_about_dialog_get_version(GTK_ABOUT_DIALOG(shell_widgets.about_dialog)))
        gtk_label_set_text(GTK_LABEL(must("AboutProgramVersion")), (std::string("RARUR Service ") + version).c_str());
    shell_widgets.transferred_send = must("TranferredDataSend");
    shell_widgets.transferred_recv = must("TranferredDataRecv");
    shell_widgets.cycle_time = must("CycleTime");
    shell_widgets.net_active = must("NetActiveLabel");
    shell_widgets.log_buffer = GTK_TEXT_BUFFER(object_by_id("LogTextBuffer"));
    shell_widgets.log_view = must("LogTextView");
    create_log_tags(shell_widgets.log_buffer);

    shell_widgets.global_mains_label = must("GlobalMainsLabel");
    shell_widgets.image_energosafe = must("imageEnergosafe");
    if (shell_widgets.icon)
        gtk_image_set_from_pixbuf(GTK_IMAGE(shell_widgets.image_energosafe), shell_widgets.icon);
    shell_widgets.hbox_energosafe = must("hboxEnergosafe");
    gtk_widget_hide(shell_widgets.hbox_energosafe);
    gtk_widget_set_no_show_all(shell_widgets.hbox_energosafe, TRUE);
    shell_widgets.global_mains[0] = must("GlobalMainsL1");
    shell_widgets.global_mains[1] = must("GlobalMainsL2");
    shell_widgets.global_mains[2] = must("GlobalMainsL3");
    shell_widgets.global_load_label = must("GlobalLoadLabel");
    shell_widgets.global_load_voltage = must("GlobalLoadVoltage");
    shell_widgets.global_tk = must("GlobalTK");
    gtk_widget_set_no_show_all(shell_widgets.global_tk, TRUE);
    shell_widgets.global_load_current = must("GlobalLoadCurrent");
    shell_widgets.global_battery_label = must("GlobalBatteryLabel");
    shell_widgets.global_battery_current = must("GlobalBatteryCurrent");
    shell_widgets.global_battery_status = must("GlobalBatteryStatus");
    shell_widgets.global_alarm1_count = must("GlobalAlarm1Count");
    shell_widgets.global_alarm2_count = must("GlobalAlarm2Count");
    shell_widgets.global_alarm_label = must("GlobalAlarmLabel");
    must("DeviceTime");   // the clock in the menu bar, written by the status display
    shell_widgets.settings_edited_image = must("imageSettingsEdited");
}

// Screen readers and AT-SPI test tools find every widget by the id the code uses.
void set_accessible_ids()
{
    widgets_for_each([](const char* id, GObject* object) {
        if (GTK_IS_WIDGET(object))
            set_accessible_id(GTK_WIDGET(object), id);
    });
}

bool build_main_window()
{
    shell_widgets.icon = icon_pixbuf();

    uint8_t* text = unpack_blob(kInterfaceBlob, kInterfaceBlobCompressed, kInterfaceBlobSize + 1);
    if (!text) {
        show_message(GTK_MESSAGE_ERROR, "Не удалось распаковать интерфейс");
        return false;
    }
    GtkBuilder* builder = gtk_builder_new();
    GError* error = nullptr;
    if (!gtk_builder_add_from_string(builder, reinterpret_cast<const char*>(text), kInterfaceBlobSize, &error)) {
        show_message(GTK_MESSAGE_ERROR, "%s", error ? error->message : "");
        if (error)
            g_error_free(error);
        g_free(text);
        g_object_unref(builder);
        return false;
    }
    g_free(text);

    register_shell_handlers();
    register_window_part_handlers();
    gtk_builder_connect_signals_full(builder, connect_by_name, nullptr);

    // Id look-ups (subsystems, the test driver) work from here.
    widgets_adopt(builder);

    look_up_widgets();
    look_up_window_parts();
    set_accessible_ids();

    gtk_widget_set_sensitive(gtk_notebook_get_nth_page(GTK_NOTEBOOK(shell_widgets.categories), kSettingsNotebookPage), FALSE);
    reset_main_display();

    log_message(norm_text, "Программа запущена\n");
    widgets_release_builder();
    g_object_unref(builder);
    return true;
}

}  // namespace

bool wants_frame_log(int argc, char** argv)
{
    for (int i = 1; i < argc; ++i)
        if (std::strcmp(argv[i], "-L") == 0 || std::strcmp(argv[i], "--log") == 0)
            return true;
    return false;
}

bool app_start(int* argc, char*** argv)
{
    app_state_reset_start_values();
    app.log_frames = wants_frame_log(*argc, *argv) ? 1 : 0;
    gtk_ui_install();
    gtk_init(argc, argv);
    if (!build_main_window())
        return false;
    if (shell_widgets.settings_edited_image)
        gtk_widget_hide(shell_widgets.settings_edited_image);
    apply_window_geometry();
    gtk_widget_show(shell_widgets.main_window);
    gtk_ui_start_activity_timer();
    return true;
}

void reset_main_display()
{
    reset_window_parts();
    for (const auto& entry : kSummaryPlaceholders)
        if (GtkWidget* label = widget_by_id(entry[0]))
            gtk_label_set_markup(GTK_LABEL(label), entry[1]);
    if (shell_widgets.categories)
        gtk_widget_set_sensitive(gtk_notebook_get_nth_page(GTK_NOTEBOOK(shell_widgets.categories), kSettingsNotebookPage), FALSE);
}

bool close_main_window()
{
    if (app.settings_modified) {
        int answer = ask_question(GTK_MESSAGE_QUESTION, GTK_BUTTONS_YES_NO,
                                  "<b>Внесенные Вами изменения настроек не применены!</b>\n"
                                  "Вы действительно хотите выйти?");
        if (answer != GTK_RESPONSE_YES) {
            gtk_notebook_set_current_page(GTK_NOTEBOOK(shell_widgets.categories), kSettingsNotebookPage);
            return false;
        }
    }
    save_window_geometry();
    app.log_enabled = 0;
    // The window goes at once: the links end behind it, and a modem call
    // takes seconds to hang up.
    for (GtkWidget* window : {shell_widgets.string_enter_dialog, shell_widgets.main_window})
        if (window)
            gtk_widget_hide(window);
    gdk_flush();
    close_link_for_exit();
    gtk_main_quit();
    return true;
}

extern "C" {

gboolean main_delete_event(GtkWidget*, GdkEvent*, gpointer)
{
    // FALSE lets the window close; TRUE keeps it open.
    return close_main_window() ? FALSE : TRUE;
}

void menu_exit(GtkMenuItem*, gpointer) { close_main_window(); }

void about_message(GtkMenuItem*, gpointer)
{
    gtk_dialog_run(GTK_DIALOG(shell_widgets.about_dialog));
    gtk_widget_hide(shell_widgets.about_dialog);
}

gboolean about_key_press_event(GtkWidget* widget, GdkEventKey* event, gpointer)
{
    if (event->keyval == GDK_Escape) {
        gtk_widget_hide(widget);
        return TRUE;
    }
    return FALSE;
}

}  // extern "C"
