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

#include "registers/settings_image.h"

// Files larger than this are no settings file; refused before they are parsed.
constexpr size_t kSettingsFileMaxSize = 1 << 20;

// What [controller] says about the Controller the file was saved from.
struct SettingsFileHeader {
    uint32_t serial = 0;
    int protocol_version = 0;
    int layout = 0;
    std::string date;
    std::string site;
    bool with_edits = false;  // saved with the page's unapplied edits
    bool combo_rows = false;  // an older file: combos as row numbers of their lists
};

// How a file is saved.
struct SettingsFileOptions {
    bool with_edits = false; // the image holds the page's edits, not only the Controller's values
    bool passwords = false;  // the two passwords are written (in plain text)
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

// The file text for `image`, saved at `date` ("YYYY-MM-DD HH:MM:SS"). Without
// options.passwords neither password is in the file, not even in [raw].
std::string settings_file_text(const SettingsImage& image, int protocol_version, const std::string& date,
                               const SettingsFileOptions& options = {});
// Proposed name: "S_<serial>_<YYYY-MM-DD>.rarur".
std::string settings_file_name(const SettingsImage& image, const std::string& date);

// Reads a file's text. 0 read; -1 not a settings file, -2 damaged or cut
// short; `message` then says what and where.
int settings_file_read(const char* text, size_t size, SettingsFile& out, std::string& message);

// A value the target's rules brought into range while loading: the review
// marks the row `name` while the edit copy still holds `bytes` there.
struct SettingsLimited {
    std::string name;
    SettingsField field;
    int item;
    std::vector<uint8_t> bytes;
};

struct SettingsFileLoad {
    SettingsImage image;                  // the target with the file's settings
    std::vector<std::string> missing;     // keys of the file the target's layout lacks
    std::vector<std::string> not_carried; // what has no place in the target, as the log says it
    std::vector<SettingsLimited> limited;
};
// Loads a read file over `target` (the device copy of the connected
// Controller). The file's [raw] image, carried word by word into the target's
// layout (events by their meaning), then its keys over it. Every value that
// differs from the target passes the page's rules: a value equal to the
// target's is the Controller's own and always kept. A value the rules would
// change is refused when typed by hand into a key (its line named) or, in a
// file of this Controller, found only in [raw] (its word and key named); a
// value saved by the program (its key agrees with [raw]), one copied from
// another Controller or layout, and a name too long for the page are brought
// into range as the page would and listed in `limited`.
// With keep_serial the target's serial number stays (a file of another
// Controller); without a password key the target's password stays. Bits no
// setting of the page owns, and texts that read the same, stay the target's
// (each such word in `not_carried`): nothing unseen is taken from a file. A
// minimum above its maximum is refused with both keys. 0 loaded;
// -1 refused (`message` says where and why), `out` then unusable.
int settings_file_load(const SettingsFile& file, const SettingsImage& target, bool keep_serial, SettingsFileLoad& out,
                       std::string& message);

struct SettingsChange;
// Marks the review's rows of values a load brought into range, while `edit`
// still holds them.
void settings_mark_limited(std::vector<SettingsChange>& changes, const SettingsImage& edit,
                           const std::vector<SettingsLimited>& limited);

// At most `chars` characters of `text`, "…" after a cut: messages quote values.
std::string settings_quoted_value(const std::string& text, size_t chars = 60);
