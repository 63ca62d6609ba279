// The poll thread: the only reader of the Controller's live state. Once per
// cycle it identifies the Controller, reads every status block and the
// settings block, refreshes the window and sleeps a second.
#pragma once

#include <cstdint>

#include "base/workers.h"
#include "modbus/result.h"
#include "registers/status_image.h"

// The exchange operation the poll cycle reads through (modbus_read_registers
// by default). Tests and benchmarks may put another in place before starting.
using RegisterReader = ModbusOutcome (*)(uint16_t start, unsigned count, uint8_t* out, uint8_t function);
void poll_set_register_reader(RegisterReader reader);
// What closes the link when the Controller's protocol is refused (link_close
// by default); called on the poll thread, without any lock.
void poll_set_link_close(void (*close)());

// Starts the poll thread (a worker of lane "poll" bound to the current link,
// 256,000-byte stack). The connection code calls it right after starting the
// transport thread. Returns 0, or -1 when the thread could not be created.
int poll_thread_start();
// Connection hooks: a connect attempt starts (the settings of the last
// connection no longer count as read), and a link has been opened with its
// transport thread running (the poll thread starts; a thread that cannot be
// created is logged and closes the link). GUI thread, GDK lock held.
void status_connect_started();
void status_link_opened();
// The thread function itself: cycles until its link ends.
int poll_thread_main(const WorkerContext& context);


// Zeroes the status image, its previous copy and the device and reference
// settings copies, and raises the settings-page load request. Run by the
// display reset at start-up and on every disconnect.
void status_data_reset();

// Layout in force, from the last identification read (1 before any).
int status_layout_in_force();
// Identification register 0..14 of the last cycle, for readers on other
// threads (journal start record 8, newest record slots 10 and 12).
uint16_t status_identification_register(int index);

// The status image, for the poll thread and the updaters it calls.
const StatusImage& status_image();

// Seconds the requests of the last complete cycle took (what CycleTime shows).
double poll_last_cycle_time();

// One cycle, without the pause after it (tests drive it directly).
enum class CycleResult { Complete, Abandoned, Refused };
CycleResult poll_cycle();
