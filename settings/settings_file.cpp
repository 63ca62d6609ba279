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
#include "registers/catalogue.h"
#include "settings/apply_plan.h"
#include "settings/bindings.h"
#include "settings/masks.h"
#include "settings/rules.h"
#include "settings/setting_units.h"

namespace {

using F = SettingsField;

constexpr const char* kController = "controller";
constexpr const char* kSettings = "settings";
constexpr const char* kRaw = "raw";
constexpr int kWordsPerLine = 16;
// [controller] format: 2 writes combos as the page shows them; files without
// it have their rows' numbers.
constexpr int kFormat = 2;

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
std::string value_text(const SettingsBinding& b, const SettingsImage& image, bool rows = false)
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

// Where each key of the text is, by group and key, for messages; the first
// key given twice in one group.
struct KeyLines {
    std::map<std::string, int> lines;
    std::string twice_group, twice_key;
    int twice_line = 0, first_line = 0;
};

// What a key file trims around keys: every ASCII white-space character, a
// form feed and a vertical tab included.
constexpr const char* kKeyFileSpace = " \t\n\v\f\r";

KeyLines key_lines(const char* text, size_t size)
{
    KeyLines k;
    std::string group;
    int line = 1;
    for (size_t start = 0; start < size; ++line) {
        size_t end = start;
        while (end < size && text[end] != '\n')
            ++end;
        std::string l(text + start, end - start);
        start = end + 1;
        size_t first = l.find_first_not_of(kKeyFileSpace);
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
        size_t last = l.find_last_not_of(kKeyFileSpace, eq - 1);
        std::string key = last == std::string::npos || last < first ? "" : l.substr(first, last - first + 1);
        auto [at, fresh] = k.lines.emplace(group + "\n" + key, line);
        if (!fresh && !k.twice_line) {
            k.twice_group = group;
            k.twice_key = key;
            k.twice_line = line;
            k.first_line = at->second;
        }
    }
    return k;
}

int line_of(const KeyLines& k, const char* group, const std::string& key)
{
    auto it = k.lines.find(std::string(group) + "\n" + key);
    return it == k.lines.end() ? 0 : it->second;
}

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
bool parse_integer(const std::string& text, int base, long& out, size_t max_digits = 9)
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

struct Refusal {
    std::string why;
};

// Puts one value into `image` through the rule of its control. Empty `why`
// when the control took it (it may still be changed by a later value).
Refusal apply_value(SettingsImage& image, const SettingsBinding& b, const std::string& value, bool rows)
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
        int row = combo_row(b, value, rows);
        if (row < 0)
            return {rows ? format("нет такой строки списка (0–%d)", b.rows - 1) : "нет такого значения в списке"};
        settings_edit_row(image, b, row);
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

std::string refused(const SettingsFileValue& v, const std::string& why)
{
    return format("Строка %d: «%s = %s» — %s.", v.line, settings_quoted_value(v.key).c_str(),
                  settings_quoted_value(v.value).c_str(), why.c_str());
}

std::string range_text(const SettingsBinding& b, const SettingsImage& image)
{
    StoredRange r = settings_edit_range(b, image);
    double scale = b.scale ? b.scale : 1;
    return format("значение вне допустимого диапазона %s–%s", number_text(r.min / scale, b.digits).c_str(),
                  number_text(r.max / scale, b.digits).c_str());
}

// ------------------------------------------------------------ across layouts

// Word of layout `to` that holds what word `w` of layout `from` holds, by the
// fixed offsets of the layouts: layout 2 has every event mask 8 words longer
// (layout-1 words from 135 on sit 48 higher), layout 3 one word more at 579.
// -1 for the event masks (carried event by event) and the energy-saving word.
int mapped_word(int w, int from, int to)
{
    int w2 = w; // in layout 2
    if (w >= 15 && w < (from == 1 ? 135 : 183))
        return -1;
    if (from == 1 && w >= 135)
        w2 = w + 48;
    if (from == 3 && w >= 579) {
        if (w == 579)
            return -1;
        w2 = w - 1;
    }
    if (to == 1)
        return w2 >= 183 ? w2 - 48 : w2;
    if (to == 3 && w2 >= 579)
        return w2 + 1;
    return w2;
}

// "1, 5–9, 12"
std::string code_ranges(const std::vector<int>& codes)
{
    std::string text;
    for (size_t i = 0; i < codes.size();) {
        size_t j = i;
        while (j + 1 < codes.size() && codes[j + 1] == codes[j] + 1)
            ++j;
        text += (text.empty() ? "" : ", ") +
                (j == i ? std::to_string(codes[i]) : format("%d–%d", codes[i], codes[j]));
        i = j + 1;
    }
    return text;
}

const char* const kMaskTitles[kEventMasks] = {"Авария 1ст", "Авария 2ст", "Реле 1", "Реле 2", "Реле 3", "Реле 4"};

// The file's image carried into the target's layout over `target`; what has
// no place there goes to `lost`.
SettingsImage carried_image(const SettingsImage& raw, const SettingsImage& target, std::vector<std::string>& lost)
{
    SettingsImage image = target;
    int from = raw.layout, to = target.layout;
    for (int w = 3; w < static_cast<int>(raw.word_count()); ++w) {
        int t = mapped_word(w, from, to);
        if (t >= 3 && t < static_cast<int>(image.word_count())) {
            image.bytes[2 * t] = raw.bytes[2 * w];
            image.bytes[2 * t + 1] = raw.bytes[2 * w + 1];
        }
    }
    if (settings_word(F::EnergySaving, to) < 0 && settings_u16(raw, F::EnergySaving) != 0)
        lost.push_back(format("Режим энергоэффективности (слово %d = 0x%04X): у подключенного Контроллера его нет",
                              settings_word(F::EnergySaving, from), settings_u16(raw, F::EnergySaving)));
    for (int k = 1; k <= kEventMasks; ++k) {
        std::vector<int> codes;
        for (int code = 0; code < event_code_count(from); ++code) {
            bool bit = mask_bit(raw, code, k);
            int moved = event_code_in_layout(static_cast<uint16_t>(code), from, to);
            if (moved >= 0)
                set_mask_bit(image, moved, k, bit);
            else if (bit)
                codes.push_back(code);
        }
        if (!codes.empty())
            lost.push_back(format("маска «%s», события %s: у подключенного Контроллера их нет", kMaskTitles[k - 1],
                                  code_ranges(codes).c_str()));
    }
    return image;
}

// ------------------------------------------------------------ the page's rules

bool same_item(const SettingsImage& a, const SettingsImage& b, F field, int item)
{
    auto x = settings_item(a, field, item), y = settings_item(b, field, item);
    return x.size() == y.size() && std::equal(x.begin(), x.end(), y.begin());
}

bool first_byte_zero(const SettingsImage& image, F field, int item)
{
    auto bytes = settings_item(image, field, item);
    return bytes.empty() || bytes[0] == 0;
}

// The image after the control's value, as the image holds it, is entered on
// the page again. False when the rule refuses it.
bool entered_again(const SettingsImage& image, const SettingsBinding& b, SettingsImage& out)
{
    out = image;
    ControlValue v = settings_control_value(b, image);
    switch (b.kind) {
    case ControlKind::Spin: settings_edit_number(out, b, v.number); return true;
    case ControlKind::Combo:
        if (v.row < 0)
            // One word, two lists (the rectifier model, or class and type):
            // the value is the other list's to show.
            for (const SettingsBinding& other : settings_bindings())
                if (&other != &b && other.kind == ControlKind::Combo && other.field == b.field &&
                    settings_control_value(other, image).row >= 0)
                    return true;
        return settings_edit_row(out, b, v.row).accepted;
    case ControlKind::Entry:
        if (first_byte_zero(image, b.field, b.item))
            return true;
        if (v.text.empty() || !settings_edit_text(out, b, v.text.c_str()).accepted)
            return false;
        // Bytes after the end of a text mean nothing: the same text is the same value.
        if (settings_control_value(b, out).text == v.text)
            out = image;
        return true;
    case ControlKind::Check:
    case ControlKind::AddressByte: break;
    }
    return true;
}

// The list items no control shows as a spin or entry, with their names in
// the review.
struct ItemRule {
    F field;
    const char* name;
};
constexpr ItemRule kItemRules[] = {
    {F::RelayNames, "Название реле %d"},       {F::LoadBreakerNames, "Название QH%d"},
    {F::ContactorNames, "Название K%d"},       {F::DryContactNames, "Название СК%d"},
    {F::BatteryBreakerContactor, "Контактор QB%d"}, {F::LoadBreakerContactor, "Контактор QH%d"},
    {F::BlockMonitorAddress, "УПКБ группы %d"},
};

bool is_name(F field)
{
    return field == F::RelayNames || field == F::LoadBreakerNames || field == F::ContactorNames ||
           field == F::DryContactNames;
}

bool item_entered_again(const SettingsImage& image, F field, int item, SettingsImage& out)
{
    out = image;
    switch (field) {
    case F::BatteryBreakerContactor:
    case F::LoadBreakerContactor:
        // The page offers "Нет" and К1…К4 only; what else a word holds means no contactor.
        if (settings_u16(image, field, item) > 4)
            settings_set_u16(out, field, 0, item);
        return true;
    case F::BlockMonitorAddress:
        return settings_edit_block_monitor(out, item, false,
                                           std::to_string(settings_u16(image, field, item) / 8).c_str()) == 0;
    default: break;
    }
    if (first_byte_zero(image, field, item))
        return true;
    std::string text = device_string_to_utf8(settings_item(image, field, item));
    if (text.empty() || settings_edit_name(out, field, item, text.c_str()) != 0)
        return false;
    if (settings_name(out, field, item) == text)
        out = image;
    return true;
}

int word_of(F field, int item, int layout)
{
    return settings_word(field, layout) + static_cast<int>(settings_item_bytes(field, layout)) * item / 2;
}

} // namespace

std::string settings_quoted_value(const std::string& text, size_t chars)
{
    // Bytes that are no UTF-8 would make the message box itself fail.
    gchar* valid = g_utf8_make_valid(text.data(), static_cast<gssize>(text.size()));
    std::string quoted = valid;
    if (static_cast<size_t>(g_utf8_strlen(valid, -1)) > chars)
        quoted = std::string(valid, g_utf8_offset_to_pointer(valid, static_cast<glong>(chars))) + "…";
    g_free(valid);
    return quoted;
}

std::string settings_file_name(const SettingsImage& image, const std::string& date)
{
    return format("S_%u_%s.rarur", settings_u32(image, SettingsField::SerialNumber), date.substr(0, 10).c_str());
}

std::string settings_file_text(const SettingsImage& image, int protocol_version, const std::string& date,
                               const SettingsFileOptions& options)
{
    SettingsImage saved = image;
    if (!options.passwords)
        for (F field : {F::Password, F::MonitoringPassword})
            for (uint8_t& byte : settings_item(saved, field))
                byte = 0;
    GKeyFile* file = g_key_file_new();
    g_key_file_set_string(file, kController, "serial_number",
                          std::to_string(settings_u32(saved, SettingsField::SerialNumber)).c_str());
    g_key_file_set_integer(file, kController, "protocol_version", protocol_version);
    g_key_file_set_integer(file, kController, "layout", saved.layout);
    g_key_file_set_integer(file, kController, "format", kFormat);
    g_key_file_set_string(file, kController, "date", date.c_str());
    g_key_file_set_string(file, kController, "site",
                          device_string_to_utf8(settings_item(saved, SettingsField::Comment)).c_str());
    g_key_file_set_string(file, kController, "contents", options.with_edits ? "edited" : "controller");
    g_key_file_set_comment(file, kController, "contents",
                           options.with_edits ? " Настройки Контроллера с неприменёнными изменениями страницы"
                                              : " Настройки, прочитанные из Контроллера",
                           nullptr);
    for (const SettingsBinding& b : settings_bindings())
        if (in_layout(b, saved.layout) && (options.passwords || !is_password(b)))
            g_key_file_set_string(file, kSettings, b.key, value_text(b, saved).c_str());

    SettingsImage wire = saved;
    settings_to_registers(saved.layout, wire.data());
    int words = static_cast<int>(saved.word_count());
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
    if (size > kSettingsFileMaxSize) {
        message = "Файл не является файлом настроек: он больше 1 МиБ.";
        return -1;
    }
    // A NUL would end the value there: what follows it would be lost unseen.
    if (const void* nul = text ? std::memchr(text, 0, size) : nullptr) {
        message = format("Строка %d: нулевой байт в тексте; файл поврежден.",
                         1 + static_cast<int>(std::count(text, static_cast<const char*>(nul), '\n')));
        return -2;
    }
    // Windows Notepad starts a UTF-8 file with a byte-order mark.
    if (text && size >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0) {
        text += 3;
        size -= 3;
    }
    if (const char* bad = nullptr; text && !g_utf8_validate(text, static_cast<gssize>(size), &bad)) {
        message = format("Строка %d: текст не в кодировке UTF-8 (так бывает с файлом, сохраненным в WINDOWS-1251); "
                         "файл настроек должен быть в UTF-8.",
                         1 + static_cast<int>(std::count(text, bad, '\n')));
        return -2;
    }
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
    KeyLines lines = key_lines(text, size);
    if (lines.twice_line && (lines.twice_group == kController || lines.twice_group == kSettings ||
                             lines.twice_group == kRaw))
        return done(-2, format("Строка %d: «%s» уже задан в строке %d; какое значение верное, неизвестно.",
                               lines.twice_line, settings_quoted_value(lines.twice_key).c_str(), lines.first_line));

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
    out.header.with_edits = header_string("contents") == "edited";
    long format_number = 0;
    out.header.combo_rows = !parse_integer(header_string("format"), 10, format_number) || format_number < kFormat;

    gsize count = 0;
    gchar** keys = g_key_file_get_keys(file, kSettings, &count, nullptr);
    for (gsize i = 0; keys && i < count; ++i) {
        gchar* value = g_key_file_get_string(file, kSettings, keys[i], nullptr);
        int line = line_of(lines, kSettings, keys[i]);
        if (!value) {
            std::string why = format("Строка %d: значение «%s» не читается.", line,
                                     settings_quoted_value(keys[i]).c_str());
            g_strfreev(keys);
            return done(-2, why);
        }
        std::string v = value;
        g_free(value);
        // A space left after a number or a word is no part of it; texts keep theirs.
        const SettingsBinding* b = binding_by_key(keys[i]);
        if (b && b->kind != ControlKind::Entry)
            v.erase(v.find_last_not_of(" \t") + 1);
        out.values.push_back({keys[i], std::move(v), line});
    }
    g_strfreev(keys);
    for (const SettingsFileValue& v : out.values) {
        const SettingsBinding* b = binding_by_key(v.key);
        if (!b)
            return done(-2, format("Строка %d: «%s» — неизвестный параметр.", v.line,
                                   settings_quoted_value(v.key).c_str()));
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
            return done(-2, line_no ? format("Строка %d: слова %d–%d группы [raw] повреждены или неполны; файл "
                                             "поврежден или обрезан.", line_no, first, first + expected - 1)
                                    : format("Файл поврежден или обрезан: в группе [raw] нет слов %d–%d.", first,
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
    const bool across = file.header.layout != target.layout;
    // Settings copied from another Controller, or from another layout: what
    // the program saved there is brought into this one's range. From this
    // Controller's own file a [raw] value out of the rules was put there by hand.
    const bool copied = across || keep_serial;
    const bool rows = file.header.combo_rows;
    SettingsImage image = target;
    if (across) {
        image = carried_image(file.raw, target, out.not_carried);
    } else {
        image = file.raw;
        // The header words are the Controller's own and never written.
        std::memcpy(image.data(), target.data(), 6);
    }
    if (keep_serial || across)
        settings_set_u32(image, SettingsField::SerialNumber, settings_u32(target, SettingsField::SerialNumber));
    // A file saved without passwords leaves the Controller's as they are.
    for (F field : {F::Password, F::MonitoringPassword}) {
        bool keyed = std::any_of(file.values.begin(), file.values.end(), [&](const SettingsFileValue& v) {
            const SettingsBinding* b = binding_by_key(v.key);
            return b && b->field == field;
        });
        if (!keyed)
            std::copy_n(settings_item(target, field).begin(), settings_item(target, field).size(),
                        settings_item(image, field).begin());
    }

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
        bool as_saved = shown_as(*b, file.raw, v.value, rows);
        // A tab or line break typed into a text is no part of a name the page
        // would take; the Controller's own text, as saved, may hold one.
        if (b->kind == ControlKind::Entry && !as_saved &&
            std::any_of(v.value.begin(), v.value.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; })) {
            message = format("Строка %d: «%s» — табуляция или перевод строки внутри текста.", v.line, v.key.c_str());
            return -1;
        }
        if (!in_layout(*b, target.layout)) {
            out.missing.push_back(v.key);
            if (!as_saved)
                out.not_carried.push_back(format("«%s = %s» (строка %d): у подключенного Контроллера такой "
                                                 "настройки нет", v.key.c_str(),
                                                 settings_quoted_value(v.value).c_str(), v.line));
            continue;
        }
        values.push_back({&v, b, as_saved});
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
            if (!shows(image, *value.b, value.v->value, rows)) {
                // The Controller's own value is taken as it is, even where the
                // page would cut it (a comment filling all ten bytes).
                if (value.b->kind == ControlKind::Entry && shows(target, *value.b, value.v->value, rows)) {
                    auto own = settings_item(target, value.b->field, value.b->item);
                    std::copy(own.begin(), own.end(), settings_item(image, value.b->field, value.b->item).begin());
                    continue;
                }
                if (Refusal r = apply_value(image, *value.b, value.v->value, rows); !r.why.empty()) {
                    message = refused(*value.v, r.why);
                    return -1;
                }
            }
    auto key_of = [&](const SettingsBinding& b) -> const Value* {
        for (const Value& value : values)
            if (same_setting(*value.b, b))
                return &value;
        return nullptr;
    };
    std::vector<const SettingsBinding*> limited;
    for (const Value& value : values) {
        const SettingsFileValue& v = *value.v;
        const SettingsBinding& b = *value.b;
        if (shows(image, b, v.value, rows))
            continue;
        auto twin = std::find_if(values.begin(), values.end(), [&](const Value& other) {
            return other.b != &b && same_setting(b, *other.b) && shows(image, *other.b, other.v->value, rows);
        });
        if (twin != values.end()) {
            message = refused(v, format("строка %d («%s») задает эту же настройку иначе", twin->v->line,
                                        twin->v->key.c_str()));
            return -1;
        }
        // A value the program saved, brought into range by the rules of the
        // settings it now sits among; only a hand edit out of range refuses.
        if (value.as_saved && b.kind == ControlKind::Spin) {
            limited.push_back(&b);
            continue;
        }
        message = refused(v, b.kind == ControlKind::Spin    ? range_text(b, image)
                             : b.kind == ControlKind::Entry ? "текст не помещается в поле"
                                                            : "значение не принято");
        return -1;
    }

    // Every value that differs from the Controller's passes the page's rules,
    // whether it came from a key or only from [raw]. Again while a clamp moves
    // a limit another value follows (the cell count, the module count).
    auto raw_refusal = [&](int word, const std::string& what, const std::string& why) {
        message = format("Слово %d группы [raw] (%s) — %s.", word, what.c_str(), why.c_str());
        return -1;
    };
    std::vector<std::pair<F, int>> limited_items;
    for (int pass = 0; pass < 4; ++pass) {
        bool moved = false;
        for (const SettingsBinding& b : settings_bindings()) {
            if (!in_layout(b, target.layout) || b.kind == ControlKind::Check || b.kind == ControlKind::AddressByte ||
                same_item(image, target, b.field, b.item))
                continue;
            SettingsImage again;
            bool taken = entered_again(image, b, again);
            if (taken && same_item(again, image, b.field, b.item))
                continue;
            const Value* key = key_of(b);
            if (key && !key->as_saved) {
                message = refused(*key->v, b.kind == ControlKind::Spin ? range_text(b, image) : "значение не принято");
                return -1;
            }
            if (!taken || (!copied && !key))
                return raw_refusal(word_of(b.field, b.item, image.layout),
                                   format("%s, «%s» = %s", b.key, b.label,
                                          settings_quoted_value(value_text(b, image)).c_str()),
                                   !taken ? "значение не допускается"
                                   : b.kind == ControlKind::Spin ? range_text(b, image)
                                                                 : "значение не допускается");
            // The clamp and whatever it moved along with it (voltages after
            // the cell count, the reserve after the module count).
            for (const SettingsBinding& other : settings_bindings())
                if (other.kind == ControlKind::Spin && !same_item(again, image, other.field, other.item))
                    limited.push_back(&other);
            limited.push_back(&b);
            image = again;
            moved = true;
        }
        for (const ItemRule& rule : kItemRules)
            for (int item = 0; item < settings_field_info(rule.field).items; ++item) {
                if (same_item(image, target, rule.field, item))
                    continue;
                SettingsImage again;
                bool taken = item_entered_again(image, rule.field, item, again);
                if (taken && same_item(again, image, rule.field, item))
                    continue;
                // A name cut to what the page keeps is a name as the page would
                // store it, whoever wrote the file; a number out of its rule is not.
                if (!taken || (!copied && !is_name(rule.field)))
                    return raw_refusal(word_of(rule.field, item, image.layout), format(rule.name, item + 1),
                                       "значение не допускается правилами страницы");
                image = again;
                limited_items.push_back({rule.field, item});
                moved = true;
            }
        if (!moved)
            break;
    }

    // A clamp that lands on the Controller's own value is said as any other:
    // the file's value is not what is loaded.
    auto add_limited = [&](std::string name, F field, int item) {
        auto bytes = settings_item(image, field, item);
        for (const SettingsLimited& l : out.limited)
            if (l.name == name)
                return;
        out.limited.push_back({std::move(name), field, item, std::vector<uint8_t>(bytes.begin(), bytes.end())});
    };
    for (const SettingsBinding* b : limited)
        add_limited(b->label, b->field, b->item);
    for (auto [field, item] : limited_items)
        for (const ItemRule& rule : kItemRules)
            if (rule.field == field)
                add_limited(format(rule.name, item + 1), field, item);
    // A minimum above its maximum is no setting a Controller can work with;
    // a Controller's own pair is its own business.
    if (SettingsPair pair = settings_inverted_pair(image);
        pair.low && !(same_item(image, target, pair.low->field, 0) && same_item(image, target, pair.high->field, 0))) {
        message = format("«%s» (%s = %s) больше, чем «%s» (%s = %s): минимум не может превышать максимум.",
                         pair.low->label, pair.low->key, value_text(*pair.low, image).c_str(), pair.high->label,
                         pair.high->key, value_text(*pair.high, image).c_str());
        return -1;
    }
    // Bits no setting of the page owns stay the Controller's, said in the log.
    std::vector<std::string> unshown;
    settings_keep_unshown(image, target, &unshown);
    for (const std::string& line : unshown)
        out.not_carried.push_back("[raw] " + line);
    out.image = image;
    return 0;
}

void settings_mark_limited(std::vector<SettingsChange>& changes, const SettingsImage& edit,
                           const std::vector<SettingsLimited>& limited)
{
    for (const SettingsLimited& l : limited) {
        auto bytes = settings_item(edit, l.field, l.item);
        if (!std::equal(bytes.begin(), bytes.end(), l.bytes.begin(), l.bytes.end()))
            continue;
        for (SettingsChange& c : changes)
            if (c.name == l.name && c.to.find("(ограничено)") == std::string::npos)
                c.to += " (ограничено)";
    }
}
