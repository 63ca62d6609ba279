// The one line per figure that bench/run collects into its table, printed
// beside each benchmark's own report:
//   BENCH name=<figure> value=<v> unit=<u> anchor=<a> anchor_name=<what> target=<t> met=yes|no|-
// No spaces inside a field; an anchor or target that the figure does not
// have is "-".
#pragma once

#include <cstdio>

inline void bench_report(const char* name, double value, const char* unit, double anchor, const char* anchor_name,
                         const char* target, int met)
{
    char anchor_text[32] = "-";
    if (anchor >= 0)
        std::snprintf(anchor_text, sizeof anchor_text, "%.4g", anchor);
    std::printf("BENCH name=%s value=%.4g unit=%s anchor=%s anchor_name=%s target=%s met=%s\n", name, value, unit,
                anchor_text, anchor_name, target, met < 0 ? "-" : met ? "yes" : "no");
    std::fflush(stdout);
}
