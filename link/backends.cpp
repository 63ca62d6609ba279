#include "link/backend.h"

#include "link/modem.h"
#include "link/rs485.h"
#include "link/tcp.h"
#include "link/usb.h"

namespace {

// One line per link kind, in the order of the kind menu.
const LinkBackend* const kBackends[] = {
    &usb_backend,
    &tcp_backend,
    &gsm_backend,
    &pstn_backend,
    &rs485_backend,
};

}  // namespace

std::span<const LinkBackend* const> link_backends() { return kBackends; }

const LinkBackend* link_backend(LinkKind kind)
{
    for (const LinkBackend* backend : kBackends)
        if (backend->kind == kind)
            return backend;
    return nullptr;
}
