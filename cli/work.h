// What the records, clock and service commands share once connected.
#pragma once

#include <mutex>
#include <string>

// Waits, within the link options' time-out, until the Controller's settings
// have been read: its time zone is in them, and the times it shows (a
// record's start, the clock it was set to) are given in that zone. kExitOk,
// or the exit code with the reason said.
int cli_wait_settings();

// A worker's progress texts on stderr: one line rewritten in place on a
// terminal, otherwise a plain line for each new text. "" ends it. Any thread:
// the worker's reports and the command's own end may meet.
class CliProgress {
public:
    CliProgress();
    ~CliProgress() { show(""); }
    void show(const std::string& text);

private:
    bool terminal_;
    std::mutex lock_;
    std::string shown_;
};
