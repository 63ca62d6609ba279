// A worker's progress on stderr, for the commands whose workers report it as texts.
#pragma once

#include <mutex>
#include <string>

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
