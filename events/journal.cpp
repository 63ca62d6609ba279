#include "events/journal.h"

#include "base/controller_time.h"
#include "base/text_format.h"

namespace {
uint16_t be16(const uint8_t* p) { return static_cast<uint16_t>(p[0] << 8 | p[1]); }
}  // namespace

JournalRecord journal_record_decode(std::span<const uint8_t, kJournalRecordBytes> b)
{
    JournalRecord r;
    r.presence = be16(&b[0]);
    r.descriptor = be16(&b[2]);
    r.time = static_cast<uint32_t>(be16(&b[4])) << 16 | be16(&b[6]);
    r.kind = be16(&b[8]);
    r.code = be16(&b[10]);
    return r;
}

const char* journal_kind_text(uint16_t kind)
{
    return kind == 0 ? "Завершение" : kind == 1 ? "Начало" : "";
}

const char* journal_kind_icon(uint16_t kind)
{
    return kind == 0 ? "gtk-goto-last" : kind == 1 ? "gtk-go-forward" : "gtk-harddisk";
}

std::optional<JournalRow> journal_row(const JournalRecord& record, int16_t zone, bool summer, int layout,
                                      const CatalogueSettings& settings)
{
    if (record.presence != 0)
        return std::nullopt;
    JournalRow row;
    row.icon = journal_kind_icon(record.kind);
    row.descriptor = record.descriptor;
    row.date = controller_time_text(record.time, zone, summer);
    row.kind_text = journal_kind_text(record.kind);
    row.code = record.code;
    char text[512];
    event_text(text, sizeof text, record.code, layout, settings);
    row.event = text;
    return row;
}

std::string journal_progress_text(int done, double elapsed)
{
    int remaining = done > 0 ? static_cast<int>(elapsed / done * (kJournalReadCount - done)) : 0;
    return format("%.1f%% [%d:%02d]", 100.0 * done / kJournalReadCount, remaining / 60, remaining % 60);
}
