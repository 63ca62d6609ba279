// The modem dialog ("Параметры подключения модема") and the port parameter
// dialog ("Параметры порта") it opens. Built in code each time.
#pragma once

#include "link/backend.h"

// Runs the modem dialog for GSM (`pstn` false) or PSTN. On OK copies its
// values into the program state (port, speed and format, init string and
// number cut to their buffers on a character boundary, tone dialling) and
// fills `target` with the port's path and the number; returns true. GUI
// thread, GDK lock held.
bool run_modem_dialog(bool pstn, LinkTarget* target);
