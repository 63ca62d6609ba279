#include "app/window_parts.h"

#include "app/main_window.h"

#include "app/gtk_ui.h"
#include "gui/helpers.h"
#include "app/widgets.h"
#include "base/text_format.h"

#include "battery/export_gtk.h"
#include "battery/records_gtk.h"
#include "events/active_lists_gtk.h"
#include "events/journal_gtk.h"
#include "settings/masks_gtk.h"
#include "link/connection.h"
#include "link/connection_gtk.h"
#include "settings/file_gtk.h"
#include "settings/page_gtk.h"
#include "registers/settings_store.h"
#include "status/commands_gtk.h"
#include "status/register_view_gtk.h"
#include "status/display_gtk.h"
#include "status/equipment_gtk.h"
#include "status/poll.h"
#include "status/trends_gtk.h"

namespace {

// A new connection starts with neither the settings read nor the page loaded.
void connect_started()
{
    status_connect_started();
    settings_page_set_loaded(false);
}

// Buttons that need a link are offered while there is one.
void link_controls_update()
{
    service_commands_controls_update();
    journal_controls_update();
    battery_records_controls_update();
}

} // namespace

void register_window_part_handlers()
{
    link_register_handlers();
    settings_page_register_handlers();
    settings_file_register_handlers();
    mask_lists_register_handlers();
    service_commands_register_handlers();
    register_viewer_register_handlers();
    battery_records_register_handlers();
    battery_export_register_handlers();
    journal_register_handlers();
    trends_register_handlers();
}

void look_up_window_parts()
{
    connection_init();
    connection_subscribe(ConnectionEvent::LinkOpened, status_link_opened);
    connection_subscribe(ConnectionEvent::ConnectStarted, connect_started);
    connection_subscribe(ConnectionEvent::EditsLost, settings_keep_lost_edits);
    connection_subscribe(ConnectionEvent::DiscardEdits, [] { settings_page_refill(true); });
    connection_subscribe(ConnectionEvent::LinkOpened, link_controls_update);
    connection_subscribe(ConnectionEvent::LinkEnded, reset_main_display);
    connection_subscribe(ConnectionEvent::LinkEnded, trends_link_ended);
    status_display_install();
    event_lists_display_install(set_title_alarm_count);
    equipment_display_install();
    trends_install();
    settings_page_install();
    journal_install();
    settings_page_on_load(settings_offer_kept_edits);
    // The clock's spins read "." and "," alike, as the settings page's do.
    for (const char* id : {"ToolsTimeHours", "ToolsTimeMinutes", "ToolsTimeSeconds"})
        if (GtkWidget* spin = widget_by_id(id); spin && GTK_IS_SPIN_BUTTON(spin))
            spin_button_take_any_separator(GTK_SPIN_BUTTON(spin), [](GtkSpinButton* s, const char*, const double* value) {
                status_bar_note("clock", value ? "" : format("Время: введено не число, оставлено %d",
                                                             gtk_spin_button_get_value_as_int(s)).c_str());
            });
}

void reset_window_parts()
{
    status_data_reset();
    status_display_reset();
    event_lists_display_reset();
    equipment_display_reset();
    settings_page_reset();
    battery_records_reset();
    link_controls_update();
}

void close_link_for_exit()
{
    link_close_for_exit();
    trends_finish_for_exit();
}
