// The service commands' frames and the clock value made from the user's pick.
#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

#include "status/commands.h"

namespace {

// Runs the body with TZ set, restoring the zone afterwards.
class ZoneGuard {
public:
    explicit ZoneGuard(const char* zone)
    {
        const char* old = std::getenv("TZ");
        had_ = old != nullptr;
        if (had_)
            old_ = old;
        setenv("TZ", zone, 1);
        tzset();
    }
    ~ZoneGuard()
    {
        if (had_)
            setenv("TZ", old_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    bool had_ = false;
    std::string old_;
};

const uint8_t kPassword[6] = {'1', '2', '3', '4', '5', '6'};

}  // namespace

TEST(ServiceCommands, FramesArePasswordThenCommandWordHighByteFirstAtTheirBlocks)
{
    using A = std::array<uint8_t, 8>;
    const ServiceCommandInfo& eq = service_command_info(ServiceCommand::EqChargeOn);
    EXPECT_EQ(eq.start, 16896);
    EXPECT_EQ(command_frame(kPassword, eq.word), (A{'1', '2', '3', '4', '5', '6', 0x00, 0x03}));
    EXPECT_EQ(service_command_info(ServiceCommand::EqChargeOff).word, 2);
    EXPECT_EQ(service_command_info(ServiceCommand::BatteryTestOn).word, 1);
    EXPECT_EQ(service_command_info(ServiceCommand::BatteryTestOff).word, 0);
    EXPECT_EQ(service_command_info(ServiceCommand::SyncContactors).start, 17152);
    // A password byte outside ASCII goes out as it is.
    const uint8_t cyrillic[6] = {0xC0, 0xFF, 0, 0, 0, 0};
    EXPECT_EQ(command_frame(cyrillic, 0x0102), (A{0xC0, 0xFF, 0, 0, 0, 0, 0x01, 0x02}));
    EXPECT_EQ(clock_frame(kPassword, 1704056400),
              (std::array<uint8_t, 10>{'1', '2', '3', '4', '5', '6', 0x65, 0x91, 0xD6, 0x50}));
}

TEST(ServiceCommands, ClockIsTheChosenLocalTimeWithSummerTimeOfThatDate)
{
    {
        ZoneGuard zone("<+03>-3");   // UTC+3 without summer time
        EXPECT_EQ(clock_seconds_from_local(2024, 0, 1, 0, 0, 0), 1704056400u);
        EXPECT_NE(clock_set_text(1704056400).find("UTC"), std::string::npos);
    }
    {
        ZoneGuard zone("Europe/Berlin");
        // Winter today or summer today, the chosen date decides the offset.
        EXPECT_EQ(clock_seconds_from_local(2024, 6, 1, 12, 0, 0), 1719828000u);   // 10:00 UTC
        EXPECT_EQ(clock_seconds_from_local(2024, 0, 15, 12, 0, 0), 1705316400u);  // 11:00 UTC
    }
    {
        ZoneGuard zone("UTC");
        EXPECT_EQ(clock_seconds_from_local(1970, 0, 1, 0, 0, 0), 0u);
        EXPECT_EQ(clock_seconds_from_local(2106, 1, 7, 6, 28, 15), 0xFFFFFFFFu);
        // One second beyond what 32 unsigned bits hold, and before 1970: refused.
        EXPECT_FALSE(clock_seconds_from_local(2106, 1, 7, 6, 28, 16));
        EXPECT_FALSE(clock_seconds_from_local(2200, 0, 1, 0, 0, 0));
        EXPECT_FALSE(clock_seconds_from_local(1969, 11, 31, 23, 59, 58));
    }
    {
        ZoneGuard zone("<+03>-3");
        EXPECT_FALSE(clock_seconds_from_local(1970, 0, 1, 0, 0, 0));   // 21:00 UTC the day before
    }
}
