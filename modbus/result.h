// What one of the three operations with the Controller came to (see
// modbus/operations.h), in a header of its own for those that only pass it on
// or judge it; the check of a reply (modbus/frame.h) says its verdict in the
// same terms. The values are the numbers the log has always shown for them.
#pragma once

#include <cstdint>

enum class ModbusResult : int {
    Ok = 0,
    Exception = -1,       // the Controller answered with an exception
    Invalid = -2,         // invalid arguments (nothing sent), or a reply of the wrong size
    NoLink = -3,          // no link, the link closed while waiting, or the exchange failed
    ChecksumError = -4,   // a modem reply whose checksum is wrong
};

// Why an operation failed, finer than its result code: callers outside the
// exchange see the five codes above, the log, the service commands and the
// command line tell these apart. Whether a write was carried out hangs on it.
enum class ModbusFailure : int {
    None = 0,
    InvalidArguments,   // refused before anything was sent
    NoLink,             // no link, or it closed before the request went out
    SendFailed,         // the request could not be sent; the link is closed
    NoReply,            // sent, and nothing (or too little) came back in time
    LinkClosed,         // sent, then the link closed or failed while the reply was awaited
    WrongSize,          // a reply of the wrong size or shape
    ChecksumError,      // a modem reply whose checksum is wrong
    Exception,          // the Controller refused: see the exception code
};

constexpr ModbusResult modbus_result_of(ModbusFailure failure)
{
    switch (failure) {
    case ModbusFailure::None: return ModbusResult::Ok;
    case ModbusFailure::Exception: return ModbusResult::Exception;
    case ModbusFailure::InvalidArguments:
    case ModbusFailure::WrongSize: return ModbusResult::Invalid;
    case ModbusFailure::ChecksumError: return ModbusResult::ChecksumError;
    case ModbusFailure::NoLink:
    case ModbusFailure::SendFailed:
    case ModbusFailure::NoReply:
    case ModbusFailure::LinkClosed: return ModbusResult::NoLink;
    }
    return ModbusResult::NoLink;
}

// The outcome of one operation: its failure (None on success) and, for an
// exception, the Controller's code. Converts to the result code, so callers
// that only ask "did it work" compare it with ModbusResult as before.
struct ModbusOutcome {
    ModbusFailure failure = ModbusFailure::None;
    uint8_t exception_code = 0;   // with ModbusFailure::Exception

    constexpr ModbusOutcome() = default;
    constexpr ModbusOutcome(ModbusFailure f, uint8_t code = 0) : failure(f), exception_code(code) {}
    // A bare result code (a stand-in reader of a test) as its plainest failure.
    constexpr ModbusOutcome(ModbusResult result) : failure(plainest(result)) {}

    constexpr ModbusResult result() const { return modbus_result_of(failure); }
    constexpr operator ModbusResult() const { return result(); }
    constexpr bool ok() const { return failure == ModbusFailure::None; }
    // The request reached the Controller, but no answer can be read: a write
    // may or may not have been carried out.
    constexpr bool outcome_unknown() const
    {
        return failure == ModbusFailure::NoReply || failure == ModbusFailure::LinkClosed ||
               failure == ModbusFailure::WrongSize || failure == ModbusFailure::ChecksumError;
    }

private:
    static constexpr ModbusFailure plainest(ModbusResult result)
    {
        switch (result) {
        case ModbusResult::Ok: return ModbusFailure::None;
        case ModbusResult::Exception: return ModbusFailure::Exception;
        case ModbusResult::Invalid: return ModbusFailure::WrongSize;
        case ModbusResult::NoLink: return ModbusFailure::NoLink;
        case ModbusResult::ChecksumError: return ModbusFailure::ChecksumError;
        }
        return ModbusFailure::NoLink;
    }
};
