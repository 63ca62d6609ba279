// A Controller's journal kept in a file of its own: DIR/<serial>.csv, rows
// appended in time order and never rewritten, so that the Controller's ring
// (the last 4096 records) never loses a record the archive has not taken.
// Pure: the file's rows, how its last row is found again in the ring, and
// which read rows may be appended.
//
// The last archived row names its ring position and the record as the
// Controller held it (descriptor, time, kind, code). A run reads that one
// position first: the same record there means the ring has not gone round
// it, and the records after it, up to the Controller's newest, are the new
// ones; they are read oldest first, so a read cut short still ends where the
// archive does and leaves no gap. Anything else there (another record, an
// empty slot) means the ring has gone round past it or the Controller's
// journal started again: the whole ring is read, newest first.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "events/journal.h"

// The header row of an archive file (without its CR LF).
extern const char* const kJournalArchiveHeader;
// One archived row (without its CR LF).
std::string journal_archive_line(const JournalRow& row);

// The last archived record: where it was in the ring and what it held.
struct JournalArchiveMark {
    uint16_t position = 0;
    JournalRecord record;
};

// The last row of an archive file's text. 0 with `mark` empty when the file
// holds no row yet (nothing, or the header alone); -1 with `error` saying
// what is wrong when the text is not an archive or its end is cut.
int journal_archive_last(std::string_view text, std::optional<JournalArchiveMark>* mark, std::string* error);

// The record read at the mark's position is the one archived there.
bool journal_archive_same(const JournalArchiveMark& mark, const JournalRow& row);

// A run of empty slots this long is the part of the ring never written: a
// read of the whole ring ends there. Single erased slots inside the history
// do not end it.
constexpr int kJournalEmptyRunEnd = 16;
// Counts empty slots in a row for a read of the whole ring; true once the
// run is long enough to end the read, or a record could not be read (the
// read cannot go on without a gap).
struct JournalWholeRingEnd {
    int empty_in_row = 0;
    bool operator()(const uint8_t* bytes);
};

// The rows of a read of the whole ring (newest first, from `newest`) as they
// are appended: oldest first, without those whose slots the Controller wrote
// again while the read went round (its position moved on to `newest_after`).
std::vector<JournalRow> journal_archive_whole_ring_rows(std::vector<JournalRow> rows, uint16_t newest,
                                                        uint16_t newest_after);
