// The Controller's event journal: a ring of 4096 records in file 1, read
// backwards from the position the Controller names, newest first. Pure: how a
// record's bytes become a row of the journal list, and the texts of a read.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>

#include "modbus/result.h"
#include "registers/catalogue.h"

constexpr uint16_t kJournalFile = 1;
constexpr int kJournalRingSize = 4096;
constexpr unsigned kJournalRecordRegisters = 6;
constexpr size_t kJournalRecordBytes = 2 * kJournalRecordRegisters;
constexpr int kJournalReadCount = 2000;

// One record as the Controller sends it (every field big-endian).
struct JournalRecord {
    uint16_t presence = 0;     // 0: holds an event; anything else: an empty slot
    uint16_t descriptor = 0;   // shown and exported as a number only
    uint32_t time = 0;         // Controller seconds
    uint16_t kind = 0;         // 0 end of a state, 1 beginning, other: plain event
    uint16_t code = 0;         // event code of the catalogue
};

JournalRecord journal_record_decode(std::span<const uint8_t, kJournalRecordBytes> bytes);

// Where a read starts: the Controller's position (identification register 8)
// inside the ring, whatever the register holds.
constexpr uint16_t journal_first_record(uint16_t position) { return position % kJournalRingSize; }
// The record read after `record`: one back, from 0 round to 4095.
constexpr uint16_t journal_previous_record(uint16_t record)
{
    return record == 0 ? kJournalRingSize - 1 : static_cast<uint16_t>(record - 1);
}
// One forward, from 4095 round to 0.
constexpr uint16_t journal_next_record(uint16_t record)
{
    return record == kJournalRingSize - 1 ? 0 : static_cast<uint16_t>(record + 1);
}
// How many steps forward from `from` to `to` round the ring (0 when equal).
constexpr int journal_ring_distance(uint16_t from, uint16_t to)
{
    return (int(to % kJournalRingSize) - int(from % kJournalRingSize) + kJournalRingSize) % kJournalRingSize;
}

// Kind column text and stock icon.
const char* journal_kind_text(uint16_t kind);
const char* journal_kind_icon(uint16_t kind);

// One row of JournalListStore (columns image, descriptor, date, code,
// subcode_i, subcode).
struct JournalRow {
    uint16_t position = 0;   // where in the ring it was read
    JournalRecord record;    // as the Controller holds it
    const char* icon = "";
    unsigned descriptor = 0;
    std::string date;
    const char* kind_text = "";
    unsigned code = 0;
    std::string event;
};

// The row of a record, or nothing for an empty slot. zone: time-zone word in
// quarter hours; summer: the summer-time bit; layout: the event layout in force.
std::optional<JournalRow> journal_row(const JournalRecord& record, int16_t zone, bool summer, int layout,
                                      const CatalogueSettings& settings);

// Progress after `done` of `total` records in `elapsed` seconds:
// "%.1f%% [%d:%02d]" with the remaining time the mean so far gives. While the
// last record went unanswered (`answering` false) no time is promised: the
// time-outs of a silent Controller would extrapolate to hours.
std::string journal_progress_text(int done, double elapsed, int total = kJournalReadCount, bool answering = true);

// A Controller that fails this many records in a row has stopped answering:
// the read ends there instead of spending its time-out on each of 2000.
constexpr int kJournalSilentLimit = 10;

// How a read reaches the Controller. `read` reads one record; `go_on` is
// false once the read is to end before the next record (the stop button, the
// link gone); `failed` hears of a record that could not be read (attempt
// 1-2000, record number); `step` follows every record tried, with its bytes,
// or nullptr when it failed; `last`, when given, is asked after each step
// whether that record ends the read (a complete one).
struct JournalReadControl {
    std::function<ModbusResult(uint16_t record, uint8_t* out)> read;
    std::function<bool()> go_on;
    std::function<void(int attempt, uint16_t record)> failed;
    std::function<void(int done, uint16_t record, const uint8_t* bytes)> step;
    std::function<bool(uint16_t record, const uint8_t* bytes)> last;
};
enum class JournalReadEnd { Complete, Stopped, Silent };
struct JournalReadResult {
    JournalReadEnd end = JournalReadEnd::Complete;
    bool failed = false;   // some record could not be read
    int done = 0;          // records tried
};
// Up to `count` records from `first`, backwards (newest first, as the window
// reads) or forwards.
enum class JournalDirection { Backwards, Forwards };
JournalReadResult journal_read_records(uint16_t first, const JournalReadControl& control,
                                       int count = kJournalReadCount,
                                       JournalDirection direction = JournalDirection::Backwards);

// The log line that ends a read; `stopped_by_user` when the stop button
// ended it. error: the line is err_text.
struct JournalEndText {
    const char* text;
    bool error;
};
JournalEndText journal_end_text(const JournalReadResult& result, bool stopped_by_user);
