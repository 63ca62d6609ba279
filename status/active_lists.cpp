#include "status/active_lists.h"

#include <algorithm>
#include <cstring>

const char* const kActiveListStores[kActiveListCount] = {
    "Alarm1ListStore", "Alarm2ListStore", "Rely1ListStore", "Rely2ListStore", "Rely3ListStore", "Rely4ListStore",
};

namespace {

// Lists use this buffer size for each text; the journal uses a larger one.
constexpr size_t kRowTextSize = 401;

}  // namespace

std::vector<uint16_t> selected_active_codes(int layout, std::span<const uint8_t> active,
                                            std::span<const uint8_t> mask)
{
    std::vector<uint16_t> codes;
    size_t bytes = std::min({active.size(), mask.size(), event_bits_bytes(layout)});
    for (size_t i = 0; i < bytes; ++i) {
        unsigned both = active[i] & mask[i];
        for (int bit = 0; both; ++bit, both >>= 1)
            if (both & 1)
                codes.push_back(static_cast<uint16_t>(i * 8 + bit));
    }
    return codes;
}

std::vector<std::string> active_event_rows(int layout, std::span<const uint8_t> active,
                                           std::span<const uint8_t> mask, const CatalogueSettings& settings)
{
    std::vector<std::string> rows;
    char text[kRowTextSize];
    for (uint16_t code : selected_active_codes(layout, active, mask)) {
        event_text(text, sizeof text, code, layout, settings);
        rows.emplace_back(text);
    }
    return rows;
}

ActiveListsView active_lists_view(int layout, std::span<const uint8_t> block, std::span<const uint8_t> previous,
                                  const std::array<std::span<const uint8_t>, kActiveListCount>& masks,
                                  const CatalogueSettings& settings)
{
    ActiveListsView view;
    size_t size = events_block_size(layout);
    if (block.size() < size)
        return view;   // no block to show: leave the lists alone
    if (previous.size() >= size && std::memcmp(block.data(), previous.data(), size) == 0)
        return view;
    view.changed = true;
    auto active = block.subspan(kEventBitsOffset, event_bits_bytes(layout));
    for (int k = 0; k < kActiveListCount; ++k) {
        view.rows[k] = active_event_rows(layout, active, masks[k], settings);
        view.codes[k] = selected_active_codes(layout, active, masks[k]);
    }
    std::vector<uint8_t> everything(active.size(), 0xFF);
    view.active = selected_active_codes(layout, active, everything);
    return view;
}

ActiveListsView active_lists_view(const StatusImage& status, const PreviousStatusImage& previous,
                                  const SettingsImage& device, const SettingsImage* built_from)
{
    int layout = status_layout(status);
    auto block = events_block_bytes(status, layout);
    auto before = events_block_bytes(previous, layout);
    // A previous image without identification is the zeroed one of a fresh
    // connection: the lists still show the last connection's events, so they
    // are rebuilt even when this Controller's block happens to be all zero.
    bool fresh = std::all_of(previous.identification.begin(), previous.identification.end(),
                             [](uint16_t word) { return word == 0; });
    // Whatever of the settings the lists show (masks, names of the items)
    // lives in the device copy; comparing it whole costs less than a cycle.
    bool settings_changed = !built_from || built_from->layout != device.layout || built_from->bytes != device.bytes;
    if (!fresh && !settings_changed && block.size() == before.size() &&
        std::memcmp(block.data(), before.data(), block.size()) == 0)
        return {};
    std::array<std::span<const uint8_t>, kActiveListCount> masks;
    for (int k = 0; k < kActiveListCount; ++k)
        masks[k] = settings_event_mask(device, k + 1);
    // Decided above: the lists are rebuilt, whatever the block did.
    ActiveListsView view = active_lists_view(layout, block, {}, masks, catalogue_settings(device));
    view.changed = true;
    return view;
}
