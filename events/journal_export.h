// The journal as an XML Spreadsheet 2003 workbook: one worksheet with the
// site name, the serial number, a header row and the journal rows as the list
// shows them (newest first). Pure: writes to any stream.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "events/spreadsheet.h"

// What the export takes from one row of JournalListStore.
struct JournalExportRow {
    unsigned descriptor = 0;
    std::string kind_text;
    std::string date;
    std::string event;
};

// site: the site name in UTF-8 (empty: none, or not convertible); serial: the
// settings' serial number.
void journal_export_write(SpreadsheetWriter& writer, std::string_view site, uint32_t serial,
                          std::span<const JournalExportRow> rows);

// The file name the save dialog proposes: "J_<identification serial>.xml".
std::string journal_export_file_name(uint32_t identification_serial);
