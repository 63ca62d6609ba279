// The one process-wide record of program state. Fields written by one thread
// and polled by another are atomics so that the sanitizers and the compiler see
// the sharing; everything else belongs to the GUI thread.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "base/link_kind.h"

constexpr int kInvalidHandle = -1;

struct AppState {
    // shell
    std::atomic<int> log_frames{0};
    std::atomic<int> log_enabled{1};

    // links
    std::atomic<LinkKind> link_kind{kDefaultLinkKind};
    std::atomic<int> link_open{0};
    std::atomic<int> modem_wanted{0};
    // Links are opened and closed under this lock, and whoever must not take
    // a newer link for the one it knew checks under it (link_open, the
    // modem's call). Held for a few instructions, never across I/O or a wait;
    // under it only the exchange's own locks, the worker registry's and the
    // log's queue are taken, never a lock of the window's. It comes before
    // the exchange's queue lock.
    std::mutex link_lock;
    uint32_t usb_device_id = 0;
    uint32_t tcp_timeout = 2;           // ms, send and receive time-out of the socket
    std::atomic<int> com_handle{kInvalidHandle};

    // serial and modem parameters (cleared together at start-up)
    int32_t com_port_index = 0;
    int32_t baud_index = 12;            // 115200 baud
    int32_t data_bits_index = 3;        // 8 bits
    int32_t stop_bits_index = 0;
    int32_t parity_index = 0;
    int tone_dialling = 0;
    char modem_init_string[256] = {};
    char modem_phone[256] = {};

    // monitoring password, 6 bytes WINDOWS-1251, not NUL-terminated
    uint8_t monitoring_password[6] = {};
    std::atomic<int> password_entered{0};

    // exchange
    std::atomic<uint64_t> bytes_sent{0};
    std::atomic<uint64_t> bytes_received{0};
    std::atomic<int> transport_running{0};
    std::atomic<int> poll_running{0};

    // settings
    std::atomic<int> settings_modified{0};
    std::mutex settings_lock;           // device and edit copies of the settings image
    std::mutex reference_lock;          // reference copies; taken after settings_lock
};

extern AppState app;

// Default monitoring password (six ASCII digits) set at start-up.
extern const uint8_t kDefaultMonitoringPassword[6];

// Start values of the fields that the shell, the links and the exchange own.
void app_state_reset_start_values();
