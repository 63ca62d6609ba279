// The service page's command buttons and the clock widgets.
#pragma once

// Registers SyncContactors_Button, BatTestOn_Button, BatTestOff_Button,
// EqChargeOn_Button, EqChargeOff_Button, SetTime_Button and
// GetComputerTime_Button.
void service_commands_register_handlers();
