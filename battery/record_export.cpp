#include "battery/record_export.h"

#include <glib.h>

#include "base/text_format.h"
#include "events/spreadsheet.h"
#include "registers/settings_store.h"
#include "status/poll.h"

RecordSettings record_settings_now() { return record_settings_from(settings_device_copy(status_layout_in_force())); }

RecordExportState record_export_state(const RecordFile& record, uint16_t descriptor, uint32_t start)
{
    if (record.sections == 0)
        return RecordExportState::Gone;
    if (!record_is_listed(record, descriptor, start))
        return RecordExportState::Replaced;
    return RecordExportState::Ready;
}

std::string record_export_state_text(RecordExportState state, RecordKind kind)
{
    bool test = kind == RecordKind::Test;
    switch (state) {
    case RecordExportState::Ready:
        return "";
    case RecordExportState::Gone:
        return test ? "Контроллер больше не хранит этот батарейный тест: сохранять нечего.\n"
                      "Прочитайте список тестов еще раз."
                    : "Контроллер больше не хранит этот разряд: сохранять нечего.\n"
                      "Прочитайте список разрядов еще раз.";
    case RecordExportState::Replaced:
        return "Контроллер заменил эту запись; прочитайте список еще раз";
    }
    return "";
}

int record_export_save(const std::string& utf8_name, const RecordFile& record, const RecordSettings& settings,
                       std::string* error)
{
    const char* name = utf8_name.c_str();
    SpreadsheetFile file;
    if (int e = spreadsheet_create(name, file)) {
        *error = format("Ошибка открытия файла '%s': %s", name, g_strerror(e));
        return e;
    }
    record_workbook_write(file.writer, record, settings);
    if (int e = spreadsheet_close(file)) {
        *error = format("Ошибка записи файла '%s': %s", name, g_strerror(e));
        return e;
    }
    return 0;
}

std::string record_export_saved_text(RecordKind kind, const std::string& utf8_name)
{
    return format(kind == RecordKind::Test ? "Батарейный тест сохранен в файл '%s'" : "Разряд сохранен в файл '%s'",
                  utf8_name.c_str());
}
