// The six active-event lists after one poll cycle, from the status image of
// this cycle and of the previous one, with the masks and names of the device
// copy of the settings.
#pragma once

#include "events/active_lists.h"

struct StatusImage;

// The device copy is copied once under settings_lock, and only when the
// events block changed.
ActiveListsView current_active_lists(const StatusImage& status, const StatusImage& previous);
