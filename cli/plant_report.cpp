#include "cli/plant_report.h"

#include <array>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include <glib.h>

#include "status/active_lists.h"

namespace {

// ---- markup ----

// One entity at `text[i]` ('&'); appends what it stands for and returns the
// length taken, or 0 when it is no entity (the '&' is then kept as it is).
size_t decode_entity(const std::string& text, size_t i, std::string& out)
{
    size_t end = text.find(';', i);
    if (end == std::string::npos || end - i > 10)
        return 0;
    std::string name = text.substr(i + 1, end - i - 1);
    static const std::pair<const char*, const char*> kNamed[] = {
        {"lt", "<"}, {"gt", ">"}, {"amp", "&"}, {"quot", "\""}, {"apos", "'"}};
    for (const auto& [entity, character] : kNamed)
        if (name == entity) {
            out += character;
            return end - i + 1;
        }
    if (name.size() < 2 || name[0] != '#')
        return 0;
    bool hex = name[1] == 'x' || name[1] == 'X';
    const char* digits = name.c_str() + (hex ? 2 : 1);
    if (!*digits)
        return 0;
    char* stop = nullptr;
    unsigned long code = std::strtoul(digits, &stop, hex ? 16 : 10);
    if (*stop || code == 0 || !g_unichar_validate(static_cast<gunichar>(code)))
        return 0;
    char utf8[8];
    out.append(utf8, static_cast<size_t>(g_unichar_to_utf8(static_cast<gunichar>(code), utf8)));
    return end - i + 1;
}

// ---- JSON ----

// A small writer: keys and strings escaped, numbers in the C locale's form
// whatever LC_NUMERIC says, commas where they belong.
class Json {
public:
    Json& open(char bracket)
    {
        comma();
        out_ += bracket;
        first_ = true;
        return *this;
    }
    Json& close(char bracket)
    {
        out_ += bracket;
        first_ = false;
        return *this;
    }
    Json& key(const char* name)
    {
        comma();
        string(name);
        out_ += ':';
        first_ = true;   // the value follows without a comma
        return *this;
    }
    Json& object(const char* name) { return key(name).open('{'); }
    Json& array(const char* name) { return key(name).open('['); }
    Json& str(const std::string& value)
    {
        comma();
        string(value);
        return *this;
    }
    Json& boolean(bool value)
    {
        comma();
        out_ += value ? "true" : "false";
        return *this;
    }
    Json& null()
    {
        comma();
        out_ += "null";
        return *this;
    }
    Json& integer(long long value)
    {
        comma();
        out_ += std::to_string(value);
        return *this;
    }
    // A measured value with `decimals`; NaN (not measured) is null.
    Json& number(double value, int decimals)
    {
        if (std::isnan(value))
            return null();
        comma();
        char buffer[G_ASCII_DTOSTR_BUF_SIZE];
        char pattern[8];
        g_snprintf(pattern, sizeof pattern, "%%.%df", decimals);
        g_ascii_formatd(buffer, sizeof buffer, pattern, value);
        std::string text = buffer;
        // -0.001 shown with two decimals is a zero, not a negative value.
        if (text[0] == '-' && text.find_first_not_of("-0.") == std::string::npos)
            text.erase(0, 1);
        out_ += text;
        return *this;
    }
    Json& field(const char* name, const std::string& value) { return key(name).str(value); }
    // A text literal or table entry is a string, not the bool it would convert to.
    Json& field(const char* name, const char* value) { return key(name).str(value ? value : ""); }
    Json& field(const char* name, bool value) { return key(name).boolean(value); }
    Json& field(const char* name, long long value) { return key(name).integer(value); }
    Json& field(const char* name, double value, int decimals) { return key(name).number(value, decimals); }
    std::string text() const { return out_; }

private:
    void comma()
    {
        if (!first_)
            out_ += ',';
        first_ = false;
    }
    void string(const std::string& value)
    {
        out_ += '"';
        for (unsigned char c : value) {
            switch (c) {
            case '"': out_ += "\\\""; break;
            case '\\': out_ += "\\\\"; break;
            case '\n': out_ += "\\n"; break;
            case '\r': out_ += "\\r"; break;
            case '\t': out_ += "\\t"; break;
            default:
                if (c < 0x20) {
                    char escaped[8];
                    std::snprintf(escaped, sizeof escaped, "\\u%04x", c);
                    out_ += escaped;
                } else {
                    out_ += static_cast<char>(c);
                }
            }
        }
        out_ += '"';
    }

    std::string out_;
    bool first_ = true;
};

// Texts of the Controller (names) that are not valid UTF-8 never reach the
// output as they are: JSON and the engines need UTF-8.
std::string valid_utf8(const std::string& text)
{
    if (g_utf8_validate(text.data(), static_cast<gssize>(text.size()), nullptr))
        return text;
    gchar* fixed = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    std::string s = fixed;
    g_free(fixed);
    return s;
}

std::string plain(const std::optional<std::string>& markup) { return markup ? valid_utf8(markup_text(*markup)) : ""; }
std::string plain(const WidgetView& view) { return plain(view.markup); }
bool shown(const WidgetView& view) { return view.visible.value_or(true); }
// List cells are plain text (the lists show no markup): a name is taken as
// it is, whatever characters it holds.
std::string cell(const ListRow& row, int column)
{
    const std::string* text = row.cell(column);
    return text ? valid_utf8(*text) : "";
}
// A quoted name of the window's lists ("\"Связь\"") as the bare name.
std::string unquoted(std::string name)
{
    if (name.size() >= 2 && name.front() == '"' && name.back() == '"')
        name = name.substr(1, name.size() - 2);
    return name;
}

float trend_value(const CycleView& v, TrendSeries series) { return v.trend.value[static_cast<int>(series)]; }
double scaled(const CycleView& v, TrendSeries series)
{
    float value = trend_value(v, series);
    return trend_value_valid(value) ? value * trend_series(static_cast<int>(series)).scale : NAN;
}
int decimals(TrendSeries series) { return trend_series(static_cast<int>(series)).decimals; }

const char* const kListKeys[kActiveListCount] = {"alarm1", "alarm2", "relay1", "relay2", "relay3", "relay4"};
const char* const kListTitles[kActiveListCount] = {"Аварии 1 степени",    "Аварии 2 степени",    "Сигнальное реле 1",
                                                   "Сигнальное реле 2", "Сигнальное реле 3", "Сигнальное реле 4"};

std::string join(const std::string& a, const std::string& b, const char* between = " ")
{
    if (a.empty())
        return b;
    if (b.empty())
        return a;
    return a + between + b;
}

// ISO 8601 in the Controller's zone ("2026-12-09T05:29:51+03:00"): the same
// whatever the locale, unlike the window's "%d %b %Y %X".
std::string controller_time_iso(uint32_t seconds, int offset_min)
{
    time_t local = static_cast<time_t>(static_cast<int64_t>(seconds) + offset_min * 60LL);
    struct tm tm {};
    gmtime_r(&local, &tm);
    int magnitude = std::abs(offset_min);
    char text[64];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02d%c%02d:%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, offset_min < 0 ? '-' : '+', magnitude / 60,
                  magnitude % 60);
    return text;
}

// ---- check ----

const char* const kStateNames[] = {"OK", "WARNING", "CRITICAL", "UNKNOWN"};

// The engines take everything after the first '|' as performance data and
// read one line: the summary keeps neither.
std::string summary_safe(std::string text)
{
    for (char& c : text)
        if (c == '|')
            c = '/';
        else if (c == '\n' || c == '\r')
            c = ' ';
    return text;
}

// "'label'=value[unit];;;;" with U for a value the Controller did not measure.
void perf(std::string& out, const char* label, double value, int decimals_, const char* unit)
{
    out += out.empty() ? "" : " ";
    out += "'";
    out += label;
    out += "'=";
    if (std::isnan(value)) {
        out += "U";
        return;
    }
    char buffer[G_ASCII_DTOSTR_BUF_SIZE];
    char pattern[8];
    g_snprintf(pattern, sizeof pattern, "%%.%df", decimals_);
    g_ascii_formatd(buffer, sizeof buffer, pattern, value);
    out += buffer;
    out += unit;
}

// At most three texts of a list, then how many more.
std::string some_texts(const std::vector<std::string>& rows)
{
    std::string s;
    size_t shown_rows = std::min<size_t>(rows.size(), 3);
    for (size_t i = 0; i < shown_rows; ++i)
        s = join(s, rows[i], ", ");
    if (rows.size() > shown_rows)
        s += " и ещё " + std::to_string(rows.size() - shown_rows);
    return s;
}

}  // namespace

std::string markup_text(const std::string& markup)
{
    std::string out;
    for (size_t i = 0; i < markup.size();) {
        char c = markup[i];
        if (c == '<') {
            size_t end = markup.find('>', i);
            if (end == std::string::npos)
                break;   // a cut-off tag shows nothing
            i = end + 1;
            continue;
        }
        if (c == '&') {
            size_t taken = decode_entity(markup, i, out);
            if (taken) {
                i += taken;
                continue;
            }
        }
        out += c;
        ++i;
    }
    return out;
}

std::string plant_status_text(const CycleView& v, bool color)
{
    // What the window shows as an alarm (red) is bold red on a terminal.
    auto t = [color](const WidgetView& w) {
        std::string text = plain(w);
        return color && w.alarm && !text.empty() ? "\033[1;31m" + text + "\033[0m" : text;
    };
    std::string s;
    auto line = [&s](const std::string& text) { s += text + "\n"; };
    const IdentificationView& id = v.identification;

    line("Контроллер");
    line("  Код устройства: " + id.device_code);
    line("  Версия протокола: " + id.protocol_version);
    line("  Версия ПО: " + id.sw_version);
    line("  Серийный номер: " + id.serial_number);
    line("  Комментарий: " + valid_utf8(v.device_comment));
    line("  Время контроллера: " + v.device_time);
    line("  Запись журнала: " + id.journal_record);
    line("  Последний тест батареи: " + id.newest_test_slot);
    line("  Последний разряд батареи: " + id.newest_discharge_slot);
    line("  Регистры 7, 9, 11, 13, 14: " + id.other_registers);

    // The summary strip.
    std::string mains;
    for (const WidgetView& phase : v.summary_mains.phase)
        if (shown(phase))
            mains = join(mains, t(phase));
    if (v.summary_mains.energosafe.visible.value_or(false))
        mains = join(mains, "(Энергосбережение)");
    line(t(v.summary_mains.label) + ": " + mains);
    std::string load = join(t(v.summary_load.voltage), t(v.summary_load.current));
    if (v.summary_load.tk.visible.value_or(false))
        load += " ТК";
    line(t(v.summary_load.label) + ": " + load);
    std::string battery = t(v.summary_battery.status);
    if (shown(v.summary_battery.current))
        battery = join(battery, t(v.summary_battery.current));
    line(t(v.summary_battery.label) + ": " + battery);
    line(t(v.summary_alarms.label) + ": " + t(v.summary_alarms.count1) + " / " + t(v.summary_alarms.count2));

    // The six lists of active events.
    for (int k = 0; k < kActiveListCount; ++k) {
        line("");
        line(kListTitles[k]);
        if (v.event_lists.rows[k].empty())
            line("  —");
        for (const std::string& row : v.event_lists.rows[k])
            line("  " + valid_utf8(row));
    }

    line("");
    line("Сеть");
    for (int i = 0; i < 3; ++i) {
        if (!v.mains_page.phase_label[i].visible.value_or(false))
            continue;
        std::string value = shown(v.mains_page.phase_value[i]) ? t(v.mains_page.phase_value[i]) : "";
        line("  Ф" + std::to_string(i + 1) + ": " + join(value, t(v.mains_page.phase_status[i])));
    }
    if (v.mains_page.lighting_status.visible.value_or(false))
        line("  Грозозащита: " + t(v.mains_page.lighting_status));

    line("");
    line("Нагрузка");
    std::string voltage = t(v.load_page.voltage);
    if (v.load_page.tk.visible.value_or(false))
        voltage += " ТК";
    line("  Напряжение: " + voltage);
    line("  Ток: " + t(v.load_page.current));
    for (const AutomatRow& row : v.load_page.rows)
        line("  " + join(join(row.automat, row.status_name), valid_utf8(row.name)));

    line("");
    line("Аккумуляторные батареи");
    line("  Режим: " + t(v.battery_page.status));
    line("  Ток АБ: " + t(v.battery_page.current));
    for (const BatteryGroupView& group : v.battery_page.groups) {
        const BatteryRow& r = group.row;
        line("  " + r.element_name + ": " + r.status + ", " + r.voltage + ", " + r.current_temp + ", автомат " +
             r.bga_status);
        for (const BatteryRow& b : group.blocks)
            line("    " + b.element_name + ": " + b.status + ", " + b.voltage + ", " + b.current_temp);
    }

    auto list = [&](const char* title, const ListView& view, std::initializer_list<int> columns) {
        line("");
        line(title);
        if (view.rows.empty())
            line("  —");
        for (const ListRow& row : view.rows) {
            std::string text;
            for (int column : columns)
                text = join(text, cell(row, column));
            line("  " + text);
        }
    };
    list("Контакторы", v.contactors, {1, 2, 3, 4});
    list("Выпрямительные модули", v.rectifiers, {1, 2, 3, 4});

    line("");
    line("Температура");
    line("  Т1: " + t(v.temperatures.t1));
    if (v.temperatures.t2.visible.value_or(false))
        line("  Т2: " + t(v.temperatures.t2));

    list("Сухие контакты", v.dry_contacts, {1, 2, 3});
    list("Модули расширения УКДВ", v.ukdv, {1, 2});
    list("Модули расширения УПКБ", v.upkb, {1, 2});
    return s;
}

namespace {

// A measured value or null, as its view marks it.
double measured(bool is_measured, double value) { return is_measured ? value : NAN; }

void json_controller(Json& j, const CycleView& v)
{
    const StatusImage& s = v.status;
    j.object("controller");
    j.field("device_code", static_cast<long long>(device_code(s)));
    j.field("protocol_version", static_cast<long long>(protocol_version(s)));
    j.field("layout", static_cast<long long>(v.layout));
    j.field("software_version", static_cast<long long>(software_version(s)));
    j.field("serial_number", static_cast<long long>(serial_number(s)));
    j.field("comment", valid_utf8(v.device_comment));
    j.field("time", static_cast<long long>(v.device_seconds));
    j.field("time_local", controller_time_iso(v.device_seconds, v.device_utc_offset_min));
    j.field("journal_record", static_cast<long long>(journal_start_record(s)));
    j.field("newest_test_slot", static_cast<long long>(newest_test_slot(s)));
    j.field("newest_discharge_slot", static_cast<long long>(newest_discharge_slot(s)));
    j.close('}');
}

void json_mains(Json& j, const CycleView& v)
{
    j.object("mains");
    j.field("alarm", v.condition.mains_alarmed);
    j.field("lost", v.condition.mains_lost);
    j.field("energy_saving", v.summary_mains.energosafe.visible.value_or(false));
    j.array("phases");
    for (int i = 0; i < 3; ++i) {
        if (!v.summary_mains.phase[i].visible.value_or(false))
            continue;
        TrendSeries series = static_cast<TrendSeries>(static_cast<int>(TrendSeries::MainsL1) + i);
        j.open('{');
        j.field("phase", static_cast<long long>(i + 1));
        j.field("voltage", scaled(v, series), decimals(series));
        j.field("state", static_cast<long long>(phase_state(v.status, i + 1)));
        j.field("state_text", plain(v.mains_page.phase_status[i]));
        j.close('}');
    }
    j.close(']');
    if (v.mains_page.lighting_status.visible.value_or(false))
        j.object("lightning_protection")
            .field("state", static_cast<long long>(lightning_state(v.status)))
            .field("state_text", plain(v.mains_page.lighting_status))
            .close('}');
    else
        j.key("lightning_protection").null();
    j.close('}');
}

void json_load(Json& j, const CycleView& v)
{
    j.object("load");
    j.field("alarm", v.condition.load_alarmed);
    j.field("voltage", scaled(v, TrendSeries::LoadVoltage), decimals(TrendSeries::LoadVoltage));
    j.field("current", scaled(v, TrendSeries::LoadCurrent), decimals(TrendSeries::LoadCurrent));
    j.field("state", static_cast<long long>(load_state(v.status)));
    j.field("thermal_compensation", v.load_page.tk.visible.value_or(false));
    j.array("breakers");
    for (const AutomatRow& row : v.load_page.rows) {
        j.open('{');
        j.field("name", row.automat);
        j.field("label", valid_utf8(unquoted(row.name)));
        j.field("state", static_cast<long long>(row.state.code));
        j.field("state_text", row.status_name);
        j.close('}');
    }
    j.close(']');
    j.close('}');
}

void json_battery(Json& j, const CycleView& v)
{
    const PlantCondition& cond = v.condition;
    j.object("battery");
    j.field("fitted", cond.battery_fitted);
    j.field("alarm", cond.battery_alarmed);
    j.field("mode", static_cast<long long>(cond.battery_mode));
    j.field("mode_text", battery_mode_text(cond.battery_mode));
    j.field("discharging", cond.battery_discharging);
    j.field("current", scaled(v, TrendSeries::BatteryCurrent), decimals(TrendSeries::BatteryCurrent));
    j.array("groups");
    int group = 0;
    for (const BatteryGroupView& g : v.battery_page.groups) {
        j.open('{');
        j.field("group", static_cast<long long>(group + 1));
        j.field("connection", static_cast<long long>(g.row.state.code));
        j.field("connection_text", g.row.status);
        j.field("breaker", static_cast<long long>(g.row.breaker.code));
        j.field("breaker_text", g.row.bga_status);
        j.field("voltage", measured(g.row.measured, group_voltage(v.status, group) / 100.0), 2);
        j.field("current", measured(g.row.measured, group_current(v.status, group) / 1000.0), 3);
        j.array("blocks");
        int block = 0;
        for (const BatteryRow& b : g.blocks) {
            j.open('{');
            j.field("block", static_cast<long long>(block + 1));
            j.field("state", static_cast<long long>(b.state.code));
            j.field("state_text", b.status);
            j.field("voltage", measured(b.measured, block_voltage(v.status, group, block) / 100.0), 2);
            j.field("temperature", measured(b.measured, block_temperature(v.status, group, block) / 10.0), 1);
            j.close('}');
            ++block;
        }
        j.close(']');
        j.close('}');
        ++group;
    }
    j.close(']');
    j.close('}');
}

void json_active_lists(Json& j, const CycleView& v)
{
    j.array("active_lists");
    for (int k = 0; k < kActiveListCount; ++k) {
        j.open('{');
        j.field("list", std::string(kListKeys[k]));
        j.field("title", std::string(kListTitles[k]));
        j.array("events");
        const auto& rows = v.event_lists.rows[k];
        const auto& codes = v.event_lists.codes[k];
        for (size_t i = 0; i < rows.size(); ++i) {
            j.open('{');
            if (i < codes.size())
                j.field("code", static_cast<long long>(codes[i]));
            else
                j.key("code").null();
            j.field("text", valid_utf8(rows[i]));
            j.close('}');
        }
        j.close(']');
        j.close('}');
    }
    j.close(']');
}

void json_equipment(Json& j, const CycleView& v)
{
    j.array("contactors");
    int n = 0;
    for (const ListRow& row : v.contactors.rows) {
        j.open('{');
        j.field("name", cell(row, 1));
        j.field("label", unquoted(cell(row, 4)));
        j.field("closed", contactor_closed(v.status, n++));
        j.field("state", static_cast<long long>(row.state.code));
        j.field("state_text", cell(row, 3));
        j.close('}');
    }
    j.close(']');

    j.array("rectifiers");
    int m = 0;
    for (const ListRow& row : v.rectifiers.rows) {
        j.open('{');
        j.field("name", cell(row, 1));
        j.field("state", static_cast<long long>(row.state.code));
        j.field("state_text", cell(row, 2));
        j.field("voltage", measured(row.measured, rectifier_voltage(v.status, v.layout, m) / 100.0), 2);
        j.field("current", measured(row.measured, rectifier_current(v.status, v.layout, m) / 100.0), 2);
        j.close('}');
        ++m;
    }
    j.close(']');

    const TemperaturesView& t = v.temperatures;
    j.object("temperatures");
    j.object("sensor1");
    j.field("temperature", scaled(v, TrendSeries::Temperature1), decimals(TrendSeries::Temperature1));
    j.field("second_value", measured(t.t1.measured, sensor1_second_value(v.status) / 10.0), 1);
    j.field("state", static_cast<long long>(sensor1_state(v.status)));
    j.close('}');
    if (t.t2.visible.value_or(false)) {
        j.object("sensor2");
        j.field("temperature", scaled(v, TrendSeries::Temperature2), decimals(TrendSeries::Temperature2));
        j.field("state", static_cast<long long>(sensor2_state(v.status)));
        j.close('}');
    } else {
        j.key("sensor2").null();
    }
    j.close('}');

    j.array("dry_contacts");
    for (const ListRow& row : v.dry_contacts.rows) {
        j.open('{');
        j.field("name", cell(row, 1));
        j.field("label", unquoted(cell(row, 2)));
        j.field("state", static_cast<long long>(row.state.code));
        j.field("state_text", cell(row, 3));
        j.close('}');
    }
    j.close(']');

    j.object("extension_units");
    auto units = [&](const char* name, const ListView& view, uint16_t missing) {
        j.array(name);
        for (size_t k = 0; k < view.rows.size(); ++k) {
            j.open('{');
            j.field("address", static_cast<long long>(k));
            j.field("missing", k < 16 && ((missing >> k) & 1) != 0);
            j.field("state_text", cell(view.rows[k], 2));
            j.close('}');
        }
        j.close(']');
    };
    units("ukdv", v.ukdv, v.status.extensions[1]);
    units("upkb", v.upkb, v.status.extensions[0]);
    j.close('}');
}

// What of the plant is in a state the Controller defines no meaning for, by
// the name the window gives it.
std::vector<std::string> unknown_states(const CycleView& v)
{
    std::vector<std::string> names;
    for (int i = 0; i < 3; ++i)
        if (v.mains_page.phase_status[i].unknown_code || v.summary_mains.phase[i].unknown_code)
            names.push_back("Ф" + std::to_string(i + 1));
    if (v.load_page.voltage.unknown_code || v.summary_load.voltage.unknown_code)
        names.push_back("нагрузка");
    for (const AutomatRow& row : v.load_page.rows)
        if (row.state.unknown)
            names.push_back(row.automat);
    for (const BatteryGroupView& g : v.battery_page.groups) {
        if (g.row.state.unknown || g.row.breaker.unknown)
            names.push_back(g.row.element_name);
        for (const BatteryRow& b : g.blocks)
            if (b.state.unknown)
                names.push_back(g.row.element_name + ", " + b.element_name);
    }
    for (const ListView* list : {&v.contactors, &v.rectifiers, &v.dry_contacts})
        for (const ListRow& row : list->rows)
            if (row.state.unknown)
                names.push_back(cell(row, 1));
    if (v.temperatures.t2.unknown_code)
        names.push_back("Т2");
    return names;
}

}  // namespace

std::string plant_status_json(const CycleView& v, const std::string& address)
{
    Json j;
    j.open('{');
    j.field("address", valid_utf8(address));
    json_controller(j, v);
    j.object("alarms");
    j.field("first_degree", static_cast<long long>(v.condition.alarm1));
    j.field("second_degree", static_cast<long long>(v.condition.alarm2));
    j.close('}');
    json_mains(j, v);
    json_load(j, v);
    json_battery(j, v);
    json_active_lists(j, v);
    json_equipment(j, v);
    j.close('}');
    return j.text() + "\n";
}

CheckResult plant_check(const CycleView& v)
{
    const PlantCondition& c = v.condition;
    CheckState state = CheckState::Ok;
    auto raise = [&state](CheckState to) {
        if (static_cast<int>(to) > static_cast<int>(state))
            state = to;
    };
    std::string problems;
    if (c.mains_lost) {
        raise(CheckState::Critical);
        problems = join(problems, "нет сети", "; ");
    }
    if (c.alarm1 > 0) {
        raise(CheckState::Critical);
        problems = join(problems, "аварии 1 степени: " + join(std::to_string(c.alarm1),
                                                              v.event_lists.rows[0].empty() ? ""
                                                              : "(" + some_texts(v.event_lists.rows[0]) + ")"),
                        "; ");
    }
    if (c.alarm2 > 0) {
        raise(CheckState::Warning);
        problems = join(problems, "аварии 2 степени: " + join(std::to_string(c.alarm2),
                                                              v.event_lists.rows[1].empty() ? ""
                                                              : "(" + some_texts(v.event_lists.rows[1]) + ")"),
                        "; ");
    }
    if (c.battery_discharging) {
        raise(CheckState::Warning);
        // Said once when an alarm's text already says it.
        if (problems.find(battery_mode_text(c.battery_mode)) == std::string::npos)
            problems = join(problems, battery_mode_text(c.battery_mode), "; ");
    }
    // A state the Controller gives no meaning may stand for an alarm: never OK.
    if (std::vector<std::string> unknown = unknown_states(v); !unknown.empty()) {
        raise(CheckState::Warning);
        problems = join(problems, "неизвестное состояние: " + some_texts(unknown), "; ");
    }

    std::string who = join(valid_utf8(v.device_comment), "№" + v.identification.serial_number);
    std::string summary = problems.empty() ? "аварий нет, " + std::string(c.battery_fitted
                                                                               ? battery_mode_text(c.battery_mode)
                                                                               : "нет батареи")
                                           : problems;

    std::string data;
    for (int i = 0; i < 3; ++i) {
        if (!v.summary_mains.phase[i].visible.value_or(false))
            continue;
        TrendSeries series = static_cast<TrendSeries>(static_cast<int>(TrendSeries::MainsL1) + i);
        std::string label = "mains_l" + std::to_string(i + 1);
        perf(data, label.c_str(), scaled(v, series), decimals(series), "V");
    }
    perf(data, "load_voltage", scaled(v, TrendSeries::LoadVoltage), decimals(TrendSeries::LoadVoltage), "V");
    perf(data, "load_current", scaled(v, TrendSeries::LoadCurrent), decimals(TrendSeries::LoadCurrent), "A");
    if (c.battery_fitted)
        perf(data, "battery_current", scaled(v, TrendSeries::BatteryCurrent), decimals(TrendSeries::BatteryCurrent),
             "A");
    perf(data, "temperature1", scaled(v, TrendSeries::Temperature1), decimals(TrendSeries::Temperature1), "C");
    if (v.temperatures.t2.visible.value_or(false))
        perf(data, "temperature2", scaled(v, TrendSeries::Temperature2), decimals(TrendSeries::Temperature2), "C");
    perf(data, "alarms1", c.alarm1, 0, "");
    perf(data, "alarms2", c.alarm2, 0, "");

    CheckResult r;
    r.state = state;
    r.line = std::string("RARUR ") + kStateNames[static_cast<int>(state)] + " - " + summary_safe(who + ": " + summary) +
             " | " + data;
    return r;
}

CheckResult plant_check_unknown(const std::string& why)
{
    return {CheckState::Unknown, "RARUR UNKNOWN - " + summary_safe(valid_utf8(why))};
}
