#include "status/trends_gtk.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include <gtk/gtk.h>

#include "gui/helpers.h"
#include "gui/handlers.h"
#include "gui/widgets.h"
#include "base/app_state.h"
#include "base/log.h"
#include "base/text_format.h"
#include "status/display_hooks.h"
#include "status/trend.h"
#include "status/trend_recorder.h"

namespace {

// «Показать:» rows: the day kept («Сутки»), the last hour, the last ten minutes.
constexpr int64_t kRangeMs[] = {0, 3600 * 1000LL, 600 * 1000LL};
// A session shorter than this fills the charts from the right.
constexpr int64_t kMinSpanMs = 60 * 1000;

// The least a chart's value axis spans, in each chart's unit: a steady value
// stays a flat line in the middle, not noise blown up to the full height.
constexpr double kMinValueSpan[kTrendPanels] = {4.0, 0.4, 0.4, 2.0};

const double kColours[kTrendSeries][3] = {
    {0.80, 0.20, 0.15}, {0.15, 0.40, 0.80}, {0.15, 0.60, 0.25},   // L1, L2, L3
    {0.15, 0.40, 0.80},                                           // load voltage
    {0.55, 0.25, 0.70}, {0.90, 0.50, 0.05},                       // load and battery current
    {0.80, 0.20, 0.15}, {0.15, 0.40, 0.80},                       // sensors 1 and 2
};

struct Recording {
    TrendRecorder recorder;
    std::string name;         // UTF-8, for the log
    std::string controller;   // whose values the file holds; "" until its first cycle
    unsigned generation = 0;  // tells a failure of this recording from one of an earlier
};

struct Trends {
    TrendRing ring;
    // The Controller the points are from: another one starts the charts anew.
    std::string controller;
    GtkWidget* area = nullptr;
    GtkWidget* range = nullptr;
    GtkWidget* recording_label = nullptr;
    GtkWidget* record_item = nullptr;
    Recording recording;
    // Set while the program itself sets the menu item, whose "toggled" must
    // not start or stop anything then.
    bool setting_item = false;
};

Trends& trends()
{
    static Trends instance;
    return instance;
}

int64_t now_ms() { return g_get_real_time() / 1000; }

void set_record_item(bool active)
{
    Trends& t = trends();
    if (!t.record_item)
        return;
    t.setting_item = true;
    gtk_check_menu_item_set_active(GTK_CHECK_MENU_ITEM(t.record_item), active);
    t.setting_item = false;
}

void show_recording_label()
{
    Trends& t = trends();
    if (!t.recording_label)
        return;
    std::string text = t.recording.recorder.active() ? "Запись в файл: " + t.recording.name : "";
    gtk_label_set_text(GTK_LABEL(t.recording_label), text.c_str());
}

void stop_recording()
{
    Recording& r = trends().recording;
    if (!r.recorder.active())
        return;
    r.recorder.stop();
    set_record_item(false);
    show_recording_label();
}

struct RecordingFailure {
    unsigned generation;
    std::string name, error;
};

// The recorder's thread could not write a row (the file is then left with
// whole rows only): the menu item comes off and a message box says why, as
// the exports do.
gboolean recording_failed(gpointer data)
{
    std::unique_ptr<RecordingFailure> failure(static_cast<RecordingFailure*>(data));
    Recording& r = trends().recording;
    if (failure->generation != r.generation || !r.recorder.active())
        return G_SOURCE_REMOVE;
    stop_recording();
    show_message(GTK_MESSAGE_ERROR, "Не удается записать значения в файл %s: %s\nЗапись значений остановлена.",
                 failure->name.c_str(), failure->error.c_str());
    return G_SOURCE_REMOVE;
}

void record_point(const TrendPoint& point)
{
    Recording& r = trends().recording;
    if (r.recorder.active())
        r.recorder.add(trend_csv_row(point, local_utc_offset_s(point.time_ms)));
}

// Only a page on screen is drawn again; a hidden one is drawn when shown.
void redraw()
{
    Trends& t = trends();
    if (t.area && gtk_widget_get_mapped(t.area))
        gtk_widget_queue_draw(t.area);
}

void add_point(const TrendPoint& point)
{
    Trends& t = trends();
    t.ring.push(point);
    record_point(point);
    redraw();
}

// Breaks the charts off where the values stopped being live.
void add_gap()
{
    Trends& t = trends();
    if (t.ring.empty() || trend_is_gap(t.ring.newest()))
        return;
    add_point(trend_gap(now_ms()));
}

void apply_cycle(const CycleView& view)
{
    Trends& t = trends();
    std::string controller = view.identification.device_code + "/" + view.identification.serial_number;
    // A recording follows its Controller across drops of the link; another
    // Controller's values do not belong in its file.
    Recording& r = t.recording;
    if (r.recorder.active() && r.controller.empty())
        r.controller = controller;
    if (r.recorder.active() && r.controller != controller) {
        log_message(norm_text, "Ответил другой Контроллер: запись значений в файл %s остановлена\n", r.name.c_str());
        stop_recording();
    }
    if (controller != t.controller) {
        t.ring.clear();
        t.controller = controller;
    }
    TrendPoint point = view.trend;
    point.time_ms = now_ms();
    add_point(point);
}

void went_stale(bool stale)
{
    if (stale)
        add_gap();
}

// ---- drawing --------------------------------------------------------------

struct Box {
    double x, y, width, height;
};

void set_colour(cairo_t* cr, const double (&rgb)[3]) { cairo_set_source_rgb(cr, rgb[0], rgb[1], rgb[2]); }

// Draws `text` with its top left corner at (x, y) (right edge at x when
// `right_aligned`); returns its width.
int draw_text(cairo_t* cr, GtkWidget* widget, const std::string& text, double x, double y, bool right_aligned = false)
{
    PangoLayout* layout = gtk_widget_create_pango_layout(widget, text.c_str());
    int width = 0, height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    cairo_move_to(cr, right_aligned ? x - width : x, y);
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
    return width;
}

int text_height(GtkWidget* widget)
{
    PangoLayout* layout = gtk_widget_create_pango_layout(widget, "0");
    int width = 0, height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    g_object_unref(layout);
    return height;
}

// 1, 2 or 5 times a power of ten, at least `rough`.
double nice_step(double rough)
{
    double power = std::pow(10.0, std::floor(std::log10(rough)));
    for (double m : {1.0, 2.0, 5.0, 10.0})
        if (m * power >= rough)
            return m * power;
    return 10.0 * power;
}

int step_decimals(double step) { return step >= 1.0 ? 0 : static_cast<int>(std::ceil(-std::log10(step) - 1e-9)); }

struct Span {
    int64_t from, to;   // ms
    size_t first;       // first point drawn: the last one before `from`, so lines enter from the edge
};

double x_of(const Box& b, const Span& s, int64_t time)
{
    return b.x + b.width * static_cast<double>(time - s.from) / static_cast<double>(s.to - s.from);
}

std::string clock_text(int64_t time_ms, bool seconds)
{
    GDateTime* t = g_date_time_new_from_unix_local(time_ms / 1000);
    if (!t)
        return "";
    gchar* text = g_date_time_format(t, seconds ? "%H:%M:%S" : "%H:%M");
    std::string result = text ? text : "";
    g_free(text);
    g_date_time_unref(t);
    return result;
}

void draw_time_axis(cairo_t* cr, GtkWidget* widget, const Box* panels, int panel_count, const Span& span,
                    double label_y)
{
    static const int64_t kSteps[] = {10, 30, 60, 120, 300, 600, 900, 1800, 3600, 7200, 10800, 21600};
    const Box& b = panels[0];
    int64_t length = span.to - span.from;
    int64_t step = kSteps[std::size(kSteps) - 1] * 1000;
    for (int64_t s : kSteps)
        if (length / (s * 1000) <= std::max(1.0, b.width / 90.0)) {
            step = s * 1000;
            break;
        }
    // Ticks on whole minutes and hours of the local clock.
    int64_t offset = local_utc_offset_s(span.to) * 1000LL;
    int64_t tick = ((span.from + offset + step - 1) / step) * step - offset;
    cairo_set_line_width(cr, 1.0);
    for (; tick <= span.to; tick += step) {
        double x = std::floor(x_of(b, span, tick)) + 0.5;
        cairo_set_source_rgb(cr, 0.88, 0.88, 0.88);
        for (int p = 0; p < panel_count; ++p) {
            cairo_move_to(cr, x, panels[p].y);
            cairo_line_to(cr, x, panels[p].y + panels[p].height);
        }
        cairo_stroke(cr);
        cairo_set_source_rgb(cr, 0.3, 0.3, 0.3);
        std::string label = clock_text(tick, step < 60 * 1000);
        PangoLayout* layout = gtk_widget_create_pango_layout(widget, label.c_str());
        int width = 0, height = 0;
        pango_layout_get_pixel_size(layout, &width, &height);
        if (x - width / 2.0 >= 0 && x + width / 2.0 <= b.x + b.width + 12) {
            cairo_move_to(cr, x - width / 2.0, label_y);
            pango_cairo_show_layout(cr, layout);
        }
        g_object_unref(layout);
    }
}

// One series as a line broken at every unmeasured value.
void draw_line(cairo_t* cr, const TrendRing& ring, const Span& span, const Box& b, int series, double low,
               double high)
{
    const double scale = trend_series(series).scale;
    auto y_of = [&](float v) { return b.y + b.height - b.height * (v * scale - low) / (high - low); };
    bool pen = false;
    int run = 0;
    double last_x = 0, last_y = 0;
    auto end_run = [&] {
        // A lone point between gaps still shows, as a dot.
        if (pen && run == 1)
            cairo_rectangle(cr, last_x - 1.0, last_y - 1.0, 2.0, 2.0);
        pen = false;
        run = 0;
    };
    for (size_t i = span.first; i < ring.size(); ++i) {
        const TrendPoint& p = ring.at(i);
        float v = p.value[series];
        if (!trend_value_valid(v)) {
            end_run();
            continue;
        }
        last_x = x_of(b, span, p.time_ms);
        last_y = y_of(v);
        ++run;
        if (pen) {
            cairo_line_to(cr, last_x, last_y);
        } else {
            cairo_move_to(cr, last_x, last_y);
            pen = true;
        }
    }
    end_run();
    cairo_stroke(cr);
}

// What one redraw needs of the points in view, gathered in one pass over
// them: each series' extent and, with more points than pixel columns, each
// column's extent, so that a day of points costs one walk through memory and
// one rectangle per column instead of a stroke through every point.
struct Column {
    float low, high, last;
    bool used = false;
    bool joins = false;   // the line comes into it from the column before
};

struct Summary {
    bool dense = false;
    float low[kTrendSeries], high[kTrendSeries];   // register units; low > high: nothing measured
    std::vector<Column> columns[kTrendSeries];
};

Summary summarise(const TrendRing& ring, const Span& span, const Box& b)
{
    Summary sum;
    const int width = std::max(1, static_cast<int>(b.width));
    sum.dense = ring.size() - span.first > 2 * static_cast<size_t>(width);
    std::fill(std::begin(sum.low), std::end(sum.low), HUGE_VALF);
    std::fill(std::begin(sum.high), std::end(sum.high), -HUGE_VALF);
    bool after_value[kTrendSeries] = {};
    int previous_column[kTrendSeries];
    std::fill(std::begin(previous_column), std::end(previous_column), -1);
    if (sum.dense)
        for (auto& columns : sum.columns)
            columns.resize(static_cast<size_t>(width));
    const double columns_per_ms = b.width / static_cast<double>(span.to - span.from);
    for (size_t i = span.first; i < ring.size(); ++i) {
        const TrendPoint& p = ring.at(i);
        int c = sum.dense ? std::clamp(static_cast<int>(static_cast<double>(p.time_ms - span.from) * columns_per_ms), 0,
                                       width - 1)
                          : 0;
        for (int s = 0; s < kTrendSeries; ++s) {
            float v = p.value[s];
            if (!trend_value_valid(v)) {
                after_value[s] = false;
                continue;
            }
            sum.low[s] = std::min(sum.low[s], v);
            sum.high[s] = std::max(sum.high[s], v);
            if (!sum.dense)
                continue;
            Column& column = sum.columns[s][static_cast<size_t>(c)];
            if (!column.used) {
                column = {v, v, v, true, after_value[s] && previous_column[s] == c - 1};
            } else {
                column.low = std::min(column.low, v);
                column.high = std::max(column.high, v);
                column.last = v;
            }
            after_value[s] = true;
            previous_column[s] = c;
        }
    }
    return sum;
}

void draw_columns(cairo_t* cr, const std::vector<Column>& columns, const Box& b, int series, double low,
                  double high)
{
    const double scale = trend_series(series).scale;
    auto y_of = [&](double v) { return b.y + b.height - b.height * (v * scale - low) / (high - low); };
    for (size_t c = 0; c < columns.size(); ++c) {
        const Column& column = columns[c];
        if (!column.used)
            continue;
        double top = column.high, bottom = column.low;
        if (column.joins) {
            top = std::max(top, static_cast<double>(columns[c - 1].last));
            bottom = std::min(bottom, static_cast<double>(columns[c - 1].last));
        }
        // Whole pixels: cairo fills aligned boxes without tessellating them.
        double y_top = std::floor(y_of(top) - 0.5), y_bottom = std::ceil(y_of(bottom) + 0.5);
        cairo_rectangle(cr, std::floor(b.x) + static_cast<double>(c), y_top, 2.0, y_bottom - y_top);
    }
    cairo_fill(cr);
}

std::string value_text(float value, int series)
{
    if (!trend_value_valid(value))
        return "—";
    const TrendSeriesInfo& info = trend_series(series);
    return format("%.*f", info.decimals, value * info.scale);
}

void draw_panel(cairo_t* cr, GtkWidget* widget, const TrendRing& ring, const Span& span, const Summary& sum,
                const Box& b, TrendPanel panel)
{
    int p = static_cast<int>(panel);
    double low = HUGE_VAL, high = -HUGE_VAL;
    for (int s = 0; s < kTrendSeries; ++s) {
        if (trend_series(s).panel != panel || sum.low[s] > sum.high[s])
            continue;
        low = std::min(low, sum.low[s] * trend_series(s).scale);
        high = std::max(high, sum.high[s] * trend_series(s).scale);
    }

    cairo_set_source_rgb(cr, 0.6, 0.6, 0.6);
    cairo_set_line_width(cr, 1.0);
    cairo_rectangle(cr, std::floor(b.x) + 0.5, std::floor(b.y) + 0.5, std::floor(b.width), std::floor(b.height));
    cairo_stroke(cr);

    int line = text_height(widget);
    // Values are drawn below the legend band, never under it.
    const Box plot{b.x, b.y + line + 6, b.width, b.height - line - 10};
    if (low <= high && plot.height > 4) {
        if (high - low < kMinValueSpan[p]) {
            double middle = (high + low) / 2;
            low = middle - kMinValueSpan[p] / 2;
            high = middle + kMinValueSpan[p] / 2;
        }
        int ticks = std::max(1, static_cast<int>(plot.height / (2.5 * line)));
        double step = nice_step((high - low) / ticks);
        double lowest = low, highest = high;
        low = std::floor(lowest / step) * step;
        high = std::ceil(highest / step) * step;
        // Rounding out to whole steps can add a step at each end; on a low
        // chart the labels would then stand on each other: fewer, wider steps.
        while (plot.height * step / (high - low) < 2 * line && (high - low) / step > 1) {
            step = nice_step(step * 1.5);
            low = std::floor(lowest / step) * step;
            high = std::ceil(highest / step) * step;
        }
        int decimals = step_decimals(step);
        cairo_set_line_width(cr, 1.0);
        for (double v = low; v <= high + step / 2; v += step) {
            double y = std::floor(plot.y + plot.height - plot.height * (v - low) / (high - low)) + 0.5;
            cairo_set_source_rgb(cr, 0.9, 0.9, 0.9);
            cairo_move_to(cr, b.x, y);
            cairo_line_to(cr, b.x + b.width, y);
            cairo_stroke(cr);
            cairo_set_source_rgb(cr, 0.3, 0.3, 0.3);
            double label_y = std::clamp(y - line / 2.0, b.y, b.y + b.height - line);
            draw_text(cr, widget, format("%.*f", decimals, std::fabs(v) < step / 2 ? 0.0 : v), b.x - 4, label_y, true);
        }
        cairo_save(cr);
        cairo_rectangle(cr, b.x, b.y + line + 3, b.width, b.height - line - 3);
        cairo_clip(cr);
        cairo_set_line_width(cr, 1.5);
        cairo_set_line_join(cr, CAIRO_LINE_JOIN_ROUND);
        for (int s = 0; s < kTrendSeries; ++s) {
            if (trend_series(s).panel != panel)
                continue;
            set_colour(cr, kColours[s]);
            if (sum.dense)
                draw_columns(cr, sum.columns[s], plot, s, low, high);
            else
                draw_line(cr, ring, span, plot, s, low, high);
        }
        cairo_restore(cr);
    }

    // Title and legend, with each series' latest value, on a light band.
    const TrendPoint& newest = ring.newest();
    double x = b.x + 6, y = b.y + 2;
    cairo_set_source_rgba(cr, 1, 1, 1, 0.8);
    cairo_rectangle(cr, b.x + 1, b.y + 1, b.width - 2, line + 2);
    cairo_fill(cr);
    cairo_set_source_rgb(cr, 0, 0, 0);
    std::string title = format("<b>%s</b>", trend_panel_title(panel));
    PangoLayout* layout = gtk_widget_create_pango_layout(widget, nullptr);
    pango_layout_set_markup(layout, title.c_str(), -1);
    int width = 0, height = 0;
    pango_layout_get_pixel_size(layout, &width, &height);
    cairo_move_to(cr, x, y);
    pango_cairo_show_layout(cr, layout);
    g_object_unref(layout);
    x += width + 14;
    for (int s = 0; s < kTrendSeries; ++s) {
        if (trend_series(s).panel != panel)
            continue;
        set_colour(cr, kColours[s]);
        cairo_set_line_width(cr, 3.0);
        cairo_move_to(cr, x, y + line / 2.0);
        cairo_line_to(cr, x + 14, y + line / 2.0);
        cairo_stroke(cr);
        cairo_set_source_rgb(cr, 0, 0, 0);
        x += 18 + draw_text(cr, widget, format("%s %s", trend_series(s).legend, value_text(newest.value[s], s).c_str()),
                            x + 18, y);
        x += 14;
    }
    if (low > high) {
        cairo_set_source_rgb(cr, 0.45, 0.45, 0.45);
        draw_text(cr, widget, "нет измерений", b.x + 6, b.y + b.height / 2 - line / 2.0);
    }
}

void draw_trends(cairo_t* cr, GtkWidget* widget, int width, int height)
{
    Trends& t = trends();
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_paint(cr);
    int line = text_height(widget);
    if (t.ring.empty()) {
        cairo_set_source_rgb(cr, 0.4, 0.4, 0.4);
        draw_text(cr, widget, "Значений еще нет: графики строятся по каждому циклу опроса Контроллера.", 12, 12);
        return;
    }

    Span span;
    span.to = t.ring.newest().time_ms;
    int row = t.range ? gtk_combo_box_get_active(GTK_COMBO_BOX(t.range)) : 0;
    int64_t range = row >= 0 && row < static_cast<int>(std::size(kRangeMs)) ? kRangeMs[row] : 0;
    span.from = range ? span.to - range : t.ring.at(0).time_ms;
    span.from = std::min(span.from, span.to - kMinSpanMs);
    size_t first = t.ring.first_at_or_after(span.from);
    span.first = first > 0 ? first - 1 : 0;

    const double left = 60, right = 14, top = 4, gap = 8;
    const double bottom = line + 8;
    double panel_height = (height - top - bottom - gap * (kTrendPanels - 1)) / kTrendPanels;
    if (panel_height < 2 * line || width < left + right + 40)
        return;
    Box boxes[kTrendPanels];
    for (int p = 0; p < kTrendPanels; ++p)
        boxes[p] = {left, top + p * (panel_height + gap), width - left - right, panel_height};
    draw_time_axis(cr, widget, boxes, kTrendPanels, span, height - bottom + 4);
    Summary sum = summarise(t.ring, span, boxes[0]);
    for (int p = 0; p < kTrendPanels; ++p)
        draw_panel(cr, widget, t.ring, span, sum, boxes[p], static_cast<TrendPanel>(p));
}

// ---- recording ------------------------------------------------------------

std::string proposed_file_name()
{
    GDateTime* now = g_date_time_new_now_local();
    gchar* date = g_date_time_format(now, "%Y-%m-%d_%H-%M-%S");
    g_date_time_unref(now);
    std::string serial = trends().controller.substr(trends().controller.find('/') + 1);
    std::string name = format("RARUR_%s_%s.csv", serial.empty() ? "values" : serial.c_str(), date ? date : "");
    g_free(date);
    return name;
}

// The chosen file in the file system's encoding; "" when not accepted.
std::string choose_file(std::string& utf8_name)
{
    GtkWidget* dialog = gtk_file_chooser_dialog_new(
        "Записывать значения", main_window(), GTK_FILE_CHOOSER_ACTION_SAVE,
        GTK_STOCK_CANCEL, GTK_RESPONSE_CANCEL, GTK_STOCK_SAVE, GTK_RESPONSE_ACCEPT, nullptr);
    set_accessible_id(dialog, "RecordValuesDialog");
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, "Значения CSV (*.csv)");
    gtk_file_filter_add_pattern(filter, "*.csv");
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(dialog), filter);
    gtk_file_chooser_set_do_overwrite_confirmation(GTK_FILE_CHOOSER(dialog), TRUE);
    file_chooser_start_in_last_folder(GTK_FILE_CHOOSER(dialog));
    gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(dialog), proposed_file_name().c_str());
    std::string name;
    if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
        file_chooser_remember_folder(GTK_FILE_CHOOSER(dialog));
        if (gchar* file = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog))) {
            name = file;
            gchar* utf8 = g_filename_display_name(file);
            utf8_name = utf8 ? utf8 : "";
            g_free(utf8);
            g_free(file);
        }
    }
    gtk_widget_destroy(dialog);
    return name;
}

void start_recording()
{
    Trends& t = trends();
    const char* not_connected = "Значения записываются во время связи с Контроллером: подключитесь к Контроллеру.";
    if (!app.link_open) {
        set_record_item(false);
        show_message(GTK_MESSAGE_INFO, "%s", not_connected);
        return;
    }
    std::string utf8;
    std::string name = choose_file(utf8);
    if (name.empty()) {
        set_record_item(false);
        return;
    }
    // The link may have ended while the dialog was open.
    if (!app.link_open) {
        set_record_item(false);
        show_message(GTK_MESSAGE_INFO, "%s", not_connected);
        return;
    }
    Recording& r = t.recording;
    unsigned generation = ++r.generation;
    int started = r.recorder.start(name, utf8, [generation, utf8](std::string error) {
        gdk_threads_add_idle(recording_failed, new RecordingFailure{generation, utf8, std::move(error)});
    });
    if (started != 0) {
        log_message(err_text, "Не удается записать значения в файл %s: система не дала создать поток\n", utf8.c_str());
        set_record_item(false);
        return;
    }
    r.name = utf8;
    r.controller = t.controller;
    log_message(norm_text, "Запись значений в файл %s\n", utf8.c_str());
    show_recording_label();
}

} // namespace

extern "C" {

gboolean TrendsArea_expose_event_cb(GtkWidget* widget, GdkEventExpose* event, gpointer)
{
    cairo_t* cr = gdk_cairo_create(gtk_widget_get_window(widget));
    gdk_cairo_region(cr, event->region);
    cairo_clip(cr);
    GtkAllocation allocation;
    gtk_widget_get_allocation(widget, &allocation);
    draw_trends(cr, widget, allocation.width, allocation.height);
    cairo_destroy(cr);
    return TRUE;
}

void TrendsRange_changed_cb(GtkComboBox*, gpointer) { redraw(); }

void RecordValues_toggled_cb(GtkCheckMenuItem* item, gpointer)
{
    if (trends().setting_item)
        return;
    if (gtk_check_menu_item_get_active(item))
        start_recording();
    else
        stop_recording();
}

} // extern "C"

void trends_register_handlers()
{
    register_handler("TrendsArea_expose_event_cb", G_CALLBACK(TrendsArea_expose_event_cb));
    register_handler("TrendsRange_changed_cb", G_CALLBACK(TrendsRange_changed_cb));
    register_handler("RecordValues_toggled_cb", G_CALLBACK(RecordValues_toggled_cb));
}

void trends_install()
{
    Trends& t = trends();
    t.area = widget_by_id("TrendsArea");
    t.range = widget_by_id("TrendsRange");
    t.recording_label = widget_by_id("TrendsRecording");
    t.record_item = widget_by_id("menuRecordValues");
    display_set_applier(DisplayStep::Trends, apply_cycle);
    display_add_stale_listener(went_stale);
}

void trends_finish_for_exit()
{
    // Two seconds cover any disk; a file that blocks for longer is given up.
    constexpr auto kExitBound = std::chrono::seconds(2);
    stop_recording();
    trend_recorders_finish(kExitBound);
}

void trends_link_ended()
{
    // The recording waits for its Controller to answer again: the gap row
    // marks the time without values.
    add_gap();
}
