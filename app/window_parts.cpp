#include "app/window_parts.h"

#include "events/active_lists_gtk.h"
#include "events/masks_gtk.h"
#include "link/connection.h"
#include "link/connection_gtk.h"
#include "settings/page_gtk.h"
#include "settings/settings_store.h"
#include "status/display_gtk.h"
#include "status/equipment_gtk.h"
#include "status/poll.h"

namespace {

// A new connection starts with neither the settings read nor the page loaded.
void connect_started()
{
    status_connect_started();
    settings_page_set_loaded(false);
}

} // namespace

void register_window_part_handlers()
{
    link_register_handlers();
    settings_page_register_handlers();
    mask_lists_register_handlers();
}

void look_up_window_parts()
{
    connection_hooks.link_opened = status_link_opened;
    connection_hooks.connect_started = connect_started;
    connection_hooks.discard_settings_edits = [] { settings_page_refill(true); };
    connection_hooks.wait_workers_stopped = poll_wait_stopped;
    status_display_install();
    event_lists_display_install();
    equipment_display_install();
    settings_page_install();
}

void reset_window_parts()
{
    status_data_reset();
    settings_page_reset();
}

void close_link_for_exit() { link_close_for_exit(); }
