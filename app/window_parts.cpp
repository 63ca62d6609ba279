#include "app/window_parts.h"

#include "events/active_lists_gtk.h"
#include "link/connection.h"
#include "link/connection_gtk.h"
#include "status/display_gtk.h"
#include "status/equipment_gtk.h"
#include "status/poll.h"

void register_window_part_handlers() { link_register_handlers(); }

void look_up_window_parts()
{
    connection_hooks.link_opened = status_link_opened;
    connection_hooks.connect_started = status_connect_started;
    connection_hooks.wait_workers_stopped = poll_wait_stopped;
    status_display_install();
    event_lists_display_install();
    equipment_display_install();
}

void reset_window_parts() { status_data_reset(); }

void close_link_for_exit() { link_close_for_exit(); }
