#include <gtest/gtest.h>

#include <cstring>

#include "events/event_text_device.h"
#include "registers/settings_store.h"
#include "registers/status_image.h"
#include "status/active_lists.h"

namespace {

// Sets register `reg` of block 256 as it comes off the wire and converts the block.
StatusImage status_with_events(uint16_t version, std::initializer_list<std::pair<int, uint16_t>> registers)
{
    StatusImage s;
    s.identification[1] = version;
    int layout = layout_for_version(version);
    auto* bytes = reinterpret_cast<uint8_t*>(s.events[layout - 1].data());
    for (auto [reg, value] : registers) {
        bytes[2 * (reg - 256)] = static_cast<uint8_t>(value >> 8);
        bytes[2 * (reg - 256) + 1] = static_cast<uint8_t>(value & 0xFF);
    }
    convert_events(s, layout);
    return s;
}

void select(SettingsImage& image, int mask, int code)
{
    auto bits = settings_item(image, SettingsField::EventMasks, mask - 1);
    bits[code / 8] |= static_cast<uint8_t>(1u << (code % 8));
}

class DeviceSettings : public ::testing::Test {
protected:
    void TearDown() override { settings_copies_clear(); }
};

}  // namespace

TEST(ActiveListsOfACycle, TakeMasksAndNamesFromTheDeviceCopy)
{
    SettingsImage device;
    device.layout = 2;
    select(device, 3, 35);
    select(device, 1, 0);
    std::memcpy(settings_item(device, SettingsField::LoadBreakerNames, 0).data(), "Main", 4);

    StatusImage previous;
    previous.identification[1] = 405;
    StatusImage now = status_with_events(405, {{267, 0x0008}});
    ActiveListsView view = active_lists_view(now, previous, device, &device);
    ASSERT_TRUE(view.changed);
    EXPECT_EQ(view.rows[2], std::vector<std::string>{"Отключен аппарат защиты нагрузки 'Main' (QH1)"});
    EXPECT_TRUE(view.rows[0].empty());

    // A layout-1 Controller: the same registers, the masks at their layout-1 places.
    SettingsImage device1;
    device1.layout = 1;
    select(device1, 3, 35);
    select(device1, 6, 0);
    StatusImage layout1 = status_with_events(300, {{267, 0x0008}, {263, 0x0001}});
    view = active_lists_view(layout1, StatusImage{}, device1, nullptr);
    EXPECT_TRUE(view.changed);
    EXPECT_EQ(view.rows[2], std::vector<std::string>{"Отключен аппарат защиты нагрузки QH1"});
    EXPECT_EQ(view.rows[5], std::vector<std::string>{"Авария контроллера RARUR"});
}

TEST(ActiveListsOfACycle, SameEventsBlockAsLastCycleChangesNothing)
{
    SettingsImage device;
    device.layout = 3;
    select(device, 1, 0);
    StatusImage now = status_with_events(410, {{263, 0x0001}});
    now.identification[5] = 0x6500;   // device time
    EXPECT_FALSE(active_lists_view(now, now, device, &device).changed);
    // Only the block of the layout in force counts.
    StatusImage previous = now;
    previous.events[0][10] = 1;
    EXPECT_FALSE(active_lists_view(now, previous, device, &device).changed);
    previous.events[2][0] = 7;   // alarm count of the layout-3 block
    EXPECT_TRUE(active_lists_view(now, previous, device, &device).changed);
}

TEST_F(DeviceSettings, EventTextWithoutImageUsesTheDeviceCopy)
{
    SettingsImage device;
    device.layout = 1;
    settings_set_u16(device, SettingsField::LoadBreakerCount, 3);
    std::memcpy(settings_item(device, SettingsField::LoadBreakerNames, 2).data(), "Light", 5);
    settings_store_device(device);

    char text[512];
    EXPECT_TRUE(event_text(text, sizeof text, 37, 1, nullptr));
    EXPECT_STREQ(text, "Отключен аппарат защиты нагрузки 'Light' (QH3)");
    // Another layout's device copy is empty.
    EXPECT_FALSE(event_text(text, sizeof text, 37, 3, nullptr));
    EXPECT_STREQ(text, "Отключен аппарат защиты нагрузки QH3");

    SettingsImage edit = device;
    settings_set_u16(edit, SettingsField::LoadBreakerCount, 2);
    EXPECT_FALSE(event_text(text, sizeof text, 37, 1, &edit));
}

TEST(ActiveListsOfACycle, FirstCycleOfAConnectionRebuildsEvenAQuietBlock)
{
    // The lists may still show the events of the last connection: a Controller
    // without events must empty them although its block equals the zeroed one.
    SettingsImage device;
    device.layout = 1;
    StatusImage quiet = status_with_events(300, {});
    // The same settings as the lists were built from: only the fresh previous
    // image may force the rebuild here.
    ActiveListsView view = active_lists_view(quiet, PreviousStatusImage{}, device, &device);
    EXPECT_TRUE(view.changed);
    for (const auto& rows : view.rows)
        EXPECT_TRUE(rows.empty());
    // From the second cycle on, the previous image carries the identification.
    EXPECT_FALSE(active_lists_view(quiet, quiet, device, &device).changed);
}

TEST(ActiveListsOfACycle, MasksReadAfterTheListsWereBuiltRebuildThemWithAnUnchangedBlock)
{
    // Cycle 1 shows the lists before any settings block was read: all masks
    // zero, every list empty although alarms are active.
    SettingsImage empty;
    empty.layout = 1;
    StatusImage now = status_with_events(300, {{263, 0x0001}});
    ActiveListsView first = active_lists_view(now, PreviousStatusImage{}, empty, nullptr);
    ASSERT_TRUE(first.changed);
    EXPECT_TRUE(first.rows[0].empty());

    // Cycle 2: the same events block, but now the settings are in.
    SettingsImage device = empty;
    select(device, 6, 0);
    ActiveListsView second = active_lists_view(now, now, device, &empty);
    ASSERT_TRUE(second.changed);
    EXPECT_EQ(second.rows[5], std::vector<std::string>{"Авария контроллера RARUR"});
    // Cycle 3: nothing changed any more.
    EXPECT_FALSE(active_lists_view(now, now, device, &device).changed);
}
