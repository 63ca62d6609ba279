// The USB link: Controllers attached by USB, reached through the maker's
// access library (link/usb_access.h), carrying the USB frames.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "link/backend.h"
#include "link/usb_access.h"
#include "modbus/exchange.h"

extern const LinkBackend usb_backend;

// Asks the access library which Controllers are attached; their identifiers,
// in the library's order, go to *ids. 0 one or more found; 1 none (the
// information box and log line shown); -1 the library failed (error box and
// log line shown); -2 the window went away during the search (nothing shown).
// The library is asked off the GUI thread (link_run_blocking): the window
// keeps answering meanwhile. GUI thread, GDK lock held.
int usb_find_controllers(std::vector<uint32_t>* ids);

// Picks one of two or more identifiers: its index, or -1 when the user
// declined.
using UsbChooser = int (*)(const std::vector<uint32_t>& ids);

// "Подключиться" for USB: finds the attached Controllers, lets `choose` pick
// one when there are several (one is taken as it is), opens it and starts its
// exchange. 0 connected; -1 not (reported, or the user declined). GUI thread,
// GDK lock held.
int usb_connect(UsbChooser choose);

// The byte stream over an open handle, which it owns from now on: the handle
// is closed once the last user (the transport thread last of all) has let go,
// so no call on it can still be running; a failed close is shown from the
// GUI thread. Exposed for tests.
std::shared_ptr<LinkIo> usb_link_io(const UsbAccess& access, RarurHandle handle);
