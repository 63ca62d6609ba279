#include "app/window_parts.h"

void register_window_part_handlers() {}

void look_up_window_parts() {}

void reset_window_parts() {}

void close_link_for_exit() {}
