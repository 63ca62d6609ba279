#include "link/rs485.h"

// No `open`: the menu does not offer what cannot connect.
const LinkBackend rs485_backend = {
    .kind = LinkKind::Rs485,
    .name = "RS-485",
    .menu_item = "menuitem11",
};
