// Saving an export file from the window: the journal and the battery records
// report a file they could not write, and the one they wrote, alike.
#pragma once

#include <functional>
#include <string>

#include "events/spreadsheet.h"

// Creates `utf8_name`, lets `write` fill it and puts it in place. A file that
// cannot be created or written is logged and shown in a message box (the
// user's file stays as it was); a saved one is logged with `saved_format`,
// which takes the name ("... сохранен в файл '%s'\n"). GUI thread.
bool spreadsheet_save(const std::string& utf8_name, const std::function<void(SpreadsheetWriter&)>& write,
                      const char* saved_format);
