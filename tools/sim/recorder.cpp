#include "recorder.h"

#include <sys/time.h>

namespace sim {

bool Recorder::open(const std::string& path)
{
    file = std::fopen(path.c_str(), "a");
    return file != nullptr;
}

void Recorder::line(const std::string& fields)
{
    if (!file)
        return;
    timeval tv{};
    gettimeofday(&tv, nullptr);
    std::fprintf(file, "%ld.%03ld %s\n", long(tv.tv_sec), long(tv.tv_usec / 1000), fields.c_str());
    std::fflush(file);
}

Recorder::~Recorder()
{
    if (file)
        std::fclose(file);
}

}  // namespace sim
