// The equipment lists of the current cycle: the presenters fed from the status
// image and from copies of the device and reference settings, each copy taken
// under its own lock (never both at once).
#pragma once

#include "status/equipment.h"

struct StatusImage;

ListView current_contactor_list(const StatusImage& status);
ListView current_rectifier_list(const StatusImage& status);
ListView current_dry_contact_list(const StatusImage& status);
ListView current_ukdv_list(const StatusImage& status);
ListView current_upkb_list(const StatusImage& status);
