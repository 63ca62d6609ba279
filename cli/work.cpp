#include "cli/work.h"

#include <unistd.h>

#include <cstdio>


CliProgress::CliProgress() : terminal_(isatty(STDERR_FILENO) != 0) {}

void CliProgress::show(const std::string& text)
{
    std::lock_guard<std::mutex> g(lock_);
    if (text == shown_)
        return;
    if (terminal_)
        std::fprintf(stderr, text.empty() ? "\r\033[K" : "\r\033[K%s", text.c_str());
    else if (!text.empty())
        std::fprintf(stderr, "%s\n", text.c_str());
    std::fflush(stderr);
    shown_ = text;
}
