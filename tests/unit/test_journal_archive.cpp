// The journal archive's rules: its last row found again after any text the
// Controller's names may hold, a damaged file refused, a read of the whole
// ring ended by the unwritten part and not by an erased slot, and the rows of
// such a read put in time order without the slots written meanwhile. The CSV
// export's quoting.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <vector>

#include "cli/journal_archive.h"
#include "events/journal_export.h"

namespace {

JournalRow row(uint16_t position, uint16_t descriptor, uint32_t time, uint16_t kind, uint16_t code,
               std::string event = "Включение RARUR")
{
    JournalRow r;
    r.position = position;
    r.record.descriptor = descriptor;
    r.record.time = time;
    r.record.kind = kind;
    r.record.code = code;
    r.kind_text = journal_kind_text(kind);
    r.date = "09 Dec 2026 02:00:00";
    r.event = std::move(event);
    return r;
}

std::string archive_text(const std::vector<JournalRow>& rows)
{
    std::string text = std::string(kJournalArchiveHeader) + "\r\n";
    for (const JournalRow& r : rows)
        text += journal_archive_line(r) + "\r\n";
    return text;
}

}  // namespace

TEST(JournalArchive, finds_its_last_row_whatever_the_texts_hold_and_refuses_a_damaged_file)
{
    // Names typed into the Controller may hold commas, quotes and line breaks.
    std::vector<JournalRow> rows = {row(4094, 65535, 4294967295u, 1, 37, "Отключен 'Сервер, \"А\"'\r\nвторая строка"),
                                    row(4095, 7, 1765000000, 7, 512, "a,b"),
                                    row(0, 8, 1765000100, 0, 98, "\"в кавычках\"")};
    std::optional<JournalArchiveMark> mark;
    std::string why;
    ASSERT_EQ(journal_archive_last(archive_text(rows), &mark, &why), 0) << why;
    ASSERT_TRUE(mark);
    EXPECT_EQ(mark->position, 0);
    EXPECT_EQ(mark->record.descriptor, 8);
    EXPECT_EQ(mark->record.time, 1765000100u);
    EXPECT_EQ(mark->record.kind, 0);
    EXPECT_EQ(mark->record.code, 98);
    EXPECT_TRUE(journal_archive_same(*mark, rows[2]));
    // The same record elsewhere, or another record there, is not the mark.
    JournalRow moved = rows[2];
    moved.position = 1;
    EXPECT_FALSE(journal_archive_same(*mark, moved));
    JournalRow other = rows[2];
    other.record.time += 1;
    EXPECT_FALSE(journal_archive_same(*mark, other));

    // The first value of the first row, the largest of each field, round trip.
    ASSERT_EQ(journal_archive_last(archive_text({rows[0]}), &mark, &why), 0) << why;
    EXPECT_EQ(mark->position, 4094);
    EXPECT_EQ(mark->record.descriptor, 65535);
    EXPECT_EQ(mark->record.time, 4294967295u);

    // No file yet, or the header alone: no mark, the whole ring is read.
    EXPECT_EQ(journal_archive_last("", &mark, &why), 0);
    EXPECT_FALSE(mark);
    EXPECT_EQ(journal_archive_last(archive_text({}), &mark, &why), 0);
    EXPECT_FALSE(mark);

    // A row cut off (a crash while appending), a quote left open, another
    // file, a position outside the ring: refused, never guessed.
    std::string text = archive_text(rows);
    for (std::string bad : {text.substr(0, text.size() - 5), text + "1,2,3,\"4\r\n",
                            std::string("№,Д,Тип,Дата,Описание\r\n1,2,,x,y\r\n"),
                            archive_text({}) + "4096,1,2,3,4,,x,y\r\n", archive_text({}) + "5,1,-2,3,4,,x,y\r\n",
                            archive_text({}) + "5,1,2,3,4,x,y\r\n"}) {
        EXPECT_EQ(journal_archive_last(bad, &mark, &why), -1) << bad;
        EXPECT_FALSE(mark);
    }
}

TEST(JournalArchive, a_whole_ring_read_ends_at_the_unwritten_part_and_goes_in_oldest_first)
{
    const uint8_t event[kJournalRecordBytes] = {};
    uint8_t empty[kJournalRecordBytes];
    std::fill(std::begin(empty), std::end(empty), 0xFF);
    // A ring of 40 records with erased slots inside, then never written.
    std::vector<const uint8_t*> ring(kJournalRingSize, empty);
    for (int r = 0; r < 40; ++r)
        if (r != 10 && r != 11 && r != 25)
            ring[r] = event;
    JournalReadControl c;
    std::vector<uint16_t> asked;
    c.read = [&](uint16_t record, uint8_t* out) {
        asked.push_back(record);
        std::copy(ring[record], ring[record] + kJournalRecordBytes, out);
        return ModbusResult::Ok;
    };
    c.go_on = [] { return true; };
    c.last = [end = JournalWholeRingEnd{}](uint16_t, const uint8_t* bytes) mutable { return end(bytes); };
    JournalReadResult result = journal_read_records(39, c, kJournalRingSize);
    EXPECT_EQ(result.end, JournalReadEnd::Complete);
    ASSERT_EQ(asked.size(), 40u + kJournalEmptyRunEnd);
    EXPECT_EQ(asked.back(), kJournalRingSize - kJournalEmptyRunEnd);

    // A record that cannot be read ends it too: no row beyond a gap.
    JournalWholeRingEnd end;
    EXPECT_FALSE(end(event));
    EXPECT_TRUE(end(nullptr));

    // Forwards, round the end of the ring.
    asked.clear();
    c.last = nullptr;
    journal_read_records(4094, c, 4, JournalDirection::Forwards);
    EXPECT_EQ(asked, (std::vector<uint16_t>{4094, 4095, 0, 1}));

    // Read newest first from 2; meanwhile the Controller wrote 3 and 4, which
    // the read reached at its end as if they were the oldest.
    std::vector<JournalRow> read;
    for (uint16_t p : {2, 1, 0, 4095, 4094, 4093})
        read.push_back(row(p, p, p, 2, 512));
    read.push_back(row(4, 100, 100, 2, 512));
    read.push_back(row(3, 99, 99, 2, 512));
    std::vector<JournalRow> rows = journal_archive_whole_ring_rows(read, 2, 4);
    std::vector<uint16_t> positions;
    for (const JournalRow& r : rows)
        positions.push_back(r.position);
    EXPECT_EQ(positions, (std::vector<uint16_t>{4093, 4094, 4095, 0, 1, 2}));
    EXPECT_EQ(journal_archive_whole_ring_rows(read, 2, 2).size(), read.size());
}

TEST(JournalCsv, quotes_only_what_must_be_quoted_and_numbers_the_rows)
{
    char* text = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&text, &size);
    SpreadsheetWriter w{out};
    std::vector<JournalExportRow> rows = {{5001, "Начало", "09 дек 2026 02:00:00", "QH3 'Сервер, стойка \"А\"'"},
                                          {5000, "", "09 дек 2026 01:59:00", "две\nстроки"}};
    journal_csv_write(w, rows);
    std::fclose(out);
    EXPECT_EQ(std::string(text, size),
              "№,Д,Тип,Дата,Описание\r\n"
              "1,5001,Начало,09 дек 2026 02:00:00,\"QH3 'Сервер, стойка \"\"А\"\"'\"\r\n"
              "2,5000,,09 дек 2026 01:59:00,\"две\nстроки\"\r\n");
    std::free(text);
}
