#include "status/equipment_lists.h"

#include "settings/settings_store.h"
#include "status/status_image.h"

namespace {

struct Copies {
    SettingsImage device;
    SettingsImage reference;
};

Copies settings_copies(const StatusImage& status)
{
    int layout = status_layout(status);
    Copies c;
    c.device = settings_device_copy(layout);
    c.reference = settings_reference_copy(layout);
    return c;
}

}  // namespace

ListView current_contactor_list(const StatusImage& status)
{
    Copies c = settings_copies(status);
    return contactor_list_view(c.device, c.reference, status.contactors);
}

ListView current_rectifier_list(const StatusImage& status)
{
    Copies c = settings_copies(status);
    int layout = c.device.layout;
    std::span<const uint16_t> modules(status.rectifiers[layout - 1].data(), rectifier_registers(layout));
    return rectifier_list_view(c.device, c.reference, modules);
}

ListView current_dry_contact_list(const StatusImage& status)
{
    Copies c = settings_copies(status);
    return dry_contact_list_view(c.device, c.reference, status.dry_contacts);
}

ListView current_ukdv_list(const StatusImage& status)
{
    Copies c = settings_copies(status);
    return ukdv_list_view(c.device, c.reference, status.extensions[1]);
}

ListView current_upkb_list(const StatusImage& status)
{
    Copies c = settings_copies(status);
    return upkb_list_view(c.device, c.reference, status.extensions[0]);
}
