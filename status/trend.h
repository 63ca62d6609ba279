// The live values plotted over time and recorded to a CSV file: one point per
// complete poll cycle, kept for a day in a ring of fixed size. Pure.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "registers/settings_image.h"
#include "registers/status_image.h"

enum class TrendSeries { MainsL1, MainsL2, MainsL3, LoadVoltage, LoadCurrent, BatteryCurrent, Temperature1, Temperature2 };
constexpr int kTrendSeries = 8;

// The charts the series are drawn in, top to bottom.
enum class TrendPanel { Mains, LoadVoltage, Currents, Temperatures };
constexpr int kTrendPanels = 4;

struct TrendSeriesInfo {
    const char* column;   // CSV header
    const char* legend;   // beside the chart
    TrendPanel panel;
    double scale;         // stored value × scale = value in its unit
    int decimals;         // in the CSV file
};
const TrendSeriesInfo& trend_series(int series);
// Title of a chart with its unit ("Сеть, В").
const char* trend_panel_title(TrendPanel panel);

// Values are kept in the registers' own units (volts × 100, mA, °C × 10):
// exact in a float for every value a plant reaches, and scaled only when
// shown. NaN is a value the Controller did not measure in that cycle (a sensor
// error, a phase or sensor not fitted); a point whose values are all NaN is a
// gap (the data went stale, the link ended) that no line is drawn through.
struct TrendPoint {
    int64_t time_ms = 0;   // wall clock, milliseconds since 1970-01-01 UTC
    float value[kTrendSeries];
};

inline bool trend_value_valid(float value) { return !std::isnan(value); }
bool trend_is_gap(const TrendPoint& point);
TrendPoint trend_gap(int64_t time_ms);
// A cycle's point is made with its views, from the values they mark as
// measured (cycle_view.h).

// A day of cycles at the quickest pace (one cycle a second at least, the
// pause after the display): 86,400 points of 40 bytes, 3,456,000 bytes.
constexpr int64_t kTrendDayMs = 24 * 3600 * 1000LL;
constexpr size_t kTrendCapacity = 24 * 3600;

// The last day of points, oldest first. The storage is taken once, when the
// ring is made, and never grows.
class TrendRing {
public:
    explicit TrendRing(size_t capacity = kTrendCapacity);
    // Adds a point; forgets the oldest when full and every point more than a
    // day older than it. Times never go back: a clock set back is taken as
    // standing still until it catches up, so the time axis stays ordered.
    void push(TrendPoint point);
    void clear() { head_ = count_ = 0; }
    size_t size() const { return count_; }
    size_t capacity() const { return capacity_; }
    bool empty() const { return count_ == 0; }
    // 0 is the oldest point kept.
    const TrendPoint& at(size_t index) const
    {
        size_t i = head_ + index;   // a day of points is walked per redraw: no division
        return points_[i >= capacity_ ? i - capacity_ : i];
    }
    const TrendPoint& newest() const { return at(count_ - 1); }
    // Index of the first point at or after `time_ms` (size() when none).
    size_t first_at_or_after(int64_t time_ms) const;
    size_t bytes() const { return capacity_ * sizeof(TrendPoint); }

private:
    std::unique_ptr<TrendPoint[]> points_;
    size_t capacity_;
    size_t head_ = 0;
    size_t count_ = 0;
};

// CSV of the recorded values: a header row, then one row per point: its time
// in ISO 8601 with the zone's offset ("2026-12-08T14:02:11+03:00"), then the
// values in their units with a point as the decimal separator whatever the
// locale; an unmeasured value is an empty field, a gap a row of empty fields.
// Rows end in "\r\n", as spreadsheets expect of CSV.
std::string trend_csv_header();
// `utc_offset_s`: the offset of local time from UTC at that moment.
std::string trend_csv_row(const TrendPoint& point, int utc_offset_s);
// The offset of the local zone from UTC at `time_ms`.
int local_utc_offset_s(int64_t time_ms);
