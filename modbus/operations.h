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

#include "modbus/result.h"

// Reads `count` (1..125) holding (0x03) or input (0x04) registers from `start`
// into `out` (2 x count bytes).
ModbusResult modbus_read_registers(uint16_t start, unsigned count, uint8_t* out, uint8_t function);
// Writes `count` (1..125) registers from `values` (2 x count bytes) at `start`.
ModbusResult modbus_write_registers(uint16_t start, unsigned count, const uint8_t* values);
// Reads record `record` of file `file`, `length` (1..245) registers, into `out`
// (2 x length bytes).
ModbusResult modbus_read_file_record(uint16_t file, uint16_t record, unsigned length, uint8_t* out);

// The exception code of the calling thread's last operation that reached the
// link, 0 unless it returned ModbusResult::Exception: a caller that must tell one refusal from
// another asks here.
int modbus_last_exception();

// Text of a Modbus exception code.
const char* exception_text(int code);
