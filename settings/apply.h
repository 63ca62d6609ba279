// Writing the settings back: the apply worker. It writes the body segments of
// the edit copy to 0x3000 in requests of at most 100 registers, sends the
// command block to 0x4000, and then checks the next settings read that began
// after the command against what was written. It reaches the window only
// through the hooks below, which it posts to the GUI thread with the values
// they show; progress goes through atomics that the page's 100 ms timer shows.
#pragma once

#include <cstdint>

#include "base/workers.h"
#include "registers/settings_image.h"

// Called on the GUI thread, in the order the worker posts them. Unset hooks
// are skipped (headless).
struct ApplyHooks {
    // The page is locked, Apply and Cancel insensitive, progress at 0.
    void (*begin)();
    // Progress text of S_SaveProgress.
    void (*set_text)(const char* text);
    // The worker's last act, with its ApplyResult: the page unlocks. After a
    // check the page shows what the Controller was read to hold; what could
    // not be checked stays an edit.
    void (*finish)(int result);
    // The Controller took the command block: the edits are its settings now,
    // though the page stays locked until the check after the write is over.
    void (*written)();
};
void settings_apply_set_hooks(const ApplyHooks& hooks);

struct ApplyRequest {
    SettingsImage edit;   // what to write
    SettingsImage device; // what the Controller held when the user confirmed
    uint8_t password[6];  // monitoring password of the command block
    // Before writing anything, wait for a settings read begun after the start
    // and write only if it still holds `device`: the whole body is written, so
    // a change another client made since the review would otherwise be undone
    // unseen. For a confirmation that may have taken a long time.
    bool recheck_device = false;
};

enum ApplyResult {
    kApplyVerified = 0,     // taken, and the next read holds what was written
    kApplyMismatch = 1,     // taken, but the next read differs (listed in the log)
    kApplyUnverified = 2,   // taken; no settings read came to check it
    kApplyLinkLost = 3,     // taken; the link ended before the check
    kApplyTransferError = -1,
    kApplyCommandRefused = -2,     // the Controller answered the command block with an exception
    kApplyCommandUnanswered = -3,  // no answer to the command block: whether it was taken is unknown
    kApplyDeviceChanged = -4,      // recheck_device: the settings differ from `device`; nothing written
};

// The worker's body: the whole sequence on the calling thread.
int settings_apply_run(const WorkerContext& context, const ApplyRequest& request);
// Starts it on the worker lane "apply", bound to the current link. 0 started.
int settings_apply_start(const ApplyRequest& request);
// Set from settings_apply_start until the worker hands its result to the
// finish hook (every way the run ends passes there).
bool settings_apply_running();
// Registers written so far and the progress range (0 before the range is set).
void settings_apply_progress(int* value, int* range);
// How long to wait for the settings read that checks a write (tests shorten it).
void settings_apply_set_verify_timeout(int ms);
