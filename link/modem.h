// The GSM and PSTN links: a Hayes modem on a serial port, driven by a thread
// of its own (the modem thread) that sets the modem up, dials, opens the
// exchange over the call, watches the line, redials a lost call after a pause
// and hangs up when the user no longer wants the call.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>

#include "link/backend.h"
#include "link/modem_protocol.h"
#include "link/serial_params.h"
#include "link/serial_port.h"

extern const LinkBackend gsm_backend;
extern const LinkBackend pstn_backend;

// One call as the user asked for it, copied when the modem dialog was
// confirmed: later changes to the dialog's values do not touch it.
struct ModemCall {
    bool gsm = true;
    std::string port;       // device path
    SerialParams params;
    std::string init;       // sent as "at" + init + "\r\n" after the fixed set-up; empty: nothing sent
    std::string phone;
    bool tone = true;       // PSTN: tone dialling, else pulse
    uint64_t number = 0;    // which call this is (modem_call_wanted)
};

// The user still wants `call`: modem_wanted is set and no newer call has been
// asked for since.
bool modem_call_wanted(const ModemCall& call);

// Sets modem_wanted and starts the modem thread for `call`, which gets its
// number here. A thread still hanging up an earlier call finishes first.
// 0, or -1 when the thread could not be created (logged).
int modem_start(ModemCall call);

// What the modem thread learns about the port's modem lines once per call.
struct ModemLineState {
    std::atomic<bool> no_lines_reported{false};
};

// How long the modem may stay silent: after a set-up command (a modem that is
// switched on answers at once), and after the dial command until its result
// (the modem gives up on an unanswered call well before).
struct ModemWaits {
    int reply_ms = 5000;
    int dial_ms = 90000;
    // During a call, one read of the exchange waits this long; with its budget
    // of 1000 empty reads a Controller that stays silent holds the line for 10 s.
    int call_read_ms = 10;
};
// Shorter waits for tests; every later call uses them.
void modem_set_waits(const ModemWaits& waits);

// The modem conversation, run by the modem thread (exposed for tests).
//
// Reads one reply line into `buffer` (always NUL-terminated): > 0 its length;
// 0 nothing before the call was withdrawn, or nothing at all within `wait_ms`
// (the caller says which, nothing is logged); < 0 the port failed or the wait
// ended with part of a line (minus its length; logged).
int modem_read_line(SerialPort& port, const ModemCall& call, char* buffer, int size, int wait_ms);
// 0 or -1; every step logs its dot, failures their text.
int modem_reset(SerialPort& port, const ModemCall& call);
int modem_configure(SerialPort& port, const ModemCall& call);
enum class DialResult : int {
    Connected = 0,
    NotConnected = -1,            // or cancelled before the call came up
    ConnectedButCancelled = 1,    // the call came up after the user withdrew it: hang it up
};
DialResult modem_dial(SerialPort& port, const ModemCall& call);
// The modem status lines: 0 present, -1 missing (logged unless `quiet`) or
// unreadable (always logged). A port that cannot report them counts as having
// them (reported once per call in `state`); a lost call then shows as "NO
// CARRIER" or a failing port instead.
int modem_lines_ok(SerialPort& port, ModemLineState& state, bool check_dsr, bool check_cts, bool check_rlsd,
                   bool quiet);
