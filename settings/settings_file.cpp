#include "settings/settings_file.h"

#include <glib.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string_view>
#include <unordered_map>

#include "base/text_format.h"
#include "settings/bindings.h"
#include "settings/rules.h"

namespace {

constexpr const char* kController = "controller";
constexpr const char* kSettings = "settings";
constexpr const char* kRaw = "raw";
constexpr int kWordsPerLine = 16;

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

std::string number_text(double value, int digits)
{
    char buf[G_ASCII_DTOSTR_BUF_SIZE];
    g_ascii_formatd(buf, sizeof buf, format("%%.%df", digits).c_str(), value);
    return buf;
}

// The value as the page shows it; numbers with a point whatever the locale.
std::string value_text(const SettingsBinding& b, const SettingsImage& image)
{
    ControlValue v = settings_control_value(b, image);
    switch (b.kind) {
    case ControlKind::Spin: return number_text(v.number, b.digits);
    case ControlKind::Combo: return std::to_string(v.row);
    case ControlKind::Check: return v.active ? "true" : "false";
    case ControlKind::Entry:
    case ControlKind::AddressByte: break;
    }
    return v.text;
}

std::string raw_key(int word) { return format("w%04d", word); }

// Line of every key of the text, by group and key, for messages.
std::map<std::string, int> key_lines(const char* text, size_t size)
{
    std::map<std::string, int> lines;
    std::string group;
    int line = 1;
    for (size_t start = 0; start < size; ++line) {
        size_t end = start;
        while (end < size && text[end] != '\n')
            ++end;
        std::string l(text + start, end - start);
        start = end + 1;
        size_t first = l.find_first_not_of(" \t\r");
        if (first == std::string::npos || l[first] == '#')
            continue;
        if (l[first] == '[') {
            size_t close = l.find(']', first);
            group = l.substr(first + 1, close == std::string::npos ? std::string::npos : close - first - 1);
            continue;
        }
        size_t eq = l.find('=', first);
        if (eq == std::string::npos)
            continue;
        size_t last = l.find_last_not_of(" \t", eq - 1);
        std::string key = last == std::string::npos || last < first ? "" : l.substr(first, last - first + 1);
        lines.emplace(group + "\n" + key, line);
    }
    return lines;
}

int line_of(const std::map<std::string, int>& lines, const char* group, const std::string& key)
{
    auto it = lines.find(std::string(group) + "\n" + key);
    return it == lines.end() ? 0 : it->second;
}

// Parses the whole of `text` as a number; false when anything is left over.
bool parse_number(const std::string& text, double& out)
{
    if (text.empty())
        return false;
    char* end = nullptr;
    out = g_ascii_strtod(text.c_str(), &end);
    return end && *end == '\0' && std::isfinite(out) && !std::isspace(static_cast<unsigned char>(text[0]));
}

// At most nine digits unless told otherwise, so any value fits an int.
bool parse_integer(const std::string& text, int base, long& out, size_t max_digits = 9)
{
    if (text.empty() || text.size() > max_digits || text[0] == '-' || text[0] == '+' || std::isspace(static_cast<unsigned char>(text[0])))
        return false;
    char* end = nullptr;
    out = std::strtol(text.c_str(), &end, base);
    return *end == '\0';
}

struct Refusal {
    std::string why;
};

// Puts one value into `image` through the rule of its control. Empty `why`
// when the control took it (it may still be changed by a later value).
Refusal apply_value(SettingsImage& image, const SettingsBinding& b, const std::string& value)
{
    switch (b.kind) {
    case ControlKind::Spin: {
        double number = 0;
        if (!parse_number(value, number))
            return {"не число"};
        settings_edit_number(image, b, number);
        return {};
    }
    case ControlKind::Combo: {
        long row = 0;
        if (!parse_integer(value, 10, row))
            return {"не номер строки списка"};
        if (!settings_edit_row(image, b, static_cast<int>(row)).accepted)
            return {format("строки %ld нет в списке (0–%d)", row, b.rows - 1)};
        return {};
    }
    case ControlKind::Check:
        if (value != "true" && value != "false")
            return {"ожидается true или false"};
        settings_edit_check(image, b, value == "true");
        return {};
    case ControlKind::AddressByte: {
        long octet = 0;
        if (!parse_integer(value, b.rule == TextRule::Hex ? 16 : 10, octet) || octet > 255)
            return {b.rule == TextRule::Hex ? "ожидается байт 00–FF" : "ожидается число 0–255"};
        settings_edit_text(image, b, format(b.rule == TextRule::Hex ? "%02lX" : "%ld", octet).c_str());
        return {};
    }
    case ControlKind::Entry:
        if (!settings_edit_text(image, b, value.c_str()).accepted && !value.empty())
            return {"текст не допускается"};
        return {};
    }
    return {};
}

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

// Whether the file's value is the one `image` shows, as the file would carry it.
bool shown_as(const SettingsBinding& b, const SettingsImage& image, const std::string& value)
{
    std::string shown = value_text(b, image);
    return shown == value || (b.kind == ControlKind::Entry && as_read_back(shown) == value);
}

// Whether the image shows `value` for the control (after every value is in).
bool shows(const SettingsImage& image, const SettingsBinding& b, const std::string& value)
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
    return shown_as(b, image, value);
}

// Two controls that show the same part of one word (the load-bus voltage is
// the float voltage without battery groups).
bool same_setting(const SettingsBinding& a, const SettingsBinding& b)
{
    return a.field == b.field && a.item == b.item && a.kind == b.kind && a.part == b.part && a.bit == b.bit &&
           a.byte == b.byte;
}

std::string refused(const SettingsFileValue& v, const std::string& why)
{
    return format("Строка %d: «%s = %s» — %s.", v.line, v.key.c_str(), v.value.c_str(), why.c_str());
}

std::string range_text(const SettingsBinding& b, const SettingsImage& image)
{
    StoredRange r = settings_edit_range(b, image);
    double scale = b.scale ? b.scale : 1;
    return format("значение вне допустимого диапазона %s–%s", number_text(r.min / scale, b.digits).c_str(),
                  number_text(r.max / scale, b.digits).c_str());
}

} // namespace

std::string settings_file_name(const SettingsImage& image, const std::string& date)
{
    return format("S_%u_%s.rarur", settings_u32(image, SettingsField::SerialNumber), date.substr(0, 10).c_str());
}

std::string settings_file_text(const SettingsImage& image, int protocol_version, const std::string& date)
{
    GKeyFile* file = g_key_file_new();
    g_key_file_set_string(file, kController, "serial_number",
                          std::to_string(settings_u32(image, SettingsField::SerialNumber)).c_str());
    g_key_file_set_integer(file, kController, "protocol_version", protocol_version);
    g_key_file_set_integer(file, kController, "layout", image.layout);
    g_key_file_set_string(file, kController, "date", date.c_str());
    g_key_file_set_string(file, kController, "site",
                          device_string_to_utf8(settings_item(image, SettingsField::Comment)).c_str());
    for (const SettingsBinding& b : settings_bindings())
        if (in_layout(b, image.layout))
            g_key_file_set_string(file, kSettings, b.key, value_text(b, image).c_str());

    SettingsImage wire = image;
    settings_to_registers(image.layout, wire.data());
    int words = static_cast<int>(image.word_count());
    g_key_file_set_integer(file, kRaw, "words", words);
    for (int first = 0; first < words; first += kWordsPerLine) {
        std::string line;
        for (int w = first; w < words && w < first + kWordsPerLine; ++w) {
            if (w != first)
                line += ' ';
            append_hex_byte(line, wire.bytes[2 * w]);
            append_hex_byte(line, wire.bytes[2 * w + 1]);
        }
        g_key_file_set_string(file, kRaw, raw_key(first).c_str(), line.c_str());
    }
    return key_file_text_and_free(file);
}

int settings_file_read(const char* text, size_t size, SettingsFile& out, std::string& message)
{
    out = SettingsFile{};
    GKeyFile* file = g_key_file_new();
    GError* error = nullptr;
    bool parsed = g_key_file_load_from_data(file, text ? text : "", size, G_KEY_FILE_NONE, &error);
    auto done = [&](int code, std::string why) {
        if (error)
            g_error_free(error);
        g_key_file_free(file);
        message = std::move(why);
        return code;
    };
    if (!parsed || !g_key_file_has_group(file, kController))
        return done(-1, "Файл не является файлом настроек.");
    std::map<std::string, int> lines = key_lines(text, size);

    auto header_string = [&](const char* key) {
        gchar* s = g_key_file_get_string(file, kController, key, nullptr);
        std::string v = s ? s : "";
        g_free(s);
        return v;
    };
    long serial = 0, version = 0, layout = 0;
    // A serial number is 32 bits: up to ten digits.
    if (!parse_integer(header_string("serial_number"), 10, serial, 10) || serial > 0xFFFFFFFFL ||
        !parse_integer(header_string("protocol_version"), 10, version) ||
        !parse_integer(header_string("layout"), 10, layout) || layout < 1 || layout > 3 ||
        layout_for_version(static_cast<int>(version)) != layout)
        return done(-1, "Файл не является файлом настроек: в группе [controller] нет серийного номера, версии "
                        "протокола или раскладки.");
    out.header.serial = static_cast<uint32_t>(serial);
    out.header.protocol_version = static_cast<int>(version);
    out.header.layout = static_cast<int>(layout);
    out.header.date = header_string("date");
    out.header.site = header_string("site");

    gsize count = 0;
    gchar** keys = g_key_file_get_keys(file, kSettings, &count, nullptr);
    for (gsize i = 0; keys && i < count; ++i) {
        gchar* value = g_key_file_get_string(file, kSettings, keys[i], nullptr);
        int line = line_of(lines, kSettings, keys[i]);
        if (!value) {
            std::string why = format("Строка %d: значение «%s» не читается.", line, keys[i]);
            g_strfreev(keys);
            return done(-2, why);
        }
        out.values.push_back({keys[i], value, line});
        g_free(value);
    }
    g_strfreev(keys);
    for (const SettingsFileValue& v : out.values) {
        const SettingsBinding* b = binding_by_key(v.key);
        if (!b)
            return done(-2, format("Строка %d: «%s» — неизвестный параметр.", v.line, v.key.c_str()));
        if (!in_layout(*b, out.header.layout))
            return done(-2, format("Строка %d: параметра «%s» нет в раскладке %d, указанной в файле.", v.line,
                                   v.key.c_str(), out.header.layout));
    }
    // The raw words come last: a file cut short loses them first.
    out.raw.layout = out.header.layout;
    int words = static_cast<int>(out.raw.word_count());
    for (int first = 0; first < words; first += kWordsPerLine) {
        std::string key = raw_key(first);
        gchar* s = g_key_file_get_string(file, kRaw, key.c_str(), nullptr);
        std::string line = s ? s : "";
        g_free(s);
        int expected = std::min(kWordsPerLine, words - first);
        bool good = line.size() == static_cast<size_t>(expected * 5 - 1);
        for (int i = 0; good && i < expected; ++i) {
            const char* p = line.c_str() + 5 * i;
            good = g_ascii_isxdigit(p[0]) && g_ascii_isxdigit(p[1]) && g_ascii_isxdigit(p[2]) &&
                   g_ascii_isxdigit(p[3]) && (i + 1 == expected || p[4] == ' ');
            if (good) {
                out.raw.bytes[2 * (first + i)] = static_cast<uint8_t>(g_ascii_xdigit_value(p[0]) << 4 | g_ascii_xdigit_value(p[1]));
                out.raw.bytes[2 * (first + i) + 1] = static_cast<uint8_t>(g_ascii_xdigit_value(p[2]) << 4 | g_ascii_xdigit_value(p[3]));
            }
        }
        if (!good) {
            int line_no = line_of(lines, kRaw, key);
            return done(-2, line_no ? format("Строка %d: слова %s–%d группы [raw] повреждены или неполны; файл "
                                             "поврежден или обрезан.", line_no, key.c_str() + 1, first + expected - 1)
                                    : format("Файл поврежден или обрезан: в группе [raw] нет слов с %d по %d.", first,
                                             first + expected - 1));
        }
    }
    settings_from_registers(out.raw.layout, out.raw.data());

    return done(0, "");
}

int settings_file_load(const SettingsFile& file, const SettingsImage& target, bool keep_serial, SettingsFileLoad& out,
                       std::string& message)
{
    out = SettingsFileLoad{};
    SettingsImage image = target;
    if (file.header.layout == target.layout) {
        image = file.raw;
        // The header words are the Controller's own and never written.
        std::memcpy(image.data(), target.data(), 6);
    }
    if (keep_serial || file.header.layout != target.layout)
        settings_set_u32(image, SettingsField::SerialNumber, settings_u32(target, SettingsField::SerialNumber));

    struct Value {
        const SettingsFileValue* v;
        const SettingsBinding* b;
        bool as_saved; // the file's value is the one its own raw words hold
    };
    std::vector<Value> values;
    for (const SettingsFileValue& v : file.values) {
        const SettingsBinding* b = binding_by_key(v.key);
        if (!b)
            continue; // settings_file_read refused it already
        if (keep_serial && b->field == SettingsField::SerialNumber)
            continue;
        if (!in_layout(*b, target.layout)) {
            out.missing.push_back(v.key);
            continue;
        }
        values.push_back({&v, b, shown_as(*b, file.raw, v.value)});
    }
    // Of two keys for one setting, the one left as saved yields to the one
    // changed by hand.
    std::vector<Value> kept;
    for (const Value& value : values) {
        bool yields = value.as_saved && std::any_of(values.begin(), values.end(), [&](const Value& other) {
            return other.b != value.b && !other.as_saved && same_setting(*value.b, *other.b);
        });
        if (!yields)
            kept.push_back(value);
    }
    values = std::move(kept);
    // Twice: a limit that follows another setting (voltages after the cell
    // count, the reserve after the module count) sees the file's value of it
    // the second time, whatever the order of the file.
    for (int pass = 0; pass < 2; ++pass)
        for (const Value& value : values)
            if (!shows(image, *value.b, value.v->value))
                if (Refusal r = apply_value(image, *value.b, value.v->value); !r.why.empty()) {
                    message = refused(*value.v, r.why);
                    return -1;
                }
    for (const Value& value : values) {
        const SettingsFileValue& v = *value.v;
        const SettingsBinding& b = *value.b;
        if (shows(image, b, v.value))
            continue;
        auto twin = std::find_if(values.begin(), values.end(), [&](const Value& other) {
            return other.b != &b && same_setting(b, *other.b) && shows(image, *other.b, other.v->value);
        });
        if (twin != values.end())
            message = refused(v, format("строка %d («%s») задает эту же настройку иначе", twin->v->line,
                                        twin->v->key.c_str()));
        else
            message = refused(v, b.kind == ControlKind::Spin    ? range_text(b, image)
                                 : b.kind == ControlKind::Entry ? "текст не помещается в поле"
                                                                : "значение не принято");
        return -1;
    }
    out.image = image;
    return 0;
}

SettingsImage settings_carry_edits(const SettingsImage& base, const SettingsImage& edited, const SettingsImage& current)
{
    SettingsImage result = current;
    if (base.layout != current.layout || edited.layout != current.layout)
        return result;
    for (size_t i = 6; i < current.word_count() * 2; ++i)
        if (edited.bytes[i] != base.bytes[i])
            result.bytes[i] = edited.bytes[i];
    return result;
}
