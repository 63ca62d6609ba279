// The Ethernet link: one TCP connection to the Controller.
#pragma once

#include <memory>

#include "modbus/exchange.h"

// Opens the link to the address in the address entry (ui().device_address())
// and starts the transport thread. 0 when the link is open (or already was),
// -1 on failure, which is logged. Called on the GUI thread holding the GDK lock.
int tcp_connect();

// The byte stream over a connected socket, which it owns from now on (closed
// when the last user lets go). Exposed for tests.
std::shared_ptr<LinkIo> tcp_link_io(int fd, int wait_ms);
