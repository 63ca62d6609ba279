// The address dialog's own rule: a text that cannot be an address is refused
// under the entry, before anything is connected or closed. GTK layer.
#pragma once

// True when the address entry's text can be an address. Otherwise the hint
// under the entry says how to write one, and the entry keeps the focus with
// its text selected for correcting.
bool address_dialog_accepts();
// Hides the hint of an earlier refusal (the dialog is shown again).
void address_dialog_clear_hint();
void address_dialog_register_handlers();
