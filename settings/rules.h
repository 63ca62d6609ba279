// The editing rules of the settings page: what a control's new value stores
// in the edit copy. Each rule clamps or refuses; the page shows the stored
// value back afterwards, so the user always sees what will be written. Pure.
#pragma once

#include <cstdint>
#include <string>

#include "registers/settings_image.h"
#include "settings/bindings.h"

struct EditResult {
    bool accepted = false; // false: refused, the image is unchanged
    uint16_t refresh = 0;  // section_bit of each section to refill
    MaskListsEffect masks = MaskListsEffect::None;
};

struct StoredRange {
    int32_t min;
    int32_t max;
};
// Stored limits of a spin for the image (cell count, module count, layout).
StoredRange settings_edit_range(const SettingsBinding& b, const SettingsImage& image);
// Shown value -> stored units: scaled and rounded half away from zero.
int32_t settings_stored_number(const SettingsBinding& b, double shown);

// Spin buttons: the shown value, clamped to the control's stored limits. A
// new cell count re-clamps the battery and contactor voltages, a new module
// count the reserve.
EditResult settings_edit_number(SettingsImage& image, const SettingsBinding& b, double shown);
// Combo boxes: the active row (-1, no row, is refused).
EditResult settings_edit_row(SettingsImage& image, const SettingsBinding& b, int row);
// Check buttons.
EditResult settings_edit_check(SettingsImage& image, const SettingsBinding& b, bool active);
// Entries and address bytes: the text typed (UTF-8). Refused when a character
// is not allowed, WINDOWS-1251 cannot hold it, or it is too long for a rule
// that counts characters; free texts are cut to what the field holds.
EditResult settings_edit_text(SettingsImage& image, const SettingsBinding& b, const char* utf8);

// Bytes a free text may take in a field: names and the comment keep their
// last byte for the terminating NUL, the passwords use every byte.
int settings_text_limit(SettingsField field, int layout);
// Item names of the lists (relays, load breakers, contactors, dry contacts):
// WINDOWS-1251, at most 9 bytes. 0 stored, -1 refused (unchanged).
int settings_edit_name(SettingsImage& image, SettingsField field, int item, const char* utf8);
// Block-monitor word of battery group `group`: unit address (0..15) or channel
// (1..8) typed as decimal text, the other part kept. 0 stored, -1 refused.
int settings_edit_block_monitor(SettingsImage& image, int group, bool channel, const char* text);
// Toggles bit `bit` of a word field (dry-contact types, contactors "по СК").
int settings_toggle_bit(SettingsImage& image, SettingsField field, int bit);
// Contactor of a battery breaker (kind 0) or load breaker (kind 1): 0 none, 1..4.
int settings_set_breaker_contactor(SettingsImage& image, int kind, int index, int option);

// Why settings_edit_text refused `utf8` for the binding, as the status bar
// says it: "<label>: <reason>". Empty for a text the rule takes.
std::string settings_refusal_reason(const SettingsBinding& b, const char* utf8);

// Two settings of which one is the other's minimum (Т2, the block voltages).
struct SettingsPair {
    const SettingsBinding* low = nullptr;
    const SettingsBinding* high = nullptr;
};
// The first pair whose minimum the image holds above its maximum; both
// nullptr when there is none. Such an image is refused whole: neither value
// alone is wrong, and which the user meant to change is theirs to say.
SettingsPair settings_inverted_pair(const SettingsImage& image);
