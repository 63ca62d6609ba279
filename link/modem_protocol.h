// What the program says to a Hayes modem and how it reads the answers: the
// dial result codes with their log texts, the set-up commands, the dial
// command, and a watch on the data stream for the modem's own "call lost".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct ModemResult {
    const char* text;   // log text; nullptr for a code not in the table
    bool error;         // logged as an error
    bool connected;     // the call is up
};

// The dial result `code`. A code not in the table counts as connected and is
// logged as "Неизвестный ответ модема [%d]\n" (modem_result_text).
ModemResult modem_result(int code);
std::string modem_result_text(int code);

// The number of a numeric reply ("7" -> 7, "12" -> 12); a reply that is not a
// number counts as 0.
int modem_reply_number(const char* line);
// A reply that says OK: it contains "Ok", "ok", "OK" or "0".
bool modem_reply_ok(const char* line);

// Set-up lines after the reset, in order: for every modem, then GSM only.
constexpr int kModemSetupCommands = 4;
extern const char* const kModemSetup[kModemSetupCommands];
constexpr int kGsmSetupCommands = 3;
extern const char* const kGsmSetup[kGsmSetupCommands];

// "atd" (GSM), "atdt" (tone) or "atdp" (pulse), the number, "\r\n".
std::string modem_dial_command(bool gsm, bool tone, const std::string& phone);

// Length of the longest start of `text` that has at most `max_bytes` bytes and
// does not end inside a UTF-8 character.
size_t utf8_prefix_length(const char* text, size_t max_bytes);

// Watches the bytes of a call in progress for the modem's report that the
// call is gone ("3" after numeric replies, "NO CARRIER" otherwise), alone
// between two CRs. A Modbus frame is never that short, and its own CRs are
// stuffed, so a reply can never be taken for it.
class CarrierWatch {
public:
    // True once the report has been seen (it stays seen).
    bool feed(const uint8_t* bytes, int length);
    bool lost() const { return lost_; }

private:
    char line_[12] = {};
    int length_ = 0;
    bool overflow_ = false;
    bool lost_ = false;
};
