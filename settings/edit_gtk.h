// The change handlers of the settings page: every bound control and the
// editable cells of the page's lists. Each reads its widget, runs the rule,
// stores into the edit copy and shows the stored value back. GUI thread.
#pragma once

// Connects the handlers to the widgets of the page; after the widget look-up.
void settings_edit_install();
// Commits a spin or entry of the page that has the keyboard focus and holds a
// value not yet committed (before the page is written).
void settings_edit_commit_focus();
// Removes the status bar's note on the last entry refused or changed (the
// page has been filled anew).
void settings_edit_clear_note();
