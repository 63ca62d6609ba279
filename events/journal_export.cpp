#include "events/journal_export.h"

#include "base/text_format.h"

namespace {
constexpr int kColumns = 5;
}  // namespace

std::vector<JournalExportRow> journal_export_rows(std::span<const JournalRow> rows)
{
    std::vector<JournalExportRow> out;
    out.reserve(rows.size());
    for (const JournalRow& row : rows)
        out.push_back({row.descriptor, row.kind_text, row.date, row.event});
    return out;
}

void journal_export_write(SpreadsheetWriter& w, std::string_view site, uint32_t serial,
                          std::span<const JournalExportRow> rows)
{
    spreadsheet_prologue(w, kJournalStyles);
    spreadsheet_line(w, "<Worksheet ss:Name=\"Журнал событий\">");
    spreadsheet_line(w,
                     "<Table ss:ExpandedColumnCount=\"%d\" ss:ExpandedRowCount=\"%zu\" x:FullColumns=\"1\" "
                     "x:FullRows=\"1\">",
                     kColumns, rows.size() + 4);
    for (int width : {40, 50, 90, 140, 600})
        spreadsheet_line(w, "<Column ss:Width=\"%d\"/>", width);
    spreadsheet_title_row(w, kColumns - 1, site);
    spreadsheet_serial_row(w, kColumns - 1, serial);
    spreadsheet_line(w, "<Row></Row>");
    spreadsheet_line(w, "<Row ss:AutoFitHeight=\"1\">");
    for (const char* title : {"№", "Д", "Тип", "Дата", "Описание"})
        spreadsheet_line(w, "%s", spreadsheet_cell("RARUR_tbl_head", "String", title).c_str());
    spreadsheet_line(w, "</Row>");
    size_t k = 0;
    for (const JournalExportRow& row : rows) {
        spreadsheet_line(w, "<Row>");
        spreadsheet_line(w, "%s", spreadsheet_cell("RARUR_tbl_val_0", "Number", format("%zu", ++k)).c_str());
        spreadsheet_line(w, "%s", spreadsheet_cell("RARUR_tbl_val_0", "Number", format("%u", row.descriptor)).c_str());
        spreadsheet_line(w, "%s", spreadsheet_cell("RARUR_tbl_val_0", "String", row.kind_text).c_str());
        spreadsheet_line(w, "%s", spreadsheet_cell("RARUR_tbl_val_date", "String", row.date).c_str());
        spreadsheet_line(w, "%s", spreadsheet_cell("RARUR_tbl_val_event", "String", row.event).c_str());
        spreadsheet_line(w, "</Row>");
        if (w.error)
            return;
    }
    spreadsheet_line(w, "</Table>");
    spreadsheet_line(w, "</Worksheet>");
    spreadsheet_line(w, "</Workbook>");
}

std::string journal_csv_field(std::string_view text)
{
    if (text.find_first_of(",\"\r\n") == std::string_view::npos)
        return std::string(text);
    std::string field = "\"";
    for (char c : text) {
        if (c == '"')
            field += '"';
        field += c;
    }
    return field + "\"";
}

void journal_csv_write(SpreadsheetWriter& w, std::span<const JournalExportRow> rows)
{
    spreadsheet_line(w, "№,Д,Тип,Дата,Описание");
    size_t k = 0;
    for (const JournalExportRow& row : rows) {
        spreadsheet_line(w, "%zu,%u,%s,%s,%s", ++k, row.descriptor, journal_csv_field(row.kind_text).c_str(),
                         journal_csv_field(row.date).c_str(), journal_csv_field(row.event).c_str());
        if (w.error)
            return;
    }
}

std::string journal_export_file_name(uint32_t identification_serial)
{
    return format("J_%u.xml", identification_serial);
}
