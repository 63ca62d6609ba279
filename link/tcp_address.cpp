#include "link/tcp_address.h"

#include <arpa/inet.h>

TcpAddress parse_tcp_address(const std::string& text)
{
    size_t colon = text.rfind(':');
    if (colon == std::string::npos)
        return {text, kModbusTcpPort};
    uint16_t port = 0;
    for (size_t i = colon + 1; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i)
        port = uint16_t(port * 10 + (text[i] - '0'));
    return {text.substr(0, colon), port};
}

uint32_t tcp_host_address(const std::string& host)
{
    in_addr address;
    if (inet_pton(AF_INET, host.c_str(), &address) != 1)
        return INADDR_NONE;
    return address.s_addr;
}
