#include "base/text_format.h"

#include <glib.h>

#include <charconv>
#include <cmath>
#include <cstdio>
#include <vector>

std::string printable_text(std::string text)
{
    for (char& c : text)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            c = ' ';
    return text;
}

std::string vformat(const char* format, va_list args)
{
    va_list copy;
    va_copy(copy, args);
    char small[512];
    int n = std::vsnprintf(small, sizeof small, format, copy);
    va_end(copy);
    if (n < 0)
        return {};
    if (static_cast<size_t>(n) < sizeof small)
        return std::string(small, static_cast<size_t>(n));
    std::vector<char> big(static_cast<size_t>(n) + 1);
    std::vsnprintf(big.data(), big.size(), format, args);
    return std::string(big.data(), static_cast<size_t>(n));
}

std::string format(const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    std::string s = vformat(fmt, args);
    va_end(args);
    return s;
}

void append_hex_byte(std::string& out, uint8_t byte)
{
    static const char digits[] = "0123456789ABCDEF";
    out += digits[byte >> 4];
    out += digits[byte & 0x0F];
}

std::string hex_dump_text(const uint8_t* bytes, long length)
{
    std::string out;
    if (length <= 0 || bytes == nullptr)
        return out;
    long n = length < kHexDumpLimit ? length : kHexDumpLimit;
    out.reserve(static_cast<size_t>(n) * 3);
    for (long i = 0; i < n; ++i) {
        append_hex_byte(out, bytes[i]);
        out += ' ';
    }
    return out;
}

void format_byte_count(char* out, size_t out_size, uint64_t value)
{
    static const char* const units[] = {"Б", "киБ", "МиБ", "ГиБ", "ТиБ", "ПиБ", "ЭиБ"};
    double v = static_cast<double>(value);
    int unit = 0;
    // Strictly greater: an exact power of 1024 stays in the smaller unit.
    while (v / 1024.0 > 1.0 && unit < 6) {
        v /= 1024.0;
        ++unit;
    }
    std::snprintf(out, out_size, unit == 0 ? "%0.0f%s" : "%0.3f%s", v, units[unit]);
}

std::string format_byte_count(uint64_t value)
{
    char buf[64];
    format_byte_count(buf, sizeof buf, value);
    return buf;
}

std::string key_file_text_and_free(GKeyFile* file)
{
    gsize length = 0;
    gchar* data = g_key_file_to_data(file, &length, nullptr);
    std::string text(data ? data : "", length);
    g_free(data);
    g_key_file_free(file);
    return text;
}

bool parse_decimal(const char* text, double* value)
{
    if (!text)
        return false;
    auto space = [](char c) { return c == ' ' || c == '\t'; };
    const char* p = text;
    while (space(*p))
        ++p;
    std::string plain;
    if (*p == '+' || *p == '-')
        plain += *p++;
    bool digits = false, separator = false;
    for (; *p && !space(*p); ++p) {
        if (*p >= '0' && *p <= '9') {
            plain += *p;
            digits = true;
        } else if ((*p == '.' || *p == ',') && !separator) {
            plain += '.';
            separator = true;
        } else {
            return false;
        }
    }
    while (space(*p))
        ++p;
    if (*p || !digits)
        return false;
    double parsed = 0;
    auto [end, error] = std::from_chars(plain.data() + (plain[0] == '+'), plain.data() + plain.size(), parsed);
    if (error != std::errc() || end != plain.data() + plain.size() || !std::isfinite(parsed))
        return false;
    *value = parsed;
    return true;
}
