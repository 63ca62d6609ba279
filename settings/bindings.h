// The settings page as data: one row per control, naming the widget, the
// field and element of the settings image it shows, and how the stored value
// becomes what the control shows. Filling the page is one loop over the rows;
// editing runs the same rows the other way. Pure: no GTK.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "registers/settings_image.h"

// Sections in the order the page is filled.
enum class SettingsSection : uint8_t {
    Main,
    Events,
    Load,
    Battery,
    Contactors,
    Rectifiers,
    Mains,
    Temperature,
    DryContacts,
    Monitoring,
    Configuration,
    Count_
};

enum class ControlKind : uint8_t {
    Spin,        // number: stored / scale with `digits` decimals
    Combo,       // row of a list: stored + row_offset
    Check,       // one bit of a flags word
    Entry,       // DeviceString text
    AddressByte, // one octet of an address field, "%02X" or "%u"
};

// Which part of the field's word the control shows.
enum class WordPart : uint8_t { Whole, Signed, Dword, LowByte, HighByte };

// What an entry accepts when edited.
enum class TextRule : uint8_t {
    Free,      // any WINDOWS-1251 text that fits the field
    Phone,     // digits and "+"
    Digits,    // digits only
    Community, // Latin letters and digits
    Hex,       // address byte, hexadecimal
    Decimal,   // address byte, decimal
};

// Limits that follow other settings (stored units): the battery voltages follow
// the cell count, the reserve follows the module count, the module count the
// layout.
enum class Window : uint8_t {
    Fixed,          // min..max of the row
    Float,          // floor(22.2 n) .. 23 n with battery groups, else 180 .. 750:
                    // the one word is the float voltage or the load-bus voltage
    Charge,         // 23 n .. 24 n (fast and equalising charge)
    Test,           // 18 n .. 20 n
    LowBattery,     // 17 n .. 20 n (low battery, contactor disconnect)
    Reserve,        // 0 .. modules - 1 (at least 1, at most 59)
    RectifierCount, // 1 .. 60 / 190 / 180 by layout
};

// What an edit changes besides its own control.
enum class MaskListsEffect : uint8_t { None, Refresh, Rebuild };

constexpr uint16_t section_bit(SettingsSection s) { return static_cast<uint16_t>(1u << static_cast<unsigned>(s)); }

struct SettingsBinding {
    const char* key; // stable name of the setting, for settings files
    const char* id;  // widget id in the interface description
    SettingsSection section;
    SettingsField field;
    uint8_t item;
    ControlKind kind;
    WordPart part;
    uint16_t scale;     // Spin
    uint8_t digits;     // Spin
    int32_t row_offset; // Combo
    uint8_t rows;       // Combo: rows of its list
    uint16_t bit;       // Check
    bool inverted;      // Check: on while the bit is clear
    TextRule rule;      // Entry, AddressByte
    uint8_t byte;       // AddressByte: octet within the element
    int16_t shown_min;  // Spin: the shown value is clamped to shown_min..shown_max
    int16_t shown_max;  //       when shown_min < shown_max
    uint8_t layouts;    // bit (layout - 1) set where the control applies
    const char* label;  // the setting's name as the page labels it
    // Editing: stored values are clamped to min..max (Window::Fixed) or to the
    // window; min == max == 0 with Fixed means no clamp (bits, rows, texts).
    int32_t min;
    int32_t max;
    Window window;
    uint16_t refresh;   // section_bit of each section refilled after an edit
    MaskListsEffect masks;

    constexpr SettingsBinding limits(int32_t lo, int32_t hi) const
    {
        SettingsBinding b = *this;
        b.min = lo;
        b.max = hi;
        return b;
    }
    constexpr SettingsBinding within(Window w) const
    {
        SettingsBinding b = *this;
        b.window = w;
        return b;
    }
    constexpr SettingsBinding refreshes(uint16_t sections) const
    {
        SettingsBinding b = *this;
        b.refresh = sections;
        return b;
    }
    constexpr SettingsBinding refreshes_masks() const
    {
        SettingsBinding b = *this;
        b.masks = MaskListsEffect::Refresh;
        return b;
    }
    constexpr SettingsBinding rebuilds_masks() const
    {
        SettingsBinding b = *this;
        b.masks = MaskListsEffect::Rebuild;
        return b;
    }
};

std::span<const SettingsBinding> settings_bindings();
// The row of a widget id; nullptr when the id has none.
const SettingsBinding* settings_binding(const char* id);

// Rows of the combo lists the bindings refer to.
constexpr int kTimezoneRows = 97;
constexpr int kShuntRows = 26;
constexpr int kRectifierModelRows = 13;
constexpr int kRectifierClassRows = 2;
constexpr int kMonitoringModeRows = 3;
constexpr int kElementsPerBlockRows = 3;

// Rectifier models by row of the model list (type word = 0x8000 + row).
const char* rectifier_model_name(int row);
// Shunt rating in amperes by row of the shunt list; 0 outside it.
int shunt_rating(int row);

// What a control shows for the image: `number` for spins, `row` for combos
// (-1 when the stored value has no row), `active` for checks, `text` for
// entries and address bytes.
struct ControlValue {
    double number = 0;
    int row = -1;
    bool active = false;
    std::string text;
};
ControlValue settings_control_value(const SettingsBinding& binding, const SettingsImage& image);
// The text a combo shows for `row` ("+03:00", "200 А", "6", "GSM"); empty
// when the list has no such row.
std::string settings_combo_text(const SettingsBinding& binding, int row);
