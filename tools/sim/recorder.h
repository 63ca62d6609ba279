// --record FILE: one line per request, flushed at once, so tests can assert
// the exact sequence a client sent.
#pragma once
#include <cstdio>
#include <string>

namespace sim {

struct Recorder {
    std::FILE* file = nullptr;
    bool open(const std::string& path);
    void line(const std::string& fields);  // prefixes "<unix-time.ms> "
    ~Recorder();
};

}  // namespace sim
