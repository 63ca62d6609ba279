#include "registers/event_bits.h"

#include <algorithm>

namespace {

constexpr uint8_t kGroups1[] = {4, 8, 4, 4, 8, 4, 4, 4};
constexpr uint8_t kGroups23[] = {4, 8, 4, 4, 8, 8, 8, 4, 4, 4};

} // namespace

void event_bits_convert(uint8_t* bytes, int layout)
{
    std::span<const uint8_t> groups = layout <= 1 ? std::span<const uint8_t>(kGroups1)
                                                  : std::span<const uint8_t>(kGroups23);
    for (uint8_t size : groups) {
        std::reverse(bytes, bytes + size);
        bytes += size;
    }
}

bool event_bit(std::span<const uint8_t> bits, int code)
{
    if (code < 0 || static_cast<size_t>(code / 8) >= bits.size())
        return false;
    return (bits[code / 8] >> (code % 8)) & 1;
}

bool event_range_selected(std::span<const uint8_t> bits, std::span<const uint8_t> mask1,
                          std::span<const uint8_t> mask2, int first, int last)
{
    for (int code = first; code <= last; ++code)
        if (event_bit(bits, code) && (event_bit(mask1, code) || event_bit(mask2, code)))
            return true;
    return false;
}
