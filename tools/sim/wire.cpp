#include "wire.h"

namespace sim {

uint16_t crc16_modbus(const uint8_t* data, size_t length)
{
    uint16_t crc = 0xFFFF;
    for (size_t i = 0; i < length; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

std::vector<uint8_t> modem_escape(const std::vector<uint8_t>& bytes)
{
    std::vector<uint8_t> out;
    out.reserve(bytes.size() + 8);
    for (uint8_t b : bytes) {
        if (b == 0x1A) {
            out.push_back(0x1A);
            out.push_back(0x00);
        } else if (b == 0x0D) {
            out.push_back(0x1A);
            out.push_back(0x01);
        } else {
            out.push_back(b);
        }
    }
    return out;
}

std::vector<uint8_t> modem_unescape(const uint8_t* bytes, size_t length)
{
    std::vector<uint8_t> out;
    out.reserve(length);
    for (size_t i = 0; i < length; ++i) {
        if (bytes[i] == 0x1A) {
            if (i + 1 >= length)
                break;
            out.push_back(bytes[i + 1] == 0x00 ? 0x1A : 0x0D);
            ++i;
        } else {
            out.push_back(bytes[i]);
        }
    }
    return out;
}

}  // namespace sim
