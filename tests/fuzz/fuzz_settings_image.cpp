// The settings block as read from the Controller's registers, in any layout:
// the byte-order conversion undoes itself, every field and name stays inside
// the image, names read as UTF-8 and write back to the same bytes, and what
// the catalogue and the record export take from it stays in their bounds.
#include <cstdlib>
#include <cstring>
#include <utility>
#include <vector>

#include "battery/workbook.h"
#include "fuzz_input.h"
#include "registers/catalogue.h"
#include "registers/settings_image.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in{data, size};
    SettingsImage image;
    image.layout = 1 + in.byte() % 3;
    size_t used = 2 * image.word_count();
    in.bytes(image.data(), used);
    SettingsImage registers = image;

    settings_from_registers(image.layout, image.data());
    SettingsImage back = image;
    settings_to_registers(back.layout, back.data());
    FUZZ_CHECK(std::memcmp(back.data(), registers.data(), back.bytes.size()) == 0);

    const uint8_t* begin = image.data();
    for (const SettingsFieldInfo& info : settings_fields()) {
        int items = info.items ? info.items : 1;
        for (int item = 0; item < items; ++item) {
            std::span<const uint8_t> field = settings_item(std::as_const(image), info.field, item);
            if (field.empty())
                continue;
            FUZZ_CHECK(field.data() >= begin && field.data() + field.size() <= begin + used);
            if (info.kind != FieldKind::Text)
                continue;
            std::string name = settings_name(image, info.field, item);
            FUZZ_CHECK(valid_utf8(name));
            std::string quoted = quoted_device_string(field);
            FUZZ_CHECK(quoted.size() < 150 && valid_utf8(quoted));
            FUZZ_CHECK(quoted.empty() == name.empty());
            if (name.empty())
                continue;
            // A name read from the Controller is written back as it came,
            // up to its first NUL, but for its control characters, which are
            // read as blanks.
            std::vector<uint8_t> again(field.size(), 0xEE);
            FUZZ_CHECK(device_string_from_utf8(again, name.c_str()) == 0);
            size_t length = strnlen(reinterpret_cast<const char*>(field.data()), field.size());
            for (size_t i = 0; i < length; ++i)
                FUZZ_CHECK(again[i] == (field[i] < 0x20 || field[i] == 0x7F ? ' ' : field[i]));
            for (size_t i = length; i < again.size(); ++i)
                FUZZ_CHECK(again[i] == 0);
        }
    }
    for (int k = 1; k <= 6; ++k) {
        size_t mask = settings_event_mask(image, k).size();
        FUZZ_CHECK(mask == 40 || mask == 56);
    }

    // Event texts with the names of this image in them.
    char text[96];
    event_text(text, sizeof text, uint16_t(in.word()), image);
    FUZZ_CHECK(strnlen(text, sizeof text) < sizeof text && valid_utf8(text));

    RecordSettings record = record_settings_from(image);
    FUZZ_CHECK(record.groups >= 0 && record.groups <= 8);
    FUZZ_CHECK(record.blocks >= 0 && record.blocks <= 30);
    FUZZ_CHECK(valid_utf8(record.site));
    return 0;
}
