// Double-clicking a row of the test and discharge list reads that record in
// full and saves it as a workbook.
#pragma once

// Registers TestRowActive.
void battery_export_register_handlers();
