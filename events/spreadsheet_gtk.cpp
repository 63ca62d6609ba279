#include "events/spreadsheet_gtk.h"

#include <gtk/gtk.h>

#include "gui/helpers.h"
#include "base/log.h"

bool spreadsheet_save(const std::string& utf8_name, const std::function<void(SpreadsheetWriter&)>& write,
                      const char* saved_format)
{
    const char* name = utf8_name.c_str();
    SpreadsheetFile file;
    if (int error = spreadsheet_create(name, file)) {
        log_message(err_text, "Ошибка открытия файла '%s': %s\n", name, g_strerror(error));
        show_message(GTK_MESSAGE_ERROR, "Ошибка открытия файла '%s': %s\nФайл не сохранен.", name,
                     g_strerror(error));
        return false;
    }
    write(file.writer);
    if (int error = spreadsheet_close(file)) {
        log_message(err_text, "Ошибка записи файла '%s': %s\n", name, g_strerror(error));
        show_message(GTK_MESSAGE_ERROR, "Ошибка записи файла '%s': %s\nФайл не сохранен.", name, g_strerror(error));
        return false;
    }
    log_message(norm_text, saved_format, name);
    return true;
}
