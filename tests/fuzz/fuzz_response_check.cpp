// Arbitrary replies against the response checks of every link and function:
// whatever arrives, a check must stay inside the reply and never report more
// data than was asked for.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "modbus/frame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 2)
        return 0;
    // First byte picks the link and function, second the count; the rest is
    // the reply as the receive would hand it over.
    const LinkKind kinds[] = {LinkKind::Usb, LinkKind::Ethernet, LinkKind::Gsm, LinkKind::Pstn};
    const uint8_t functions[] = {kFnReadHolding, kFnReadInput, kFnWriteMultiple, kFnReadFileRecord};
    LinkKind kind = kinds[data[0] & 3];
    uint8_t function = functions[(data[0] >> 2) & 3];
    uint16_t count = uint16_t(1 + data[1] % (function == kFnReadFileRecord ? 245 : 125));
    size_t received = size - 2;
    if (received > size_t(kReceiveLimit))
        received = kReceiveLimit;

    uint8_t response[kResponseSize] = {};
    std::memcpy(response, data + 2, received);
    ResponseCheck check = frame_check_response(kind, function, count, response, int(received));
    switch (check.result) {
    case 0: {
        int limit = function == kFnWriteMultiple ? 0 : 2 * count;
        if (check.data_length != limit || check.data_offset < 0 ||
            check.data_offset + check.data_length > int(received))
            std::abort();
        break;
    }
    case -1:
    case -2:
    case -4:
        break;
    default:
        std::abort();
    }
    return 0;
}
