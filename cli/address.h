// Where rarur-cli connects: an address as typed on its command line.
//   tcp:HOST[:PORT]     Ethernet (PORT as the window's default, 502)
//   usb:ID | usb:       a Controller attached by USB (the only one attached)
//   gsm:PORT:NUMBER     a GSM modem on serial port PORT dialling NUMBER
//   pstn:PORT:NUMBER    the same on a phone line
// The scheme is the backend's own (LinkBackend::scheme): a new link kind is
// reachable from the command line by naming its scheme in its record.
#pragma once

#include <string>

#include "link/backend.h"

struct CliAddress {
    const LinkBackend* backend = nullptr;
    LinkTarget target;        // usb_id 0: the only Controller attached
    bool any_usb = false;     // "usb:" without an identifier
    std::string text;         // as typed, for messages
};

// The modem's choices the modem dialog offers, from the options.
struct CliModemChoices {
    int baud = 0;             // 0: the dialog's default
    std::string init;         // the dialog's init string
    bool pulse = false;       // pulse dialling (phone line only)
};

// 0 with *address filled; -1 with *error saying, in Russian, what is wrong.
int cli_parse_address(const std::string& text, CliAddress* address, std::string* error);

// Index of `baud` in the dialog's speed list, -1 when it has no such row.
int cli_baud_index(int baud);
