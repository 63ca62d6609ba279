// The wrappings of every link (USB length byte, Ethernet header, the modem's
// stuffing, CRC and CR) on arbitrary bytes: the receive's idea of where a
// frame ends never goes past what it was told to wait for, unwrapping stays
// inside what arrived, and whatever the program wraps unwraps to itself.
#include <cstdlib>
#include <cstring>
#include <vector>

#include "fuzz_input.h"
#include "modbus/frame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in{data, size};
    const LinkKind kinds[] = {LinkKind::Usb, LinkKind::Ethernet, LinkKind::Gsm, LinkKind::Pstn};
    LinkKind kind = kinds[in.byte() & 3];
    const FrameFormat* format = frame_format(kind);
    FUZZ_CHECK(format != nullptr);
    bool modem = kind == LinkKind::Gsm || kind == LinkKind::Pstn;
    int expected = 1 + in.word() % kReceiveLimit;
    size_t n = in.left() < size_t(kReceiveLimit) ? in.left() : size_t(kReceiveLimit);
    std::vector<uint8_t> bytes(data + in.at, data + in.at + n);

    // Where the receive stops: never beyond `expected`, and a length field
    // is only believed once it has arrived.
    for (int got = 0; got <= int(n); got += 1 + got / 4) {
        int target = format->complete_length(bytes.data(), got, expected);
        FUZZ_CHECK(target <= expected);
        FUZZ_CHECK(target == expected || got >= format->length_prefix);
        FUZZ_CHECK(target > 0 || modem);
    }

    // Unwrapping a received frame reports a PDU inside it.
    {
        std::vector<uint8_t> frame = bytes;
        int at = -1, length = -1;
        ModbusResult r = format->unwrap(frame.data(), int(frame.size()), &at, &length);
        FUZZ_CHECK(r == ModbusResult::Ok || r == ModbusResult::Invalid || (r == ModbusResult::ChecksumError && modem));
        if (r == ModbusResult::Ok)
            FUZZ_CHECK(at >= 0 && length >= 2 && at + length <= int(frame.size()));
    }

    // The program never wraps, stuffs or unstuffs nothing.
    if (n == 0)
        return 0;

    // The same bytes as a PDU: wrapped, they unwrap to themselves.
    std::vector<uint8_t> out(kRequestSize);
    int wrapped = format->wrap(bytes, out);
    if (wrapped >= 0) {
        FUZZ_CHECK(wrapped <= kRequestSize);
        int length = wrapped;
        if (modem) {
            // One CR ends the frame; stuffing keeps every other one out.
            FUZZ_CHECK(out[length - 1] == kFrameEnd);
            FUZZ_CHECK(!std::memchr(out.data(), kFrameEnd, size_t(length - 1)));
            --length;
        } else {
            FUZZ_CHECK(format->complete_length(out.data(), length, length + 1) == length || n < 2);
        }
        int at = -1, pdu = -1;
        ModbusResult r = format->unwrap(out.data(), length, &at, &pdu);
        if (n >= 2) {
            FUZZ_CHECK(r == ModbusResult::Ok && pdu == int(n) && std::memcmp(out.data() + at, bytes.data(), n) == 0);
        }
    } else {
        // Only a PDU too long for the link's frame may be refused.
        FUZZ_CHECK(modem || (kind == LinkKind::Usb ? n + 1 > 255 : n + 7 > size_t(kRequestSize)));
    }

    // Stuffing alone, with room to spare or none.
    std::vector<uint8_t> stuffed(2 * n + 1);
    std::memcpy(stuffed.data(), bytes.data(), n);
    int capacity = int(n) + int(in.byte() % 8);
    int m = frame_escape(stuffed.data(), int(n), capacity);
    if (m >= 0) {
        FUZZ_CHECK(m >= int(n) && m <= capacity);
        FUZZ_CHECK(frame_unescape(stuffed.data(), m) == int(n));
        FUZZ_CHECK(std::memcmp(stuffed.data(), bytes.data(), n) == 0);
    }
    std::vector<uint8_t> raw = bytes;
    FUZZ_CHECK(frame_unescape(raw.data(), int(raw.size())) <= int(raw.size()));
    return 0;
}
