// The event-mask table of the settings page: one row per event that applies to
// the configured plant, one column per signalling output (alarm levels 1 and
// 2, signal relays 1-4), plus the relay names beside it. Pure: the settings
// page applies the view and edits the masks through set_mask_bit.
#pragma once

#include <array>
#include <string>
#include <vector>

#include "registers/settings_image.h"

constexpr int kEventMasks = 6;
constexpr int kRelays = 4;

struct MaskRow {
    std::string text;                  // event_text of the code
    std::array<bool, kEventMasks> bits; // bit of mask 1..6
    int code;
};

struct RelayNameRow {
    std::string label; // "Реле %d"
    std::string name;  // UTF-8, empty when unset or not convertible
    int number;        // 0..3
};

struct MaskListsView {
    std::vector<RelayNameRow> relays;
    // Columns "Реле 1".."Реле 4": shown while the relay count reaches them.
    std::array<bool, kRelays> relay_columns{};
    std::vector<MaskRow> rows;
};

// The lists for `image` (the edit copy) in its own layout.
MaskListsView present_mask_lists(const SettingsImage& image);

// Bit of event `code` in mask k (1..6); false outside the mask.
bool mask_bit(const SettingsImage& image, int code, int k);
// Sets or clears it. Returns 0, or -2 when k or the code lies outside the masks
// of the image's layout (the image is unchanged then).
int set_mask_bit(SettingsImage& image, int code, int k, bool value);
