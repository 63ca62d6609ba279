#include "cli/journal_archive.h"

#include <algorithm>
#include <cstdlib>

#include "base/text_format.h"
#include "events/journal_export.h"

const char* const kJournalArchiveHeader = "Позиция,Д,Время,Вид,Код,Тип,Дата,Описание";

std::string journal_archive_line(const JournalRow& row)
{
    return format("%u,%u,%u,%u,%u,", unsigned(row.position), unsigned(row.record.descriptor),
                  unsigned(row.record.time), unsigned(row.record.kind), unsigned(row.record.code)) +
           journal_csv_field(row.kind_text) + "," + journal_csv_field(row.date) + "," + journal_csv_field(row.event);
}

namespace {

// Splits CSV text into records of fields; false on a quote left open.
bool csv_records(std::string_view text, std::vector<std::string>* first, std::vector<std::string>* last,
                 size_t* count)
{
    std::vector<std::string> fields;
    std::string field;
    bool quoted = false, in_quotes = false;
    *count = 0;
    auto end_record = [&] {
        fields.push_back(std::move(field));
        field.clear();
        if (*count == 0)
            *first = fields;
        *last = std::move(fields);
        fields.clear();
        ++*count;
    };
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (in_quotes) {
            if (c != '"') {
                field += c;
            } else if (i + 1 < text.size() && text[i + 1] == '"') {
                field += '"';
                ++i;
            } else {
                in_quotes = false;
            }
            continue;
        }
        if (c == '"' && field.empty() && !quoted) {
            in_quotes = quoted = true;
        } else if (c == ',') {
            fields.push_back(std::move(field));
            field.clear();
            quoted = false;
        } else if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') {
            // The CR of a line's CR LF.
        } else if (c == '\n') {
            end_record();
            quoted = false;
        } else {
            field += c;
        }
    }
    return !in_quotes;
}

bool number(const std::string& text, unsigned long limit, unsigned long* value)
{
    if (text.empty() || text.size() > 10 || text.find_first_not_of("0123456789") != std::string::npos)
        return false;
    *value = std::strtoul(text.c_str(), nullptr, 10);
    return *value <= limit;
}

}  // namespace

int journal_archive_last(std::string_view text, std::optional<JournalArchiveMark>* mark, std::string* error)
{
    mark->reset();
    if (text.empty())
        return 0;
    if (text.back() != '\n') {
        *error = "последняя строка оборвана";
        return -1;
    }
    std::vector<std::string> first, last;
    size_t count = 0;
    if (!csv_records(text, &first, &last, &count)) {
        *error = "кавычка не закрыта";
        return -1;
    }
    std::string header;
    for (size_t i = 0; i < first.size(); ++i)
        header += (i ? "," : "") + first[i];
    if (header != kJournalArchiveHeader) {
        *error = "это не архив журнала событий (другая первая строка)";
        return -1;
    }
    if (count == 1)
        return 0;
    unsigned long v[5];
    const unsigned long limits[5] = {kJournalRingSize - 1, 0xFFFF, 0xFFFFFFFFul, 0xFFFF, 0xFFFF};
    bool good = last.size() == 8;
    for (int i = 0; good && i < 5; ++i)
        good = number(last[i], limits[i], &v[i]);
    if (!good) {
        *error = format("строка %zu не читается", count);
        return -1;
    }
    JournalArchiveMark m;
    m.position = uint16_t(v[0]);
    m.record.descriptor = uint16_t(v[1]);
    m.record.time = uint32_t(v[2]);
    m.record.kind = uint16_t(v[3]);
    m.record.code = uint16_t(v[4]);
    *mark = m;
    return 0;
}

bool journal_archive_same(const JournalArchiveMark& mark, const JournalRow& row)
{
    return row.position == mark.position && row.record.presence == 0 &&
           row.record.descriptor == mark.record.descriptor && row.record.time == mark.record.time &&
           row.record.kind == mark.record.kind && row.record.code == mark.record.code;
}

bool JournalWholeRingEnd::operator()(const uint8_t* bytes)
{
    if (!bytes)
        return true;
    // Presence word: 0 holds an event, anything else is an empty slot.
    bool empty = bytes[0] != 0 || bytes[1] != 0;
    empty_in_row = empty ? empty_in_row + 1 : 0;
    return empty_in_row >= kJournalEmptyRunEnd;
}

std::vector<JournalRow> journal_archive_whole_ring_rows(std::vector<JournalRow> rows, uint16_t newest,
                                                        uint16_t newest_after)
{
    // Slots after `newest` up to `newest_after` hold records newer than the
    // read's start: reached at the read's end, they would go in as the oldest.
    int written = journal_ring_distance(newest, newest_after);
    std::erase_if(rows, [&](const JournalRow& row) {
        int d = journal_ring_distance(newest, row.position);
        return d >= 1 && d <= written;
    });
    std::reverse(rows.begin(), rows.end());
    return rows;
}
