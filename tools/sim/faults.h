// Misbehaviour on demand: exceptions for chosen requests, silence, truncated
// or corrupted replies, dropped connections, delays, replies held back past
// the program's patience, a lost modem carrier, foreign transaction ids.
#pragma once
#include <string>
#include <vector>

namespace sim {

// Picks requests: "fn=14 file=1 record=245", "fn=04 addr=0100". Exceptions and
// held-back replies choose their requests the same way.
struct RequestRule {
    int fn = -1;      // -1: any function
    int addr = -1;    // fires when the request's registers cover this address
    int file = -1;    // file-record requests of this file
    int record = -1;  // ... and this record
    int value = 0;    // what the rule does: the exception code, or the milliseconds a reply is held
    int times = -1;   // -1: until cleared
};

struct Faults {
    std::vector<RequestRule> exceptions;
    std::vector<RequestRule> late;
    bool silence = false;
    bool truncate = false;
    bool badcrc = false;
    int close_after = -1;  // requests still answered before the connection is closed; -1 off
    int delay_ms = 0;
    int transaction = -1;  // Modbus TCP: answer with this transaction id instead of the request's; -1 off
    bool drop_carrier = false;  // taken by the modem endpoint
};

// Parses one fault command (the words after "fault"), e.g.
// "exception fn=04 addr=0100 code=2", "late fn=14 record=245 ms=2300",
// "delay 500", "silence on", "tid 0".
// Returns 0, or -1 with the reason in `error`.
int fault_command(Faults& f, const std::string& args, std::string& error);

// Exception code for a register request, or 0.
int fault_exception_for_registers(Faults& f, int fn, int addr, int count);
// Exception code for a file-record sub-request, or 0.
int fault_exception_for_file(Faults& f, int file, int record);
// Milliseconds the reply to a register request (or a file-record sub-request)
// is held back beyond any delay, or 0.
int fault_late_for_registers(Faults& f, int fn, int addr, int count);
int fault_late_for_file(Faults& f, int file, int record);

// Counts one request against close-after: after N answered requests the
// connection is closed right behind the N-th reply; with N = 0 the next request
// closes it unanswered.
enum class CloseAction { none, after_reply, close_now };
CloseAction fault_count_request(Faults& f);

// Number parsing shared with the control channel: "0x..." and zero-padded
// forms such as 0100 (as written in the record file) are hexadecimal, a plain
// number without a leading zero is decimal.
bool parse_address(const std::string& text, int& value);

}  // namespace sim
