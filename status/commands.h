// Service commands: the frames written to the Controller's command blocks and
// the clock value made from what the user picked. Pure: no link, no window.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

enum class ServiceCommand { SyncContactors, BatteryTestOn, BatteryTestOff, EqChargeOn, EqChargeOff };

struct ServiceCommandInfo {
    uint16_t start;        // first register of the command block
    uint16_t word;         // command word after the password
    const char* done;      // logged with norm_text
    const char* failed;    // logged with err_text, %d = the exchange's result code
};
const ServiceCommandInfo& service_command_info(ServiceCommand command);

// The commands by name, for the command line: stable English names
// ("battery-test-on"), in the order of the service page.
struct ServiceCommandName {
    ServiceCommand command;
    const char* name;
    const char* label;   // the service page's button
};
extern const ServiceCommandName kServiceCommandNames[5];
// Nothing for a name that is not one of them.
std::optional<ServiceCommand> service_command_by_name(std::string_view name);

constexpr uint16_t kClockCommandStart = 0x4100;

// The password's six bytes as they are, then the command word, high byte first.
std::array<uint8_t, 8> command_frame(const uint8_t (&password)[6], uint16_t word);
// The password, then the time as four bytes, most significant first.
std::array<uint8_t, 10> clock_frame(const uint8_t (&password)[6], uint32_t seconds);

// Seconds since 1970 UTC of a date and time taken as the computer's local
// time (month 0-11). Whether summer time applies is the time zone's decision
// for that date, not the season of today. Nothing when the instant cannot be
// held in the Controller's 32 unsigned bits.
std::optional<uint32_t> clock_seconds_from_local(int year, int month, int day, int hour, int minute, int second);

// What the log says of a clock that was set: "<local> (<UTC> UTC)" texts,
// "%d %b %Y %X" in the user's locale, UTF-8.
std::string clock_set_text(uint32_t seconds);
// "по часам контроллера <time>": the same instant in the Controller's zone.
std::string clock_controller_text(uint32_t seconds, int16_t zone_quarters, bool summer);

// The clock fields show "%02d": "20:20:03", not "20:20:3".
std::string clock_field_text(int value);
