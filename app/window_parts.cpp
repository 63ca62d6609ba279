#include "app/window_parts.h"

#include "link/connection.h"
#include "link/connection_gtk.h"

void register_window_part_handlers() { link_register_handlers(); }

void look_up_window_parts() {}

void reset_window_parts() {}

void close_link_for_exit() { link_close(); }
