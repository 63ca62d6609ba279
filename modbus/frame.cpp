#include "modbus/frame.h"

#include <algorithm>
#include <cstring>

uint16_t frame_crc16(const uint8_t* bytes, size_t length)
{
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < length; ++i) {
        crc ^= bytes[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? (crc >> 1) ^ 0xA001 : crc >> 1;
    }
    return crc;
}

int frame_escape(uint8_t* bytes, int length, int capacity)
{
    int extra = 0;
    for (int i = 0; i < length; ++i)
        if (bytes[i] == kFrameEscape || bytes[i] == kFrameEnd)
            ++extra;
    if (length + extra > capacity)
        return -1;
    // Back to front, so that nothing is overwritten before it has been moved.
    int to = length + extra;
    for (int from = length - 1; from >= 0; --from) {
        uint8_t b = bytes[from];
        if (b == kFrameEscape || b == kFrameEnd) {
            bytes[--to] = b == kFrameEscape ? 0x00 : 0x01;
            bytes[--to] = kFrameEscape;
        } else {
            bytes[--to] = b;
        }
    }
    return length + extra;
}

int frame_unescape(uint8_t* bytes, int length)
{
    int to = 0;
    for (int from = 0; from < length; ++from) {
        if (bytes[from] == kFrameEscape && from + 1 < length) {
            bytes[to++] = bytes[from + 1] == 0x00 ? kFrameEscape : kFrameEnd;
            ++from;
        } else {
            bytes[to++] = bytes[from];
        }
    }
    return to;
}

namespace {

uint16_t be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
void put_be16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}

// --- USB: length byte, PDU ---

int usb_wrap(std::span<const uint8_t> pdu, std::span<uint8_t> out)
{
    int length = int(pdu.size()) + 1;
    if (length > 255 || length > int(out.size()))
        return -1;
    out[0] = uint8_t(length);
    std::copy(pdu.begin(), pdu.end(), out.begin() + 1);
    return length;
}
int usb_expected(int pdu_length) { return pdu_length + 1; }
int usb_complete(const uint8_t* bytes, int got, int expected)
{
    // Length byte, function, one more byte at least: anything shorter cannot be
    // a frame and is left to the budget and the size check.
    if (got >= 1 && bytes[0] >= 3 && bytes[0] < expected)
        return bytes[0];
    return expected;
}
ModbusResult usb_unwrap(uint8_t* response, int received, int* pdu_offset, int* pdu_length)
{
    if (received < 3 || response[0] != received)
        return ModbusResult::Invalid;
    *pdu_offset = 1;
    *pdu_length = received - 1;
    return ModbusResult::Ok;
}

// --- Ethernet: 7-byte header, PDU ---

constexpr int kTcpHeader = 7;
constexpr int kTcpLengthEnd = 6;   // bytes up to and including the length field

int tcp_wrap(std::span<const uint8_t> pdu, std::span<uint8_t> out)
{
    int length = int(pdu.size()) + kTcpHeader;
    if (length > int(out.size()))
        return -1;
    put_be16(&out[0], 0);                        // transaction identifier
    put_be16(&out[2], 0);                        // protocol identifier
    put_be16(&out[4], uint16_t(pdu.size() + 1)); // unit identifier + PDU
    out[6] = 0xFF;                               // unit identifier
    std::copy(pdu.begin(), pdu.end(), out.begin() + kTcpHeader);
    return length;
}
int tcp_expected(int pdu_length) { return pdu_length + kTcpHeader; }
int tcp_complete(const uint8_t* bytes, int got, int expected)
{
    if (got >= kTcpLengthEnd) {
        int total = kTcpLengthEnd + be16(bytes + 4);
        if (total > kTcpHeader && total < expected)
            return total;
    }
    return expected;
}
ModbusResult tcp_unwrap(uint8_t* response, int received, int* pdu_offset, int* pdu_length)
{
    // Header, function and at least one byte after it (an exception is 9 bytes).
    // The protocol identifier is 0 on every sound Modbus link; the reply's
    // other fields are the request's own and are not compared.
    if (received < kTcpHeader + 2 || be16(response + 2) != 0 || kTcpLengthEnd + be16(response + 4) != received)
        return ModbusResult::Invalid;
    *pdu_offset = kTcpHeader;
    *pdu_length = received - kTcpHeader;
    return ModbusResult::Ok;
}

// --- GSM and PSTN modems: stuffed PDU + CRC, CR ---

int modem_wrap(std::span<const uint8_t> pdu, std::span<uint8_t> out)
{
    int length = int(pdu.size());
    if (length + 2 > int(out.size()))
        return -1;
    std::copy(pdu.begin(), pdu.end(), out.begin());
    uint16_t crc = frame_crc16(out.data(), pdu.size());
    out[length++] = uint8_t(crc);
    out[length++] = uint8_t(crc >> 8);
    // Room is kept for the frame end, which is never stuffed.
    length = frame_escape(out.data(), length, int(out.size()) - 1);
    if (length < 0)
        return -1;
    out[length++] = kFrameEnd;
    return length;
}
int modem_expected(int) { return 0; }
int modem_complete(const uint8_t*, int, int expected) { return expected; }
ModbusResult modem_unwrap(uint8_t* response, int received, int* pdu_offset, int* pdu_length)
{
    int m = frame_unescape(response, received);
    // Function, one byte after it (an exception code at least), the CRC.
    if (m < 4)
        return ModbusResult::Invalid;
    if (frame_crc16(response, size_t(m)) != 0)
        return ModbusResult::ChecksumError;
    *pdu_offset = 0;
    *pdu_length = m - 2;
    return ModbusResult::Ok;
}

constexpr FrameFormat kUsbFrames{-1, 1, usb_wrap, usb_expected, usb_complete, usb_unwrap};
constexpr FrameFormat kTcpFrames{0, kTcpLengthEnd, tcp_wrap, tcp_expected, tcp_complete, tcp_unwrap};
constexpr FrameFormat kModemFrames{-1, 0, modem_wrap, modem_expected, modem_complete, modem_unwrap};

// The one place a kind meets its wrapping. Looked up by the kind's number, so
// the rows must stand in the order of LinkKind, one per kind: checked below.
struct KindFrames {
    LinkKind kind;
    const FrameFormat* format;   // nullptr: the program has no link of this kind
};
constexpr KindFrames kFormats[] = {
    {LinkKind::Usb, &kUsbFrames},
    {LinkKind::Ethernet, &kTcpFrames},
    {LinkKind::Gsm, &kModemFrames},
    {LinkKind::Pstn, &kModemFrames},
    {LinkKind::Rs485, nullptr},
};

constexpr bool one_row_per_kind_in_order()
{
    if (std::size(kFormats) != size_t(kLinkKindCount))
        return false;
    for (size_t i = 0; i < std::size(kFormats); ++i)
        if (int(kFormats[i].kind) != int(i))
            return false;
    return true;
}
static_assert(one_row_per_kind_in_order(), "kFormats holds one row per LinkKind, in the order of its values");

ModbusResult build(LinkKind kind, std::span<const uint8_t> pdu, int response_pdu_length, FrameRequest& out)
{
    const FrameFormat* format = frame_format(kind);
    out.length = 0;
    out.expected = 0;
    if (!format)
        return ModbusResult::Invalid;
    int length = format->wrap(pdu, std::span<uint8_t>(out.bytes, kRequestSize));
    if (length < 0)
        return ModbusResult::Invalid;
    out.length = length;
    out.expected = format->expected_length(response_pdu_length);
    return ModbusResult::Ok;
}

}  // namespace

const FrameFormat* frame_format(LinkKind kind)
{
    int index = int(kind);
    if (index < 0 || index >= kLinkKindCount)
        return nullptr;
    return kFormats[index].format;
}

uint16_t frame_transaction(const FrameFormat& format, const uint8_t* frame)
{
    return be16(frame + format.transaction_at);
}

void frame_set_transaction(const FrameFormat& format, uint8_t* frame, uint16_t id)
{
    put_be16(frame + format.transaction_at, id);
}

ModbusResult frame_read_registers(LinkKind kind, uint8_t function, uint16_t start, uint16_t count,
                         FrameRequest& out)
{
    uint8_t pdu[5] = {function};
    put_be16(pdu + 1, start);
    put_be16(pdu + 3, count);
    return build(kind, pdu, 2 + 2 * count, out);
}

ModbusResult frame_write_registers(LinkKind kind, uint16_t start, uint16_t count, const uint8_t* values,
                          FrameRequest& out)
{
    uint8_t pdu[kRequestSize];
    size_t data = 2 * size_t(count);
    if (6 + data > sizeof pdu || data > 255) {
        out.length = out.expected = 0;
        return ModbusResult::Invalid;
    }
    pdu[0] = kFnWriteMultiple;
    put_be16(pdu + 1, start);
    put_be16(pdu + 3, count);
    pdu[5] = uint8_t(data);
    if (data)
        std::memcpy(pdu + 6, values, data);
    return build(kind, std::span<const uint8_t>(pdu, 6 + data), 5, out);
}

ModbusResult frame_read_file_record(LinkKind kind, uint16_t file, uint16_t record, uint16_t length,
                           FrameRequest& out)
{
    uint8_t pdu[10] = {kFnReadFileRecord, 7, 6};
    put_be16(pdu + 3, file);
    put_be16(pdu + 5, record);
    put_be16(pdu + 7, length);
    return build(kind, std::span<const uint8_t>(pdu, 9), 4 + 2 * length, out);
}

ResponseCheck frame_check_response(LinkKind kind, uint8_t function, uint16_t count,
                                   uint8_t* response, int received)
{
    ResponseCheck check{ModbusResult::Invalid, 0, 0, 0};
    const FrameFormat* format = frame_format(kind);
    if (!format || received < 0 || received > kReceiveLimit)
        return check;
    int at = 0, n = 0;
    ModbusResult unwrapped = format->unwrap(response, received, &at, &n);
    if (unwrapped != ModbusResult::Ok) {
        check.result = unwrapped;
        return check;
    }
    const uint8_t* pdu = response + at;
    if (n < 2)
        return check;
    if (pdu[0] == (function | 0x80)) {
        if (n == 2) {
            check.result = ModbusResult::Exception;
            check.exception_code = pdu[1];
        }
        return check;
    }
    if (pdu[0] != function)
        return check;

    int data = 2 * int(count);
    switch (function) {
    case kFnReadHolding:
    case kFnReadInput:
        // byte count, then exactly the registers asked for
        if (pdu[1] != data || n != 2 + data)
            return check;
        check.data_offset = at + 2;
        break;
    case kFnWriteMultiple:
        // echo of start address and count; not compared with the request
        if (n != 5)
            return check;
        check.data_offset = at + n;
        data = 0;
        break;
    case kFnReadFileRecord:
        // response data length, file response length, reference type, record.
        // Records longer than 125 registers overflow the two length bytes; the
        // frame's own length (Ethernet header, stuffed modem frame) still
        // decides, the bytes are compared modulo 256.
        if (n != 4 + data || pdu[1] != uint8_t(n - 2) || pdu[2] != uint8_t(data + 1))
            return check;
        check.data_offset = at + 4;
        break;
    default:
        return check;
    }
    check.result = ModbusResult::Ok;
    check.data_length = data;
    return check;
}
