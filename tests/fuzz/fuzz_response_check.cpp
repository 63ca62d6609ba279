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

    // Exactly as long as the reply, so that a read past it is caught.
    uint8_t* response = static_cast<uint8_t*>(std::malloc(received ? received : 1));
    std::memcpy(response, data + 2, received);
    ResponseCheck check = frame_check_response(kind, function, count, response, int(received));
    switch (check.result) {
    case ModbusResult::Ok: {
        int limit = function == kFnWriteMultiple ? 0 : 2 * count;
        if (check.data_length != limit || check.data_offset < 0 ||
            check.data_offset + check.data_length > int(received))
            std::abort();
        // The data sits behind the function code the request named: register
        // data 2 bytes after it, record data 4, a write's echo is 5 long.
        int behind = function == kFnReadFileRecord ? 4 : function == kFnWriteMultiple ? 5 : 2;
        if (check.data_offset < behind || response[check.data_offset - behind] != function)
            std::abort();
        break;
    }
    case ModbusResult::Exception:
        // An exception is only ever the function with its top bit set.
        if (received < 2 || !std::memchr(response, function | 0x80, received))
            std::abort();
        break;
    case ModbusResult::Invalid:
        break;
    case ModbusResult::ChecksumError:
        // Only the modem wrapping carries a checksum.
        if (kind != LinkKind::Gsm && kind != LinkKind::Pstn)
            std::abort();
        break;
    default:
        std::abort();
    }
    std::free(response);
    return 0;
}
