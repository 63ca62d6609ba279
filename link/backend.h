// A link kind as data plus a few functions. Everything that differs between
// USB, Ethernet, the serial port and the modems lives in its backend; the
// connection manager and the exchange work from this description alone, so a
// new link kind is a backend file and one line in link/backends.cpp.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "base/link_kind.h"
#include "modbus/exchange.h"

// Where to connect: what the user chose, never read from widgets by a backend.
struct LinkTarget {
    std::string address;   // Ethernet "host[:port]", a serial port's path
    uint32_t usb_id = 0;   // USB device identifier
    std::string phone;     // modem number
};

struct LinkBackend {
    LinkKind kind;
    const char* name;
    // What "Подключиться" needs before it can open: the GTK side shows the
    // matching dialog.
    enum class Asks { Nothing, Address, Device, Modem } asks;
    // Opens the link: on success *io is the byte stream, with the frame
    // format, the title, the connected text and the send-error texts of this
    // kind filled in. 0, or -1 with the reason logged in the backend's words.
    // GUI thread, GDK lock held (it may let the main loop run while it waits).
    int (*open)(const LinkTarget& target, std::shared_ptr<LinkIo>* io);
    // Closes the link of this kind (the exchange's session with it). nullptr:
    // only the exchange's session is closed.
    void (*close)();
    // The link belongs to a thread of the backend's own (the modem's, which
    // dials, watches the line and redials): `open` only starts that thread,
    // which opens the exchange itself once the call is up; closing only asks
    // it to hang up, and the thread puts the menu right itself. A link that
    // fails under the exchange is left to that thread too (a lost call is
    // redialled, not closed).
    bool own_thread = false;
};

// The backend of `kind`, or nullptr for a kind this program does not connect
// through (RS-485).
const LinkBackend* link_backend(LinkKind kind);
