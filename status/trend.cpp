#include "status/trend.h"

#include <algorithm>
#include <cmath>
#include <ctime>
#include <limits>

#include <glib.h>

#include "base/text_format.h"

namespace {

using F = SettingsField;

constexpr float kNone = std::numeric_limits<float>::quiet_NaN();

const TrendSeriesInfo kSeries[kTrendSeries] = {
    {"Сеть L1 (В)", "L1", TrendPanel::Mains, 1.0, 0},
    {"Сеть L2 (В)", "L2", TrendPanel::Mains, 1.0, 0},
    {"Сеть L3 (В)", "L3", TrendPanel::Mains, 1.0, 0},
    {"Нагрузка (В)", "Нагрузка", TrendPanel::LoadVoltage, 0.01, 2},
    {"Нагрузка (А)", "Нагрузка", TrendPanel::Currents, 0.001, 3},
    {"АБ (А)", "АБ", TrendPanel::Currents, 0.001, 3},
    {"Температура 1 (°C)", "Датчик 1", TrendPanel::Temperatures, 0.1, 1},
    {"Температура 2 (°C)", "Датчик 2", TrendPanel::Temperatures, 0.1, 1},
};

const char* const kPanelTitles[kTrendPanels] = {"Сеть, В", "Нагрузка, В", "Ток, А", "Температура, °C"};


} // namespace

const TrendSeriesInfo& trend_series(int series) { return kSeries[std::clamp(series, 0, kTrendSeries - 1)]; }

const char* trend_panel_title(TrendPanel panel) { return kPanelTitles[static_cast<int>(panel)]; }

bool trend_is_gap(const TrendPoint& point)
{
    return std::none_of(std::begin(point.value), std::end(point.value), trend_value_valid);
}

TrendPoint trend_gap(int64_t time_ms)
{
    TrendPoint p;
    p.time_ms = time_ms;
    std::fill(std::begin(p.value), std::end(p.value), kNone);
    return p;
}

TrendRing::TrendRing(size_t capacity) : points_(new TrendPoint[std::max<size_t>(capacity, 1)]),
                                         capacity_(std::max<size_t>(capacity, 1))
{
}

void TrendRing::push(TrendPoint point)
{
    if (count_ > 0)
        point.time_ms = std::max(point.time_ms, newest().time_ms);
    if (count_ == capacity_) {
        head_ = (head_ + 1) % capacity_;
        --count_;
    }
    points_[(head_ + count_) % capacity_] = point;
    ++count_;
    while (count_ > 1 && at(0).time_ms < point.time_ms - kTrendDayMs) {
        head_ = (head_ + 1) % capacity_;
        --count_;
    }
}

size_t TrendRing::first_at_or_after(int64_t time_ms) const
{
    size_t low = 0, high = count_;
    while (low < high) {
        size_t middle = low + (high - low) / 2;
        if (at(middle).time_ms < time_ms)
            low = middle + 1;
        else
            high = middle;
    }
    return low;
}

std::string trend_csv_header()
{
    std::string row = "Время";
    for (const TrendSeriesInfo& s : kSeries) {
        row += ',';
        row += s.column;
    }
    return row + "\r\n";
}

int local_utc_offset_s(int64_t time_ms)
{
    GDateTime* t = g_date_time_new_from_unix_local(time_ms / 1000);
    if (!t)
        return 0;
    int offset = static_cast<int>(g_date_time_get_utc_offset(t) / G_TIME_SPAN_SECOND);
    g_date_time_unref(t);
    return offset;
}

std::string trend_csv_row(const TrendPoint& point, int utc_offset_s)
{
    // Broken down by hand from UTC plus the offset: the row is the same
    // whatever the process's zone and locale.
    int64_t seconds = point.time_ms / 1000 - (point.time_ms % 1000 < 0 ? 1 : 0);
    time_t local = static_cast<time_t>(seconds + utc_offset_s);
    struct tm tm {};
    gmtime_r(&local, &tm);
    int offset_minutes = std::abs(utc_offset_s) / 60;
    std::string row = format("%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                             tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, utc_offset_s < 0 ? '-' : '+',
                             offset_minutes / 60, offset_minutes % 60);
    for (int i = 0; i < kTrendSeries; ++i) {
        row += ',';
        if (!trend_value_valid(point.value[i]))
            continue;
        char number[G_ASCII_DTOSTR_BUF_SIZE];
        char pattern[8];
        g_snprintf(pattern, sizeof pattern, "%%.%df", kSeries[i].decimals);
        g_ascii_formatd(number, sizeof number, pattern, point.value[i] * kSeries[i].scale);
        row += number;
    }
    return row + "\r\n";
}
