// Signal handlers named in the interface description are connected by name.
// Each subsystem registers its handlers here before the window is built; the
// builder then connects every signal whose handler name is registered.
#pragma once

#include <glib-object.h>

void register_handler(const char* name, GCallback callback);
GCallback find_handler(const char* name);
