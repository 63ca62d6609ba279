// The Controller's Modbus application layer: one request PDU in, one reply
// PDU out, whatever link it came on.
#pragma once
#include "faults.h"
#include "plant.h"
#include "recorder.h"

#include <cstdint>
#include <vector>

namespace sim {

struct Sim {
    Plant plant;
    Faults faults;
    Recorder recorder;
    unsigned long requests = 0;
    // Milliseconds the reply of the request just served is held back
    // (fault late), beyond the delay of every reply.
    int hold_ms = 0;
};

// Modbus exception codes the simulator answers with.
enum : uint8_t { ex_function = 1, ex_address = 2, ex_value = 3, ex_device = 4 };

// Returns the reply PDU (at most 253 bytes); empty when nothing should be
// answered (an empty request). Sets sim.hold_ms for this reply.
std::vector<uint8_t> serve_request(Sim& sim, const uint8_t* pdu, size_t length);

}  // namespace sim
