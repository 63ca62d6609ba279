// The workbook of one battery record, written to memory and read back line by
// line.
#include <gtest/gtest.h>

#include <clocale>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "battery/workbook.h"

namespace {

BatteryRecord section(uint32_t duration, uint16_t completion)
{
    BatteryRecord r;
    r.present = true;
    r.descriptor = 7;
    r.start = 1700000000;
    r.duration = duration;
    r.completion = completion;
    r.group_mask = 0x3;
    r.capacity = 125500;
    r.voltage = 5150;
    r.temperature = -15;
    return r;
}

// A discharge in file 26 of six sections over two groups of four blocks.
RecordFile discharge()
{
    RecordFile f;
    f.file = 26;
    f.sections = 6;
    for (int s = 0; s < 6; ++s) {
        f.summaries[s] = section(600 * (s + 1), s == 5 ? 0 : 1);
        for (int g = 0; g < 2; ++g) {
            GroupRecord& gr = f.groups[s][g];
            gr.present = true;
            gr.capacity = 62750;
            gr.mv.fill(kNoVoltage);
            gr.temperature.fill(kNoTemperature);
            gr.mv = {12345, 0xFFFF, 12000, 12001};
            gr.temperature = {-15, 0x7FFF, -5, 215};
            for (int b = 4; b < kRecordBlocks; ++b) {
                gr.mv[b] = kNoVoltage;
                gr.temperature[b] = kNoTemperature;
            }
        }
    }
    f.groups[0][1] = GroupRecord{};         // never read: absent
    f.groups[1][0].capacity = kNoCapacity;  // the monitor had no value
    return f;
}

RecordSettings settings()
{
    RecordSettings s;
    s.site = "<A&B>\x01\"";
    s.serial = 100123;
    s.zone_quarters = -14;
    s.groups = 2;
    s.blocks = 4;
    return s;
}

std::string written(const RecordFile& f, const RecordSettings& s)
{
    char* buffer = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&buffer, &size);
    SpreadsheetWriter writer{out};
    record_workbook_write(writer, f, s);
    std::fclose(out);
    std::string text(buffer, size);
    std::free(buffer);
    return text;
}

int count(const std::string& text, const std::string& what)
{
    int n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

// The data row of `point` (1-based) on the sheet of group `g` (1-based).
std::string data_row(const std::string& text, int g, int point)
{
    size_t sheet = text.find("<Worksheet ss:Name=\"Батарея " + std::to_string(g) + "\">");
    std::string cell = "<Data ss:Type=\"Number\">" + std::to_string(point) + "</Data></Cell>";
    size_t at = text.find(cell, sheet);
    return text.substr(at, text.find("</Row>", at) - at);
}

const std::string kDash = "<Cell ss:StyleID=\"RARUR_tbl_val_0\"><Data ss:Type=\"String\">-</Data></Cell>";

}  // namespace

TEST(BatteryWorkbook, DischargeOfSixSectionsOverTwoGroupsOfFourBlocks)
{
    std::setlocale(LC_ALL, "C");
    RecordFile f = discharge();
    std::string text = written(f, settings());
    EXPECT_EQ(record_export_name(f), "P_7_1700000000.xml");

    EXPECT_EQ(count(text, "<Worksheet "), 3);
    EXPECT_EQ(count(text, "<Table ss:ExpandedRowCount=\"10\" x:FullColumns=\"1\" x:FullRows=\"1\">\r\n"), 2);
    EXPECT_EQ(count(text, "ss:MergeAcross=\"10\" ss:StyleID=\"RARUR_head\""), 2);
    EXPECT_NE(text.find("Блок 4"), std::string::npos);
    EXPECT_EQ(text.find("Блок 5"), std::string::npos);
    EXPECT_NE(text.find("<Cell ss:Index=\"4\" ss:StyleID=\"RARUR_tbl_head\"><Data ss:Type=\"String\">В</Data></Cell>"),
              std::string::npos);
    EXPECT_NE(text.find("Длительность разряда:"), std::string::npos);
    EXPECT_NE(text.find("  (-3:30)</Data>"), std::string::npos);
    EXPECT_NE(text.find(">1:00:00<"), std::string::npos);                 // section 5's totals
    EXPECT_NE(text.find(">Успешное завершение<"), std::string::npos);
    // The site name cannot break the document.
    EXPECT_NE(text.find("RARUR '&lt;A&amp;B&gt;&quot;'"), std::string::npos);
    EXPECT_EQ(text.find('\x01'), std::string::npos);
    EXPECT_EQ(text.substr(text.size() - 13), "</Workbook>\r\n");

    // Point 1 of group 2 was never read: dashes, not invented zeros.
    std::string absent = data_row(text, 2, 1);
    EXPECT_EQ(count(absent, kDash), 1 + 4 * 2);
    EXPECT_NE(absent.find(">51.50<"), std::string::npos);                 // the plant voltage is the summary's
    // Point 2 of group 1: no capacity, block values as recorded.
    std::string row = data_row(text, 1, 2);
    EXPECT_EQ(count(row, kDash), 1 + 2);
    EXPECT_NE(row.find("<Cell ss:StyleID=\"RARUR_tbl_val_3\"><Data ss:Type=\"Number\">12.345</Data></Cell>"),
              std::string::npos);
    EXPECT_NE(row.find("<Data ss:Type=\"Number\">-1.5</Data>"), std::string::npos);
    EXPECT_NE(row.find("<Data ss:Type=\"Number\">-0.5</Data>"), std::string::npos);
    EXPECT_NE(data_row(text, 1, 1).find(">62.750<"), std::string::npos);
}

TEST(BatteryWorkbook, NumberCellsKeepAPointInARussianLocaleAndAZeroDurationHasNoMeanCurrent)
{
    if (!std::setlocale(LC_ALL, "ru_RU.UTF-8"))
        GTEST_SKIP() << "ru_RU.UTF-8 is not installed";
    RecordFile f = discharge();
    f.summaries[5].duration = 0;
    std::string text = written(f, settings());
    std::setlocale(LC_ALL, "C");
    EXPECT_NE(text.find("<Data ss:Type=\"Number\">51.50</Data>"), std::string::npos);
    EXPECT_NE(text.find("<Data ss:Type=\"Number\">12.345</Data>"), std::string::npos);
    EXPECT_EQ(text.find("<Data ss:Type=\"Number\">51,50</Data>"), std::string::npos);
    EXPECT_NE(text.find("Средний ток:</Data></Cell>\r\n<Cell><Data ss:Type=\"String\">-</Data></Cell>"),
              std::string::npos);
}

TEST(BatteryWorkbook, NoGroupsGiveTheGeneralSheetOnlyAndATestIsNamedT)
{
    std::setlocale(LC_ALL, "C");
    RecordFile f = discharge();
    f.file = 17;
    RecordSettings s = settings();
    s.groups = 0;
    s.site.clear();
    std::string text = written(f, s);
    EXPECT_EQ(count(text, "<Worksheet "), 1);
    EXPECT_NE(text.find("<Data ss:Type=\"String\">RARUR</Data>"), std::string::npos);
    EXPECT_NE(text.find("Время начала батарейного теста:"), std::string::npos);
    EXPECT_EQ(record_export_name(f), "T_7_1700000000.xml");
}

TEST(BatteryWorkbook, SettingsGiveBlocksPerGroupWithinTheirLimits)
{
    SettingsImage image;
    image.layout = 3;
    settings_set_u16(image, SettingsField::BatteryGroupCount, 12);
    settings_set_u16(image, SettingsField::CellsPerGroup, 24);
    settings_set_u16(image, SettingsField::ElementsPerBlock, 2);
    RecordSettings s = record_settings_from(image);
    EXPECT_EQ(s.groups, 8);
    EXPECT_EQ(s.blocks, 4);
    // An index the Controller does not define counts as six cells, as the
    // battery page counts it: the blocks it shows are the blocks exported.
    settings_set_u16(image, SettingsField::ElementsPerBlock, 5);
    EXPECT_EQ(record_settings_from(image).blocks, 4);
    settings_set_u16(image, SettingsField::CellsPerGroup, 240);
    settings_set_u16(image, SettingsField::ElementsPerBlock, 0);
    EXPECT_EQ(record_settings_from(image).blocks, 30);
}
