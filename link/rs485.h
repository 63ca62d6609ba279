// The RS-485 link: the Controller's field bus, which this program does not
// connect through. Its kind keeps its place in the kind menu (hidden) and in
// the frame formats, so that the kinds keep their numbers.
#pragma once

#include "link/backend.h"

extern const LinkBackend rs485_backend;
