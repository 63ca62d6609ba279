// Presenters of the equipment lists (contactors, rectifier modules, dry
// contacts, breaker-monitor and block-monitor units): from the settings and
// status registers to the rows of each list store. Pure: the poll thread's
// updaters copy what they need under the locks and hand it in.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "registers/settings_image.h"
#include "registers/status_image.h"
#include "status/presenters.h"

// Stock icons of list rows.
inline constexpr const char* kIconNormal = "gtk-apply";
inline constexpr const char* kIconAlarm = "gtk-cancel";
inline constexpr const char* kIconError = "gtk-dialog-error";
inline constexpr const char* kIconWarning = "gtk-dialog-warning";
inline constexpr const char* kIconOff = "gtk-dialog-no";
inline constexpr const char* kIconQuestion = "gtk-dialog-question";

struct StateLook {
    const char* icon;
    const char* text;
};

// Look of a state code; codes past the table get the table's error entry.
StateLook contactor_state_look(unsigned state);      // bits 1-2 of the contactor register
StateLook rectifier_state_look(unsigned state);
StateLook dry_contact_state_look(unsigned state);
StateLook extension_unit_look(bool missing);

// One row: the columns to set, each with its text. Columns not listed keep
// what they hold.
struct ListRow {
    std::vector<std::pair<int, std::string>> cells;
    StateCode state;         // the row's state code (modules, contactors, dry contacts)
    bool measured = false;   // the row shows measured values (modules)
    const std::string* cell(int column) const;
};

// A list after one cycle: with `rebuild` the store is cleared first and every
// row appended; otherwise the rows are updated in place from the first one.
struct ListView {
    bool rebuild = false;
    std::vector<ListRow> rows;
};

// The layout is that of `device`; `reference` is the reference copy of the same layout.
// dry_contacts: 16 state registers; missing_units: the register of the
// extension-units block for the list (+1 breaker monitors, +0 block monitors).
ListView dry_contact_list_view(const SettingsImage& device, const SettingsImage& reference,
                               std::span<const uint16_t> dry_contacts);
ListView ukdv_list_view(const SettingsImage& device, const SettingsImage& reference, uint16_t missing_units);
ListView upkb_list_view(const SettingsImage& device, const SettingsImage& reference, uint16_t missing_units);

// The same fed from the status image of the device copy's layout.
ListView contactor_list_view(const StatusImage& status, const SettingsImage& device, const SettingsImage& reference);
ListView rectifier_list_view(const StatusImage& status, const SettingsImage& device, const SettingsImage& reference);
ListView dry_contact_list_view(const StatusImage& status, const SettingsImage& device,
                               const SettingsImage& reference);
ListView ukdv_list_view(const StatusImage& status, const SettingsImage& device, const SettingsImage& reference);
ListView upkb_list_view(const StatusImage& status, const SettingsImage& device, const SettingsImage& reference);
