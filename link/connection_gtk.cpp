#include "link/connection_gtk.h"

#include <gtk/gtk.h>
#include <poll.h>

#include <atomic>
#include <functional>
#include <memory>
#include <string>

#include "base/app_state.h"
#include "base/log.h"
#include "base/ui_hooks.h"
#include "gui/helpers.h"
#include "gui/handlers.h"
#include "gui/widgets.h"
#include "base/workers.h"
#include "link/address_dialog_gtk.h"
#include "link/connection.h"
#include "link/modem_gtk.h"
#include "link/recent_file.h"
#include "link/tcp.h"
#include "link/tcp_address.h"
#include "link/usb_gtk.h"

namespace {

// Set once the window is closing (or hidden for good by "Выход").
bool g_window_closing = false;

struct ConnectWait {
    GMainLoop* loop;
    int result;      // 1 ready, 0 timed out, -1 the window is closing
    bool decided;    // the first of the three to happen counts
    guint watch, timer;
};

void decide(ConnectWait* wait, int result)
{
    if (!wait->decided) {
        wait->decided = true;
        wait->result = result;
    }
    g_main_loop_quit(wait->loop);
}

gboolean connect_ready(GIOChannel*, GIOCondition, gpointer data)
{
    auto* wait = static_cast<ConnectWait*>(data);
    wait->watch = 0;
    decide(wait, 1);
    return FALSE;
}

gboolean connect_timed_out(gpointer data)
{
    auto* wait = static_cast<ConnectWait*>(data);
    wait->timer = 0;
    decide(wait, 0);
    return FALSE;
}

void window_going(GtkWidget*, gpointer data)
{
    g_window_closing = true;
    decide(static_cast<ConnectWait*>(data), -1);
}

// A connect the user may give up with "Отключиться" while it waits, and
// whether the user did.
ConnectWait* g_cancellable = nullptr;
bool g_connect_cancelled = false;

// Turns the main loop until `wait` is decided, with the link commands and the
// kinds insensitive meanwhile, but for "Отключиться" when the wait is
// `cancellable`; the window going away decides -1. GUI thread, GDK lock held.
int turn_main_loop_until_decided(ConnectWait* wait, bool cancellable = false)
{
    ui().set_connect_controls(0);
    if (GtkWidget* disconnect = widget_by_id("imagemenuitem2"))
        gtk_widget_set_sensitive(disconnect, cancellable ? TRUE : FALSE);
    if (cancellable)
        g_cancellable = wait;
    GtkWindow* window = main_window();
    gulong hidden = g_signal_connect(window, "hide", G_CALLBACK(window_going), wait);
    gulong destroyed = g_signal_connect(window, "destroy", G_CALLBACK(window_going), wait);

    gdk_threads_leave();
    g_main_loop_run(wait->loop);
    gdk_threads_enter();
    if (cancellable)
        g_cancellable = nullptr;

    // A destroyed window has dropped its handlers already.
    for (gulong handler : {hidden, destroyed})
        if (g_signal_handler_is_connected(window, handler))
            g_signal_handler_disconnect(window, handler);
    if (!g_window_closing)
        ui().set_connect_controls(1);
    return wait->result;
}

// A connect to an address that does not answer takes up to its full time-out;
// meanwhile the window goes on answering and closing it gives the connect up.
// Called on the GUI thread holding the GDK lock.
int wait_keeping_window_alive(int fd, int timeout_ms)
{
    // A connect on the local network is over within moments: no loop for it.
    constexpr int kQuickMs = 50;
    pollfd p{fd, POLLOUT, 0};
    int ready = ::poll(&p, 1, kQuickMs);
    if (ready != 0)
        return 1;   // ready, or a failed poll: SO_ERROR tells
    if (!main_window()) {
        ready = ::poll(&p, 1, timeout_ms - kQuickMs);
        return ready != 0 ? 1 : 0;
    }
    if (g_window_closing)
        return -1;

    ConnectWait wait{g_main_loop_new(nullptr, FALSE), 0, false, 0, 0};
    GIOChannel* channel = g_io_channel_unix_new(fd);
    wait.watch = g_io_add_watch(channel, GIOCondition(G_IO_OUT | G_IO_ERR | G_IO_HUP), connect_ready, &wait);
    g_io_channel_unref(channel);
    wait.timer = g_timeout_add(guint(timeout_ms - kQuickMs), connect_timed_out, &wait);
    // A name server may take seconds: the status bar says what is waited for.
    std::string address = ui().device_address ? ui().device_address() : "";
    TcpAddress parsed;
    bool name = parse_tcp_address(address, &parsed) == 0 && !g_hostname_is_ip_address(parsed.host.c_str());
    status_bar_note("connect", (name ? "Поиск адреса " + parsed.host + " …" : "Подключение к " + address + " …").c_str());
    int result = turn_main_loop_until_decided(&wait, true);
    if (!g_window_closing)   // a window gone has no status bar left
        status_bar_note("connect", "");
    if (wait.watch)
        g_source_remove(wait.watch);
    if (wait.timer)
        g_source_remove(wait.timer);
    g_main_loop_unref(wait.loop);
    return result;
}

// A call run off the GUI thread for run_keeping_window_alive. Shared with the
// thread, which may outlive the wait when the window goes away first.
struct OffThreadCall {
    std::function<int()> call;
    std::atomic<int> result{0};
    ConnectWait* wait = nullptr;   // GUI thread only; nullptr once nobody waits
};

gboolean off_thread_call_returned(gpointer data)
{
    auto* held = static_cast<std::shared_ptr<OffThreadCall>*>(data);
    if ((*held)->wait)
        decide((*held)->wait, 1);
    delete held;
    return FALSE;
}

int run_keeping_window_alive(std::function<int()> call, int given_up)
{
    if (!main_window())
        return call();
    if (g_window_closing)
        return given_up;
    auto state = std::make_shared<OffThreadCall>();
    state->call = std::move(call);
    int started = worker_start(kBlockingCallLane, 0, [state](const WorkerContext&) {
        state->result = state->call();
        state->call = nullptr;   // what it holds goes with the thread, not with the window's side
        // No widget is touched on the way back: the lock is not needed.
        g_idle_add(off_thread_call_returned, new std::shared_ptr<OffThreadCall>(state));
    });
    if (started != 0)
        return state->call();   // no thread to be had: wait here, as little as that is worth

    ConnectWait wait{g_main_loop_new(nullptr, FALSE), 0, false, 0, 0};
    state->wait = &wait;
    int decided = turn_main_loop_until_decided(&wait);
    state->wait = nullptr;
    g_main_loop_unref(wait.loop);
    return decided > 0 ? state->result.load() : given_up;
}

// The recent addresses, newest first, under the address entry.
void offer_recent_addresses()
{
    GtkWidget* combo = widget_by_id("DeviceAddressCombo");
    if (!combo || !GTK_IS_COMBO_BOX_TEXT(combo))
        return;
    gtk_list_store_clear(GTK_LIST_STORE(gtk_combo_box_get_model(GTK_COMBO_BOX(combo))));
    for (const std::string& address : recent_connections().addresses)
        gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(combo), address.c_str());
}

GtkWidget* address_dialog() { return widget_by_id("StringEnterDialog"); }

void show_address_dialog()
{
    GtkWidget* dialog = address_dialog();
    if (!dialog || g_window_closing)
        return;
    offer_recent_addresses();
    address_dialog_clear_hint();
    gtk_window_set_title(GTK_WINDOW(dialog), "Адрес устройства");
    if (GtkWidget* label = widget_by_id("label55"))
        gtk_label_set_markup(GTK_LABEL(label), "<b>Введите адрес устройства:</b>");
    gtk_widget_show(dialog);
}

void hide_address_dialog()
{
    if (GtkWidget* dialog = address_dialog())
        gtk_widget_hide(dialog);
}

void SelectConnectionType(GtkCheckMenuItem* item, gpointer)
{
    if (!gtk_check_menu_item_get_active(item))
        return;
    for (const LinkBackend* backend : link_backends())
        if (widget_by_id(backend->menu_item) == GTK_WIDGET(item))
            app.link_kind = backend->kind;
}

void ConnectToDevice(GtkMenuItem*, gpointer)
{
    LinkBackend::Asks asks = connect_to_device();
    switch (asks) {
    case LinkBackend::Asks::Address:
        show_address_dialog();
        break;
    case LinkBackend::Asks::Modem:
    case LinkBackend::Asks::PhoneLineModem: {
        LinkTarget target;
        if (run_modem_dialog(asks == LinkBackend::Asks::PhoneLineModem, &target))
            connect_target(target);
        break;
    }
    case LinkBackend::Asks::Device:
        usb_connect_device();
        break;
    default:
        break;
    }
}

void ConnectToDeviceOK(GtkButton*, gpointer)
{
    const LinkBackend* backend = link_backend(app.link_kind);
    if (!backend || backend->asks != LinkBackend::Asks::Address || !address_dialog_accepts())
        return;
    hide_address_dialog();
    std::string address = ui().device_address();
    g_connect_cancelled = false;
    // A connect the user gave up does not ask for the address again.
    if (connect_ethernet() != 0 && !g_connect_cancelled)
        show_address_dialog();
    else
        recent_remember_address(address);
}

void ConnectToDeviceOKIcon(GtkEntry*, GtkEntryIconPosition position, GdkEvent*, gpointer)
{
    if (position == GTK_ENTRY_ICON_SECONDARY)
        ConnectToDeviceOK(nullptr, nullptr);
}

void ConnectToDeviceCancel(GtkButton*, gpointer) { hide_address_dialog(); }

void DisconnectFromDevice(GtkMenuItem*, gpointer)
{
    // A connect still waiting for its name or its peer is given up.
    if (g_cancellable) {
        g_connect_cancelled = true;
        log_message(norm_text, "Подключение отменено пользователем\n");
        decide(g_cancellable, -1);
        return;
    }
    if (!confirm_disconnect())
        return;
    // Neither command is offered while the link goes down.
    for (const char* id : {"imagemenuitem1", "imagemenuitem2"})
        if (GtkWidget* item = widget_by_id(id))
            gtk_widget_set_sensitive(item, FALSE);
    // The window returns to its disconnected state through LinkEnded.
    disconnect_from_device();
}

void SetMonitoringPassword(GtkMenuItem*, gpointer)
{
    app.password_entered = 0;
    ask_monitoring_password();
}

}  // namespace

int ask_monitoring_password()
{
    if (app.password_entered)
        return 1;
    GtkWidget* dialog = gtk_dialog_new_with_buttons(
        "Пароль мониторинга", main_window(),
        GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT), GTK_STOCK_CANCEL,
        GTK_RESPONSE_REJECT, GTK_STOCK_OK, GTK_RESPONSE_ACCEPT, nullptr);
    set_accessible_id(dialog, "MonitoringPasswordDialog");
    gtk_window_set_resizable(GTK_WINDOW(dialog), FALSE);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    GtkWidget* label = gtk_label_new("Введите пароль мониторинга:");
    gtk_misc_set_alignment(GTK_MISC(label), 0, 0.5);
    gtk_box_pack_start(GTK_BOX(GTK_DIALOG(dialog)->vbox), label, FALSE, FALSE, 4);
    GtkWidget* entry = gtk_entry_new();
    set_accessible_id(entry, "MonitoringPasswordEntry");
    gtk_entry_set_max_length(GTK_ENTRY(entry), 6);
    gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
    gtk_box_pack_start(GTK_BOX(GTK_DIALOG(dialog)->vbox), entry, TRUE, TRUE, 0);
    gtk_widget_show_all(dialog);

    for (;;) {
        if (gtk_dialog_run(GTK_DIALOG(dialog)) != GTK_RESPONSE_ACCEPT) {
            gtk_widget_destroy(dialog);
            return 0;
        }
        if (store_monitoring_password_text(gtk_entry_get_text(GTK_ENTRY(entry))) == 0)
            break;
        // The Controller compares bytes: a character it cannot hold would
        // become a password nobody typed. The last good one stays in force.
        show_message(GTK_MESSAGE_ERROR, "%s",
                     "Пароль мониторинга может содержать только буквы, цифры и знаки кодировки WINDOWS-1251.\n"
                     "Введите пароль еще раз.");
    }
    gtk_widget_destroy(dialog);
    return 1;
}

void link_register_handlers()
{
    tcp_set_connect_wait(wait_keeping_window_alive);
    link_set_blocking_runner(run_keeping_window_alive);
    register_handler("SelectConnectionType", G_CALLBACK(SelectConnectionType));
    register_handler("ConnectToDevice", G_CALLBACK(ConnectToDevice));
    register_handler("DisconnectFromDevice", G_CALLBACK(DisconnectFromDevice));
    register_handler("ConnectToDeviceOK", G_CALLBACK(ConnectToDeviceOK));
    register_handler("ConnectToDeviceOKIcon", G_CALLBACK(ConnectToDeviceOKIcon));
    register_handler("ConnectToDeviceCancel", G_CALLBACK(ConnectToDeviceCancel));
    register_handler("SetMonitoringPassword", G_CALLBACK(SetMonitoringPassword));
    address_dialog_register_handlers();
}
