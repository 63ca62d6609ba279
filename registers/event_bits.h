// The active-event bit field and the event masks share one shape: groups of 32
// or 64 bits, big-endian on the wire. In host form each group's bytes are
// reversed, so that event code c is bit (c mod 8) of byte (c div 8).
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

// 320 bits (layout 1) or 448 bits (layouts 2 and 3).
constexpr size_t event_bits_bytes(int layout) { return layout <= 1 ? 40 : 56; }
constexpr int event_code_count(int layout) { return layout <= 1 ? 320 : 448; }

// Reverses each group in place; its own inverse. `bytes` must hold
// event_bits_bytes(layout) bytes.
void event_bits_convert(uint8_t* bytes, int layout);

// False for codes outside the field.
bool event_bit(std::span<const uint8_t> bits, int code);

// True when some code in [first, last] is set in `bits` and in mask1 or mask2.
// Codes beyond the shortest of the arrays count as clear.
bool event_range_selected(std::span<const uint8_t> bits, std::span<const uint8_t> mask1,
                          std::span<const uint8_t> mask2, int first, int last);
