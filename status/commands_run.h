// The service commands' workers: each command is one register write from a
// worker of lane "command" bound to the open link, with the result in the log.
#pragma once

#include <cstdint>

#include "status/commands.h"

// Starts the worker that writes `command` with the monitoring password in
// force now. 0 started, -1 the thread could not be created (logged). A
// command the Controller refuses (exception 4) makes the password be asked
// for again.
int service_command_start(ServiceCommand command);
// The same for setting the Controller's clock to `seconds`; the log also
// gives the time in the Controller's zone (the zone word and summer-time bit
// of the last settings read), as its own displays show it.
int clock_command_start(uint32_t seconds);
