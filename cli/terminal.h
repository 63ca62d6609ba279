// What rarur-cli asks of the person at the terminal: the monitoring password
// and a yes-or-no before writing to a Controller. A script has no terminal:
// it gives the password in RARUR_MONITORING_PASSWORD and --yes instead.
#pragma once

#include <string>

// Standard input is a terminal.
bool cli_stdin_is_terminal();

// The monitoring password, UTF-8: RARUR_MONITORING_PASSWORD when set,
// otherwise typed on the terminal without echo. False when there is neither
// (stdin is not a terminal), the typing was interrupted or the password is
// longer than the window's six characters; the reason is said.
bool cli_read_password(std::string* password);

// Asks `question` followed by " [y/N] " on stderr and reads a line from the
// terminal: true only for "y", "yes", "д" or "да" (any case).
bool cli_confirm(const std::string& question);

// Stores the password as the window's password dialog does; false (said) when
// it cannot be one (a character WINDOWS-1251 cannot hold).
bool cli_use_password(const std::string& password);
