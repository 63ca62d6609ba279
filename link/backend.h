// A link kind as data plus a few functions. Everything that differs between
// USB, Ethernet, the serial port and the modems lives in its backend; the
// connection manager, the kind menu and the exchange work from this
// description alone, so a new link kind is a backend file, one line in
// link/backends.cpp and its item in the interface description's kind menu
// (and a row in the frame formats if it wraps frames a new way).
#pragma once

#include <chrono>
#include <cstdint>
#include <memory>
#include <span>
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
    // The kind's name: its label in the kind menu, the same as the name of
    // its frame format where it has one.
    const char* name;
    // Id of its radio item in the kind menu of the interface description.
    const char* menu_item;
    // Its name in an address given on the command line ("tcp" of
    // "tcp:host:port"); nullptr: not reachable from there.
    const char* scheme = nullptr;
    // What "Подключиться" needs before it can open: the GTK side shows the
    // matching dialog. A modem on a phone line also asks for tone or pulse
    // dialling.
    enum class Asks { Nothing, Address, Device, Modem, PhoneLineModem } asks = Asks::Nothing;
    // Opens the link: on success *io is the byte stream, with the frame
    // format, the title, the connected text and the send-error texts of this
    // kind filled in. 0, or -1 with the reason logged in the backend's words.
    // GUI thread, GDK lock held (it may let the main loop run while it waits).
    // nullptr: a kind this program does not connect through; its menu item
    // is hidden.
    int (*open)(const LinkTarget& target, std::shared_ptr<LinkIo>* io) = nullptr;
    // Closes the link of this kind (the exchange's session with it). nullptr:
    // only the exchange's session is closed.
    void (*close)() = nullptr;
    // The link belongs to a thread of the backend's own (the modem's, which
    // dials, watches the line and redials): `open` only starts that thread,
    // which opens the exchange itself once the call is up; closing only asks
    // it to hang up, and the thread puts the menu right itself. A link that
    // fails under the exchange is left to that thread too (a lost call is
    // redialled, not closed).
    bool own_thread = false;
    // A link of this kind left open and closed for a new attempt: the
    // Controller gets this long to let go of the old connection before the
    // next one is opened.
    std::chrono::milliseconds reconnect_pause{0};
};

// Every link kind, in the order of the kind menu; one record per kind.
std::span<const LinkBackend* const> link_backends();
// The record of `kind`; nullptr only for a number that is no kind.
const LinkBackend* link_backend(LinkKind kind);
