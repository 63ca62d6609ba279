// The text of the address entry as the Ethernet link reads it.
#pragma once

#include <cstdint>
#include <string>

constexpr uint16_t kModbusTcpPort = 502;

// What the address dialog says under the entry when it refuses a text, and
// the line it adds for an IPv6 address without brackets.
extern const char* const kTcpAddressHint;
extern const char* const kTcpAddressHintV6;

struct TcpAddress {
    std::string host;   // a host name, a dotted IPv4 address or an IPv6 address without brackets
    uint16_t port = kModbusTcpPort;
    bool numeric_v6 = false;   // the host was given in brackets
};

// Reads "host", "host:port", "a.b.c.d[:port]" or "[IPv6][:port]", blanks
// around it ignored; without a port it is 502. 0 with *address filled, or -1
// when the text cannot be an address anyone reaches: a port outside 1..65535
// or with other characters than digits, a dotted text that is not an IPv4
// address (192.168.1 would silently mean 192.168.0.1), an IPv6 address
// without brackets (its last group would read as a port), characters a
// host name cannot hold (a Cyrillic letter typed in the wrong keyboard
// layout), an empty or over-long name or label. -2 is an IPv6 address
// written without brackets, which the dialog explains.
int parse_tcp_address(const std::string& text, TcpAddress* address);
