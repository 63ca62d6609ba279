// The values recorded to a CSV file, written on a thread of their own: a file
// on a slow or hung share, or a FIFO nobody reads, never holds up the window.
// A recording outlives the link it began on (the window decides when it
// ends); rows are handed over as whole strings and reach the file whole or
// not at all.
#pragma once

#include <chrono>
#include <cstdio>
#include <functional>
#include <memory>
#include <string>

// Writes `row` to `file` as one piece. A row the file cannot take in full is
// taken back out (the file is cut to `good_end`, where the last whole row
// ended), so a full disk never leaves half a row. 0 written (`good_end` moves
// past it), otherwise the errno. `file` must be unbuffered.
int trend_append_row(FILE* file, const std::string& row, long& good_end);

struct TrendRecorderState;

class TrendRecorder {
public:
    // `failed` is called once, on the recorder's thread, when the file cannot
    // be opened or takes no more rows; nothing more is written then.
    // `name` (UTF-8) is for the log. 0 started; -1 no thread could be made.
    int start(const std::string& path, const std::string& name, std::function<void(std::string error)> failed);
    // Queues a row (the GUI thread never waits for the file).
    void add(std::string row);
    // Rows already queued are written, then the file is closed and the log
    // says how many rows it holds. Returns at once.
    void stop();
    bool active() const { return state_ != nullptr; }

private:
    std::shared_ptr<TrendRecorderState> state_;
};

// The program is closing: waits up to `bound` for recorders told to stop to
// have written their rows and closed their files. True when all have; one
// stuck on its file is left behind. Any thread, no lock held.
bool trend_recorders_finish(std::chrono::milliseconds bound);
