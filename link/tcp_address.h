// The text of the address entry as the Ethernet link reads it.
#pragma once

#include <cstdint>
#include <string>

constexpr uint16_t kModbusTcpPort = 502;

struct TcpAddress {
    std::string host;   // dotted IPv4 text, not checked here
    uint16_t port;
};

// "host" or "host:port", cut at the last colon. The port is the decimal digits
// up to the first non-digit, modulo 65536 ("70000" -> 4464, "" -> 0); without
// a colon it is 502.
TcpAddress parse_tcp_address(const std::string& text);
// The IPv4 address of a dotted text in network order; host names are not
// resolved. An invalid text gives 255.255.255.255, which fails to connect.
uint32_t tcp_host_address(const std::string& host);
