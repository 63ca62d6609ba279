// The journal thread: reads the newest 2000 records of the Controller's
// journal backwards from its position, one request per record, and hands the
// rows and the progress over to the window, which takes them on its 100 ms
// tick (no GDK lock per record). One read at a time: a read is busy from the
// button press until its worker has ended.
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "events/journal.h"

// What a read reads. The window's read: the newest kJournalReadCount records
// backwards from the Controller's position. An archive names where to start,
// how many, the direction, and what ends the read early (asked on the journal
// thread after each record, with its bytes or nullptr when it failed).
struct JournalReadPlan {
    std::optional<uint16_t> first;   // none: the Controller's position (identification register 8)
    int count = kJournalReadCount;
    JournalDirection direction = JournalDirection::Backwards;
    std::function<bool(uint16_t record, const uint8_t* bytes)> last;
};

// Starts a read over the open link (GUI thread). 0 started; -1 when no link
// is open, a read is still busy, or no thread could be made (logged).
int journal_read_start(JournalReadPlan plan = {});
// The stop button: the thread ends before its next record.
void journal_read_stop();

// From the press of the read button until the journal worker has ended.
bool journal_busy();
// From the press until the stop button or the end of the read.
bool journal_reading();
// A read has ended (any way) since the last one started: an empty list is
// then the journal's, not a list nobody read yet.
bool journal_read_ended();

struct JournalProgressView {
    int done = 0;        // records tried so far, of total
    int total = kJournalReadCount;
    std::string text;    // "" before the first record
};
JournalProgressView journal_progress();
// Rows decoded since the last call, newest first; a new read drops what is left.
std::vector<JournalRow> journal_take_rows();

// How the last read ended (valid once journal_read_ended()): the records
// tried, whether one failed, and whether it ran to its end.
JournalReadResult journal_read_result();

// Whom the rows belong to, for the export: the site name (UTF-8, "" when none
// or not convertible), the serial number of the settings and that of the
// identification registers. Taken from the Controller while the link of the
// read is open, otherwise as they were when the read ended.
struct JournalSource {
    std::string site;
    uint32_t serial = 0;
    uint32_t identification_serial = 0;
};
JournalSource journal_source();

// Waits until no read is busy. Never with the GDK lock held.
void journal_wait();
