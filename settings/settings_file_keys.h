// What the steps of a settings file share: the groups and keys of the file,
// how a value is written as the page shows it and read back, and whether an
// image shows a file's value. Internal to settings/settings_file*.cpp.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "registers/settings_image.h"
#include "settings/bindings.h"
#include "settings/settings_file.h"

namespace settings_file_keys {

inline constexpr const char* kController = "controller";
inline constexpr const char* kSettings = "settings";
inline constexpr const char* kRaw = "raw";
inline constexpr int kWordsPerLine = 16;
// [controller] format: 2 writes combos as the page shows them; files without
// it have their rows' numbers.
inline constexpr int kFormat = 2;

bool in_layout(const SettingsBinding& b, int layout);
// The binding of a file's key; nullptr for a key no control has.
const SettingsBinding* binding_by_key(const std::string& key);
bool is_password(const SettingsBinding& b);
std::string number_text(double value, int digits);
// The value as the page shows it; numbers with a point whatever the locale.
// `rows`: an older file's combos, by row number.
std::string value_text(const SettingsBinding& b, const SettingsImage& image, bool rows = false);
std::string raw_key(int word);

bool parse_number(const std::string& text, double& out);
bool parse_integer(const std::string& text, int base, long& out, size_t max_digits = 9);
int combo_row(const SettingsBinding& b, const std::string& text, bool rows);

// Whether the file's value is the one `image` shows, as the file would carry it.
bool shown_as(const SettingsBinding& b, const SettingsImage& image, const std::string& value, bool rows);
// Whether the image shows `value` for the control (after every value is in).
bool shows(const SettingsImage& image, const SettingsBinding& b, const std::string& value, bool rows);
bool same_setting(const SettingsBinding& a, const SettingsBinding& b);

// The file's image carried into the target's layout over `target`; what has
// no place there goes to `lost`.
SettingsImage carried_image(const SettingsImage& raw, const SettingsImage& target, std::vector<std::string>& lost);

} // namespace settings_file_keys
