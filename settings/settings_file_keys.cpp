#include "settings/settings_file_keys.h"

#include <glib.h>

#include <cmath>
#include <cstdlib>
#include <string_view>
#include <unordered_map>

#include "base/text_format.h"
#include "settings/rules.h"

namespace settings_file_keys {

namespace {

using F = SettingsField;

// What reading a key file gives back for a value written as `text`. A key file
// drops leading white space it has no escape for, such as a form feed, which a
// Controller's text may start with; its [raw] words still hold it.
std::string as_read_back(const std::string& text)
{
    GKeyFile* file = g_key_file_new();
    g_key_file_set_string(file, kSettings, "v", text.c_str());
    const std::string data = key_file_text_and_free(file);
    file = g_key_file_new();
    gchar* value = g_key_file_load_from_data(file, data.data(), data.size(), G_KEY_FILE_NONE, nullptr)
                       ? g_key_file_get_string(file, kSettings, "v", nullptr)
                       : nullptr;
    std::string read = value ? value : "";
    g_free(value);
    g_key_file_free(file);
    return read;
}

} // namespace

bool in_layout(const SettingsBinding& b, int layout)
{
    return (b.layouts >> (layout - 1) & 1) && settings_word(b.field, layout) >= 0;
}

// A file names each of its ~100 values by key: an index keeps reading and
// loading linear in the size of the file.
const SettingsBinding* binding_by_key(const std::string& key)
{
    static const std::unordered_map<std::string_view, const SettingsBinding*> index = [] {
        std::unordered_map<std::string_view, const SettingsBinding*> keys;
        for (const SettingsBinding& b : settings_bindings())
            keys.emplace(b.key, &b);
        return keys;
    }();
    auto it = index.find(key);
    return it == index.end() ? nullptr : it->second;
}

bool is_password(const SettingsBinding& b) { return b.field == F::Password || b.field == F::MonitoringPassword; }

std::string number_text(double value, int digits)
{
    char buf[G_ASCII_DTOSTR_BUF_SIZE];
    g_ascii_formatd(buf, sizeof buf, format("%%.%df", digits).c_str(), value);
    return buf;
}

// The value as the page shows it; numbers with a point whatever the locale.
// `rows`: an older file's combos, by row number.
std::string value_text(const SettingsBinding& b, const SettingsImage& image, bool rows)
{
    ControlValue v = settings_control_value(b, image);
    switch (b.kind) {
    case ControlKind::Spin: return number_text(v.number, b.digits);
    case ControlKind::Combo: return rows ? std::to_string(v.row) : settings_combo_text(b, v.row);
    case ControlKind::Check: return v.active ? "true" : "false";
    case ControlKind::Entry:
    case ControlKind::AddressByte: break;
    }
    return v.text;
}

std::string raw_key(int word) { return format("w%04d", word); }

// A decimal number with an optional sign and point: no hexadecimal, exponent,
// "inf" or white space, which a person would not read as the page's number.
bool parse_number(const std::string& text, double& out)
{
    size_t i = text.size() && (text[0] == '-' || text[0] == '+') ? 1 : 0;
    size_t digits = 0, points = 0;
    for (; i < text.size(); ++i) {
        if (g_ascii_isdigit(text[i]))
            ++digits;
        else if (text[i] == '.' && ++points == 1)
            continue;
        else
            return false;
    }
    if (digits == 0)
        return false;
    out = g_ascii_strtod(text.c_str(), nullptr);
    return std::isfinite(out);
}

// At most nine digits of the base unless told otherwise, so any value fits an int.
bool parse_integer(const std::string& text, int base, long& out, size_t max_digits)
{
    if (text.empty() || text.size() > max_digits)
        return false;
    for (char c : text)
        if (base == 16 ? !g_ascii_isxdigit(c) : !g_ascii_isdigit(c))
            return false;
    out = std::strtol(text.c_str(), nullptr, base);
    return true;
}

// The row of the combo's list that shows `text`; -1 when none does.
int combo_row(const SettingsBinding& b, const std::string& text, bool rows)
{
    if (long row = -1; rows && parse_integer(text, 10, row))
        return row < b.rows ? static_cast<int>(row) : -1;
    for (int row = 0; row < b.rows; ++row)
        if (settings_combo_text(b, row) == text)
            return row;
    return -1;
}

// Whether the file's value is the one `image` shows, as the file would carry it.
bool shown_as(const SettingsBinding& b, const SettingsImage& image, const std::string& value, bool rows)
{
    if (b.kind == ControlKind::Combo) {
        // Empty: a value no row of the list shows.
        int row = settings_control_value(b, image).row;
        return value.empty() ? row < 0 : combo_row(b, value, rows) == row && row >= 0;
    }
    std::string shown = value_text(b, image, rows);
    return shown == value || (b.kind == ControlKind::Entry && as_read_back(shown) == value);
}

// Whether the image shows `value` for the control (after every value is in).
bool shows(const SettingsImage& image, const SettingsBinding& b, const std::string& value, bool rows)
{
    if (b.kind == ControlKind::Spin) {
        double number = 0;
        return parse_number(value, number) &&
               settings_stored_number(b, settings_control_value(b, image).number) == settings_stored_number(b, number);
    }
    if (b.kind == ControlKind::AddressByte) {
        long octet = 0;
        std::string shown = settings_control_value(b, image).text;
        long had = std::strtol(shown.c_str(), nullptr, b.rule == TextRule::Hex ? 16 : 10);
        return parse_integer(value, b.rule == TextRule::Hex ? 16 : 10, octet) && octet == had;
    }
    if (b.kind == ControlKind::Entry && value.empty())
        return true; // an empty password or community keeps what the Controller has
    return shown_as(b, image, value, rows);
}

// Two controls that show the same part of one word (the load-bus voltage is
// the float voltage without battery groups).
bool same_setting(const SettingsBinding& a, const SettingsBinding& b)
{
    return a.field == b.field && a.item == b.item && a.kind == b.kind && a.part == b.part && a.bit == b.bit &&
           a.byte == b.byte;
}

} // namespace settings_file_keys
