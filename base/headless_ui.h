// Window-less stand-in for the UI hooks: what the window would have shown is
// kept in memory so that tests and tools can look at it. It is what ui() holds
// until the GTK layer installs its own hooks.
#pragma once

#include <string>

#include "base/ui_hooks.h"

void headless_ui_install();
void headless_ui_clear();

// Log text since the last clear, each piece prefixed by nothing; tags are kept
// separately in headless_log_tagged() as "[tag]text" pieces.
std::string headless_log();
std::string headless_log_tagged();
std::string headless_title();
int headless_connect_controls();   // last value passed, -1 if never
std::string headless_messages();   // every show_message text, one per line
void headless_set_device_address(const std::string& address);
// Answer that headless ask_question gives (default 0 = No).
void headless_set_question_answer(int yes);
