// Window-less stand-in for the UI hooks: what the window would have shown is
// kept in memory so that tests and tools can look at it. It is what ui() holds
// until the GTK layer installs its own hooks.
//
// The window's thread is played by whichever thread holds the stand-in lock
// (GdkLock). A task a worker posts runs at once on the worker's own thread
// while nobody holds the lock, holding it meanwhile; while a test holds it,
// the task waits until the test lets go, as a window's idle task waits for
// the handler that is running. Workers take no lock of the window's, here as
// in the program: the locks they do take (the log's queue, the link lock, the
// exchange's) are the program's own.
#pragma once

#include <string>

#include "base/gdk_lock.h"
#include "base/ui_hooks.h"

void headless_ui_install();
void headless_ui_clear();

// Log text since the last clear (what is queued is drained first), each piece
// prefixed by nothing; tags are kept separately in headless_log_tagged() as
// "[tag]text" pieces. headless_ui_clear drops what is still queued.
std::string headless_log();
std::string headless_log_tagged();
std::string headless_title();
int headless_connect_controls();   // last value passed, -1 if never
std::string headless_messages();   // every show_message text, one per line
void headless_set_device_address(const std::string& address);
// Answer that headless ask_question gives (default 0 = No).
void headless_set_question_answer(int yes);
