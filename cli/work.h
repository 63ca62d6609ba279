// A worker's progress on stderr, for the commands whose workers report it as texts.
#pragma once

#include <mutex>
#include <optional>
#include <string>

// A worker's report, kept until the main thread takes it: the worker sets it
// once from its own thread, the command waits until it is known.
template <class T>
class Awaited {
public:
    void set(T v)
    {
        std::lock_guard<std::mutex> g(lock_);
        value_ = std::move(v);
    }
    bool known()
    {
        std::lock_guard<std::mutex> g(lock_);
        return value_.has_value();
    }
    std::optional<T> take()
    {
        std::lock_guard<std::mutex> g(lock_);
        return value_;
    }

private:
    std::mutex lock_;
    std::optional<T> value_;
};

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
