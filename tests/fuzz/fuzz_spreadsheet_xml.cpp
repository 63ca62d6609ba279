// The exports (the journal workbook and a battery record's workbook) with any
// site name, row texts and record values: the file is always well-formed XML
// whose root is the Workbook, as the spreadsheet programs that open it need.
// Texts reach the writer as UTF-8 (the program converts the Controller's
// names first), so that is what they are here too; the site name also comes
// the program's own way, from WINDOWS-1251 bytes of a settings image.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include <libxml/parser.h>
#include <libxml/tree.h>

#include "battery/workbook.h"
#include "events/journal_export.h"
#include "fuzz_input.h"

namespace {

std::string utf8_text(FuzzInput& in, size_t max)
{
    std::string raw = in.text(max);
    gchar* valid = g_utf8_make_valid(raw.data(), gssize(raw.size()));
    std::string text(valid);
    g_free(valid);
    return text;
}

void ignore_xml_error(void*, const char*, ...) {}

void check_workbook(const char* bytes, size_t length)
{
    FUZZ_CHECK(g_utf8_validate(bytes, gssize(length), nullptr));
    xmlDocPtr doc = xmlReadMemory(bytes, int(length), "export.xml", nullptr, XML_PARSE_NONET | XML_PARSE_NOERROR |
                                                                          XML_PARSE_NOWARNING);
    FUZZ_CHECK(doc != nullptr);
    xmlNodePtr root = xmlDocGetRootElement(doc);
    FUZZ_CHECK(root && std::strcmp(reinterpret_cast<const char*>(root->name), "Workbook") == 0);
    xmlFreeDoc(doc);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static bool quiet = (xmlSetGenericErrorFunc(nullptr, ignore_xml_error), true);
    (void)quiet;
    FuzzInput in{data, size};
    bool record_export = in.byte() & 1;
    SettingsImage image;
    image.layout = 1 + in.byte() % 3;
    in.bytes(image.data(), 2 * image.word_count());
    settings_from_registers(image.layout, image.data());
    RecordSettings settings = record_settings_from(image);
    if (in.byte() & 1)
        settings.site = utf8_text(in, 80);

    char* out = nullptr;
    size_t length = 0;
    FILE* stream = open_memstream(&out, &length);
    SpreadsheetWriter writer{stream, 0};
    if (record_export) {
        RecordFile record;
        record.file = 16 + in.byte() % 14;
        record.sections = 1 + in.byte() % kRecordSections;
        for (int s = 0; s < record.sections; ++s) {
            std::array<uint8_t, kSummaryRegisters * 2> summary{};
            in.bytes(summary.data(), summary.size());
            record.summaries[s] = battery_record_decode(summary);
            for (int g = 0; g < kGroupRecords && in.left() > 0; ++g) {
                std::array<uint8_t, kGroupRegisters * 2> group{};
                in.bytes(group.data(), group.size());
                record.groups[s][g] = group_record_decode(group);
            }
        }
        record_workbook_write(writer, record, settings);
    } else {
        std::vector<JournalExportRow> rows(in.byte() % 8);
        for (JournalExportRow& row : rows) {
            row.descriptor = in.word();
            row.kind_text = utf8_text(in, 16);
            row.date = utf8_text(in, 24);
            row.event = utf8_text(in, 120);
        }
        journal_export_write(writer, settings.site, settings.serial, rows);
    }
    FUZZ_CHECK(std::fclose(stream) == 0 && writer.error == 0);
    check_workbook(out, length);
    std::free(out);
    return 0;
}
