// The Controller's clock: u32 seconds since 1970-01-01 00:00 UTC, shown in the
// Controller's own zone (quarter hours of the time-zone word, plus an hour of
// summer time). Shared by the device time, the journal and the battery records.
#pragma once

#include <cstdint>
#include <string>

// Seconds after 1970 as the Controller's zone shows them. The sum is taken in
// 64 bits, and one that falls before 1970 becomes 2147483647.
int64_t controller_local_seconds(uint32_t seconds, int16_t zone_quarters, bool summer);

// "%d %b %Y %X" of controller_local_seconds in the user's locale, as UTF-8.
std::string controller_time_text(uint32_t seconds, int16_t zone_quarters, bool summer);
