// Settings files: the device copy of a Controller as a key file a person can
// read and a version-control system can diff. One key per setting, named
// after the binding table's key, with the value as the page shows it (numbers
// always with a point), and the whole image as register words in [raw] so
// that names, masks and every word no control shows survive the trip. Pure:
// GLib's key file only, no GTK, no file I/O.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "settings/settings_image.h"

// What [controller] says about the Controller the file was saved from.
struct SettingsFileHeader {
    uint32_t serial = 0;
    int protocol_version = 0;
    int layout = 0;
    std::string date;
    std::string site;
};

struct SettingsFileValue {
    std::string key;
    std::string value;
    int line = 0;
};

// A file that has been read and checked for its form (not yet for its values).
struct SettingsFile {
    SettingsFileHeader header;
    SettingsImage raw;                      // the image of [raw], in host form
    std::vector<SettingsFileValue> values;  // [settings], in the order of the file
};

// The file text for `image` (a device copy), saved at `date` ("YYYY-MM-DD HH:MM:SS").
std::string settings_file_text(const SettingsImage& image, int protocol_version, const std::string& date);
// Proposed name: "S_<serial>_<YYYY-MM-DD>.rarur".
std::string settings_file_name(const SettingsImage& image, const std::string& date);

// Reads a file's text. 0 read; -1 not a settings file, -2 damaged or cut
// short; `message` then says what and where.
int settings_file_read(const char* text, size_t size, SettingsFile& out, std::string& message);

struct SettingsFileLoad {
    SettingsImage image;              // the target with the file's settings
    std::vector<std::string> missing; // keys of the file the target's layout lacks
};
// Loads a read file over `target` (the edit copy of the connected Controller)
// through the editing rules of the page: same layout, the file's image with
// its keys over it; another layout, only the keys the target's layout has.
// With keep_serial the target's serial number stays (a file of another
// Controller). 0 loaded; -1 a value the rules refuse (`message` names the key
// and its line), `out` then unusable.
int settings_file_load(const SettingsFile& file, const SettingsImage& target, bool keep_serial, SettingsFileLoad& out,
                       std::string& message);

// The edits of one connection carried onto a new device copy: every word that
// `edited` changed against `base` (both of `current`'s layout) goes over
// `current`; the header words stay `current`'s.
SettingsImage settings_carry_edits(const SettingsImage& base, const SettingsImage& edited,
                                   const SettingsImage& current);
