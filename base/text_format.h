// Small text helpers shared by every layer.
#pragma once

#include <cstdarg>
#include <cstddef>
#include <cstdint>
#include <string>

std::string vformat(const char* format, va_list args);
std::string format(const char* format, ...) __attribute__((format(printf, 1, 2)));

// The text with every control character (below the blank, and DEL) made a
// blank: a text from the Controller or a file never moves a terminal's
// cursor, starts an escape sequence or breaks a line of a log, a plugin's
// output or a file. Characters above DEL are left alone.
std::string printable_text(std::string text);

// The text of a GLib key file, which is freed: settings files and the recent
// connections are written this way.
struct _GKeyFile;
std::string key_file_text_and_free(_GKeyFile* file);

// Appends the byte as two upper-case hex digits.
void append_hex_byte(std::string& out, uint8_t byte);

// "%02X " per byte of the first min(length, 260) bytes; empty for length <= 0.
constexpr long kHexDumpLimit = 260;
std::string hex_dump_text(const uint8_t* bytes, long length);

// Text of a 64-bit byte count: "1023Б", "1.001киБ", ... in the process's locale.
void format_byte_count(char* out, size_t out_size, uint64_t value);
std::string format_byte_count(uint64_t value);

// A number typed by a person: optional sign, digits and at most one decimal
// separator, "." or "," alike whatever the locale, spaces around it allowed.
// Nothing else (no exponent, no "inf", no hex): false, `value` untouched.
bool parse_decimal(const char* text, double* value);
