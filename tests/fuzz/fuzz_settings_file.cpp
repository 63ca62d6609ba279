// Settings files come from anywhere: reading one and loading it over an image
// of every layout must never crash, hang or read out of bounds.
#include <cstddef>
#include <cstdint>
#include <string>

#include "settings/settings_file.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    SettingsFile file;
    std::string message;
    if (settings_file_read(reinterpret_cast<const char*>(data), size, file, message) != 0)
        return 0;
    for (int layout = 1; layout <= 3; ++layout) {
        SettingsImage target;
        target.layout = layout;
        SettingsFileLoad out;
        settings_file_load(file, target, layout == 2, out, message);
    }
    return 0;
}
