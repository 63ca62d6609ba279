// The event-mask table and the relay names of the settings page in the window,
// and the toggles of its six mask columns. GUI thread or GDK lock held.
#pragma once

#include "registers/settings_image.h"

// Rebuilds S_RelyNames and S_EventsMaskListStore from `image` (the edit copy)
// and shows the relay columns the relay count reaches.
void mask_lists_fill(const SettingsImage& image);

// The toggle handlers of the six mask columns, connected by name.
void mask_lists_register_handlers();
