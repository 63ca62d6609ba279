// Start to window shown: from starting a process to its main window mapped on
// the display, the program's window built through app_start against the same
// for an empty GTK window (what any GTK+ 2 program pays on this display).
// Each is a fresh process, several rounds, median. Run under Xvfb.
//   xvfb-run -a build/bench/bench_start [ROUNDS]
#include <gtk/gtk.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "app/main_window.h"
#include "app/widgets.h"
#include "bench_report.h"

namespace {

long long monotonic_ns()
{
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

long long g_started_ns = 0;

gboolean mapped(GtkWidget*, GdkEvent*, gpointer)
{
    std::printf("%.3f\n", double(monotonic_ns() - g_started_ns) / 1e6);
    std::fflush(stdout);
    // Closing down is not part of starting up.
    _exit(0);
}

// The child: builds its window and reports when it is mapped.
int child(bool program, int argc, char** argv)
{
    GtkWidget* window;
    if (program) {
        gdk_threads_init();
        gdk_threads_enter();
        if (!app_start(&argc, &argv))
            return 1;
        window = widget_by_id("MainWindow");
    } else {
        gtk_init(&argc, &argv);
        window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
        gtk_widget_show(window);
    }
    if (!window)
        return 1;
    g_signal_connect(window, "map-event", G_CALLBACK(mapped), nullptr);
    gtk_main();
    return 1;
}

// Milliseconds from starting `self --child MODE` to its window mapped; < 0 on failure.
double one_start(const char* self, const char* mode)
{
    std::string command = std::string("'") + self + "' --child " + mode + " " + std::to_string(monotonic_ns());
    FILE* out = popen(command.c_str(), "r");
    if (!out)
        return -1;
    double ms = -1;
    if (std::fscanf(out, "%lf", &ms) != 1)
        ms = -1;
    return pclose(out) == 0 ? ms : -1;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc >= 4 && std::strcmp(argv[1], "--child") == 0) {
        g_started_ns = std::atoll(argv[3]);
        return child(std::strcmp(argv[2], "program") == 0, 1, argv);
    }
    if (!std::getenv("DISPLAY")) {
        std::fprintf(stderr, "no display: run under xvfb-run -a\n");
        return 1;
    }
    int rounds = argc > 1 ? std::atoi(argv[1]) : 7;
    std::vector<double> program, bare;
    for (int i = 0; i < rounds; ++i) {
        double p = one_start(argv[0], "program"), b = one_start(argv[0], "bare");
        if (p < 0 || b < 0) {
            std::fprintf(stderr, "a start failed\n");
            return 1;
        }
        program.push_back(p);
        bare.push_back(b);
    }
    double p = median(program), b = median(bare);
    std::printf("start to window shown, %d starts each (median / best):\n", rounds);
    std::printf("  main window (app_start)   %8.1f ms  %8.1f ms\n", p, *std::min_element(program.begin(), program.end()));
    std::printf("  empty GTK window          %8.1f ms  %8.1f ms\n", b, *std::min_element(bare.begin(), bare.end()));
    std::printf("  target <= 1000 ms for the main window: %s\n", p <= 1000 ? "met" : "NOT MET");
    bench_report("start_to_window_shown", p, "ms", b, "empty_GTK_window", "<=1000ms", p <= 1000);
    return 0;
}
