// The XML Spreadsheet 2003 writer the exports share (the journal and the
// battery test and discharge records): the file, the line writer, the
// document prologue with its style set, and cells whose inserted texts are
// escaped. UTF-8 without a byte-order mark, one element or fragment per line,
// each line ended by CR LF, no indentation.
//
//   SpreadsheetFile file;
//   if (int e = spreadsheet_create(name, file))   // e: errno, nothing made
//       ...
//   spreadsheet_prologue(file.writer, kBatteryRecordStyles);
//   spreadsheet_line(file.writer, "<Worksheet ss:Name=\"Батарея %d\">", g + 1);
//   spreadsheet_title_row(file.writer, merge_across, site_name_utf8);
//   spreadsheet_line(file.writer, "%s", spreadsheet_cell("RARUR_tbl_val_3", "Number",
//                    spreadsheet_decimal(mv, 3)).c_str());
//   ...
//   if (int e = spreadsheet_close(file))   // e: errno; the chosen file is as it was
//       ...
//
// Writers never format a value through the locale: Number cells hold
// integers or spreadsheet_decimal texts, always with a point.
#pragma once

#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

// Lines to any stdio stream. The first failure is kept; later lines are not
// written.
struct SpreadsheetWriter {
    FILE* out = nullptr;
    int error = 0;   // errno of the first failed write; 0 while every write went through
};

// Formats one line printf-style and writes it with CR LF. Returns the bytes
// of the formatted text, or -1 when this or an earlier write failed.
int spreadsheet_line(SpreadsheetWriter& writer, const char* format, ...) __attribute__((format(printf, 2, 3)));

// The styles of the exports, each written as its eight lines.
enum class SpreadsheetStyle {
    Default, Sn, Head, TableHead, ValueEvent, ValueDate, Value3, Value2, Value1, Value0, Bold,
};
extern const SpreadsheetStyle kJournalStyles[8];
extern const SpreadsheetStyle kBatteryRecordStyles[9];

// The document prologue up to and including "</Styles>", with `styles` in order.
void spreadsheet_prologue(SpreadsheetWriter& writer, std::span<const SpreadsheetStyle> styles);

// An inserted text made safe as XML character data: & < > " as entities, and
// the control characters (0x01-0x1F but tab, LF, CR, and DEL) left out.
std::string spreadsheet_escape(std::string_view text);

// Integer `value` scaled down by 10^decimals, always with a point and a leading
// minus for negatives: (12345, 3) -> "12.345", (-15, 1) -> "-1.5", (-5, 1) -> "-0.5".
std::string spreadsheet_decimal(int64_t value, int decimals);

// Where a cell sits: ss:Index (1-based column, 0 none), ss:MergeAcross and
// ss:MergeDown (0 none).
struct CellPlace {
    int index = 0;
    int merge_across = 0;
    int merge_down = 0;
};

// One cell as text: <Cell[ ss:Index][ ss:MergeAcross][ ss:MergeDown][ ss:StyleID]>
// <Data ss:Type="type">data</Data></Cell>. `style` nullptr: no style.
// `data` is escaped; Number data is written as given.
std::string spreadsheet_cell(const char* style, const char* type, std::string_view data, CellPlace place = {});
// The dash of a value the record does not have.
std::string spreadsheet_dash_cell();

// The title row over `merge_across` + 1 columns: "RARUR '<site>'", or the bare
// "RARUR" when `site` (UTF-8) is empty.
void spreadsheet_title_row(SpreadsheetWriter& writer, int merge_across, std::string_view site);
// "Серийный номер: <serial>" over `merge_across` + 1 columns.
void spreadsheet_serial_row(SpreadsheetWriter& writer, int merge_across, uint32_t serial);

// An export file. It is written beside the chosen file under a temporary name
// and takes the chosen name only when everything has been written, so a
// failed export leaves what the user had there untouched.
struct SpreadsheetFile {
    SpreadsheetWriter writer;
    std::string path;        // the chosen file, in the file-name encoding
    std::string temp_path;   // what is being written
};

// Creates the file for `utf8_name`. 0, or the errno of the failure (nothing
// is left behind then). A new file gets the mode the user's umask gives (0644
// under 022); a file written over keeps its permissions; a device or pipe chosen as the
// file, or a file in a folder where no temporary file may be made, is written
// directly.
int spreadsheet_create(const char* utf8_name, SpreadsheetFile& file);
// Flushes, closes and, when every write and the close went through, puts the
// file in place. 0, or the errno of the first failure; the temporary file is
// removed then and the chosen file left as it was.
int spreadsheet_close(SpreadsheetFile& file);
