// Settings files in the window: "Файл" → "Сохранить настройки…" and
// "Загрузить настройки…", and the edits kept aside when a link is lost with
// edits unapplied, offered back when the same Controller is connected again.
// GUI thread.
#pragma once

#include <vector>

#include "settings/apply_plan.h"

// Handlers named in the interface description; before the window is built.
void settings_file_register_handlers();
// The link ended with unapplied edits: keep them with the Controller's serial
// number (before they are dropped). Connection subscriber.
void settings_keep_lost_edits();
// The page has been loaded after a connect: offer kept edits of this Controller.
void settings_offer_kept_edits();
// The review before a write: marks "(ограничено)" on the values the last
// file load brought into the Controller's range, while `edit` still holds them.
void settings_file_mark_review(std::vector<SettingsChange>& changes, const SettingsImage& edit);
