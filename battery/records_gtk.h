// The battery test and discharge list of the service page.
#pragma once

#include <string>

#include <gtk/gtk.h>

// Columns of TestsDischargesListStore.
enum RecordColumn {
    kName, kDescr, kDate, kLength, kStatus, kCapacity, kVoltage, kTemperature, kIndex, kConn, kMedCurrent, kStart, kPoints
};

// Registers BatteryReadTests and BatteryReadDischarges.
void battery_records_register_handlers();
// Empties the list and the status-line text (every way a link ends).
void battery_records_reset();

GtkListStore* battery_records_store();
// How far a record read has come, in the status line; "" takes it away.
void battery_records_progress(const std::string& text);
// The read buttons are offered only while a read can start: a link is open
// and no record read runs. On every change of either (the link's events).
void battery_records_controls_update();
