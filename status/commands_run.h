// The service commands' workers: each command is one register write from a
// worker of lane "command" bound to the open link, with the result in the log.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "base/workers.h"
#include "status/commands.h"

// How a command ended, as the Controller answered it.
struct CommandOutcome {
    enum Kind {
        Done,      // the Controller took the command
        Refused,   // exception 4: a wrong monitoring password, or the plant cannot do it now
        Unknown,   // sent, but no readable answer came: the Controller may have carried it out
        Failed,    // not sent (no link), or any other exception
    } kind = Failed;
    int result = 0;     // the exchange's result code (0 when done)
    std::string text;   // the line the log gave of the outcome, without its newline
};
// Runs on the GUI thread (lock held) once the worker has logged the outcome:
// the command line waits for it to choose its exit code.
using CommandDone = std::function<void(const CommandOutcome& outcome, LinkSession session)>;

// Starts the worker that writes `command` with the monitoring password in
// force now. 0 started, -1 the thread could not be created (logged; `done`
// is not called). A command the Controller refuses (exception 4) makes the
// password be asked for again.
int service_command_start(ServiceCommand command, CommandDone done = {});
// The same for setting the Controller's clock to `seconds`; the log also
// gives the time in the Controller's zone (the zone word and summer-time bit
// of the last settings read), as its own displays show it.
int clock_command_start(uint32_t seconds, CommandDone done = {});
