#include "cli/commands.h"
#include "cli/session.h"

int cli_records(int, char**) { cli_error("команда ещё не готова"); return kExitFailed; }
