#include "cli/address.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "link/serial_params.h"
#include "link/tcp_address.h"

namespace {

const LinkBackend* backend_of_scheme(const std::string& scheme)
{
    for (const LinkBackend* backend : link_backends())
        if (backend->scheme && backend->open && scheme == backend->scheme)
            return backend;
    return nullptr;
}

std::string schemes()
{
    std::string all;
    for (const LinkBackend* backend : link_backends())
        if (backend->scheme && backend->open)
            all += std::string(all.empty() ? "" : ", ") + backend->scheme + ":";
    return all;
}

}  // namespace

int cli_baud_index(int baud)
{
    for (int i = 0; i < kBaudRows; ++i)
        if (kBaudRates[i] == baud)
            return i;
    return -1;
}

int cli_parse_address(const std::string& text, CliAddress* address, std::string* error)
{
    *address = CliAddress{};
    address->text = text;
    size_t colon = text.find(':');
    const LinkBackend* backend = colon == std::string::npos ? nullptr : backend_of_scheme(text.substr(0, colon));
    if (!backend) {
        *error = "Неверный адрес контроллера «" + text + "»: ожидается " + schemes() + " в начале";
        return -1;
    }
    std::string rest = text.substr(colon + 1);
    address->backend = backend;
    switch (backend->asks) {
    case LinkBackend::Asks::Address: {
        TcpAddress parsed;
        if (parse_tcp_address(rest, &parsed) != 0) {
            *error = "Неверный адрес контроллера «" + text + "»: " + kTcpAddressHint;
            return -1;
        }
        address->target.address = rest;
        return 0;
    }
    case LinkBackend::Asks::Device: {
        if (rest.empty()) {
            address->any_usb = true;
            return 0;
        }
        char* end = nullptr;
        errno = 0;
        unsigned long id = std::strtoul(rest.c_str(), &end, 0);
        if (errno != 0 || *end != '\0' || rest[0] == '-' || id == 0 || id > 0xFFFFFFFFul) {
            *error = "Неверный идентификатор контроллера USB «" + rest + "»";
            return -1;
        }
        address->target.usb_id = static_cast<uint32_t>(id);
        return 0;
    }
    case LinkBackend::Asks::Modem:
    case LinkBackend::Asks::PhoneLineModem: {
        // A phone number never holds a colon; a device path may.
        size_t last = rest.rfind(':');
        if (last == std::string::npos || last == 0 || last + 1 == rest.size()) {
            *error = "Неверный адрес контроллера «" + text + "»: ожидается " + backend->scheme + ":ПОРТ:НОМЕР";
            return -1;
        }
        address->target.address = rest.substr(0, last);
        address->target.phone = rest.substr(last + 1);
        return 0;
    }
    case LinkBackend::Asks::Nothing:
        break;
    }
    *error = "Этот тип подключения пока не поддерживается";
    return -1;
}
