#include "events/active_lists_cycle.h"

#include <cstring>

#include "settings/settings_store.h"
#include "status/status_image.h"

ActiveListsView current_active_lists(const StatusImage& status, const StatusImage& previous)
{
    int layout = status_layout(status);
    auto block = events_block_bytes(status, layout);
    auto before = events_block_bytes(previous, layout);
    if (block.size() == before.size() && std::memcmp(block.data(), before.data(), block.size()) == 0)
        return {};
    SettingsImage device = settings_device_copy(layout);
    std::array<std::span<const uint8_t>, kActiveListCount> masks;
    for (int k = 0; k < kActiveListCount; ++k)
        masks[k] = settings_event_mask(device, k + 1);
    return active_lists_view(layout, block, before, masks, catalogue_settings(device));
}
