// The Ethernet link: one TCP connection to the Controller.
#pragma once

#include <memory>

#include "link/backend.h"
#include "modbus/exchange.h"

struct addrinfo;

extern const LinkBackend tcp_backend;

// Opens the link to the address in the address entry (ui().device_address())
// and starts the transport thread. 0 when the link is open (or already was),
// -1 on failure, which is logged. Called on the GUI thread holding the GDK lock.
int tcp_connect();

// How tcp_connect waits, at most `timeout_ms`, while a thread of its own
// looks the name up and connects: until `fd` is writable or hung up (the
// thread hangs it up when it is done). > 0 ready, 0 timed out, < 0 given up
// because the program is closing. The default blocks; the window installs
// one that keeps answering meanwhile. nullptr: the default.
using TcpConnectWait = int (*)(int fd, int timeout_ms);
void tcp_set_connect_wait(TcpConnectWait wait);

// Connects to the first of `addresses` that accepts, trying them in order
// within `wait_ms` in all: the connected socket, or -1 with *code the socket
// error code of the last one tried. Exposed for tests.
int tcp_connect_any(const addrinfo* addresses, int wait_ms, int* code);

// The byte stream over a connected socket, which it owns from now on (closed
// when the last user lets go). Exposed for tests.
std::shared_ptr<LinkIo> tcp_link_io(int fd, int wait_ms);
