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
    row.record = record;
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

std::string journal_progress_text(int done, double elapsed, int total, bool answering)
{
    if (total <= 0)
        total = 1;
    if (!answering)
        return format("%.1f%%, Контроллер не отвечает", 100.0 * done / total);
    int remaining = done > 0 ? static_cast<int>(elapsed / done * (total - done)) : 0;
    return format("%.1f%% [%d:%02d]", 100.0 * done / total, remaining / 60, remaining % 60);
}

JournalReadResult journal_read_records(uint16_t first, const JournalReadControl& c, int count,
                                       JournalDirection direction)
{
    JournalReadResult result;
    result.end = JournalReadEnd::Stopped;
    uint16_t record = first;
    int failed_in_row = 0;
    for (int i = 1; i <= count; ++i) {
        if (!c.go_on())
            return result;
        uint8_t bytes[kJournalRecordBytes] = {};
        bool read = c.read(record, bytes) == ModbusResult::Ok;
        // A read cut short by the end of the run is not a fault of the record.
        if (!read && !c.go_on())
            return result;
        result.done = i;
        if (read) {
            failed_in_row = 0;
        } else {
            result.failed = true;
            ++failed_in_row;
            if (c.failed)
                c.failed(i, record);
        }
        if (c.step)
            c.step(i, record, read ? bytes : nullptr);
        if (failed_in_row >= kJournalSilentLimit) {
            result.end = JournalReadEnd::Silent;
            return result;
        }
        if (c.last && c.last(record, read ? bytes : nullptr))
            break;
        record = direction == JournalDirection::Backwards ? journal_previous_record(record)
                                                          : journal_next_record(record);
    }
    result.end = JournalReadEnd::Complete;
    return result;
}

JournalEndText journal_end_text(const JournalReadResult& result, bool stopped_by_user)
{
    if (result.end == JournalReadEnd::Silent)
        return {"Контроллер не отвечает: чтение журнала событий остановлено\n", true};
    if (stopped_by_user && !result.failed)
        return {"Чтение журнала событий отменено пользователем\n", false};
    // A read the link cut short is not a good read, even without a failed record.
    if (result.failed || result.end != JournalReadEnd::Complete)
        return {"Журнал событий прочитан с ошибками\n", true};
    return {"Журнал событий удачно прочитан\n", false};
}
