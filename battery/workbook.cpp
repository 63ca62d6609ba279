#include "battery/workbook.h"

#include <algorithm>
#include <cstdlib>

#include "base/controller_time.h"
#include "base/text_format.h"

namespace {

constexpr const char* kRow = "<Row ss:AutoFitHeight=\"1\">";

// The offset of the Controller's zone, counted in minutes so that a zone
// west of UTC keeps its sign below one hour.
std::string zone_text(int16_t zone_quarters, bool summer)
{
    int minutes = zone_quarters * 15 + (summer ? 60 : 0);
    return format("%c%d:%02d", minutes < 0 ? '-' : '+', std::abs(minutes) / 60, std::abs(minutes) % 60);
}

void line(SpreadsheetWriter& w, const std::string& text) { spreadsheet_line(w, "%s", text.c_str()); }

void labelled_row(SpreadsheetWriter& w, const std::string& label, const std::string& value)
{
    line(w, kRow);
    line(w, spreadsheet_cell("RARUR_bold", "String", label));
    line(w, spreadsheet_cell(nullptr, "String", value));
    line(w, "</Row>");
}

void general_sheet(SpreadsheetWriter& w, const BatteryRecord& last, bool test, const RecordSettings& s)
{
    const char* word = test ? "батарейного теста" : "разряда";
    line(w, "<Worksheet ss:Name=\"Общая информация\">");
    line(w, "<Table ss:ExpandedColumnCount=\"2\" ss:ExpandedRowCount=\"9\" x:FullColumns=\"1\" x:FullRows=\"1\">");
    line(w, "<Column ss:Width=\"200\"/>");
    line(w, "<Column ss:Width=\"200\"/>");
    spreadsheet_title_row(w, 1, s.site);
    spreadsheet_serial_row(w, 1, s.serial);
    labelled_row(w, format("Время начала %s:", word),
                 controller_time_text(last.start, s.zone_quarters, s.summer) + "  (" + zone_text(s.zone_quarters, s.summer) +
                     ")");
    labelled_row(w, format("Длительность %s:", word), record_duration_text(last.duration));
    labelled_row(w, "Код завершения:", completion_text(last.completion));
    labelled_row(w, "Суммарная ёмкость групп:", format("%0.3fА·ч", last.capacity / 1000.0));
    labelled_row(w, "Напряжение на выходе ЭПУ:", format("%0.2fВ", last.voltage / 100.0));
    labelled_row(w, "Температура:", format("%0.1f°C", last.temperature / 10.0));
    labelled_row(w, "Средний ток:", record_mean_current_text(last.capacity, last.duration));
    line(w, "</Table>");
    line(w, "</Worksheet>");
}

void battery_sheet(SpreadsheetWriter& w, const RecordFile& r, int g, const RecordSettings& s)
{
    const int blocks = s.blocks;
    const int merge = 2 * blocks + 2;
    line(w, format("<Worksheet ss:Name=\"Батарея %d\">", g + 1));
    line(w, format("<Table ss:ExpandedRowCount=\"%d\" x:FullColumns=\"1\" x:FullRows=\"1\">", r.sections + 4));
    spreadsheet_title_row(w, merge, s.site);
    spreadsheet_serial_row(w, merge, s.serial);

    line(w, kRow);
    for (const char* head : {"Точки", "Напряжение, В", "Ёмкость, А·ч"})
        line(w, spreadsheet_cell("RARUR_tbl_head", "String", head, {.merge_down = 1}));
    for (int b = 1; b <= blocks; ++b)
        line(w, spreadsheet_cell("RARUR_tbl_head", "String", format("Блок %d", b), {.merge_across = 1}));
    line(w, "</Row>");

    line(w, kRow);
    for (int b = 0; b < blocks; ++b) {
        line(w, spreadsheet_cell("RARUR_tbl_head", "String", "В", {.index = b == 0 ? 4 : 0}));
        line(w, spreadsheet_cell("RARUR_tbl_head", "String", "°C"));
    }
    line(w, "</Row>");

    const std::string dash = spreadsheet_dash_cell();
    for (int k = 0; k < r.sections; ++k) {
        const BatteryRecord& summary = r.summaries[k];
        const GroupRecord& group = r.groups[k][g];
        line(w, kRow);
        line(w, spreadsheet_cell("RARUR_tbl_val_0", "Number", format("%d", k + 1)));
        line(w, summary.group_mask >> g & 1 ? spreadsheet_cell("RARUR_tbl_val_2", "Number",
                                                               spreadsheet_decimal(summary.voltage, 2))
                                            : dash);
        line(w, group.present && group.capacity != kNoCapacity
                    ? spreadsheet_cell("RARUR_tbl_val_3", "Number", spreadsheet_decimal(group.capacity, 3))
                    : dash);
        for (int b = 0; b < blocks; ++b) {
            bool mv = group.present && group.mv[b] != kNoVoltage;
            bool t = group.present && group.temperature[b] != kNoTemperature;
            line(w, mv ? spreadsheet_cell("RARUR_tbl_val_3", "Number", spreadsheet_decimal(group.mv[b], 3)) : dash);
            line(w, t ? spreadsheet_cell("RARUR_tbl_val_1", "Number", spreadsheet_decimal(group.temperature[b], 1))
                      : dash);
        }
        line(w, "</Row>");
    }
    line(w, "</Table>");
    line(w, "</Worksheet>");
}

}  // namespace

RecordSettings record_settings_from(const SettingsImage& image)
{
    RecordSettings s;
    s.site = device_string_to_utf8(settings_item(image, SettingsField::Comment));
    s.serial = settings_u32(image, SettingsField::SerialNumber);
    s.zone_quarters = settings_s16(image, SettingsField::Timezone);
    s.summer = settings_u16(image, SettingsField::SummerTime) & settings_bits::kSummerTime;
    s.groups = std::min<int>(settings_u16(image, SettingsField::BatteryGroupCount), kGroupRecords);
    int cells = settings_u16(image, SettingsField::CellsPerGroup);
    s.blocks = std::min(cells / cells_per_block(settings_u16(image, SettingsField::ElementsPerBlock)), kRecordBlocks);
    return s;
}

std::string record_export_name(const RecordFile& record)
{
    const BatteryRecord& last = record.summaries[record.sections - 1];
    return format("%s_%u_%u.xml", record_kind_of_file(record.file) == RecordKind::Test ? "T" : "P",
                  unsigned(last.descriptor), unsigned(last.start));
}

void record_workbook_write(SpreadsheetWriter& w, const RecordFile& record, const RecordSettings& settings)
{
    spreadsheet_prologue(w, kBatteryRecordStyles);
    general_sheet(w, record.summaries[record.sections - 1], record_kind_of_file(record.file) == RecordKind::Test,
                  settings);
    for (int g = 0; g < settings.groups; ++g)
        battery_sheet(w, record, g, settings);
    line(w, "</Workbook>");
}
