// Journal read: 2000 records from rarur-sim on loopback through the program's
// journal thread and exchange, against the floor of the same run: 2000 x (a
// 1 ms pause + one libmodbus round trip of the same size, 6 input registers;
// libmodbus has no file-record read). Target: within 1.1x of the floor.
// Then the window's side: 2000 rows appended to a journal list on screen, in
// the 100 ms batches the window takes them in, and one row per main-loop turn
// as a thread taking the GDK lock per record would make it (thread CPU time).
#include <modbus.h>
#include <time.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include <gtk/gtk.h>

#include "base/app_state.h"
#include "base/headless_ui.h"
#include "base/ui_hooks.h"
#include "events/journal_read.h"
#include "link/connection.h"
#include "modbus/exchange.h"
#include "sim_process.h"
#include "bench_report.h"

namespace {

using Clock = std::chrono::steady_clock;

double ms_since(Clock::time_point start)
{
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double thread_cpu_ms()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1000.0 + t.tv_nsec / 1e6;
}

double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

void run_main_loop_dry()
{
    while (gtk_events_pending())
        gtk_main_iteration();
}

// CPU ms of the GUI thread for 2000 rows, `per_turn` rows per main-loop turn.
double append_rows(int per_turn)
{
    GtkListStore* store = gtk_list_store_new(8, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_UINT, G_TYPE_STRING, G_TYPE_UINT,
                                             G_TYPE_STRING, G_TYPE_UINT, G_TYPE_STRING);
    GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
    gtk_window_set_default_size(GTK_WINDOW(window), 900, 400);
    GtkWidget* scroll = gtk_scrolled_window_new(nullptr, nullptr);
    GtkWidget* view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
    gtk_tree_view_insert_column_with_attributes(GTK_TREE_VIEW(view), -1, "", gtk_cell_renderer_pixbuf_new(),
                                                "stock-id", 0, nullptr);
    for (int column : {2, 5, 3, 7})
        gtk_tree_view_insert_column_with_attributes(GTK_TREE_VIEW(view), -1, "", gtk_cell_renderer_text_new(), "text",
                                                    column, nullptr);
    gtk_container_add(GTK_CONTAINER(scroll), view);
    gtk_container_add(GTK_CONTAINER(window), scroll);
    gtk_widget_show_all(window);
    run_main_loop_dry();

    double start = thread_cpu_ms();
    for (int i = 0; i < 2000;) {
        GtkTreeIter iter;
        for (int k = 0; k < per_turn && i < 2000; ++k, ++i)
            gtk_list_store_insert_with_values(store, &iter, G_MAXINT, 0, "gtk-go-forward", 2, 5000u + i, 3,
                                              "08 Dec 2026 12:00:00", 5, "Начало", 6, 37u, 7,
                                              "Отключен аппарат защиты нагрузки 'Сервер' (QH3)", -1);
        run_main_loop_dry();
    }
    double spent = thread_cpu_ms() - start;
    gtk_widget_destroy(window);
    g_object_unref(store);
    run_main_loop_dry();
    return spent;
}

}  // namespace

int main(int argc, char** argv)
{
    int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 3;
    SimOptions options;
    options.freeze = true;
    SimProcess sim(options);
    if (!sim.running()) {
        std::fprintf(stderr, "rarur-sim did not start: %s\n", sim.log().c_str());
        return 1;
    }
    headless_ui_install();
    connection_unsubscribe_all();
    connection_init();
    headless_set_device_address("127.0.0.1:" + std::to_string(sim.port()));
    {
        GdkLock lock;
        if (connect_ethernet() != 0) {
            std::fprintf(stderr, "connect failed: %s\n", headless_log().c_str());
            return 1;
        }
    }
    while (!app.transport_running)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));

    modbus_t* ctx = modbus_new_tcp("127.0.0.1", sim.port());
    modbus_set_slave(ctx, 0xFF);
    if (modbus_connect(ctx) != 0) {
        std::fprintf(stderr, "libmodbus connect failed\n");
        return 1;
    }
    // Rounds alternate between the two, so a busy machine weighs on both alike.
    std::vector<double> ours, floor;
    uint16_t registers[6];
    for (int r = 0; r < rounds; ++r) {
        auto start = Clock::now();
        {
            GdkLock lock;
            if (journal_read_start() != 0) {
                std::fprintf(stderr, "journal read did not start\n");
                return 1;
            }
        }
        journal_wait();
        ours.push_back(ms_since(start));
        if (journal_progress().done != 2000 || headless_log().find("удачно") == std::string::npos) {
            std::fprintf(stderr, "journal read failed: %s\n", headless_log().c_str());
            return 1;
        }
        headless_ui_clear();

        start = Clock::now();
        for (int i = 0; i < 2000; ++i) {
            if (modbus_read_input_registers(ctx, 0, 6, registers) != 6) {
                std::fprintf(stderr, "libmodbus request failed\n");
                return 1;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        floor.push_back(ms_since(start));
    }
    modbus_close(ctx);
    modbus_free(ctx);
    {
        GdkLock lock;
        link_close();
    }
    exchange_wait_stopped();

    double a = median(ours), b = median(floor);
    std::printf("journal read, 2000 records, loopback, %d rounds (median):\n", rounds);
    std::printf("  journal thread                 %8.1f ms\n", a);
    std::printf("  floor 2000 x (1 ms + libmodbus) %7.1f ms\n", b);
    std::printf("  ratio                          %8.3f    (target <= 1.10) %s\n", a / b, a / b <= 1.1 ? "met" : "NOT MET");
    bench_report("journal_read", a, "ms", b, "floor", "ratio<=1.1", a / b <= 1.1);

    if (!gtk_init_check(&argc, &argv)) {
        std::printf("window side: no display, skipped (run under xvfb-run)\n");
        return 0;
    }
    double batched = append_rows(80), single = append_rows(1);
    std::printf("GUI thread CPU for 2000 rows on screen:\n");
    std::printf("  in 100 ms batches (~80 rows)   %8.1f ms\n", batched);
    std::printf("  one row per main-loop turn     %8.1f ms\n", single);
    bench_report("journal_rows_gui_cpu", batched, "ms", single, "one_row_per_turn", "-", -1);
    return 0;
}
