#include "events/event_text_device.h"

#include "registers/catalogue.h"
#include "registers/settings_store.h"

bool event_text(char* buffer, size_t size, uint16_t code, int layout, const SettingsImage* settings)
{
    if (settings)
        return event_text(buffer, size, code, *settings);
    SettingsImage device = settings_device_copy(layout);
    return event_text(buffer, size, code, layout, catalogue_settings(device));
}
