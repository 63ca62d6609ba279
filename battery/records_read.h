// Reading the battery test and discharge records on a worker of lane
// "records", bound to the open link, so the window goes on answering (and
// "Отключиться" can be pressed) while up to 198 requests are outstanding.
#pragma once

#include <functional>
#include <string>

#include "base/workers.h"
#include "battery/records.h"

// A read in progress (at most one at a time). Any thread.
bool records_reading();
// Called on the GUI thread (GDK lock held) after each read has ended, once
// records_reading() is false: the window offers the read buttons again.
void records_on_idle(void (*hook)());

// Where a read reports. Both run on the GUI thread holding the GDK lock:
// `progress` with a status-line text ("" when the read is over), `done` once
// with the result and the session the read worked for (the window checks it
// is still the open link's).
struct RecordListReport {
    std::function<void(const std::string& text)> progress;
    std::function<void(const RecordListRead& result, LinkSession session)> done;
};
struct RecordFileReport {
    std::function<void(const std::string& text)> progress;
    std::function<void(const RecordFile& file, int result, LinkSession session)> done;
};

// Starts reading the four newest records of `kind`; the newest slot comes
// from the identification block of the last poll cycle. Failed slots and the
// end of the read are logged here. 0 started, -1 not (a read running, no
// link, or no thread).
int record_list_read_start(RecordKind kind, int16_t zone_quarters, bool summer, RecordListReport report);
// Starts reading record file `file` in full, `points` sections as listed (the
// status line counts them); a failure is logged here.
int record_file_read_start(int file, int points, RecordFileReport report);
