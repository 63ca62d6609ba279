// The Ethernet link: one TCP connection to the Controller.
#pragma once

#include <memory>

#include "link/backend.h"
#include "modbus/exchange.h"

extern const LinkBackend tcp_backend;

// Opens the link to the address in the address entry (ui().device_address())
// and starts the transport thread. 0 when the link is open (or already was),
// -1 on failure, which is logged. Called on the GUI thread holding the GDK lock.
int tcp_connect();

// How tcp_connect waits for a connect in progress on `fd`, at most
// `timeout_ms`: > 0 the socket is ready (or failed, see SO_ERROR), 0 timed
// out, < 0 given up because the program is closing. The default blocks; the
// window installs one that keeps answering meanwhile. nullptr: the default.
using TcpConnectWait = int (*)(int fd, int timeout_ms);
void tcp_set_connect_wait(TcpConnectWait wait);

// The byte stream over a connected socket, which it owns from now on (closed
// when the last user lets go). Exposed for tests.
std::shared_ptr<LinkIo> tcp_link_io(int fd, int wait_ms);
