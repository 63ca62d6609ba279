// Exporting one battery test or discharge record: what the window's double
// click and `rarur-cli records --export` share once the record has been read
// (record_file_read_start): whether it is still the record that was listed,
// the settings the workbook is made with, and the file itself.
#pragma once

#include <string>

#include "battery/records.h"
#include "battery/workbook.h"

// The settings the workbook takes, from the device copy of the last good
// settings read, in the layout in force.
RecordSettings record_settings_now();

// A record read for export, against the row it was chosen from.
enum class RecordExportState {
    Ready,      // the listed record, with at least one section
    Gone,       // the Controller has emptied its slot since the list was read
    Replaced,   // the slot now holds a newer record
};
RecordExportState record_export_state(const RecordFile& record, uint16_t descriptor, uint32_t start);
// What the user is told when there is nothing to export (Gone, Replaced).
std::string record_export_state_text(RecordExportState state, RecordKind kind);

// Writes the workbook of `record` to `utf8_name` (created beside and put in
// place only when complete, so a failed export leaves the user's file as it
// was). 0, or an errno; `error` then says it in the window's words
// ("Ошибка открытия файла '…': …" or "Ошибка записи файла '…': …").
int record_export_save(const std::string& utf8_name, const RecordFile& record, const RecordSettings& settings,
                       std::string* error);
// "Батарейный тест сохранен в файл '%s'" or "Разряд …": `kind` saved as `utf8_name`.
std::string record_export_saved_text(RecordKind kind, const std::string& utf8_name);
