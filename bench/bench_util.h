// Helpers shared by the benchmarks: timing, and the headless program linked to
// a frozen rarur-sim.
#pragma once

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "base/app_state.h"
#include "base/headless_ui.h"
#include "base/ui_hooks.h"
#include "link/connection.h"
#include "sim_process.h"

using BenchClock = std::chrono::steady_clock;

inline double median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return v[v.size() / 2];
}

inline double ms_since(BenchClock::time_point start)
{
    return std::chrono::duration<double, std::milli>(BenchClock::now() - start).count();
}

// Whether the simulator runs; says why not on stderr.
inline bool bench_start_sim(SimProcess& sim)
{
    if (sim.running())
        return true;
    std::fprintf(stderr, "rarur-sim did not start: %s\n", sim.log().c_str());
    return false;
}

inline SimOptions bench_sim_options(int protocol_version)
{
    SimOptions options;
    options.protocol_version = protocol_version;
    options.freeze = true;
    return options;
}

// Opens the program's link to the simulator with no connection subscribers
// (no poll thread) and waits for its transport thread. False when it failed.
inline bool bench_connect(const SimProcess& sim)
{
    headless_ui_install();
    connection_init();
    connection_unsubscribe_all();
    headless_set_device_address("127.0.0.1:" + std::to_string(sim.port()));
    {
        GdkLock lock;
        if (connect_ethernet() != 0) {
            std::fprintf(stderr, "connect failed: %s\n", headless_log().c_str());
            return false;
        }
    }
    while (!app.transport_running)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
}
