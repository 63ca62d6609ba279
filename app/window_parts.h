// Where the subsystems join the main window: their signal handlers, their
// widget look-ups, their part of the display reset and of the shutdown.
#pragma once

void register_window_part_handlers();
void look_up_window_parts();
void reset_window_parts();
void close_link_for_exit();
