// Encoders of the input registers: one function per status block, each
// writing the plant's state as register values (host u16, sent high byte
// first) at the block's address for the layout in force.
#pragma once
#include "plant.h"

#include <cstdint>
#include <vector>

namespace sim {

struct InputBlock {
    uint16_t start = 0;
    std::vector<uint16_t> regs;
};

InputBlock encode_identification(const Plant& p);
InputBlock encode_events(const Plant& p);
InputBlock encode_load(const Plant& p);
InputBlock encode_battery(const Plant& p);
InputBlock encode_battery_blocks(const Plant& p, int group);
InputBlock encode_contactors(const Plant& p);
InputBlock encode_modules(const Plant& p);
InputBlock encode_mains(const Plant& p);
InputBlock encode_temperatures(const Plant& p);
InputBlock encode_dry_contacts(const Plant& p);
InputBlock encode_extension_units(const Plant& p);

// Active class-1 and class-2 alarms: active events selected by mask 1 / mask 2.
int alarm_count(const Plant& p, int mask);

// Reads input registers [start, start+count) when they lie inside one block.
// Returns 0 or exception code 2.
int read_input_registers(const Plant& p, int start, int count, std::vector<uint16_t>& out);

}  // namespace sim
