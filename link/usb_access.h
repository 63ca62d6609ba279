// Which USB access library the program talks through: one named by
// RARUR_USB_LIBRARY, else kDefaultUsbLibrary where the system's loader finds
// it, else the program's own, which reaches Controllers (and rarur-sim) over
// Unix sockets DIR/rarur-<id>.sock, DIR being RARUR_USB_DIR or
// $XDG_RUNTIME_DIR/rarur.
#pragma once

#include <string>

#include "link/rarur_usb.h"

constexpr const char* kDefaultUsbLibrary = "librarur.so";

struct UsbAccess {
    std::string origin;   // the library's path, or "" for the program's own
    int (*find)(RarurEntry* entries, uint32_t capacity, uint32_t* count);
    int (*open)(const RarurEntry* entry, RarurHandle* handle);
    int (*read)(RarurHandle handle, uint8_t* buffer, uint32_t capacity, uint32_t* read, uint32_t timeout_ms);
    int (*write)(RarurHandle handle, const uint8_t* data, uint32_t length, uint32_t* written,
                 uint32_t timeout_ms);
    int (*close)(RarurHandle handle);
};

// The library in force, loaded on first use and kept for the life of the
// process (handles opened through it may outlive any one connection).
// nullptr when a library was found or named but cannot be used; the reason
// is logged. Holding the GDK lock.
const UsbAccess* usb_access();
// The next usb_access() looks at the environment again (tests).
void usb_access_forget();

// The program's own implementation over Unix sockets, and the folder it looks in.
const UsbAccess& usb_socket_access();
std::string usb_socket_dir();
