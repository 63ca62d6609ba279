// The six lists of active events (alarm classes 1 and 2, signal relays 1-4):
// which events each list shows. Pure: the poll thread hands in the events
// block of this and of the previous cycle, the masks and the catalogue view.
#pragma once

#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "registers/catalogue.h"
#include "registers/settings_image.h"
#include "registers/status_image.h"

constexpr int kActiveListCount = 6;

// List store ids, in refresh order; list k uses event mask k + 1.
extern const char* const kActiveListStores[kActiveListCount];

// Bytes of the events block (26 or 34 registers from input register 256) and
// where the active-event bits start in it.
constexpr size_t events_block_size(int layout) { return 2 * static_cast<size_t>(events_block_registers(layout)); }
constexpr size_t kEventBitsOffset = 12;

// Codes set both in `active` and in `mask` (host form), ascending. Bits past
// the shorter array, or past the layout's code space, count as clear.
std::vector<uint16_t> selected_active_codes(int layout, std::span<const uint8_t> active,
                                            std::span<const uint8_t> mask);

// Row texts of one list: every selected active code through the catalogue,
// whether or not its item is configured.
std::vector<std::string> active_event_rows(int layout, std::span<const uint8_t> active,
                                           std::span<const uint8_t> mask, const CatalogueSettings& settings);

// What the six lists should show after a cycle. `changed` is false when the
// events block equals the previous cycle's byte for byte: the lists are then
// left exactly as they are (masks changed alone do not show until then).
struct ActiveListsView {
    bool changed = false;
    std::array<std::vector<std::string>, kActiveListCount> rows;
    std::array<std::vector<uint16_t>, kActiveListCount> codes;   // the event code of each row
    std::vector<uint16_t> active;   // every active event, listed or not
};

// block and previous: the layout's whole events block in host form.
// masks: the six masks in host form.
ActiveListsView active_lists_view(int layout, std::span<const uint8_t> block, std::span<const uint8_t> previous,
                                  const std::array<std::span<const uint8_t>, kActiveListCount>& masks,
                                  const CatalogueSettings& settings);

// The lists after a cycle from the status images of this and of the previous
// cycle, with the masks and names of `device`, the device copy of the layout
// in force. `built_from` is the device copy the lists on screen were built
// from (nullptr: none). The lists are rebuilt when the events block changed,
// when the masks or names changed since they were built (a first cycle before
// any settings read builds them from empty masks), and always on the first
// cycle after a connect (previous image zeroed).
ActiveListsView active_lists_view(const StatusImage& status, const PreviousStatusImage& previous,
                                  const SettingsImage& device, const SettingsImage* built_from);
