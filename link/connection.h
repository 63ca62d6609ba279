// Connecting and disconnecting: the window-independent half of the connection
// manager. The GTK handlers (connection_gtk.h) call these.
#pragma once

#include <functional>

#include "base/workers.h"
#include "link/backend.h"

// What other subsystems hear of the connection. Subscribers are called on the
// GUI thread holding the GDK lock, in the order they subscribed.
enum class ConnectionEvent {
    // Before each connect attempt and on "Отключиться": the settings of the
    // last connection no longer count as read.
    ConnectStarted,
    // A link has been opened and its transport thread started: the poll
    // thread starts here.
    LinkOpened,
    // "Отключиться" with unapplied settings answered Yes: drop the edits.
    DiscardEdits,
    // The link was lost with unapplied settings: announced just before
    // DiscardEdits, while the edits are still there to be kept aside.
    EditsLost,
    // A link has ended and no other has opened since: whatever way it ended,
    // the window returns to its disconnected state. Once per link.
    LinkEnded,
};
void connection_subscribe(ConnectionEvent event, void (*subscriber)());
// Forgets every subscriber (tests).
void connection_unsubscribe_all();

// Installs the exchange's callbacks: a failed link is closed (unless the
// user has closed or replaced it meanwhile), an ended one is announced
// (LinkEnded, posted to the GUI thread). Once at start-up.
void connection_init();

// Closes the open link of the current kind: clears link_open (the transport
// thread ends after the exchange in progress, waiting operations return -3)
// and puts the menu into its disconnected state. For the modem links it only
// withdraws modem_wanted; the modem thread hangs up. Any thread: the GUI
// thread, or a worker (the poll thread refusing a protocol), which takes no
// lock of the window's; the menu is put right on the GUI thread. Links are
// opened and closed under app.link_lock.
void link_close();

// Closing the program: closes the link like link_close, tells every worker to
// stop and waits until all of them have ended, so none of them touches the
// program's data while the main loop ends and the process exits. Workers never
// wait for the window, so the GUI thread may call it holding the GDK lock (its
// window hidden first: a modem takes seconds to hang up).
void link_close_for_exit();

// A backend's own thread has opened the exchange of `session` (the modem once
// the call is up): the menu goes into its connected state and LinkOpened is
// announced on the GUI thread, unless that link has ended meanwhile. Any
// thread, without the GDK lock.
void connection_link_opened(LinkSession session);

// A call that may take a while on the GUI thread (a USB library's search or
// open, the pause before a reconnect), run so that the window keeps answering:
// the window's runner runs it on a thread of its own and turns the main loop
// until it returns. The result is the call's, or `given_up` when the window
// went away first; the call then ends on its own, so it must own everything it
// touches. Without a runner (tests, tools) the call runs on the caller's
// thread. GUI thread, GDK lock held.
using BlockingRunner = int (*)(std::function<int()> call, int given_up);
void link_set_blocking_runner(BlockingRunner runner);
int link_run_blocking(std::function<int()> call, int given_up);

// Opens `target` through `backend` and starts its exchange. 0 open, -1 failed
// (logged). GUI thread, GDK lock held.
int link_open_through(const LinkBackend& backend, const LinkTarget& target);

// "Подключиться": what the current kind asks for before it can connect
// (nothing for a kind the program does not connect through).
LinkBackend::Asks connect_to_device();
// The address dialog was confirmed: close any left-over link, connect to the
// text of the address entry. 0 connected, -1 failed (logged; ask again).
int connect_ethernet();
// Connects the current kind to `target` after closing any left-over link.
// A backend with a thread of its own is only started: the menu goes into its
// connected state at once, the link opens when that thread has it.
int connect_target(const LinkTarget& target);
// "Отключиться", first half: with unapplied settings asks whether to go on
// and, if so, drops the edits. 0 when the user chose to stay connected.
int confirm_disconnect();
// "Отключиться", second half: closes the link. A link without a thread of its
// own has ended here: LinkEnded is announced at once, and not again when its
// transport thread ends. A modem's link ends when its thread has hung up.
void disconnect_from_device();

// Stores a monitoring password typed by the user (UTF-8). It must fit into
// six bytes of WINDOWS-1251: six zero bytes, then its bytes; sets
// password_entered. 0 stored; -1 refused (a character WINDOWS-1251 cannot
// hold), the last good password kept.
int store_monitoring_password_text(const char* utf8);
// The same for a password already in WINDOWS-1251 (at most six bytes used).
void store_monitoring_password(const char* password_1251, int length);
