// A headless program with its poll thread, connected to rarur-sim over TCP:
// the fixture the tests of the poll and of the settings write share.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "base/app_state.h"
#include "base/headless_ui.h"
#include "base/ui_hooks.h"
#include "link/connection.h"
#include "modbus/exchange.h"
#include "modbus/operations.h"
#include "sim_process.h"
#include "status/display_hooks.h"
#include "status/poll.h"

class PollSimFixture : public ::testing::Test {
protected:
    void SetUp() override
    {
        headless_ui_install();
        headless_ui_clear();
        display_hooks_headless();
        display_record_clear();
        status_data_reset();
        poll_set_register_reader(modbus_read_registers);
        poll_set_link_close(link_close);
        connection_unsubscribe_all();
        connection_init();
        connection_subscribe(ConnectionEvent::LinkOpened, status_link_opened);
        connection_subscribe(ConnectionEvent::ConnectStarted, status_connect_started);
    }
    void TearDown() override
    {
        {
            GdkLock lock;
            if (app.link_open)
                link_close();
        }
        wait_until([] { return !app.poll_running; });
        exchange_wait_stopped();
        connection_unsubscribe_all();
    }

    // Connects to the simulator; the poll thread starts with the link.
    int connect(const SimProcess& sim)
    {
        headless_set_device_address("127.0.0.1:" + std::to_string(sim.port()));
        GdkLock lock;
        return connect_ethernet();
    }
};
