#include "link/connection.h"

#include <glib.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "base/app_state.h"
#include "base/log.h"
#include "modbus/exchange.h"

namespace {

int run_on_caller(std::function<int()> call, int) { return call(); }
std::atomic<BlockingRunner> g_blocking_runner{run_on_caller};

constexpr int kEvents = 5;
std::vector<void (*)()> g_subscribers[kEvents];

void announce(ConnectionEvent event)
{
    for (auto subscriber : g_subscribers[int(event)])
        subscriber();
}

// The last link whose end the window has heard of. "Отключиться" announces
// its link's end at once; the transport thread's word of that same end comes
// later and is not passed on a second time. GUI thread.
LinkSession g_end_announced = 0;

void announce_link_ended(LinkSession session)
{
    if (session != 0 && session == g_end_announced)
        return;
    g_end_announced = session;
    announce(ConnectionEvent::LinkEnded);
}

// On the GUI thread, holding the lock, some time after the transport thread
// of `session`'s link ended. A link opened meanwhile is the user's new
// connection: leave it be.
void link_ended_on_gui(LinkSession session)
{
    if (app.link_open)
        return;
    app.password_entered = 0;
    if (app.settings_modified) {
        // Nobody could be asked: the link was already gone.
        log_message(err_text, "Несохраненные изменения настроек потеряны\n");
        announce(ConnectionEvent::EditsLost);
        announce(ConnectionEvent::DiscardEdits);
        app.settings_modified = 0;
    }
    announce_link_ended(session);
}

void link_ended(LinkSession session) { run_on_gui([session] { link_ended_on_gui(session); }); }

// Closes the open link, if there is one and, unless `only` is 0, it is still
// the link of session `only`. True when it closed one.
bool close_open_link(LinkSession only)
{
    const LinkBackend* backend = link_backend(app.link_kind);
    std::lock_guard<std::mutex> l(app.link_lock);
    if (!app.link_open || (only != 0 && !link_session_live(only)))
        return false;
    if (backend && backend->close)
        backend->close();
    else
        exchange_close();
    app.link_open = 0;
    return true;
}

// The menu in its disconnected state. From a worker (a failed send, a refused
// protocol) the window gets to it later: a link opened by then keeps its menu.
void show_link_closed()
{
    run_on_gui([] {
        if (!app.link_open)
            ui().set_connect_controls(1);
    });
}

// A send failed under the exchange (on its transport thread). A backend with
// a thread of its own watches its link itself and treats the failure as a
// lost call. A link the user has closed or replaced meanwhile is left be.
void link_failed(LinkSession session)
{
    const LinkBackend* backend = link_backend(app.link_kind);
    if (backend && backend->own_thread)
        return;
    if (close_open_link(session)) {
        app.password_entered = 0;
        show_link_closed();
    }
}

void link_opened_on_gui(LinkSession session)
{
    if (!app.link_open || link_session_current() != session)
        return;
    ui().set_connect_controls(0);
    announce(ConnectionEvent::LinkOpened);
}

}  // namespace

void connection_subscribe(ConnectionEvent event, void (*subscriber)())
{
    g_subscribers[int(event)].push_back(subscriber);
}

void connection_unsubscribe_all()
{
    for (auto& list : g_subscribers)
        list.clear();
}

void connection_init() { exchange_set_events(ExchangeEvents{link_failed, link_ended}); }

void connection_link_opened(LinkSession session) { run_on_gui([session] { link_opened_on_gui(session); }); }

void link_close()
{
    app.password_entered = 0;
    const LinkBackend* backend = link_backend(app.link_kind);
    if (backend && backend->own_thread) {
        backend->close();
        return;
    }
    if (close_open_link(0))
        show_link_closed();
}

void link_close_for_exit()
{
    link_close();
    workers_stop_all();
    // The workers end within moments of being told; none of them waits for
    // the window on its way out, so the window's lock may stay held.
    workers_wait();
}

void link_set_blocking_runner(BlockingRunner runner) { g_blocking_runner = runner ? runner : run_on_caller; }

int link_run_blocking(std::function<int()> call, int given_up)
{
    return g_blocking_runner.load()(std::move(call), given_up);
}

int link_open_through(const LinkBackend& backend, const LinkTarget& target)
{
    std::shared_ptr<LinkIo> io;
    if (backend.open(target, &io) != 0)
        return -1;
    int opened;
    {
        std::lock_guard<std::mutex> l(app.link_lock);
        opened = exchange_open(io);
    }
    if (opened != 0) {
        // The stream went with the failed session; no thread is there to use it.
        log_message(err_text, "Не удается запустить обмен: система не дала создать поток\n");
        if (backend.close)
            backend.close();
        return -1;
    }
    return 0;
}

LinkBackend::Asks connect_to_device()
{
    announce(ConnectionEvent::ConnectStarted);
    const LinkBackend* backend = link_backend(app.link_kind);
    if (!backend)
        log_message(err_text, "Этот тип подключения пока не поддерживается\n");
    // A kind without `open` is not offered in the menu: nothing to say.
    if (!backend || !backend->open)
        return LinkBackend::Asks::Nothing;
    return backend->asks;
}

int connect_target(const LinkTarget& target)
{
    const LinkBackend* backend = link_backend(app.link_kind);
    if (!backend || !backend->open)
        return -1;
    std::shared_ptr<ExchangeSession> left_over = app.link_open ? exchange_current() : nullptr;
    const LinkBackend* left_over_backend = left_over ? link_backend(exchange_link_kind(*left_over)) : nullptr;
    auto reconnect_pause = left_over_backend ? left_over_backend->reconnect_pause : std::chrono::milliseconds(0);
    left_over.reset();
    link_close();
    if (backend->own_thread) {
        if (backend->open(target, nullptr) != 0)
            return -1;
        ui().set_connect_controls(0);
        return 0;
    }
    if (reconnect_pause.count() > 0) {
        auto pause = [reconnect_pause] {
            std::this_thread::sleep_for(reconnect_pause);
            return 0;
        };
        if (link_run_blocking(pause, -1) != 0)
            return -1;   // the window went away meanwhile: nothing to connect for
    }
    if (link_open_through(*backend, target) != 0)
        return -1;
    ui().set_connect_controls(0);
    announce(ConnectionEvent::LinkOpened);
    return 0;
}

int connect_ethernet()
{
    LinkTarget target;
    target.address = ui().device_address();
    return connect_target(target);
}

int confirm_disconnect()
{
    if (!app.settings_modified)
        return 1;
    if (!ui().ask_question("<b>Внесенные Вами изменения настроек не применены!</b>\n"
                           "Вы действительно хотите отключиться?"))
        return 0;
    announce(ConnectionEvent::DiscardEdits);
    app.settings_modified = 0;
    return 1;
}

void disconnect_from_device()
{
    announce(ConnectionEvent::ConnectStarted);
    LinkSession session = link_session_current();
    link_close();
    // A backend's own thread ends its link later (the modem hangs up): until
    // then a poll cycle may still paint, so that end is announced when the
    // transport thread has ended. Any other link has ended here, and no cycle
    // shows after link_close: the window shows the end at once.
    const LinkBackend* backend = link_backend(app.link_kind);
    if (backend && backend->own_thread)
        return;
    // A link that had already failed left nothing for link_close to reset.
    ui().set_connect_controls(1);
    if (session != 0)
        announce_link_ended(session);
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

int store_monitoring_password_text(const char* utf8)
{
    gsize written = 0;
    gchar* converted = g_convert(utf8 ? utf8 : "", -1, "WINDOWS-1251", "UTF-8", nullptr, &written, nullptr);
    if (!converted)
        return -1;
    store_monitoring_password(converted, int(written));
    g_free(converted);
    return 0;
}
