// rarur-cli's runtime: the program's workers with no window. The stand-in for
// the window's hooks plays the window's thread (the main thread takes its lock
// to call what the window's handlers call), the log goes to stderr, and the
// poll cycle's view is kept for the command that waits for it. One process
// talks to one Controller.
#pragma once

#include <chrono>
#include <functional>
#include <string>

#include <glib.h>

#include "base/gdk_lock.h"
#include "cli/address.h"
#include "status/cycle_view.h"

// Exit codes every command shares (check has the monitoring plugins' own).
enum CliExit {
    kExitOk = 0,
    kExitNo = 1,             // the command's answer is "no" (settings differ, not accepted)
    kExitUsage = 2,          // wrong options or address
    kExitNoController = 3,   // no link, or the Controller did not answer in time
    kExitFailed = 4,         // the work failed part way (transfer error, file not written)
    kExitInterrupted = 130,  // Ctrl-C
};

// The options of the link, shared by every command that talks to a Controller.
struct CliLinkOptions {
    int timeout_s = 10;         // to connect and see the first complete poll cycle
    int baud = 0;               // modem: 0 keeps the modem dialog's default
    gchar* init = nullptr;      // modem init string
    gboolean pulse = FALSE;     // phone line: pulse dialling
    gboolean verbose = FALSE;   // every log line to stderr, not just the errors
    gboolean frames = FALSE;    // and every frame, as hex
};
CliLinkOptions& cli_link_options();
// These options as GOption entries (shown in each command's --help).
const GOptionEntry* cli_link_option_entries();

// Parses a command's options: `parameters` and `summary` are its --help
// lines. `with_link` adds the link's group. Prints the error in GLib's words
// and returns false on a wrong option; --help exits 0 from inside.
bool cli_parse_options(int* argc, char*** argv, const char* parameters, const char* summary,
                       const GOptionEntry* entries, bool with_link, const char* description = nullptr);
// An option or argument error in the house style: "rarur-cli: text" and a
// hint to --help, on stderr. Returns kExitUsage.
int cli_usage_error(const std::string& text);
// An error of the work in the window's words: "rarur-cli: text" on stderr.
void cli_error(const std::string& text);

// Runs `run` as the command `name` of `argv[0]` ("rarur-cli" → "rarur-cli
// status"): its argv starts with that name (the --help and error texts say
// it) and holds what followed argv[1].
int cli_run_subcommand(const char* name, int argc, char** argv, int (*run)(int argc, char** argv));

// Sets up the workers, the hooks and Ctrl-C. Once, before anything else.
void cli_runtime_start();
// Ctrl-C or SIGTERM came.
bool cli_interrupted();
// Waits until `done` or `timeout` or Ctrl-C, passing log lines on meanwhile.
// Returns done().
bool cli_wait(const std::function<bool()>& done, std::chrono::milliseconds timeout);
// Any thread: what a cli_wait in progress waits on may have changed; it
// looks again now rather than within its 20 ms.
void cli_wake();
// Passes on what is queued in the log (the main thread, lock not held).
void cli_pump_log();

// Runs `call` as the window's thread does its handlers (the stand-in's lock held).
template <class F>
auto cli_as_window(F call)
{
    GdkLock lock;
    return call();
}

// Connects to `address` and waits, within the link options' time-out from
// now, for the first complete poll cycle. kExitOk, or the exit code with the
// reason said on stderr.
int cli_connect(const std::string& address_text);
// The view of the last complete poll cycle.
CycleView cli_last_view();
// The settings of the first cycle that read them have reached the edit copy
// (as the window's page is loaded): the Controller's settings are known.
bool cli_settings_loaded();
// Waits, within `timeout`, until the Controller's settings have been read
// (cli_settings_loaded): the lists' masks and counts and the time zone the
// Controller's times are shown in are in them. Ends early when the link does.
// kExitOk, or the exit code with the reason said.
int cli_wait_settings(std::chrono::milliseconds timeout);
// The same within the link options' whole time-out from now.
int cli_wait_settings();
// The link is open (it may still end on its own: a lost link).
bool cli_link_up();
// Closes the link and waits for every worker (a modem hangs up).
void cli_disconnect();

