#include "app/window_geometry.h"

#include <glib.h>

#include <cstdint>

#include "base/text_format.h"

namespace {

constexpr const char* kGroup = "window";
// Beyond what X can map: a value this large was never a window's.
constexpr int kLargest = 32767;
// Below this no window shows its menu; a smaller size is someone's typo.
constexpr int kSmallest = 100;

// The key's integer, or `fallback` when it is missing, not a number or out of range.
int read_int(GKeyFile* file, const char* key, int low, int high, int fallback)
{
    GError* error = nullptr;
    int value = g_key_file_get_integer(file, kGroup, key, &error);
    if (error) {
        g_error_free(error);
        return fallback;
    }
    return value >= low && value <= high ? value : fallback;
}

}  // namespace

WindowGeometry geometry_from_text(const char* text, size_t size)
{
    WindowGeometry geometry;
    GKeyFile* file = g_key_file_new();
    if (text && g_key_file_load_from_data(file, text, size, G_KEY_FILE_NONE, nullptr)) {
        int width = read_int(file, "width", kSmallest, kLargest, 0);
        int height = read_int(file, "height", kSmallest, kLargest, 0);
        if (width && height) {
            geometry.width = width;
            geometry.height = height;
        }
        geometry.pane = read_int(file, "pane", 0, kLargest, -1);
        geometry.maximized = g_key_file_get_boolean(file, kGroup, "maximized", nullptr);
    }
    g_key_file_free(file);
    return geometry;
}

std::string geometry_to_text(const WindowGeometry& geometry)
{
    GKeyFile* file = g_key_file_new();
    if (geometry.width > 0 && geometry.height > 0) {
        g_key_file_set_integer(file, kGroup, "width", geometry.width);
        g_key_file_set_integer(file, kGroup, "height", geometry.height);
    }
    if (geometry.pane >= 0)
        g_key_file_set_integer(file, kGroup, "pane", geometry.pane);
    g_key_file_set_boolean(file, kGroup, "maximized", geometry.maximized);
    return key_file_text_and_free(file);
}

WindowGeometry geometry_fit(WindowGeometry geometry, int screen_width, int screen_height)
{
    if (screen_width <= 0 || screen_height <= 0)
        return geometry;
    if (geometry.width > screen_width)
        geometry.width = screen_width;
    if (geometry.height > screen_height) {
        if (geometry.pane >= 0)
            geometry.pane = int(int64_t(geometry.pane) * screen_height / geometry.height);
        geometry.height = screen_height;
    }
    // A pane below the window's bottom would hide the log for good.
    if (geometry.height > 0 && geometry.pane >= geometry.height)
        geometry.pane = -1;
    return geometry;
}
