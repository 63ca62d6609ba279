// Byte-level helpers shared by the simulator's endpoints: the modem line's
// checksum and byte stuffing, and big-endian register access.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

namespace sim {

// CRC-16/MODBUS (poly 0xA001 reflected, init 0xFFFF); appended low byte first.
uint16_t crc16_modbus(const uint8_t* data, size_t length);

// 0x1A -> 1A 00, 0x0D -> 1A 01, so that the only CR on the line ends a frame.
std::vector<uint8_t> modem_escape(const std::vector<uint8_t>& bytes);
// Inverse of modem_escape. A trailing lone 0x1A is dropped (the frame is broken
// anyway and the checksum will say so).
std::vector<uint8_t> modem_unescape(const uint8_t* bytes, size_t length);

inline uint16_t get_be16(const uint8_t* p) { return uint16_t((p[0] << 8) | p[1]); }
inline void put_be16(std::vector<uint8_t>& out, uint16_t v)
{
    out.push_back(uint8_t(v >> 8));
    out.push_back(uint8_t(v & 0xFF));
}
// A 32-bit value as two registers, the high word first, as the Controller keeps them.
inline void push32(std::vector<uint16_t>& out, uint32_t v)
{
    out.push_back(uint16_t(v >> 16));
    out.push_back(uint16_t(v & 0xFFFF));
}

}  // namespace sim
