// Battery test and discharge records: the list's texts and the reading of a
// list or a file through a reader that plays the Controller.
#include <gtest/gtest.h>

#include <clocale>
#include <map>
#include <string>
#include <vector>

#include "battery/records.h"

namespace {

using Bytes = std::vector<uint8_t>;

void put16(Bytes& b, size_t at, unsigned v)
{
    b[at] = uint8_t(v >> 8);
    b[at + 1] = uint8_t(v);
}
void put32(Bytes& b, size_t at, uint32_t v)
{
    put16(b, at, v >> 16);
    put16(b, at + 2, v & 0xFFFF);
}

Bytes summary(unsigned completion, uint32_t duration, uint32_t capacity = 1000, int16_t temperature = 215)
{
    Bytes b(24, 0);
    put16(b, 2, 7);
    put32(b, 4, 1700000000);
    put32(b, 8, duration);
    put16(b, 12, completion);
    put16(b, 14, 3);
    put32(b, 16, capacity);
    put16(b, 20, 5150);
    put16(b, 22, uint16_t(temperature));
    return b;
}

// A Controller of record files: (file, record) -> bytes; anything else is
// absent (0xFFFF). Files in `failing` fail every request.
struct FakeController {
    std::map<std::pair<int, int>, Bytes> records;
    std::map<int, ModbusResult> failing;   // file -> result
    std::vector<std::pair<int, int>> requests;
    int requests_before_link_loss = -1;

    RecordReadControl control()
    {
        RecordReadControl c;
        c.read = [this](uint16_t file, uint16_t record, unsigned length, uint8_t* out) {
            requests.push_back({file, record});
            if (failing.count(file))
                return failing[file];
            auto it = records.find({file, record});
            Bytes b = it != records.end() ? it->second : Bytes(2 * length, 0xFF);
            b.resize(2 * length, 0xFF);
            std::copy(b.begin(), b.end(), out);
            return ModbusResult::Ok;
        };
        c.live = [this] { return requests_before_link_loss < 0 || int(requests.size()) < requests_before_link_loss; };
        return c;
    }
};

}  // namespace

TEST(BatteryRecords, RowTextsFollowTheSummary)
{
    std::setlocale(LC_ALL, "C");
    BatteryRecord r = battery_record_decode(std::span<const uint8_t, 24>(summary(0, 36000, 125500).data(), 24));
    RecordRow row = present_record_row(2, 26, r, 12, false);
    EXPECT_EQ(row.name, "2");
    EXPECT_EQ(row.descriptor, 7);
    EXPECT_EQ(row.capacity, "125.500А·ч");
    EXPECT_EQ(row.mean_current, "12.550А");
    EXPECT_EQ(row.voltage, "51.50В");
    EXPECT_EQ(row.temperature, "21.5°C");
    EXPECT_EQ(row.status, "Успешное завершение");
    EXPECT_EQ(row.file, 26);
    EXPECT_EQ(row.groups, 3u);
    EXPECT_EQ(row.date, "15 Nov 2023 01:13:20");   // 22:13:20 UTC in the Controller's zone, +3 h
    EXPECT_EQ(record_duration_text(90061), "25:01:01");
    EXPECT_EQ(record_duration_text(0), "0:00:00");
    EXPECT_STREQ(completion_text(9), "Ошибка АЦП");
    EXPECT_STREQ(completion_text(1), "Причина неизвестна");
    // No duration, no mean current (the plain quotient would be infinite).
    EXPECT_EQ(record_mean_current_text(5000, 0), "-");
    EXPECT_EQ(present_record_row(1, 16, battery_record_decode(std::span<const uint8_t, 24>(
                                            summary(2, 0, 5000, -15).data(), 24)), 0, false).temperature,
              "-1.5°C");
}

TEST(BatteryRecords, NewestSlotRegisterIsTakenModuloTheRing)
{
    std::vector<int> files;
    for (int k = 1; k <= 4; ++k)
        files.push_back(record_file(RecordKind::Test, 1, k));
    EXPECT_EQ(files, (std::vector<int>{17, 16, 21, 20}));
    EXPECT_EQ(record_file(RecordKind::Discharge, 7, 1), 25);       // 7 names slot 1
    EXPECT_EQ(record_file(RecordKind::Discharge, 65535, 2), 26);   // 65535 % 6 = 3
}

TEST(BatteryRecords, ListShowsEachSlotFromItsLastSectionAndLeavesAFailedSlotOut)
{
    std::setlocale(LC_ALL, "C");
    FakeController c;
    // Slot 3 (file 27, newest): sections 0-3 in progress, 4 the final one.
    for (int s = 0; s < 4; ++s)
        c.records[{27, 16 * s}] = summary(1, 600 * (s + 1));
    c.records[{27, 64}] = summary(0, 3000, 9000);
    // Slot 2: every one of the 22 sections still says "in progress".
    for (int s = 0; s < 22; ++s)
        c.records[{26, 16 * s}] = summary(1, 600 * (s + 1));
    c.failing[25] = ModbusResult::NoLink;   // slot 1 never answers
    // Slot 0: code 9.
    c.records[{24, 0}] = summary(9, 90061);

    RecordListRead list = read_record_list(RecordKind::Discharge, 3, 0, false, c.control());
    ASSERT_EQ(list.rows.size(), 3u);
    EXPECT_EQ(list.rows[0].name, "1");
    EXPECT_EQ(list.rows[0].length, "0:50:00");
    EXPECT_EQ(list.rows[0].status, "Успешное завершение");
    EXPECT_EQ(list.rows[1].length, "3:40:00");   // section 21
    EXPECT_EQ(list.rows[1].status, "Причина неизвестна");
    EXPECT_EQ(list.rows[1].name, "2");
    EXPECT_EQ(list.rows[2].name, "3");   // numbered as listed: the failed slot leaves no gap
    EXPECT_EQ(list.rows[2].length, "25:01:01");
    EXPECT_EQ(list.rows[2].status, "Ошибка АЦП");
    EXPECT_EQ(list.failed_slots, (std::vector<int>{2}));
    EXPECT_FALSE(list.link_lost);
    int tries = 0;
    for (auto [file, record] : c.requests)
        tries += file == 25;
    EXPECT_EQ(tries, kRecordReadAttempts);
    EXPECT_EQ(c.requests.size(), 5u + 22u + 3u + 1u);   // never a section 22
}

TEST(BatteryRecords, AFileReadEndsWhenTheLinkCloses)
{
    RecordFile file;
    FakeController d;
    d.records[{24, 0}] = summary(0, 10);
    d.requests_before_link_loss = 2;   // the summary and its first (absent) group
    EXPECT_EQ(read_record_file(24, d.control(), file), -2);
    EXPECT_EQ(d.requests.size(), 2u);
}

TEST(BatteryRecords, FileReadStopsAtTheFirstAbsentSectionOrGroupAndMarksUnreadGroupsAbsent)
{
    FakeController c;
    for (int s = 0; s < 2; ++s) {
        c.records[{26, 16 * s}] = summary(s == 1 ? 0 : 1, 600 * (s + 1));
        Bytes group(126, 0);
        put32(group, 2, 12345);
        for (int b = 0; b < 30; ++b) {
            put16(group, 6 + 4 * b, b < 4 ? 12345 : 0xFFFF);
            put16(group, 8 + 4 * b, b < 4 ? uint16_t(int16_t(-5)) : 0x7FFF);
        }
        c.records[{26, 16 * s + 1}] = group;
        if (s == 0)
            c.records[{26, 16 * s + 3}] = group;   // behind an absent group 1: never read
    }
    RecordFile file;
    ASSERT_EQ(read_record_file(26, c.control(), file), 0);
    EXPECT_EQ(file.sections, 2);
    EXPECT_EQ(file.summaries[1].completion, 0);
    EXPECT_TRUE(file.groups[0][0].present);
    EXPECT_EQ(file.groups[0][0].capacity, 12345u);
    EXPECT_EQ(file.groups[0][0].mv[3], 12345);
    EXPECT_EQ(file.groups[0][0].temperature[3], -5);
    EXPECT_FALSE(file.groups[0][1].present);
    EXPECT_FALSE(file.groups[0][2].present);
    // summary + 2 group records per section, then the absent section 2
    EXPECT_EQ(c.requests.size(), 3u + 3u + 1u);

    FakeController failing;
    failing.failing[26] = ModbusResult::Exception;
    EXPECT_EQ(read_record_file(26, failing.control(), file), -1);
    EXPECT_EQ(int(failing.requests.size()), kRecordReadAttempts);
}

TEST(BatteryRecords, ARowKnowsItsRecordSoAReusedSlotIsToldApartAndTheTextsCountWhatWasRead)
{
    std::setlocale(LC_ALL, "C");
    FakeController c;
    // Discharge slot 3 (file 27): five points, the last a success.
    for (int s = 0; s < 4; ++s)
        c.records[{27, 16 * s}] = summary(1, 600 * (s + 1));
    c.records[{27, 64}] = summary(0, 3000, 9000);
    c.failing[26] = ModbusResult::Exception;   // slot 2 answers with an exception every time
    RecordListRead list = read_record_list(RecordKind::Discharge, 3, 0, false, c.control());
    ASSERT_EQ(list.rows.size(), 1u);
    EXPECT_EQ(list.rows[0].descriptor, 7);
    EXPECT_EQ(list.rows[0].start, 1700000000u);
    EXPECT_EQ(list.rows[0].points, 5);

    RecordListEnd end = record_list_end(RecordKind::Discharge, list);
    EXPECT_EQ(end.text, "Разряды прочитаны с ошибками\n");
    EXPECT_TRUE(end.error);
    EXPECT_EQ(record_list_end(RecordKind::Test, RecordListRead{}).text, "Батарейные тесты прочитаны\n");
    EXPECT_FALSE(record_list_end(RecordKind::Test, RecordListRead{}).error);
    EXPECT_EQ(record_slot_failed_text(RecordKind::Test, 3),
              "Ошибка чтения теста №3\nТест №3 не показан: не удалось прочитать (3 попытки)\n");

    // The status line counts the record's own points, also past the probe of
    // the absent section behind them.
    std::vector<std::string> progress;
    RecordReadControl control = c.control();
    control.progress = [&](int done, int total) { progress.push_back(record_file_progress_text(27, done, total)); };
    RecordFile file;
    ASSERT_EQ(read_record_file(27, control, file, list.rows[0].points), 0);
    EXPECT_EQ(progress, (std::vector<std::string>{"Чтение разряда: точка 1 из 5", "Чтение разряда: точка 2 из 5",
                                                  "Чтение разряда: точка 3 из 5", "Чтение разряда: точка 4 из 5",
                                                  "Чтение разряда: точка 5 из 5"}));
    EXPECT_TRUE(record_is_listed(file, 7, 1700000000));

    // The slot reused for a newer record, or emptied: not the row's record.
    c.records[{27, 64}] = summary(0, 3000, 9000);
    put16(c.records[{27, 64}], 2, 8);
    ASSERT_EQ(read_record_file(27, c.control(), file), 0);
    EXPECT_FALSE(record_is_listed(file, 7, 1700000000));
    c.records[{27, 64}] = summary(0, 3000, 9000);
    put32(c.records[{27, 64}], 4, 1700000001);
    ASSERT_EQ(read_record_file(27, c.control(), file), 0);
    EXPECT_FALSE(record_is_listed(file, 7, 1700000000));
    EXPECT_FALSE(record_is_listed(RecordFile{}, 0, 0));
}
