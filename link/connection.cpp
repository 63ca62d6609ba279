#include "link/connection.h"

#include <chrono>
#include <cstring>
#include <thread>

#include "base/app_state.h"
#include "base/log.h"
#include "link/tcp.h"
#include "modbus/exchange.h"

ConnectionHooks connection_hooks = {};

namespace {
// A link closed just before a new attempt: give the Controller a moment to let
// go of the old connection.
constexpr auto kReconnectPause = std::chrono::milliseconds(300);
}  // namespace

void link_close()
{
    app.password_entered = 0;
    switch (app.link_kind.load()) {
    case LinkKind::Usb:
    case LinkKind::Ethernet:
        if (app.link_open) {
            exchange_close();
            app.tcp_socket = -1;
            app.link_open = 0;
            ui().set_connect_controls(1);
        }
        break;
    case LinkKind::Gsm:
    case LinkKind::Pstn:
        app.modem_wanted = 0;
        break;
    case LinkKind::Rs485:
        break;
    }
}

void link_close_for_exit()
{
    link_close();
    // The threads end within moments of seeing the link closed, but each
    // takes the GDK lock on its way out.
    ui().unlock();
    exchange_wait_stopped();
    if (connection_hooks.wait_workers_stopped)
        connection_hooks.wait_workers_stopped();
    ui().lock();
}

int connect_to_device()
{
    if (connection_hooks.connect_started)
        connection_hooks.connect_started();
    switch (app.link_kind.load()) {
    case LinkKind::Ethernet:
        return 1;
    case LinkKind::Usb:
    case LinkKind::Gsm:
    case LinkKind::Pstn:
        // These links are not part of this build yet.
        log_message(err_text, "Этот тип подключения пока не поддерживается\n");
        return 0;
    case LinkKind::Rs485:
        return 0;
    }
    return 0;
}

int connect_ethernet()
{
    link_close();
    std::this_thread::sleep_for(kReconnectPause);
    if (tcp_connect() != 0)
        return -1;
    ui().set_connect_controls(0);
    if (connection_hooks.link_opened)
        connection_hooks.link_opened();
    return 0;
}

int confirm_disconnect()
{
    if (!app.settings_modified)
        return 1;
    if (!ui().ask_question("<b>Внесенные Вами изменения настроек не применены!</b>\n"
                           "Вы действительно хотите отключиться?"))
        return 0;
    if (connection_hooks.discard_settings_edits)
        connection_hooks.discard_settings_edits();
    return 1;
}

void disconnect_from_device()
{
    if (connection_hooks.connect_started)
        connection_hooks.connect_started();
    link_close();
}

void store_monitoring_password(const char* password_1251, int length)
{
    std::memset(app.monitoring_password, 0, sizeof app.monitoring_password);
    if (length > int(sizeof app.monitoring_password))
        length = int(sizeof app.monitoring_password);
    if (password_1251 && length > 0)
        std::memcpy(app.monitoring_password, password_1251, size_t(length));
    app.password_entered = 1;
}
