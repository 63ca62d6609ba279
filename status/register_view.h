// The register viewer: one read of holding (3) or input (4) registers on
// demand, shown as numbers, for what an engineer would otherwise open a
// generic Modbus poller for. Nothing is ever written. Pure.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct RegisterQuery {
    uint8_t function = 4; // 3 holding, 4 input
    uint16_t start = 0;
    unsigned count = 1;
};

// The most registers one request may ask for: the bounds the poll keeps to
// (100 holding, 90 input), which every Controller layout answers.
unsigned register_view_max_count(uint8_t function);
// "" when the query can be sent; otherwise why not, in Russian.
std::string register_query_problem(const RegisterQuery& q);

struct RegisterRow {
    std::string address;  // "256 (0x0100)"
    std::string unsigned_value;
    std::string signed_value;
    std::string hex_value; // "0x00FF"
};
// Rows for `count` registers read from `start`, in wire order (high byte first).
std::vector<RegisterRow> register_rows(uint16_t start, const uint8_t* wire, unsigned count);
