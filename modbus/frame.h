// Modbus frames as they travel over each kind of link. Pure functions: no
// threads, no I/O, no window.
//
// Every link carries the standard Modbus PDU wrapped its own way:
//   USB       length byte (whole frame, itself included), PDU
//   Ethernet  7-byte header: transaction, protocol 0, length of what follows, unit 0xFF; PDU
//   modem     PDU + CRC-16 (low byte first), byte-stuffed, ended by one CR
// Each wrapping is described once, as data plus a few functions (FrameFormat);
// the rest of the exchange works from that description.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "base/link_kind.h"
#include "modbus/result.h"

constexpr int kRequestSize = 513;    // largest frame the exchange sends
constexpr int kResponseSize = 512;   // response buffer of one exchange
constexpr int kReceiveLimit = 511;   // the receive never keeps more than this

constexpr uint8_t kFnReadHolding = 0x03;
constexpr uint8_t kFnReadInput = 0x04;
constexpr uint8_t kFnWriteMultiple = 0x10;
constexpr uint8_t kFnReadFileRecord = 0x14;

constexpr uint8_t kFrameEscape = 0x1A;
constexpr uint8_t kFrameEnd = 0x0D;

// CRC-16/MODBUS (start 0xFFFF, reflected polynomial 0xA001). Appended low byte
// first; over a frame with its CRC appended the result is 0.
uint16_t frame_crc16(const uint8_t* bytes, size_t length);

// Byte stuffing of the modem frames, in place: 0x1A -> 1A 00, 0x0D -> 1A 01.
// Returns the new length, or -1 when the stuffed bytes would not fit into
// `capacity` (the buffer is then unspecified).
int frame_escape(uint8_t* bytes, int length, int capacity);
// The reverse, in place. A 0x1A in the last position has no partner byte and
// stays 0x1A. Returns the new length.
int frame_unescape(uint8_t* bytes, int length);

struct FrameFormat {
    // Where a request carries its 2-byte transaction identifier (big-endian),
    // which the reply echoes at the same place; -1: the wrapping has none.
    int transaction_at;
    // Bytes to read before the frame's own length is known (0: the frame is
    // ended by a CR and read byte by byte).
    int length_prefix;
    // Wraps a PDU into `out`; returns the frame length or -1 if it does not fit.
    int (*wrap)(std::span<const uint8_t> pdu, std::span<uint8_t> out);
    // Bytes the receive waits for, given the length of a normal response PDU;
    // 0 when the frame is ended by a CR instead.
    int (*expected_length)(int response_pdu_length);
    // Length of the whole frame as soon as its own length field says so
    // (`got` >= length_prefix), else `expected`. Never more than `expected`.
    int (*complete_length)(const uint8_t* bytes, int got, int expected);
    // Takes the link's wrapping off a received frame (modem: unstuffs in place
    // and checks the CRC). Ok and the PDU, Invalid (wrong size) or
    // ChecksumError.
    ModbusResult (*unwrap)(uint8_t* response, int received, int* pdu_offset, int* pdu_length);
};

// Description of the wrapping of `kind`; nullptr for a kind without a link (RS-485).
const FrameFormat* frame_format(LinkKind kind);

// A request ready for the wire and the response length to wait for.
struct FrameRequest {
    uint8_t bytes[kRequestSize];
    int length;
    int expected;
};

// Request builders. Ok, or Invalid when the link has no framing or the frame
// would not fit into kRequestSize. Arguments are not range-checked here. An
// Ethernet request is built with transaction 0; the exchange numbers it
// (frame_set_transaction) as it sends it.
ModbusResult frame_read_registers(LinkKind kind, uint8_t function, uint16_t start, uint16_t count,
                         FrameRequest& out);
ModbusResult frame_write_registers(LinkKind kind, uint16_t start, uint16_t count, const uint8_t* values,
                          FrameRequest& out);
ModbusResult frame_read_file_record(LinkKind kind, uint16_t file, uint16_t record, uint16_t length,
                           FrameRequest& out);

// The transaction identifier of a frame of `format` (at least
// transaction_at + 2 bytes long), and the same written into one.
uint16_t frame_transaction(const FrameFormat& format, const uint8_t* frame);
void frame_set_transaction(const FrameFormat& format, uint8_t* frame, uint16_t id);

// Outcome of checking one response.
struct ResponseCheck {
    ModbusResult result;     // Ok: data; Exception; Invalid: wrong size; ChecksumError
    uint8_t exception_code;  // valid when result is Exception
    int data_offset;         // register or record data, into the (unstuffed) response
    int data_length;         // exactly 2 x count (reads), 2 x length (file record), 0 (write)
};

// Checks a received response to `function` asking for `count` registers (or a
// record `count` registers long). Modem responses are unstuffed in place.
// Only a reply that matches the request in function, byte count and length is
// data; everything else is an exception (function | 0x80 with one code byte) or
// a size or checksum error, so the caller never copies more than it asked for.
ResponseCheck frame_check_response(LinkKind kind, uint8_t function, uint16_t count,
                                   uint8_t* response, int received);
