// The settings page in the window: fills every control from a copy of the
// settings image through the binding table, applies the page view, and owns
// the page's own handlers (page switch, refresh, cancel). GUI thread or GDK
// lock held.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "settings/setting_units.h"

// Handlers named in the interface description; before the window is built.
void settings_page_register_handlers();
// After the widgets have been looked up: takes the poll thread's page load.
void settings_page_install();
// Called after each load of the page from a connection's first settings read
// (under the GDK lock, possibly on a worker thread).
void settings_page_on_load(void (*after)());

// Fills the page from the edit copy of the page's layout; with copy_device the
// device copy of the layout in force is copied into the edit copy first.
// Clears settings_modified and hides the control buttons.
void settings_page_refill(bool copy_device);
// The link has ended (and at start-up): the page shows an empty image and no
// longer counts as loaded.
void settings_page_reset();

// A user's edit: settings_modified set, control buttons and the tab's edit
// mark shown.
void settings_page_mark_edited();
// True while the page is being filled; change handlers ignore what they see then.
bool settings_page_busy();
// Layout of the image the page shows.
int settings_page_layout();

// Refills the sections whose section_bit is in `sections` from the edit copy
// (the energy-saving requirements after them).
void settings_page_refill_sections(uint16_t sections);
struct SettingsBinding;
// Shows the edit copy's value in the binding's control, as a fill does.
void settings_page_show_stored(const SettingsBinding& binding);
// While settings are written the page takes no edits, refresh or cancel.
void settings_page_lock(bool locked);

// `edited` becomes the edit copy, made against the Controller's `base`, with
// the settings both changed; shows as edits where it differs from `base`.
void settings_page_set_edits(const SettingsImage& base, const SettingsImage& edited,
                             std::vector<SettingsConflict> conflicts = {});
// Takes in a settings read the page has not yet shown (another client's
// change): fields not edited show it, edited ones keep the user's value and
// are marked where the Controller changed them too. On a timer, and before
// anything is made of the page's edits.
void settings_page_follow_device();
// Before a write: the conflicts `edit` still holds against `device` are put to
// the user (the page's values or the Controller's); `edit` and the page take
// the answer. False when there was none to ask.
bool settings_page_settle_conflicts(SettingsImage& edit, const SettingsImage& device);
// `text` for a dialog's or tooltip's markup: values from the Controller and
// files may hold '<' and '&'.
std::string settings_markup_escaped(const std::string& text);
