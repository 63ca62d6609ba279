#include "link/backend.h"

#include "link/modem.h"
#include "link/tcp.h"
#include "link/usb.h"

namespace {

// One line per link kind this program connects through.
const LinkBackend* const kBackends[] = {
    &tcp_backend,
    &usb_backend,
    &gsm_backend, &pstn_backend,
};

}  // namespace

const LinkBackend* link_backend(LinkKind kind)
{
    for (const LinkBackend* backend : kBackends)
        if (backend->kind == kind)
            return backend;
    return nullptr;
}
