#include "registers/settings_store.h"

#include <algorithm>
#include <atomic>
#include <mutex>

#include "base/app_state.h"

namespace {

struct SettingsCopies {
    SettingsImage device[3];
    SettingsImage edit[3];
    SettingsImage reference[3];
    SettingsCopies()
    {
        for (int i = 0; i < 3; ++i)
            device[i].layout = edit[i].layout = reference[i].layout = i + 1;
    }
};

SettingsCopies& copies()
{
    static SettingsCopies instance;
    return instance;
}

std::atomic<bool> g_page_loaded{false};
std::atomic<uint64_t> g_reads_started{0};
// Read number and layout of the last device copy stored (settings_lock).
uint64_t g_stored_read = 0;
int g_stored_layout = 0;

size_t slot(int layout) { return static_cast<size_t>(std::clamp(layout, 1, 3) - 1); }

} // namespace

SettingsImage settings_device_copy(int layout)
{
    std::lock_guard lock(app.settings_lock);
    return copies().device[slot(layout)];
}

void settings_store_device(const SettingsImage& image)
{
    std::lock_guard lock(app.settings_lock);
    SettingsImage& device = copies().device[slot(image.layout)];
    device = image;
    device.layout = static_cast<int>(slot(image.layout)) + 1;
    g_stored_read = g_reads_started;
    g_stored_layout = device.layout;
}

SettingsImage settings_reference_copy(int layout)
{
    std::lock_guard lock(app.reference_lock);
    return copies().reference[slot(layout)];
}

void settings_device_to_reference(int layout)
{
    std::lock_guard settings(app.settings_lock);
    std::lock_guard reference(app.reference_lock);
    copies().reference[slot(layout)] = copies().device[slot(layout)];
}

void settings_device_to_edit(int layout)
{
    std::lock_guard lock(app.settings_lock);
    copies().edit[slot(layout)] = copies().device[slot(layout)];
}

SettingsImage& settings_edit(int layout) { return copies().edit[slot(layout)]; }

SettingsImage settings_edit_copy(int layout)
{
    std::lock_guard lock(app.settings_lock);
    return copies().edit[slot(layout)];
}

void settings_copies_clear()
{
    std::lock_guard settings(app.settings_lock);
    std::lock_guard reference(app.reference_lock);
    for (int i = 0; i < 3; ++i) {
        copies().device[i] = SettingsImage{};
        copies().device[i].layout = i + 1;
        copies().reference[i] = SettingsImage{};
        copies().reference[i].layout = i + 1;
    }
}

bool settings_page_loaded() { return g_page_loaded; }

void settings_page_set_loaded(bool loaded) { g_page_loaded = loaded; }

void settings_device_read_started() { ++g_reads_started; }

uint64_t settings_device_reads_started() { return g_reads_started; }

bool settings_wait_device_read(uint64_t after, int layout, SettingsImage& out, const WorkerContext& context,
                               std::chrono::milliseconds timeout)
{
    constexpr auto kStep = std::chrono::milliseconds(20);
    for (auto waited = std::chrono::milliseconds(0); waited < timeout; waited += kStep) {
        {
            std::lock_guard lock(app.settings_lock);
            if (g_stored_read > after && g_stored_layout == layout) {
                out = copies().device[slot(layout)];
                return true;
            }
        }
        if (!context.sleep_for(kStep))
            return false;
    }
    return false;
}
