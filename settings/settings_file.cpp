// Reading and writing the text of a settings file. The loading of a read
// file over a Controller's settings is in settings_file_load.cpp, the carrying
// of another layout in settings_file_layouts.cpp.
#include "settings/settings_file.h"

#include <glib.h>

#include <algorithm>
#include <cstring>
#include <map>

#include "base/text_format.h"
#include "settings/bindings.h"
#include "settings/settings_file_keys.h"

using namespace settings_file_keys;

namespace {

using F = SettingsField;

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

// A key file handed from step to step, freed with the read.
struct KeyFile {
    GKeyFile* file = g_key_file_new();
    KeyFile() = default;
    KeyFile(const KeyFile&) = delete;
    KeyFile& operator=(const KeyFile&) = delete;
    ~KeyFile() { g_key_file_free(file); }
    std::string string(const char* group, const char* key) const
    {
        gchar* s = g_key_file_get_string(file, group, key, nullptr);
        std::string v = s ? s : "";
        g_free(s);
        return v;
    }
};

// The text as bytes: not too large, no NUL, UTF-8 (a byte-order mark
// skipped). 0, or the read's refusal.
int check_text(const char*& text, size_t& size, std::string& message)
{
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
    return 0;
}

// [controller]: whose settings, in which layout.
int read_header(const KeyFile& k, SettingsFileHeader& header, std::string& message)
{
    long serial = 0, version = 0, layout = 0;
    // A serial number is 32 bits: up to ten digits.
    if (!parse_integer(k.string(kController, "serial_number"), 10, serial, 10) || serial > 0xFFFFFFFFL ||
        !parse_integer(k.string(kController, "protocol_version"), 10, version) ||
        !parse_integer(k.string(kController, "layout"), 10, layout) || layout < 1 || layout > 3 ||
        layout_for_version(static_cast<int>(version)) != layout) {
        message = "Файл не является файлом настроек: в группе [controller] нет серийного номера, версии "
                  "протокола или раскладки.";
        return -1;
    }
    header.serial = static_cast<uint32_t>(serial);
    header.protocol_version = static_cast<int>(version);
    header.layout = static_cast<int>(layout);
    header.date = k.string(kController, "date");
    header.site = k.string(kController, "site");
    header.with_edits = k.string(kController, "contents") == "edited";
    long format_number = 0;
    header.combo_rows =
        !parse_integer(k.string(kController, "format"), 10, format_number) || format_number < kFormat;
    return 0;
}

// [settings]: every key known and of the file's layout, in the file's order.
int read_values(const KeyFile& k, const KeyLines& lines, SettingsFile& out, std::string& message)
{
    gsize count = 0;
    gchar** keys = g_key_file_get_keys(k.file, kSettings, &count, nullptr);
    for (gsize i = 0; keys && i < count; ++i) {
        gchar* value = g_key_file_get_string(k.file, kSettings, keys[i], nullptr);
        int line = line_of(lines, kSettings, keys[i]);
        if (!value) {
            message = format("Строка %d: значение «%s» не читается.", line, settings_quoted_value(keys[i]).c_str());
            g_strfreev(keys);
            return -2;
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
        if (!b) {
            message = format("Строка %d: «%s» — неизвестный параметр.", v.line, settings_quoted_value(v.key).c_str());
            return -2;
        }
        if (!in_layout(*b, out.header.layout)) {
            message = format("Строка %d: параметра «%s» нет в раскладке %d, указанной в файле.", v.line,
                             v.key.c_str(), out.header.layout);
            return -2;
        }
    }
    return 0;
}

// [raw]: the whole image, sixteen words a line, in wire order.
int read_raw(const KeyFile& k, const KeyLines& lines, SettingsImage& raw, int layout, std::string& message)
{
    raw.layout = layout;
    int words = static_cast<int>(raw.word_count());
    for (int first = 0; first < words; first += kWordsPerLine) {
        std::string key = raw_key(first);
        std::string line = k.string(kRaw, key.c_str());
        int expected = std::min(kWordsPerLine, words - first);
        bool good = line.size() == static_cast<size_t>(expected * 5 - 1);
        for (int i = 0; good && i < expected; ++i) {
            const char* p = line.c_str() + 5 * i;
            good = g_ascii_isxdigit(p[0]) && g_ascii_isxdigit(p[1]) && g_ascii_isxdigit(p[2]) &&
                   g_ascii_isxdigit(p[3]) && (i + 1 == expected || p[4] == ' ');
            if (good) {
                raw.bytes[2 * (first + i)] =
                    static_cast<uint8_t>(g_ascii_xdigit_value(p[0]) << 4 | g_ascii_xdigit_value(p[1]));
                raw.bytes[2 * (first + i) + 1] =
                    static_cast<uint8_t>(g_ascii_xdigit_value(p[2]) << 4 | g_ascii_xdigit_value(p[3]));
            }
        }
        if (!good) {
            int line_no = line_of(lines, kRaw, key);
            message = line_no ? format("Строка %d: слова %d–%d группы [raw] повреждены или неполны; файл поврежден "
                                       "или обрезан.", line_no, first, first + expected - 1)
                              : format("Файл поврежден или обрезан: в группе [raw] нет слов %d–%d.", first,
                                       first + expected - 1);
            return -2;
        }
    }
    settings_from_registers(raw.layout, raw.data());
    return 0;
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
    if (int code = check_text(text, size, message); code != 0)
        return code;
    KeyFile k;
    if (!g_key_file_load_from_data(k.file, text ? text : "", size, G_KEY_FILE_NONE, nullptr) ||
        !g_key_file_has_group(k.file, kController)) {
        message = "Файл не является файлом настроек.";
        return -1;
    }
    KeyLines lines = key_lines(text, size);
    if (lines.twice_line && (lines.twice_group == kController || lines.twice_group == kSettings ||
                             lines.twice_group == kRaw)) {
        message = format("Строка %d: «%s» уже задан в строке %d; какое значение верное, неизвестно.",
                         lines.twice_line, settings_quoted_value(lines.twice_key).c_str(), lines.first_line);
        return -2;
    }
    if (int code = read_header(k, out.header, message); code != 0)
        return code;
    if (int code = read_values(k, lines, out, message); code != 0)
        return code;
    // The raw words come last: a file cut short loses them first.
    if (int code = read_raw(k, lines, out.raw, out.header.layout, message); code != 0)
        return code;
    message.clear();
    return 0;
}
