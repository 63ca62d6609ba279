// The service page's command buttons and the clock widgets.
#pragma once

// Registers SyncContactors_Button, BatTestOn_Button, BatTestOff_Button,
// EqChargeOn_Button, EqChargeOff_Button, SetTime_Button and
// GetComputerTime_Button, and the clock fields' handlers (they follow the
// computer's clock while the page is shown, until the user changes one).
void service_commands_register_handlers();
// The command buttons are offered only while a link is open: without one a
// command could only fail. On every change of the link.
void service_commands_controls_update();
