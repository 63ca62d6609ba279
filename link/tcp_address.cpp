#include "link/tcp_address.h"

#include <arpa/inet.h>

const char* const kTcpAddressHint = "Адрес: имя или IP-адрес, например 192.168.1.100:502 или [::1]:502";
const char* const kTcpAddressHintV6 = "IPv6-адрес пишется в квадратных скобках: [fd00::10]:502";

namespace {

constexpr size_t kNameMax = 253;
constexpr size_t kLabelMax = 63;

bool is_digit(char c) { return c >= '0' && c <= '9'; }
bool is_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// "1".."65535", digits only: a port written any other way is a typing slip,
// not a number to be taken modulo something.
bool read_port(const std::string& text, uint16_t* port)
{
    if (text.empty() || text.size() > 5)
        return false;
    unsigned value = 0;
    for (char c : text) {
        if (!is_digit(c))
            return false;
        value = value * 10 + unsigned(c - '0');
    }
    if (value == 0 || value > 65535)
        return false;
    *port = uint16_t(value);
    return true;
}

// Letters, digits, '-' and '_' in labels of 1 to 63 characters between dots
// (a final dot allowed); a name of digits and dots alone must be an IPv4
// address, since the resolver would read "192.168.1" as 192.168.0.1.
bool valid_host(const std::string& host)
{
    std::string name = host;
    if (!name.empty() && name.back() == '.')
        name.pop_back();
    if (name.empty() || name.size() > kNameMax)
        return false;
    bool numeric = true;
    size_t label = 0;
    for (size_t i = 0; i <= name.size(); ++i) {
        char c = i < name.size() ? name[i] : '.';
        if (c == '.') {
            if (label == 0 || name[i - 1] == '-' || name[i - label] == '-')
                return false;
            label = 0;
            continue;
        }
        if (!is_digit(c) && !is_letter(c) && c != '-' && c != '_')
            return false;
        if (!is_digit(c))
            numeric = false;
        if (++label > kLabelMax)
            return false;
    }
    in_addr v4;
    return !numeric || (host.back() != '.' && inet_pton(AF_INET, host.c_str(), &v4) == 1);
}

// An IPv6 address, with a zone after '%' for a link-local one ("fe80::1%eth0").
bool valid_v6(const std::string& text)
{
    size_t percent = text.find('%');
    std::string address = text.substr(0, percent);
    in6_addr v6;
    if (inet_pton(AF_INET6, address.c_str(), &v6) != 1)
        return false;
    if (percent == std::string::npos)
        return true;
    std::string zone = text.substr(percent + 1);
    if (zone.empty() || zone.size() > 15)
        return false;
    for (char c : zone)
        if (!is_digit(c) && !is_letter(c) && c != '-' && c != '_' && c != '.')
            return false;
    return true;
}

}  // namespace

int parse_tcp_address(const std::string& text, TcpAddress* address)
{
    size_t first = text.find_first_not_of(" \t");
    if (first == std::string::npos)
        return -1;
    std::string s = text.substr(first, text.find_last_not_of(" \t") - first + 1);

    TcpAddress parsed;
    std::string port;
    bool has_port = false;
    if (s[0] == '[') {
        size_t close = s.find(']');
        if (close == std::string::npos)
            return -1;
        parsed.host = s.substr(1, close - 1);
        if (!valid_v6(parsed.host))
            return -1;
        parsed.numeric_v6 = true;
        if (close + 1 < s.size()) {
            if (s[close + 1] != ':')
                return -1;
            has_port = true;
            port = s.substr(close + 2);
        }
    } else {
        size_t colon = s.find(':');
        if (colon != std::string::npos && s.find(':', colon + 1) != std::string::npos)
            return valid_v6(s) ? -2 : -1;
        parsed.host = s.substr(0, colon);
        if (!valid_host(parsed.host))
            return -1;
        if (colon != std::string::npos) {
            has_port = true;
            port = s.substr(colon + 1);
        }
    }
    if (has_port && !read_port(port, &parsed.port))
        return -1;
    *address = parsed;
    return 0;
}
