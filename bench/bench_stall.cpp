// The longest main-loop stall: ui-driver runs the real window through the
// program's slower actions against rarur-sim (bench/main_loop_stall.uitest:
// connect, journal read, apply, disconnect, USB search, modem dial and
// hang-up, close during a call) and reports the longest gap between two turns
// of the main loop, in all and per action. Run under Xvfb.
//   xvfb-run -a build/bench/bench_stall
#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>

#include "bench_report.h"

int main()
{
    if (!std::getenv("DISPLAY")) {
        std::fprintf(stderr, "no display: run under xvfb-run -a\n");
        return 1;
    }
    // A bound far above any stall: the figure is measured, not judged here.
    std::string command = std::string("RARUR_SIM='") + RARUR_SIM_PATH + "' '" + UI_DRIVER_PATH +
                          "' --stall-bound 100000 --script '" + STALL_SCRIPT + "' 2>&1";
    FILE* out = popen(command.c_str(), "r");
    if (!out)
        return 1;
    std::string text;
    char buffer[4096];
    while (size_t n = std::fread(buffer, 1, sizeof buffer, out))
        text.append(buffer, n);
    int status = pclose(out);

    std::printf("longest main-loop stall per action (ms):\n");
    std::regex section("section ([a-z-]+): longest main-loop stall ([0-9]+) ms");
    for (auto it = std::sregex_iterator(text.begin(), text.end(), section); it != std::sregex_iterator(); ++it)
        std::printf("  %-16s %6s\n", (*it)[1].str().c_str(), (*it)[2].str().c_str());
    std::smatch longest, result;
    if (!std::regex_search(text, longest, std::regex("\"longest_stall_ms\":([0-9]+)")) ||
        !std::regex_search(text, result, std::regex("\"result\":\"([a-z]+)\""))) {
        std::fprintf(stderr, "ui-driver reported nothing:\n%s\n", text.c_str());
        return 1;
    }
    if (status != 0 || result[1] != "pass") {
        std::fprintf(stderr, "the script did not run through:\n%s\n", text.c_str());
        return 1;
    }
    double ms = std::atof(longest[1].str().c_str());
    std::printf("  %-16s %6.0f   target <= 100 ms: %s\n", "all", ms, ms <= 100 ? "met" : "NOT MET");
    bench_report("longest_main_loop_stall", ms, "ms", -1, "-", "<=100ms", ms <= 100);
    return 0;
}
