// Settings files on disk, as both the window's «Файл» menu and rarur-cli read
// and write them: the owner-only write, the size limit and the parse of a
// file, the log lines of a load, and the review of what a write would change.
#pragma once

#include <string>
#include <vector>

#include "settings/apply_plan.h"
#include "settings/settings_file.h"

// Local time as a file's date and name want it: "YYYY-MM-DD HH:MM:SS".
std::string settings_file_now();

// Writes `text` to `path` owner-only (0600: the file may hold passwords and
// always holds the plant's addresses), replacing it whole or not at all.
// False with `message` in the window's words ("Не удалось сохранить …").
bool settings_file_save(const std::string& path, const std::string& text, std::string& message);

// Reads and checks the form of the file at `path`. False with `message` in the
// window's words: a file too large, unreadable or no settings file.
bool settings_file_open(const std::string& path, SettingsFile& out, std::string& message);

// The log lines of a file loaded from `path` as the edit copy: what it was,
// what had no place («Не перенесено: …», as errors) and what was limited.
void settings_file_log_load(const std::string& path, const SettingsFile& file, const SettingsFileLoad& load);

// The review before a write of `edit` over the Controller's `device`: one
// row per setting the write changes, as the Controller will hold it.
std::vector<SettingsChange> settings_review(const SettingsImage& device, const SettingsImage& edit);
