// The settings image as the page divides it: one unit per setting a person
// can see and change (a control, a list item, a bit of a list, an event's
// mask bit), each with the bits of the image it owns. Everything the program
// writes is either in a unit or kept as the Controller holds it; edits travel
// unit by unit, so a setting is always wholly the Controller's or wholly the
// user's. Pure.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "registers/settings_image.h"

struct SettingsBinding;

struct SettingsUnitByte {
    uint16_t index; // byte of SettingsImage::bytes
    uint8_t mask;
};

struct SettingsUnit {
    const SettingsBinding* binding = nullptr; // the control; nullptr for list items and bits
    bool text = false;                        // compared as the page shows the text, not by its bytes
    std::vector<SettingsUnitByte> bytes;
};

// The units of a layout (1..3), in the order of the page.
const std::vector<SettingsUnit>& settings_units(int layout);
// Per byte of the image, the bits some unit owns.
const std::vector<uint8_t>& settings_unit_bits(int layout);

// Whether the unit's setting differs between two images of one layout.
bool settings_unit_differs(const SettingsUnit& unit, const SettingsImage& a, const SettingsImage& b);
// Copies the unit's bits from `from` into `to`.
void settings_unit_copy(const SettingsUnit& unit, const SettingsImage& from, SettingsImage& to);

// Bits no unit owns, and texts that read the same on the page, take the
// Controller's bytes: nothing unseen reaches a write. Each word that had a
// hidden difference is described in `kept` when given.
void settings_keep_unshown(SettingsImage& image, const SettingsImage& controller,
                           std::vector<std::string>* kept = nullptr);

// A setting both the page and the Controller changed since `base`.
struct SettingsConflict {
    size_t unit;            // index into settings_units(layout)
    std::string name;       // as the review names it
    std::string controller; // the Controller's value now
    std::string page;       // the page's value
};

struct SettingsCarried {
    SettingsImage image;                      // the edits over `current`, through the page's rules
    std::vector<SettingsConflict> conflicts;  // where `image` holds the page's value
};

// The edits of the page (`edited` against `base`) carried onto the
// Controller's settings now (`current`), setting by setting: a setting only
// the page changed keeps the page's value, one only the Controller changed
// takes the Controller's, one both changed differently keeps the page's and
// is listed as a conflict for the user to decide. The carried values pass the
// page's rules against the settings they now sit among. Header words and
// bits no unit owns are `current`'s. Images of another layout than
// `current`'s carry nothing.
SettingsCarried settings_carry_edits(const SettingsImage& base, const SettingsImage& edited,
                                     const SettingsImage& current);
// The conflicts of `edit` against `current` that still hold: the page still
// holds its own value and the Controller's is still the one recorded.
std::vector<SettingsConflict> settings_conflicts_open(const std::vector<SettingsConflict>& conflicts,
                                                      const SettingsImage& edit, const SettingsImage& current);
// The user chose the Controller's value: `image` takes it from `current`.
void settings_take_controller_value(SettingsImage& image, const SettingsImage& current,
                                    const SettingsConflict& conflict);
// "name: в Контроллере X, на странице Y", one line per conflict.
std::string settings_conflicts_text(const std::vector<SettingsConflict>& conflicts);
