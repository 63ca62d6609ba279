#include <gtest/gtest.h>

#include <algorithm>
#include <regex>

#include "events/alarm_notice.h"

namespace {

using Codes = std::array<std::vector<uint16_t>, kActiveListCount>;

TEST(AlarmTitle, CarriesTheFirstDegreeAlarmCountOnlyWhileThereAreAny)
{
    EXPECT_EQ(title_with_alarms("RARUR Service - [192.168.1.10:502]", 2),
              "RARUR Service - [192.168.1.10:502] — аварий: 2");
    EXPECT_EQ(title_with_alarms("RARUR Service - [192.168.1.10:502]", 0), "RARUR Service - [192.168.1.10:502]");
    // The Controller's own reading, whatever the computer's zone.
    EXPECT_EQ(since_text(1'765'203'731'000), "с 14:22:11");
}

// Every code of the six lists is an active event.
std::vector<uint16_t> active_of(const Codes& codes, std::vector<uint16_t> unlisted = {})
{
    for (const auto& list : codes)
        unlisted.insert(unlisted.end(), list.begin(), list.end());
    std::sort(unlisted.begin(), unlisted.end());
    unlisted.erase(std::unique(unlisted.begin(), unlisted.end()), unlisted.end());
    return unlisted;
}

TEST(ActiveSince, KeepsTheFirstSeenTimeAndCallsNewOnlyAlarmsThatAppearAfterTheLinkCameUp)
{
    ActiveSince since;
    since.follow("0x2a/100");
    // The first cycle of a link: what is active was there before; nothing is new.
    Codes codes;
    codes[0] = {5, 40};
    codes[2] = {40};
    ActiveSince::Update u = since.update(codes, active_of(codes), 1000);
    EXPECT_TRUE(u.new_alarms.empty());
    EXPECT_EQ(u.since[0], (std::vector<int64_t>{1000, 1000}));
    EXPECT_EQ(u.since[2], (std::vector<int64_t>{1000}));

    // A first-degree alarm appears: new, with its own time; the others keep theirs.
    codes[0] = {5, 33, 40};
    codes[3] = {7};   // a signal relay's event is never a first-degree alarm
    u = since.update(codes, active_of(codes), 2000);
    EXPECT_EQ(u.new_alarms, (std::vector<uint16_t>{33}));
    EXPECT_EQ(u.since[0], (std::vector<int64_t>{1000, 2000, 1000}));
    EXPECT_EQ(u.since[3], (std::vector<int64_t>{2000}));

    // Gone and back: seen anew.
    codes[0] = {5, 40};
    EXPECT_TRUE(since.update(codes, active_of(codes), 3000).new_alarms.empty());
    codes[0] = {5, 33, 40};
    u = since.update(codes, active_of(codes), 4000);
    EXPECT_EQ(u.new_alarms, (std::vector<uint16_t>{33}));
    EXPECT_EQ(u.since[0][1], 4000);

    // An event active all along that enters the list because mask 1 now
    // selects it (or the first cycle had no settings yet) did not just happen.
    Codes before = codes;
    u = since.update(before, active_of(before, {60}), 4500);
    codes[0] = {5, 33, 40, 60};
    u = since.update(codes, active_of(codes), 5000);
    EXPECT_TRUE(u.new_alarms.empty());
    EXPECT_EQ(u.since[0][3], 5000);

    // The link drops and comes back to the same Controller: what stayed
    // active keeps its time, and the alarm that came up meanwhile is new.
    since.follow("0x2a/100");
    codes[0] = {5, 33, 40, 41};
    u = since.update(codes, active_of(codes), 6000);
    EXPECT_EQ(u.new_alarms, (std::vector<uint16_t>{41}));
    EXPECT_EQ(u.since[0], (std::vector<int64_t>{1000, 4000, 1000, 6000}));

    // Another Controller: what is active as its link comes up is not new.
    since.follow("0x2a/200");
    codes[0] = {5, 33, 40, 41, 42};
    u = since.update(codes, active_of(codes), 7000);
    EXPECT_TRUE(u.new_alarms.empty());
    EXPECT_EQ(u.since[0], (std::vector<int64_t>{7000, 7000, 7000, 7000, 7000}));
}

} // namespace
