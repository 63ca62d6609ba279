// Connecting and disconnecting: the window-independent half of the connection
// manager. The GTK handlers (connection_gtk.h) call these.
#pragma once

// What other subsystems add to a connect or a disconnect. Each may be left
// null; all are called on the GUI thread holding the GDK lock.
struct ConnectionHooks {
    // After a link has been opened and its transport thread started: the
    // poll thread starts here.
    void (*link_opened)();
    // Before each connect attempt: forget that the settings image was read.
    void (*connect_started)();
    // "Отключиться" with unapplied settings answered Yes: drop the edits.
    void (*discard_settings_edits)();
    // Waits until the workers that end with the link (the poll thread) have
    // ended; called without the GDK lock.
    void (*wait_workers_stopped)();
};
extern ConnectionHooks connection_hooks;

// Closes the open link of the current kind: clears link_open (the transport
// thread ends after the exchange in progress, waiting operations return -3)
// and puts the menu into its disconnected state. For the modem links it only
// withdraws modem_wanted; the modem thread hangs up. Call it holding the GDK
// lock (on the GUI thread, or a worker inside GdkLock).
void link_close();

// Closing the program: closes the link like link_close, then lets go of the
// GDK lock until the transport thread and the workers of wait_workers_stopped
// have ended, so none of them touches the window or the program's data while
// the main loop ends and the process exits. Call it holding the GDK lock.
void link_close_for_exit();

// "Подключиться" for the kinds that need no dialog first; 1 when the caller
// must ask for an Ethernet address, 0 otherwise.
int connect_to_device();
// The address dialog was confirmed: close any left-over link, connect to the
// text of the address entry. 0 connected, -1 failed (logged; ask again).
int connect_ethernet();
// "Отключиться", first half: with unapplied settings asks whether to go on
// and, if so, drops the edits. 0 when the user chose to stay connected.
int confirm_disconnect();
// "Отключиться", second half: closes the link. The window then resets the
// main display.
void disconnect_from_device();

// Stores a monitoring password typed by the user: six zero bytes, then at most
// six bytes of `password_1251` (already in WINDOWS-1251); sets password_entered.
void store_monitoring_password(const char* password_1251, int length);
