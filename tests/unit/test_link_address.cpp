// The address entry's text and the socket error texts the user reads.
#include <gtest/gtest.h>

#include <arpa/inet.h>

#include <cerrno>
#include <cstring>

#include "link/socket_errors.h"
#include "link/tcp_address.h"

TEST(TcpAddress, PortIsOptionalAndTakenModulo65536)
{
    struct Case {
        const char* text;
        const char* host;
        uint16_t port;
    } cases[] = {
        {"192.0.2.10", "192.0.2.10", 502},   {"192.0.2.10:1502", "192.0.2.10", 1502},
        {"192.0.2.10:70000", "192.0.2.10", 4464}, {"192.0.2.10:", "192.0.2.10", 0},
        {"192.0.2.10:80x1", "192.0.2.10", 80}, {"a:b:503", "a:b", 503},
        {"", "", 502},
    };
    for (const Case& c : cases) {
        TcpAddress a = parse_tcp_address(c.text);
        EXPECT_EQ(a.host, c.host) << c.text;
        EXPECT_EQ(a.port, c.port) << c.text;
    }
}

TEST(TcpAddress, OnlyDottedAddressesAreAccepted)
{
    EXPECT_EQ(ntohl(tcp_host_address("192.0.2.10")), 0xC000020Au);
    EXPECT_EQ(tcp_host_address("localhost"), INADDR_NONE) << "names are not resolved";
    EXPECT_EQ(tcp_host_address("192.0.2"), INADDR_NONE);
}

TEST(SocketErrors, PlatformErrorsReadAsTheDocumentedCodes)
{
    EXPECT_EQ(wsa_error_from_errno(ECONNREFUSED), 10061);
    EXPECT_STREQ(wsa_error_text(10061), "Connection refused");
    EXPECT_EQ(wsa_error_from_errno(ECONNRESET), 10054);
    EXPECT_EQ(wsa_error_from_errno(ETIMEDOUT), 10060);
    EXPECT_STREQ(wsa_error_text(10060), "Connection timed out");
    EXPECT_STREQ(wsa_error_text(11004), "Valid name, no data record of requested type");
    EXPECT_STREQ(wsa_error_text(10059), "Unknown ERROR");
    EXPECT_STREQ(wsa_error_text(0), "Unknown ERROR");
}
