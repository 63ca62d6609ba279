// What one of the three operations with the Controller came to (see
// modbus/operations.h), in a header of its own for those that only pass it on
// or judge it; the check of a reply (modbus/frame.h) says its verdict in the
// same terms. The values are the numbers the log has always shown for them.
#pragma once

enum class ModbusResult : int {
    Ok = 0,
    Exception = -1,       // the Controller answered with an exception (see modbus_last_exception)
    Invalid = -2,         // invalid arguments (nothing sent), or a reply of the wrong size
    NoLink = -3,          // no link, the link closed while waiting, or the exchange failed
    ChecksumError = -4,   // a modem reply whose checksum is wrong
};
