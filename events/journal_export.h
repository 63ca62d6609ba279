// The journal as an XML Spreadsheet 2003 workbook: one worksheet with the
// site name, the serial number, a header row and the journal rows as the list
// shows them (newest first). Pure: writes to any stream.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include <vector>

#include "events/journal.h"
#include "events/spreadsheet.h"

// What the export takes from one row of JournalListStore.
struct JournalExportRow {
    unsigned descriptor = 0;
    std::string kind_text;
    std::string date;
    std::string event;
};

// The export's rows of decoded journal rows, in their order: the window's
// list and the command line export the same rows alike.
std::vector<JournalExportRow> journal_export_rows(std::span<const JournalRow> rows);

// site: the site name in UTF-8 (empty: none, or not convertible); serial: the
// settings' serial number.
void journal_export_write(SpreadsheetWriter& writer, std::string_view site, uint32_t serial,
                          std::span<const JournalExportRow> rows);

// The same rows as a CSV table (RFC 4180: comma, fields quoted where they
// hold a comma, a quote or a line break, CR LF): a header row and the
// export's columns, texts as the list shows them. UTF-8 whatever the locale.
void journal_csv_write(SpreadsheetWriter& writer, std::span<const JournalExportRow> rows);
// One CSV field, quoted only when it must be.
std::string journal_csv_field(std::string_view text);

// The file name the save dialog proposes: "J_<identification serial>.xml".
std::string journal_export_file_name(uint32_t identification_serial);
