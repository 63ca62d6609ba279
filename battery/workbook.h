// The workbook of one battery test or discharge record (XML Spreadsheet
// 2003): a general sheet with the final totals and one sheet per battery
// group with a row per recorded point. Pure: writes to any stream.
#pragma once

#include <cstdint>
#include <string>

#include "battery/records.h"
#include "events/spreadsheet.h"
#include "registers/settings_image.h"

// What the workbook takes from the device copy of the settings.
struct RecordSettings {
    std::string site;          // UTF-8; empty when unnamed or not convertible
    uint32_t serial = 0;
    int16_t zone_quarters = 0;
    bool summer = false;
    int groups = 0;            // battery groups, at most 8
    int blocks = 0;            // blocks per group, at most 30
};
RecordSettings record_settings_from(const SettingsImage& settings);

// "T_<descriptor>_<start>.xml" (a test) or "P_…" (a discharge), from the
// last section. The record must have a section.
std::string record_export_name(const RecordFile& record);

// The whole document: prologue, general sheet, the group sheets and the end
// tag. The record must have a section. Write errors stay in the writer.
void record_workbook_write(SpreadsheetWriter& writer, const RecordFile& record, const RecordSettings& settings);
