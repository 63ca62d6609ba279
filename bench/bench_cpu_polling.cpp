// CPU of the connected, polling program: the real main window (run it under
// Xvfb) connected to rarur-sim in layout 3 with a live plant, a cycle a
// second, measured over a window of seconds after the first cycles. Prints
// the share of one core for the whole process and for the GUI thread alone.
// Target: at most 1 % of one core. Not a pass/fail test.
//   xvfb-run -a build/bench/bench_cpu_polling [SECONDS]
#include <gtk/gtk.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "app/main_window.h"
#include "app/widgets.h"
#include "base/app_state.h"
#include "link/connection.h"
#include "sim_process.h"
#include "bench_report.h"

namespace {

// utime + stime of a thread (or the whole process), in clock ticks.
long long cpu_ticks(const std::string& stat_path)
{
    std::ifstream in(stat_path);
    std::string line;
    std::getline(in, line);
    size_t close = line.rfind(')');
    if (close == std::string::npos)
        return 0;
    std::istringstream fields(line.substr(close + 2));
    std::string skip;
    for (int i = 0; i < 11; ++i)   // state .. cmajflt
        fields >> skip;
    long long utime = 0, stime = 0;
    fields >> utime >> stime;
    return utime + stime;
}

struct Measure {
    int seconds;
    long long process_start = 0, gui_start = 0;
    double wall_start = 0;
};

double now_s() { return g_get_monotonic_time() / 1e6; }

gboolean begin(gpointer data)
{
    auto* m = static_cast<Measure*>(data);
    m->process_start = cpu_ticks("/proc/self/stat");
    m->gui_start = cpu_ticks("/proc/self/task/" + std::to_string(getpid()) + "/stat");
    m->wall_start = now_s();
    return FALSE;
}

gboolean finish(gpointer data)
{
    auto* m = static_cast<Measure*>(data);
    double wall = now_s() - m->wall_start;
    double tick = double(sysconf(_SC_CLK_TCK));
    double process = (cpu_ticks("/proc/self/stat") - m->process_start) / tick / wall * 100.0;
    double gui = (cpu_ticks("/proc/self/task/" + std::to_string(getpid()) + "/stat") - m->gui_start) / tick / wall * 100.0;
    std::printf("cpu while polling (layout 3, live plant, %.0f s): process %.2f %% of a core, GUI thread %.2f %% "
                "(target <= 1 %%)\n",
                wall, process, gui);
    std::printf("link open at the end: %d\n", app.link_open.load());
    bench_report("cpu_polling_process", process, "%core", -1, "-", "<=1%", process <= 1);
    bench_report("cpu_polling_gui_thread", gui, "%core", -1, "-", "<=1%", gui <= 1);
    gtk_main_quit();
    return FALSE;
}

}  // namespace

int main(int argc, char** argv)
{
    int seconds = argc > 1 ? std::atoi(argv[1]) : 30;
    SimOptions options;
    options.protocol_version = 410;
    SimProcess sim(options);
    if (!sim.running()) {
        std::fprintf(stderr, "rarur-sim did not start: %s\n", sim.log().c_str());
        return 1;
    }
    gdk_threads_init();
    gdk_threads_enter();
    int gtk_argc = 1;
    if (!app_start(&gtk_argc, &argv))
        return 1;
    std::string address = "127.0.0.1:" + std::to_string(sim.port());
    gtk_entry_set_text(GTK_ENTRY(widget_by_id("DeviceAddress")), address.c_str());
    if (connect_ethernet() != 0) {
        std::fprintf(stderr, "connect failed\n");
        return 1;
    }
    Measure m{seconds};
    // The first cycles fill the lists and the settings page: not the steady state.
    gdk_threads_add_timeout_seconds(5, begin, &m);
    gdk_threads_add_timeout_seconds(guint(5 + seconds), finish, &m);
    gtk_main();
    link_close_for_exit();
    gdk_threads_leave();
    return 0;
}
