#include "battery/records.h"

#include <algorithm>

#include "base/controller_time.h"
#include "base/text_format.h"

namespace {

uint16_t be16(const uint8_t* b) { return uint16_t(b[0] << 8 | b[1]); }
uint32_t be32(const uint8_t* b) { return uint32_t(be16(b)) << 16 | be16(b + 2); }

const char* const kCompletionTexts[] = {
    "Успешное завершение",   "Причина неизвестна", "Прерван вручную",        "Низкий разрядный ток",
    "Перешел в заряд",       "Все батареи отключены", "Завершение по таймауту", "Ошибка АЦП",
};

enum class Outcome { Read, Failed, LinkLost };

// One request, tried again after a failure while the link is there.
Outcome read_retrying(const RecordReadControl& c, int file, int record, unsigned length, uint8_t* out)
{
    for (int attempt = 0; attempt < kRecordReadAttempts; ++attempt) {
        if (c.live && !c.live())
            return Outcome::LinkLost;
        if (c.read(uint16_t(file), uint16_t(record), length, out) == ModbusResult::Ok)
            return Outcome::Read;
    }
    return c.live && !c.live() ? Outcome::LinkLost : Outcome::Failed;
}

void report(const RecordReadControl& c, int done, int total)
{
    if (c.progress)
        c.progress(done, total);
}

}  // namespace

int record_file(RecordKind kind, unsigned newest_register, int ordinal)
{
    int newest = int(newest_register % kRecordSlots);
    int slot = ((newest - (ordinal - 1)) % kRecordSlots + kRecordSlots) % kRecordSlots;
    return record_file_base(kind) + slot;
}

BatteryRecord battery_record_decode(std::span<const uint8_t, kSummaryRegisters * 2> b)
{
    BatteryRecord r;
    r.present = be16(&b[0]) == 0;
    r.descriptor = be16(&b[2]);
    r.start = be32(&b[4]);
    r.duration = be32(&b[8]);
    r.completion = be16(&b[12]);
    r.group_mask = be16(&b[14]);
    r.capacity = be32(&b[16]);
    r.voltage = be16(&b[20]);
    r.temperature = int16_t(be16(&b[22]));
    return r;
}

GroupRecord group_record_decode(std::span<const uint8_t, kGroupRegisters * 2> b)
{
    GroupRecord g;
    g.present = be16(&b[0]) == 0;
    g.capacity = be32(&b[2]);
    for (int k = 0; k < kRecordBlocks; ++k) {
        g.mv[k] = be16(&b[6 + 4 * k]);
        g.temperature[k] = int16_t(be16(&b[8 + 4 * k]));
    }
    return g;
}

const char* completion_text(unsigned code) { return kCompletionTexts[code > 7 ? 7 : code]; }

std::string record_duration_text(uint32_t seconds)
{
    return format("%01u:%02u:%02u", seconds / 3600, seconds % 3600 / 60, seconds % 60);
}

std::string record_mean_current_text(uint32_t capacity_mah, uint32_t seconds)
{
    if (seconds == 0)
        return "-";
    return format("%0.3fА", double(capacity_mah) / double(seconds) * 3.6);
}

RecordRow present_record_row(int number, int file, const BatteryRecord& s, int16_t zone_quarters, bool summer)
{
    RecordRow row;
    row.name = format("%d", number);
    row.descriptor = s.descriptor;
    row.date = controller_time_text(s.start, zone_quarters, summer);
    row.length = record_duration_text(s.duration);
    row.status = completion_text(s.completion);
    row.capacity = format("%.3fА·ч", s.capacity / 1000.0);
    row.voltage = format("%.2fВ", s.voltage / 100.0);
    row.temperature = format("%.1f°C", s.temperature / 10.0);
    row.file = file;
    row.groups = s.group_mask;
    row.mean_current = record_mean_current_text(s.capacity, s.duration);
    row.start = s.start;
    return row;
}

RecordListRead read_record_list(RecordKind kind, unsigned newest_register, int16_t zone_quarters, bool summer,
                                const RecordReadControl& control)
{
    RecordListRead result;
    for (int ordinal = 1; ordinal <= kListedRecords; ++ordinal) {
        report(control, ordinal, kListedRecords);
        int file = record_file(kind, newest_register, ordinal);
        for (int s = 0; s < kRecordSections; ++s) {
            std::array<uint8_t, kSummaryRegisters * 2> bytes{};
            Outcome outcome = read_retrying(control, file, 16 * s, kSummaryRegisters, bytes.data());
            if (outcome == Outcome::LinkLost) {
                result.link_lost = true;
                return result;
            }
            if (outcome == Outcome::Failed) {
                result.failed_slots.push_back(file - record_file_base(kind) + 1);
                if (control.slot_failed)
                    control.slot_failed(result.failed_slots.back());
                break;
            }
            BatteryRecord summary = battery_record_decode(bytes);
            if (!summary.present)
                break;
            if (summary.completion != kInProgress || s == kRecordSections - 1) {
                // Numbered as the list shows them: a slot left out (absent,
                // failed) leaves no gap in 1, 2, 3.
                int number = int(result.rows.size()) + 1;
                result.rows.push_back(present_record_row(number, file, summary, zone_quarters, summer));
                result.rows.back().points = s + 1;
                break;
            }
        }
    }
    return result;
}

int read_record_file(int file, const RecordReadControl& control, RecordFile& out, int expected_points)
{
    out = RecordFile{};
    out.file = file;
    int total = std::clamp(expected_points, 1, kRecordSections);
    for (int s = 0; s < kRecordSections; ++s) {
        std::array<uint8_t, kSummaryRegisters * 2> summary{};
        Outcome outcome = read_retrying(control, file, 16 * s, kSummaryRegisters, summary.data());
        if (outcome != Outcome::Read)
            return outcome == Outcome::LinkLost ? -2 : -1;
        out.summaries[s] = battery_record_decode(summary);
        if (!out.summaries[s].present)
            break;
        out.sections = s + 1;
        // Counted once present: the absent section behind the last is no point.
        report(control, s + 1, std::max(total, s + 1));
        for (int g = 0; g < kGroupRecords; ++g) {
            std::array<uint8_t, kGroupRegisters * 2> group{};
            outcome = read_retrying(control, file, 16 * s + 1 + g, kGroupRegisters, group.data());
            if (outcome != Outcome::Read)
                return outcome == Outcome::LinkLost ? -2 : -1;
            GroupRecord record = group_record_decode(group);
            if (!record.present)
                break;
            out.groups[s][g] = record;
        }
    }
    return 0;
}

bool record_is_listed(const RecordFile& record, uint16_t descriptor, uint32_t start)
{
    if (record.sections == 0)
        return false;
    const BatteryRecord& last = record.summaries[record.sections - 1];
    return last.descriptor == descriptor && last.start == start;
}

std::string record_slot_failed_text(RecordKind kind, int slot)
{
    // Three attempts: the word below is the one for two to four.
    static_assert(kRecordReadAttempts >= 2 && kRecordReadAttempts <= 4);
    return kind == RecordKind::Test
               ? format("Ошибка чтения теста №%d\nТест №%d не показан: не удалось прочитать (%d попытки)\n", slot,
                        slot, kRecordReadAttempts)
               : format("Ошибка чтения разряда №%d\nРазряд №%d не показан: не удалось прочитать (%d попытки)\n",
                        slot, slot, kRecordReadAttempts);
}

RecordListEnd record_list_end(RecordKind kind, const RecordListRead& read)
{
    bool test = kind == RecordKind::Test;
    if (!read.failed_slots.empty())
        return {test ? "Батарейные тесты прочитаны с ошибками\n" : "Разряды прочитаны с ошибками\n", true};
    return {test ? "Батарейные тесты прочитаны\n" : "Разряды прочитаны\n", false};
}

std::string record_file_progress_text(int file, int done, int total)
{
    return format(record_kind_of_file(file) == RecordKind::Test ? "Чтение батарейного теста: точка %d из %d"
                                                                : "Чтение разряда: точка %d из %d",
                  done, total);
}
