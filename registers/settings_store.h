// The three copies of the settings image, one per layout each: the device copy
// (last good read, written by the poll thread), the edit copy (the settings
// page) and the reference copy (the device copy as of the end of the last cycle
// whose settings read succeeded). Device and edit copies are guarded by
// app.settings_lock, the reference copies by app.reference_lock; when both are
// needed, settings_lock is taken first.
#pragma once

#include <chrono>
#include <cstdint>

#include "base/workers.h"
#include "registers/settings_image.h"

// Copy of the device copy of the layout, taken under settings_lock.
SettingsImage settings_device_copy(int layout);
// Stores a converted image as the device copy of image.layout, under settings_lock.
void settings_store_device(const SettingsImage& image);
// Copy of the reference copy of the layout, taken under reference_lock.
SettingsImage settings_reference_copy(int layout);
// Device copy -> reference copy of the layout (settings_lock, then reference_lock).
void settings_device_to_reference(int layout);
// Device copy -> edit copy of the layout, under settings_lock.
void settings_device_to_edit(int layout);

// The edit copy of the layout. GUI thread only (the apply thread copies it
// with settings_edit_copy when it starts).
SettingsImage& settings_edit(int layout);
SettingsImage settings_edit_copy(int layout);

// Zeroes the device and reference copies of every layout (disconnect, start-up).
void settings_copies_clear();

// Whether the settings page has been filled from the device copy during the
// current connection: set when the poll thread loads the page, cleared when a
// connect starts and when the display is reset. Edits of the page count only
// while it is set. Any thread.
bool settings_page_loaded();
void settings_page_set_loaded(bool loaded);

// The poll thread calls this as it starts reading the settings block; the
// device copy it stores afterwards belongs to that read. Lets a writer tell a
// read that began after its write from one already under way.
void settings_device_read_started();
// Number of settings reads started so far.
uint64_t settings_device_reads_started();
// Waits until a device copy of `layout` is stored from a read started after
// read number `after`, and copies it into `out`. False when the worker's link
// ends or `timeout` passes first.
bool settings_wait_device_read(uint64_t after, int layout, SettingsImage& out, const WorkerContext& context,
                               std::chrono::milliseconds timeout);
