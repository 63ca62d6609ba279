// The address entry's text and the socket error texts the user reads.
#include <gtest/gtest.h>

#include <netdb.h>

#include <cerrno>
#include <cstring>

#include "link/socket_errors.h"
#include "link/tcp_address.h"

TEST(TcpAddress, NamesIpv4AndBracketedIpv6AddressesAreReadWithTheirPort)
{
    struct Case {
        const char* text;
        const char* host;
        uint16_t port;
        bool numeric_v6;
    } cases[] = {
        {"192.0.2.10", "192.0.2.10", 502, false},
        {"192.0.2.10:1502", "192.0.2.10", 1502, false},
        {"192.0.2.10:65535", "192.0.2.10", 65535, false},
        {" 192.0.2.10:1 \t", "192.0.2.10", 1, false},
        {"localhost", "localhost", 502, false},
        {"localhost:1502", "localhost", 1502, false},
        {"rarur-7.plant_2.example.", "rarur-7.plant_2.example.", 502, false},
        {"RARUR7", "RARUR7", 502, false},
        {"[::1]", "::1", 502, true},
        {"[::1]:1502", "::1", 1502, true},
        {"[fd00::10]:502", "fd00::10", 502, true},
        {"[fe80::1%eth0]:503", "fe80::1%eth0", 503, true},
        {"[::ffff:192.0.2.10]:502", "::ffff:192.0.2.10", 502, true},
    };
    for (const Case& c : cases) {
        TcpAddress a;
        ASSERT_EQ(parse_tcp_address(c.text, &a), 0) << c.text;
        EXPECT_EQ(a.host, c.host) << c.text;
        EXPECT_EQ(a.port, c.port) << c.text;
        EXPECT_EQ(a.numeric_v6, c.numeric_v6) << c.text;
    }
}

TEST(TcpAddress, TextsNobodyCouldReachAreRefused)
{
    const char* refused[] = {
        "", "   ", "192.0.2.10:", "192.0.2.10:0", "192.0.2.10:70000", "192.0.2.10:80x1", "192.0.2.10:+80",
        "192.0.2.10:0000502",            // more digits than a port has
        "192.0.2", "300.1.2.3", "192.0.2.10.", "1.2.3.4.5",   // digits and dots only: must be IPv4
        "host name", "хост", "192.0.2.10;502", "a..b", ".a", "-a", "a-", "a-.b", "a:b:503", ":502",
        "[::1", "[::1]502", "[::1]:", "[::1]:99999", "[192.0.2.10]:502", "[zz::1]", "[fe80::1%]", "[]:502",
        "a:502:503",
    };
    for (const char* text : refused) {
        TcpAddress a;
        a.host = "unchanged";
        EXPECT_EQ(parse_tcp_address(text, &a), -1) << text;
        EXPECT_EQ(a.host, "unchanged") << text;
    }
    std::string label(63, 'a'), too_long(64, 'a');
    TcpAddress a;
    EXPECT_EQ(parse_tcp_address(label + ".example", &a), 0);
    EXPECT_EQ(parse_tcp_address(too_long + ".example", &a), -1);
    std::string name;
    for (int i = 0; i < 63; ++i)
        name += "abc.";   // 252 characters with the dot
    EXPECT_EQ(parse_tcp_address(name + "a", &a), 0);
    EXPECT_EQ(parse_tcp_address(name + "ab", &a), -1);
    // Without brackets the last group of an IPv6 address would read as a
    // port: the dialog says how to write it.
    EXPECT_EQ(parse_tcp_address("::1", &a), -2);
    EXPECT_EQ(parse_tcp_address("fd00::10:1502", &a), -2);
}

TEST(SocketErrors, CodesKeepTheirNumberAndSayInRussianWhatTheyMean)
{
    EXPECT_EQ(wsa_error_from_errno(ECONNREFUSED), 10061);
    EXPECT_STREQ(wsa_error_text(10061), "Соединение отклонено");
    EXPECT_EQ(wsa_error_from_errno(ECONNRESET), 10054);
    EXPECT_EQ(wsa_error_from_errno(ETIMEDOUT), 10060);
    EXPECT_EQ(wsa_error_from_errno(ENETUNREACH), 10051);
    EXPECT_STREQ(wsa_error_text(10051), "Сеть недоступна");
    EXPECT_EQ(wsa_error_from_errno(EHOSTUNREACH), 10065);
    EXPECT_EQ(wsa_error_from_resolver(EAI_NONAME, 0), 11001);
    EXPECT_STREQ(wsa_error_text(11001), "Узел не найден");
    EXPECT_EQ(wsa_error_from_resolver(EAI_AGAIN, 0), 11002);
    EXPECT_EQ(wsa_error_from_resolver(EAI_SYSTEM, ECONNREFUSED), 10061);
    EXPECT_STREQ(wsa_error_text(10059), "Неизвестная ошибка");
    EXPECT_STREQ(wsa_error_text(0), "Неизвестная ошибка");
    // Every code a user can meet has its own Russian text.
    const int codes[] = {10004, 10013, 10014, 10022, 10024, 10035, 10036, 10037, 10038, 10039, 10040,
                         10041, 10042, 10043, 10044, 10045, 10046, 10047, 10048, 10049, 10050, 10051,
                         10052, 10053, 10054, 10055, 10056, 10057, 10058, 10060, 10061, 10064, 10065,
                         10067, 10091, 10092, 10093, 10101, 10109, 11001, 11002, 11003, 11004};
    for (int code : codes) {
        std::string text = wsa_error_text(code);
        EXPECT_NE(text, "Неизвестная ошибка") << code;
        for (char c : text)
            EXPECT_FALSE((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z')) << code << " " << text;
    }
}
