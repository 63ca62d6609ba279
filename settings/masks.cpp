#include "settings/masks.h"

#include <algorithm>

#include "base/text_format.h"
#include "registers/catalogue.h"
#include "registers/event_bits.h"

namespace {

// Big enough for every catalogue text with a 10-byte name.
constexpr size_t kEventTextSize = 401;

} // namespace

MaskListsView present_mask_lists(const SettingsImage& image)
{
    MaskListsView view;
    int relays = std::min<int>(settings_u16(image, SettingsField::RelayCount), kRelays);
    for (int i = 0; i < relays; ++i)
        view.relays.push_back({format("Реле %d", i + 1), settings_name(image, SettingsField::RelayNames, i), i});
    for (int i = 0; i < kRelays; ++i)
        view.relay_columns[static_cast<size_t>(i)] = relays > i;

    CatalogueSettings names = catalogue_settings(image);
    char text[kEventTextSize];
    for (int code = 0; code < event_code_count(image.layout); ++code) {
        if (!event_text(text, sizeof text, static_cast<uint16_t>(code), image.layout, names))
            continue;
        MaskRow row{text, {}, code};
        for (int k = 1; k <= kEventMasks; ++k)
            row.bits[static_cast<size_t>(k - 1)] = mask_bit(image, code, k);
        view.rows.push_back(std::move(row));
    }
    return view;
}

bool mask_bit(const SettingsImage& image, int code, int k)
{
    if (k < 1 || k > kEventMasks)
        return false;
    return event_bit(settings_event_mask(image, k), code);
}

int set_mask_bit(SettingsImage& image, int code, int k, bool value)
{
    if (k < 1 || k > kEventMasks || code < 0 || code >= event_code_count(image.layout))
        return -2;
    std::span<uint8_t> mask = settings_item(image, SettingsField::EventMasks, k - 1);
    uint8_t bit = static_cast<uint8_t>(1u << (code % 8));
    uint8_t& byte = mask[static_cast<size_t>(code / 8)];
    byte = value ? static_cast<uint8_t>(byte | bit) : static_cast<uint8_t>(byte & ~bit);
    return 0;
}
