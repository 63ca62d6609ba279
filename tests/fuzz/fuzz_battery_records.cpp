// Battery test and discharge records as the Controller sends them: the list
// and a whole record file read through a reader that answers with arbitrary
// bytes and results. Nothing is read outside the 22 sections and 8 groups,
// the list holds at most four rows, and every text is UTF-8.
#include <cstdlib>
#include <cstring>

#include "battery/records.h"
#include "fuzz_input.h"

namespace {

bool row_is_text(const RecordRow& row)
{
    for (const std::string* s : {&row.name, &row.date, &row.length, &row.status, &row.capacity, &row.voltage,
                                 &row.temperature, &row.mean_current})
        if (!valid_utf8(*s))
            return false;
    return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in{data, size};
    RecordKind kind = in.byte() & 1 ? RecordKind::Discharge : RecordKind::Test;
    unsigned newest = in.word();
    int16_t zone = int16_t(in.word());
    bool summer = in.byte() & 1;
    bool whole_file = in.byte() & 1;

    RecordReadControl control;
    int reads = 0;
    bool link_gone = false;
    control.read = [&](uint16_t file, uint16_t record, unsigned length, uint8_t* out) {
        FUZZ_CHECK(file >= record_file_base(kind) && file < record_file_base(kind) + kRecordSlots);
        FUZZ_CHECK(record < 16 * kRecordSections);
        FUZZ_CHECK(length == kSummaryRegisters || length == kGroupRegisters);
        FUZZ_CHECK(++reads <= 3 * kRecordSections * (1 + kGroupRecords) * kListedRecords);
        // Mostly answers, now and then a failed request or the link going;
        // an empty input reads as zeros: present records in progress.
        uint8_t outcome = in.byte();
        if (outcome >= 0xF0) {
            link_gone = link_gone || outcome < 0xF4;
            return ModbusResult(-1 - int(outcome & 3));
        }
        in.bytes(out, 2 * length);
        return ModbusResult::Ok;
    };
    control.live = [&] { return !link_gone; };
    control.progress = [](int done, int total) { FUZZ_CHECK(done >= 1 && done <= total); };

    if (whole_file) {
        int file = record_file(kind, newest, 1 + in.byte() % 6);
        RecordFile record;
        int r = read_record_file(file, control, record);
        FUZZ_CHECK(r == 0 || r == -1 || r == -2);
        FUZZ_CHECK(record.sections >= 0 && record.sections <= kRecordSections);
        for (int s = 0; s < record.sections; ++s) {
            FUZZ_CHECK(record.summaries[s].present);
            RecordRow row = present_record_row(1, file, record.summaries[s], zone, summer);
            FUZZ_CHECK(row_is_text(row));
        }
    } else {
        RecordListRead list = read_record_list(kind, newest, zone, summer, control);
        FUZZ_CHECK(list.rows.size() + list.failed_slots.size() <= size_t(kListedRecords));
        for (const RecordRow& row : list.rows) {
            FUZZ_CHECK(row_is_text(row));
            FUZZ_CHECK(row.file >= record_file_base(kind) && row.file < record_file_base(kind) + kRecordSlots);
        }
        for (int slot : list.failed_slots)
            FUZZ_CHECK(slot >= 1 && slot <= kRecordSlots);
    }
    return 0;
}
