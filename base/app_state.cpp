#include "base/app_state.h"

#include <cstring>

AppState app;

const uint8_t kDefaultMonitoringPassword[6] = {'1', '2', '3', '4', '5', '6'};

void app_state_reset_start_values()
{
    app.bytes_sent = 0;
    app.bytes_received = 0;
    app.tcp_timeout = 2;
    app.link_open = 0;

    app.com_port_index = 0;
    app.stop_bits_index = 0;
    app.parity_index = 0;
    app.tone_dialling = 0;
    std::memset(app.modem_init_string, 0, sizeof app.modem_init_string);
    std::memset(app.modem_phone, 0, sizeof app.modem_phone);
    app.baud_index = 12;
    app.data_bits_index = 3;
    std::memcpy(app.monitoring_password, kDefaultMonitoringPassword, sizeof app.monitoring_password);
    app.com_handle = kInvalidHandle;
    app.password_entered = 0;

    app.link_kind = kDefaultLinkKind;
    app.settings_modified = 0;
    app.log_enabled = 1;
}
