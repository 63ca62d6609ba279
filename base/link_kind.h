// The kinds of link to a Controller. A type of its own so that the pure core
// (frame formats) can name a link kind without seeing the program's state.
//
// A kind is named here and, apart from its frame format, only by its backend
// in link/: menus and checks go through the registry of backends.
#pragma once

#include <cstdint>

enum class LinkKind : int32_t { Usb = 0, Ethernet = 1, Gsm = 2, Pstn = 3, Rs485 = 4, Count_ };

// How many kinds there are: tables indexed by the kind are sized by this.
constexpr int kLinkKindCount = int(LinkKind::Count_);

// The kind chosen when the program starts (its menu item is the one marked
// active in the interface description).
constexpr LinkKind kDefaultLinkKind = LinkKind::Ethernet;
