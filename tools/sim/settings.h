// The Controller's settings block as it sits in holding registers 0..N-1:
// one u16 per register, in register value form (high byte first on the wire).
// Strings and octet fields are stored byte for byte in wire order.
#pragma once
#include "layout.h"

#include <cstdint>
#include <string>
#include <vector>

namespace sim {

struct Settings {
    Layout layout;
    std::vector<uint16_t> regs;

    // Accessors take layout-1 word numbers (see sw::) and map them.
    uint16_t word(int l1_word) const { return regs[settings_word(layout, l1_word)]; }
    void set_word(int l1_word, uint16_t v) { regs[settings_word(layout, l1_word)] = v; }
    uint32_t u32(int l1_word) const;
    void set_u32(int l1_word, uint32_t v);
    // Bytes of a field starting at a word, `length` bytes, wire order.
    std::string bytes(int l1_word, int length) const;
    void set_bytes(int l1_word, const std::string& value, int length);
    // Name n (1-based) of a list of 10-byte names starting at a word.
    void set_name(int l1_word, int n, const std::string& utf8);
    // Event mask k (1..6).
    uint16_t* mask(int k) { return &regs[sw::masks + layout.mask_words * (k - 1)]; }
    const uint16_t* mask(int k) const { return &regs[sw::masks + layout.mask_words * (k - 1)]; }

    // Counts the plant follows, clamped to what the status blocks can carry.
    int breaker_count() const;
    int group_count() const;
    int blocks_per_group() const;
    int contactor_count() const;
    int module_count() const;
    int phase_count() const;
    int dry_count() const;
    int16_t time_zone() const { return int16_t(word(sw::time_zone)); }
};

// The plant the simulator ships with, in the given layout.
Settings default_settings(const Layout& layout, uint32_t serial);

// The monitoring password (6 bytes) the command blocks must carry.
std::string monitoring_password(const Settings& s);

}  // namespace sim
