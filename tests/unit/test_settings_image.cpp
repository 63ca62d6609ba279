#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "registers/settings_image.h"
#include "registers/settings_store.h"

namespace {

// Layout 2 lengthens each of the six masks by 8 words: layout-1 words from 135
// on sit 48 higher. Layout 3 inserts one word at 579.
int layout2_from_layout1(int w) { return w >= 135 ? w + 48 : w; }
int layout3_from_layout2(int w) { return w >= 579 ? w + 1 : w; }

size_t field_words(const SettingsFieldInfo& info, int layout)
{
    return (settings_item_bytes(info.field, layout) * info.items + 1) / 2;
}

} // namespace

TEST(SettingsTable, FollowsTheLayoutRulesForEveryField)
{
    for (const SettingsFieldInfo& info : settings_fields()) {
        SCOPED_TRACE(static_cast<int>(info.field));
        if (info.field == SettingsField::EnergySaving) {
            EXPECT_EQ(info.word[0], -1);
            EXPECT_EQ(info.word[1], -1);
            EXPECT_EQ(info.word[2], 579);
            continue;
        }
        EXPECT_EQ(info.word[1], layout2_from_layout1(info.word[0]));
        EXPECT_EQ(info.word[2], layout3_from_layout2(info.word[1]));
    }
}

TEST(SettingsTable, FieldsTileTheImageWithoutOverlapOrGap)
{
    for (int layout = 1; layout <= 3; ++layout) {
        SCOPED_TRACE(layout);
        std::vector<int> owner(settings_word_count(layout), -1);
        for (const SettingsFieldInfo& info : settings_fields()) {
            int first = settings_word(info.field, layout);
            if (first < 0)
                continue;
            for (size_t w = 0; w < field_words(info, layout); ++w) {
                ASSERT_LT(first + w, owner.size());
                EXPECT_EQ(owner[first + w], -1) << "word " << first + w;
                owner[first + w] = static_cast<int>(info.field);
            }
        }
        // Words 622-623 (layout 1) are the tail of the 6-byte monitoring password.
        for (size_t w = 0; w < owner.size(); ++w)
            EXPECT_NE(owner[w], -1) << "word " << w << " belongs to no field";
    }
    EXPECT_EQ(settings_word(SettingsField::LoadShuntType, 1), 156);
    EXPECT_EQ(settings_word(SettingsField::LoadShuntType, 3), 204);
}

TEST(SettingsConversion, SwapsExactlyTheSingleWordRangesOfEachLayout)
{
    struct Range { int first, last; };
    const std::vector<Range> swapped[3] = {
        {{0, 0}, {7, 8}, {14, 14}, {135, 135}, {156, 158}, {419, 507}, {528, 540}, {624, 626}, {701, 701}},
        {{0, 0}, {7, 8}, {14, 14}, {183, 183}, {204, 206}, {467, 555}, {576, 588}, {672, 674}, {749, 749}},
        {{0, 0}, {7, 8}, {14, 14}, {183, 183}, {204, 206}, {467, 555}, {576, 589}, {673, 675}, {750, 750}},
    };
    for (int layout = 1; layout <= 3; ++layout) {
        SCOPED_TRACE(layout);
        int words = settings_word_count(layout);
        int masks_end = 15 + 6 * static_cast<int>(event_bits_bytes(layout)) / 2;
        std::vector<uint8_t> image(words * 2);
        for (int i = 0; i < words; ++i) {
            image[2 * i] = static_cast<uint8_t>(i >> 8);
            image[2 * i + 1] = static_cast<uint8_t>(i);
        }
        settings_from_registers(layout, image.data());
        for (int i = 0; i < words; ++i) {
            if ((i >= 3 && i <= 4) || (i >= 15 && i < masks_end))
                continue;
            bool swap = false;
            for (const Range& r : swapped[layout - 1])
                swap |= i >= r.first && i <= r.last;
            uint16_t host;
            std::memcpy(&host, &image[2 * i], 2);
            uint16_t wire = static_cast<uint16_t>(image[2 * i] << 8 | image[2 * i + 1]);
            EXPECT_EQ(swap ? host : wire, i) << "word " << i;
        }
    }
}

TEST(SettingsConversion, IsItsOwnInverseAndDecodesSerialTimezoneAndMasks)
{
    for (int layout = 1; layout <= 3; ++layout) {
        SettingsImage image;
        image.layout = layout;
        for (size_t i = 0; i < image.bytes.size(); ++i)
            image.bytes[i] = static_cast<uint8_t>(i * 7 + 3);
        // serial 100000, time zone -48, mask 2 with event 33 (bit 1 of the
        // last byte of the 64-bit group that follows the first 32 bits)
        const uint8_t serial[] = {0x00, 0x01, 0x86, 0xA0};
        std::memcpy(&image.bytes[6], serial, 4);
        image.bytes[14] = 0xFF;
        image.bytes[15] = 0xD0;
        int mask2 = 15 * 2 + static_cast<int>(event_bits_bytes(layout));
        std::memset(&image.bytes[mask2], 0, event_bits_bytes(layout));
        image.bytes[mask2 + 4 + 7] = 0x02;
        SettingsImage wire = image;

        settings_from_registers(layout, image.data());
        EXPECT_EQ(settings_u32(image, SettingsField::SerialNumber), 100000u);
        EXPECT_EQ(settings_s16(image, SettingsField::Timezone), -48);
        auto mask = settings_event_mask(image, 2);
        ASSERT_EQ(mask.size(), event_bits_bytes(layout));
        EXPECT_EQ(mask[4], 0x02);
        for (size_t i = 0; i < mask.size(); ++i) {
            if (i != 4) {
                EXPECT_EQ(mask[i], 0) << i;
            }
        }

        settings_to_registers(layout, image.data());
        EXPECT_EQ(image.bytes, wire.bytes) << "layout " << layout;
    }
}

TEST(SettingsAccess, ReachesArrayItemsAndIgnoresFieldsTheLayoutLacks)
{
    SettingsImage image;
    image.layout = 2;
    settings_set_u16(image, SettingsField::LoadBreakerContactor, 3, 51);
    uint16_t v;
    std::memcpy(&v, &image.bytes[(504 + 51) * 2], 2);
    EXPECT_EQ(v, 3);
    EXPECT_EQ(settings_u16(image, SettingsField::LoadBreakerContactor, 52), 0);
    settings_set_u16(image, SettingsField::EnergySaving, 1);
    EXPECT_EQ(settings_u16(image, SettingsField::EnergySaving), 0);
    EXPECT_EQ(settings_item(image, SettingsField::EnergySaving).size(), 0u);
    EXPECT_TRUE(settings_event_mask(image, 7).empty());
    image.layout = 3;
    settings_set_u16(image, SettingsField::EnergySaving, 1);
    std::memcpy(&v, &image.bytes[579 * 2], 2);
    EXPECT_EQ(v, 1);
}

TEST(DeviceString, ConvertsWindows1251AndStopsAtTheFieldEnd)
{
    // "Ввод" in WINDOWS-1251, then a NUL
    uint8_t name[10] = {0xC2, 0xE2, 0xEE, 0xE4, 0, 'x', 'x', 'x', 'x', 'x'};
    EXPECT_EQ(device_string_to_utf8(name), "Ввод");
    // all ten bytes set: no terminator, nothing past the field is read
    uint8_t full[12] = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J', 'Z', 0};
    EXPECT_EQ(device_string_to_utf8(std::span<const uint8_t>(full, 10)), "ABCDEFGHIJ");
    uint8_t empty[10] = {0, 'a'};
    EXPECT_EQ(device_string_to_utf8(empty), "");
    // 0x98 has no character in WINDOWS-1251
    uint8_t bad[10] = {'a', 0x98, 0};
    EXPECT_EQ(device_string_to_utf8(bad), "");
}

TEST(DeviceString, WritesPaddedAndRefusesWhatDoesNotFit)
{
    uint8_t field[10];
    std::memset(field, 0x55, sizeof field);
    EXPECT_EQ(device_string_from_utf8(field, "Щит"), 0);
    const uint8_t expected[10] = {0xD9, 0xE8, 0xF2};
    EXPECT_EQ(std::memcmp(field, expected, 10), 0);
    EXPECT_EQ(device_string_from_utf8(field, "ЭтоДлиннееДесяти"), -2);
    EXPECT_EQ(device_string_from_utf8(field, "日本"), -1);
    EXPECT_EQ(std::memcmp(field, expected, 10), 0);
    EXPECT_EQ(device_string_from_utf8(field, "0123456789"), 0);
    EXPECT_EQ(device_string_to_utf8(field), "0123456789");
}

TEST(SettingsCopies, ReferenceFollowsDeviceOnlyWhenAsked)
{
    settings_copies_clear();
    SettingsImage image;
    image.layout = 3;
    settings_set_u16(image, SettingsField::BatteryGroupCount, 2);
    settings_store_device(image);
    EXPECT_EQ(settings_u16(settings_device_copy(3), SettingsField::BatteryGroupCount), 2);
    EXPECT_EQ(settings_u16(settings_reference_copy(3), SettingsField::BatteryGroupCount), 0);
    EXPECT_EQ(settings_u16(settings_device_copy(1), SettingsField::BatteryGroupCount), 0);
    settings_device_to_reference(3);
    EXPECT_EQ(settings_u16(settings_reference_copy(3), SettingsField::BatteryGroupCount), 2);
    settings_copies_clear();
    EXPECT_EQ(settings_u16(settings_reference_copy(3), SettingsField::BatteryGroupCount), 0);
    EXPECT_EQ(settings_reference_copy(3).layout, 3);
}
