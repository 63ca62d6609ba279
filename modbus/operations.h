// The three blocking calls through which the rest of the program talks to the
// Controller. Each builds one request for the open link, queues it, waits for
// the transport thread, checks the reply and copies its data out.
//
// Every failure but invalid arguments is logged here.
//
// Register data crosses these calls as bytes in wire order (each register high
// byte first). Callable from any worker thread; never on the GUI thread, which
// must not wait for an exchange. They log through the log's queue and take no
// lock of the window's.
#pragma once

#include <cstdint>
#include <string>

#include "base/workers.h"
#include "modbus/result.h"

// Each returns its outcome: the result code callers compare with ModbusResult,
// the failure behind it and, for an exception, the Controller's code.

// Reads `count` (1..125) holding (0x03) or input (0x04) registers from `start`
// into `out` (2 x count bytes).
ModbusOutcome modbus_read_registers(uint16_t start, unsigned count, uint8_t* out, uint8_t function);
// Writes `count` (1..125) registers from `values` (2 x count bytes) at `start`.
// A write that went without its answer (outcome_unknown) may have been
// carried out: its reply never turns up as another request's answer.
ModbusOutcome modbus_write_registers(uint16_t start, unsigned count, const uint8_t* values);
// Reads record `record` of file `file`, `length` (1..245) registers, into `out`
// (2 x length bytes).
ModbusOutcome modbus_read_file_record(uint16_t file, uint16_t record, unsigned length, uint8_t* out);

// The last failed request of any link, for whoever must say afterwards why
// the Controller's answer is missing (a poll cycle, a command line's verdict).
struct ModbusFailureReport {
    LinkSession session = 0;   // the link it failed on; 0: none has failed yet
    ModbusOutcome outcome;
    // What failed and why, in the log's words: "Команда: x04 Смещение: 0000
    // Количество: 15 Нет ответа контроллера".
    std::string text;
};
ModbusFailureReport modbus_last_failure();

// What a failure is called in the log and on the command line.
const char* modbus_failure_text(ModbusFailure failure);

// Text of a Modbus exception code.
const char* exception_text(int code);
