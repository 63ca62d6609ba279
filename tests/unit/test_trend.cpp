#include <gtest/gtest.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cmath>
#include <cstring>
#include <string>

#include <sys/resource.h>
#include <unistd.h>

#include "status/cycle_view.h"
#include "status/trend.h"
#include "status/trend_recorder.h"

namespace {

using F = SettingsField;

float value(const TrendPoint& p, TrendSeries s) { return p.value[static_cast<int>(s)]; }

struct Plant {
    StatusImage s;
    SettingsImage device;

    Plant()
    {
        s.identification[1] = 410;
        device.layout = 3;
        set(F::MainsPhaseCount, 3);
        set(F::MainsFlags, settings_bits::kMainsMeasurement);
        set(F::BatteryGroupCount, 2);
        set(F::TempSensorCount, 2);
        for (int i = 0; i < 3; ++i)
            s.mains[2 * i] = static_cast<uint16_t>(230 + i);
        s.load[0] = 5432;                       // 54.32 V
        put32(&s.load[1], 123456);              // mA
        put32(&s.battery[0], static_cast<uint32_t>(-1000));
        s.temperatures[0] = 255;                // 25.5 °C
        s.temperatures[3] = static_cast<uint16_t>(-105); // -10.5 °C
    }
    // 32-bit fields are one host-order value after conversion.
    static void put32(uint16_t* at, uint32_t v) { std::memcpy(at, &v, 4); }
    void set(F field, uint16_t v) { settings_set_u16(device, field, v); }
    TrendPoint point() const { return build_cycle_view(s, s, device.layout, device, device, nullptr).trend; }
};

TEST(TrendPoint, TakesEveryValueInItsRegisterUnitsWhenAllAreMeasured)
{
    TrendPoint p = Plant().point();
    EXPECT_EQ(value(p, TrendSeries::MainsL1), 230);
    EXPECT_EQ(value(p, TrendSeries::MainsL3), 232);
    EXPECT_EQ(value(p, TrendSeries::LoadVoltage), 5432);
    EXPECT_EQ(value(p, TrendSeries::LoadCurrent), 123456);
    EXPECT_EQ(value(p, TrendSeries::BatteryCurrent), -1000);
    EXPECT_EQ(value(p, TrendSeries::Temperature1), 255);
    EXPECT_EQ(value(p, TrendSeries::Temperature2), -105);
    EXPECT_FALSE(trend_is_gap(p));
}

TEST(TrendPoint, LeavesOutWhatTheWindowShowsAsAnErrorOrDoesNotShow)
{
    Plant a;
    a.s.mains[3] = 3;          // L2 sensor error
    a.s.load[3] = 4;           // load measurement error
    a.s.temperatures[2] = 1;   // sensor 1 error
    a.s.temperatures[4] = 3;   // sensor 2 error
    a.s.mains[5] = 9;          // L3 in a state the Controller does not define
    TrendPoint p = a.point();
    EXPECT_EQ(value(p, TrendSeries::MainsL1), 230);
    EXPECT_TRUE(std::isnan(value(p, TrendSeries::MainsL2)));
    EXPECT_TRUE(std::isnan(value(p, TrendSeries::MainsL3)));
    EXPECT_TRUE(std::isnan(value(p, TrendSeries::LoadVoltage)));
    EXPECT_TRUE(std::isnan(value(p, TrendSeries::LoadCurrent)));
    EXPECT_TRUE(std::isnan(value(p, TrendSeries::Temperature1)));
    EXPECT_TRUE(std::isnan(value(p, TrendSeries::Temperature2)));
    EXPECT_EQ(value(p, TrendSeries::BatteryCurrent), -1000);

    Plant b;
    b.set(F::MainsPhaseCount, 1);
    b.set(F::BatteryGroupCount, 0);
    b.set(F::TempSensorCount, 1);
    b.s.mains[0] = 1200;       // shown as 999 V, plotted so too
    p = b.point();
    EXPECT_EQ(value(p, TrendSeries::MainsL1), 999);
    EXPECT_TRUE(std::isnan(value(p, TrendSeries::MainsL2)));
    EXPECT_TRUE(std::isnan(value(p, TrendSeries::MainsL3)));
    EXPECT_TRUE(std::isnan(value(p, TrendSeries::BatteryCurrent)));
    EXPECT_TRUE(std::isnan(value(p, TrendSeries::Temperature2)));

    // Without phase measurement the Controller gives no voltage at all.
    Plant c;
    c.set(F::MainsFlags, 0);
    p = c.point();
    for (TrendSeries s : {TrendSeries::MainsL1, TrendSeries::MainsL2, TrendSeries::MainsL3})
        EXPECT_TRUE(std::isnan(value(p, s)));
}

TrendPoint at(int64_t time_ms, float load_voltage)
{
    TrendPoint p = trend_gap(time_ms);
    p.value[static_cast<int>(TrendSeries::LoadVoltage)] = load_voltage;
    return p;
}

TEST(TrendRing, KeepsTheLastDayOfPointsAtOneASecondAndForgetsTheOldest)
{
    TrendRing ring;
    EXPECT_EQ(ring.capacity(), 86400u);
    EXPECT_EQ(ring.bytes(), 86400u * 40u);
    const int64_t start = 1'700'000'000'000;
    for (int i = 0; i < 86400 + 250; ++i)
        ring.push(at(start + i * 1000LL, static_cast<float>(i)));
    ASSERT_EQ(ring.size(), 86400u);
    EXPECT_EQ(value(ring.at(0), TrendSeries::LoadVoltage), 250);
    EXPECT_EQ(value(ring.newest(), TrendSeries::LoadVoltage), 86400 + 249);
    for (size_t i = 1; i < ring.size(); ++i)
        ASSERT_EQ(ring.at(i).time_ms - ring.at(i - 1).time_ms, 1000) << i;
    EXPECT_EQ(ring.first_at_or_after(start + 1000LL * 1000), 1000u - 250u);
    EXPECT_EQ(ring.first_at_or_after(start + 1000LL * 1000 - 1), 1000u - 250u);
    EXPECT_EQ(ring.first_at_or_after(start + 100'000'000LL), ring.size());
}

TEST(TrendRing, DropsPointsMoreThanADayOlderThanTheNewestAndKeepsTimesInOrder)
{
    TrendRing ring(1000);
    const int64_t start = 1'700'000'000'000;
    // A slow link: one point every ten minutes for 30 hours.
    for (int i = 0; i <= 180; ++i)
        ring.push(at(start + i * 600'000LL, 1));
    EXPECT_EQ(ring.size(), 145u);   // 24 h of ten-minute points, both ends included
    EXPECT_EQ(ring.newest().time_ms - ring.at(0).time_ms, kTrendDayMs);

    // A clock set back does not put a point before the last one.
    int64_t last = ring.newest().time_ms;
    ring.push(at(last - 3'600'000, 2));
    EXPECT_EQ(ring.newest().time_ms, last);
    ring.clear();
    EXPECT_TRUE(ring.empty());
}

TEST(TrendCsv, WritesIsoTimesAndPointDecimalsWhateverTheLocaleAndGapsAsEmptyFields)
{
    ASSERT_NE(std::setlocale(LC_ALL, "ru_RU.UTF-8"), nullptr) << "the ru_RU.UTF-8 locale is needed";
    EXPECT_EQ(trend_csv_header(), "Время,Сеть L1 (В),Сеть L2 (В),Сеть L3 (В),Нагрузка (В),Нагрузка (А),АБ (А),"
                                  "Температура 1 (°C),Температура 2 (°C)\r\n");
    Plant plant;
    plant.s.mains[3] = 3;
    TrendPoint p = plant.point();
    p.time_ms = 1'765'203'731'999;   // 2025-12-08 14:22:11.999 UTC
    EXPECT_EQ(trend_csv_row(p, 3 * 3600),
              "2025-12-08T17:22:11+03:00,230,,232,54.32,123.456,-1.000,25.5,-10.5\r\n");
    EXPECT_EQ(trend_csv_row(trend_gap(p.time_ms), -(3 * 3600 + 1800)), "2025-12-08T10:52:11-03:30,,,,,,,,\r\n");
    // Before 1970 the second still rounds down.
    EXPECT_EQ(trend_csv_row(trend_gap(-1), 0), "1969-12-31T23:59:59+00:00,,,,,,,,\r\n");
    std::setlocale(LC_ALL, "C");
}

} // namespace

TEST(TrendCsv, AFileThatTakesNoMoreKeepsOnlyWholeRowsAndSaysWhy)
{
    // A file size limit stands in for a full disk: the write that reaches it
    // is cut short part way through a row.
    char path[] = "/tmp/rarur-trend-XXXXXX";
    int fd = mkstemp(path);
    ASSERT_GE(fd, 0);
    close(fd);
    FILE* file = std::fopen(path, "wb");
    ASSERT_NE(file, nullptr);
    std::setvbuf(file, nullptr, _IONBF, 0);
    const std::string row = "2026-12-08T14:02:11+03:00,231.0,229.5,,53.50,12.3,-1.20,21.5,\r\n";
    rlimit saved{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
    auto old_handler = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 2 * row.size() + row.size() / 2;
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
    long good_end = 0;
    int errors[3];
    for (int& error : errors)
        error = trend_append_row(file, row, good_end);
    setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, old_handler);
    std::fclose(file);

    EXPECT_EQ(errors[0], 0);
    EXPECT_EQ(errors[1], 0);
    EXPECT_EQ(errors[2], EFBIG);
    EXPECT_EQ(good_end, long(2 * row.size()));
    FILE* in = std::fopen(path, "rb");
    ASSERT_NE(in, nullptr);
    std::string text(4 * row.size(), '\0');
    text.resize(std::fread(text.data(), 1, text.size(), in));
    std::fclose(in);
    std::remove(path);
    EXPECT_EQ(text, row + row);
}
