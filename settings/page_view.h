// What the settings page shows besides the bound values: which widgets the
// configuration makes meaningless (hidden), the labels built from values, the
// energy-saving requirements and the rows of the page's lists. Pure: the GTK
// layer only applies it.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "registers/settings_image.h"
#include "settings/bindings.h"

// Row counts the page builds from the Controller's counts, each clamped to the
// table it indexes and to the range the page can edit.
constexpr int kPageBatteryGroups = 4;
constexpr int kPageLoadBreakers = 52;
constexpr int kPageContactors = 4;
constexpr int kPageDryContacts = 16;

struct WidgetFlag {
    const char* id;
    bool on;
};
struct WidgetText {
    const char* id;
    std::string text;
};

struct BreakerNameRow {
    std::string label; // "QH%d"
    std::string name;
    int index;
};
struct BlockMonitorRow {
    std::string label; // "Группа %d"
    int address;       // stored / 8
    int channel;       // stored % 8 + 1
    int index;
};
struct DryContactRow {
    std::string label; // "СК%d"
    std::string name;
    bool contact_type;
    int index;
};
struct ContactorRow {
    std::string label; // "K%d"
    bool by_dry_contact;
    std::string name;
    int index;
};
struct BreakerContactorRow {
    std::string label; // "QB%d" or "QH%d"
    int option;        // 0 "Нет", 1..4 "К1".."К4"
    int kind;          // 0 battery breaker, 1 load breaker
    int index;
};

struct SettingsPageView {
    std::vector<WidgetFlag> visible;
    std::vector<WidgetFlag> sensitive;
    std::vector<WidgetText> markup;  // labels set as markup
    std::vector<WidgetText> text;    // labels set as plain text (names from the Controller)
    std::vector<WidgetText> tooltip; // markup; empty removes the tooltip
    std::vector<std::pair<const char*, int>> combo_rows; // rows set apart from the bindings
    // Rows of the lists of the sections presented; the lists of other sections stay unset.
    std::optional<std::vector<BreakerNameRow>> breaker_names;
    std::optional<std::vector<BlockMonitorRow>> block_monitors;
    std::optional<std::vector<ContactorRow>> contactors;
    std::optional<std::vector<DryContactRow>> dry_contacts;
    std::optional<std::vector<BreakerContactorRow>> breaker_contactors;
};

// The page of one section for the image; `protocol_version` decides how the
// rectifier type is shown. Appends to `view`.
void present_settings_section(SettingsSection section, const SettingsImage& image, int protocol_version,
                              SettingsPageView& view);

// Layout 3: the energy-saving check and its label are sensitive with no
// tooltip when the plant meets every requirement; otherwise insensitive with
// the tooltip naming what is missing. Nothing in layouts 1 and 2.
void present_energy_saving(const SettingsImage& image, SettingsPageView& view);
// Tooltip markup listing the unmet requirements; empty when all are met.
std::string energy_saving_tooltip(const SettingsImage& image);

// Cell count the page works with: the stored count clamped to 11..30.
int shown_cell_count(unsigned stored);
// Unit label of a battery or contactor voltage (V × 10) with its value per cell.
std::string per_cell_label(unsigned volts_x10, unsigned stored_cells);
// "K%d", then the name in double quotes when set, then ":".
std::string contactor_label(int number, std::string_view name);
