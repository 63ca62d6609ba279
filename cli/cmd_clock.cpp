#include "cli/commands.h"
#include "cli/session.h"

int cli_clock(int, char**) { cli_error("команда ещё не готова"); return kExitFailed; }
int cli_service(int, char**) { cli_error("команда ещё не готова"); return kExitFailed; }
