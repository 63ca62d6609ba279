// The kinds of link to a Controller. A type of its own so that the pure core
// (frame formats) can name a link kind without seeing the program's state.
#pragma once

#include <cstdint>

enum class LinkKind : int32_t { Usb = 0, Ethernet = 1, Gsm = 2, Pstn = 3, Rs485 = 4 };
