// Event texts against the settings in force: the catalogue fed either with the
// image the caller holds (the mask editor passes the edit copy) or with a
// snapshot of the device copy.
#pragma once

#include <cstddef>
#include <cstdint>

#include "registers/settings_image.h"

// With settings == nullptr the device copy of `layout` is copied under
// settings_lock and the lock released before formatting; otherwise the given
// image is used with its own layout. Same result and text as the catalogue's
// event_text.
bool event_text(char* buffer, size_t size, uint16_t code, int layout, const SettingsImage* settings);
