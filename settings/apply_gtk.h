// S_ButtonApply in the window: the review of the changes, the monitoring
// password, the apply worker and its 100 ms progress timer. GUI thread.
#pragma once

// After the widget look-up: connects S_ButtonApply and installs the worker's hooks.
void settings_apply_install();
