// The editing rules of the settings page, the list of changes the user
// reviews before a write, the segments the write sends and the check after it.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <utility>

#include "settings/apply_plan.h"
#include "settings/bindings.h"
#include "settings/masks.h"
#include "settings/rules.h"

namespace {

using F = SettingsField;

const SettingsBinding& bound(const char* id)
{
    const SettingsBinding* b = settings_binding(id);
    EXPECT_NE(b, nullptr) << id;
    return *b;
}

SettingsImage battery_plant(int layout = 3)
{
    SettingsImage i;
    i.layout = layout;
    settings_set_u16(i, F::BatteryGroupCount, 2);
    settings_set_u16(i, F::CellsPerGroup, 24);
    settings_set_u16(i, F::FloatVoltage, 535);
    settings_set_u16(i, F::FastChargeVoltage, 560);
    settings_set_u16(i, F::TestVoltage, 460);
    settings_set_u16(i, F::ContactorVoltage, 440, 0);
    settings_set_u16(i, F::RectifierCount, 6);
    return i;
}

uint16_t number(SettingsImage& i, const char* id, double shown)
{
    const SettingsBinding& b = bound(id);
    EXPECT_TRUE(settings_edit_number(i, b, shown).accepted);
    return settings_u16(i, b.field, b.item);
}

bool text(SettingsImage& i, const char* id, const char* typed) { return settings_edit_text(i, bound(id), typed).accepted; }

std::string shown(const SettingsImage& i, const char* id) { return settings_control_value(bound(id), i).text; }

} // namespace

TEST(SettingsEditRules, BatteryVoltagesFollowTheCellCountAndANewCountClampsThemAgain)
{
    SettingsImage i = battery_plant();
    EXPECT_EQ(number(i, "S_FloatVoltage", 60.0), 552);
    EXPECT_EQ(number(i, "S_FloatVoltage", 50.0), 532); // floor(22.2 * 24)
    EXPECT_EQ(number(i, "S_TestVoltage", 40.0), 432);
    EXPECT_EQ(number(i, "S_FloatVoltage", 54.5), 545);
    EXPECT_EQ(number(i, "S_2VPerGroup", 12), 12);
    EXPECT_EQ(settings_u16(i, F::FloatVoltage), 276);
    EXPECT_EQ(settings_u16(i, F::FastChargeVoltage), 288);
    EXPECT_EQ(settings_u16(i, F::TestVoltage), 240);
    EXPECT_EQ(settings_u16(i, F::ContactorVoltage, 0), 240);
    EXPECT_EQ(number(i, "S_2VPerGroup", 40), 30);
    // Without battery groups the float word is the load-bus voltage: a cell
    // count does not clamp it, its own limits do.
    settings_set_u16(i, F::BatteryGroupCount, 0);
    settings_set_u16(i, F::FloatVoltage, 700);
    number(i, "S_2VPerGroup", 11);
    EXPECT_EQ(settings_u16(i, F::FloatVoltage), 700);
    EXPECT_EQ(number(i, "S_EPUVoltage", 80.0), 750);
    // With battery groups again both keys of the word keep to the float window.
    EXPECT_EQ(number(i, "S_BatteryCount", 2), 2);
    EXPECT_EQ(settings_u16(i, F::FloatVoltage), 253); // 23 * 11
    EXPECT_EQ(number(i, "S_EPUVoltage", 70.0), 253);
}

TEST(SettingsEditRules, ReserveFollowsTheModuleCountAndCountsClampAtBothEnds)
{
    SettingsImage i = battery_plant(2);
    settings_set_u16(i, F::RectifierCount, 3);
    EXPECT_EQ(number(i, "S_VUVReserv", 5), 2);
    EXPECT_EQ(number(i, "S_VUVReserv", -1), 0);
    settings_set_u16(i, F::RectifierCount, 1);
    EXPECT_EQ(number(i, "S_VUVReserv", 5), 1);
    settings_set_u16(i, F::RectifierCount, 100);
    EXPECT_EQ(number(i, "S_VUVReserv", 70), 59);
    EXPECT_EQ(number(i, "S_VUVCount", 200), 190);
    number(i, "S_VUVReserv", 50);
    EXPECT_EQ(number(i, "S_VUVCount", 4), 4);
    EXPECT_EQ(settings_u16(i, F::RectifierReserve), 3) << "a smaller module count clamps the reserve";
    EXPECT_EQ(number(i, "S_RelyCount", -1), 0);
    EXPECT_EQ(number(i, "S_LoadAutomats", 0), 1);
    EXPECT_EQ(number(i, "S_LoadAutomats", 60), 52);
    EXPECT_EQ(number(i, "S_MonitoringRS485", 0), 1);
    EXPECT_EQ(number(i, "S_T2min", -20.04), static_cast<uint16_t>(-200));
    EXPECT_EQ(number(i, "S_T2min", -5.05), static_cast<uint16_t>(-51)) << "half away from zero";
    EXPECT_EQ(number(i, "S_ChargeCurrent", 0.555), 56);
    settings_set_u16(i, F::RectifierType, 0x0107);
    EXPECT_EQ(number(i, "S_VUVType", 300), 0x01FF) << "the class byte is kept";
    EXPECT_TRUE(settings_edit_row(i, bound("S_VUVType_ComboBox"), 11).accepted);
    EXPECT_EQ(settings_u16(i, F::RectifierType), 0x800B);
    EXPECT_FALSE(settings_edit_row(i, bound("S_Timezone"), -1).accepted);
}

TEST(SettingsEditRules, TextsAreRefusedRatherThanStoredWrongOrEmptied)
{
    SettingsImage i = battery_plant();
    EXPECT_TRUE(text(i, "S_MonitoringPhone1", "+79123456789"));
    EXPECT_FALSE(text(i, "S_MonitoringPhone1", "+7-912"));
    EXPECT_FALSE(text(i, "S_MonitoringPhone1", "12345678901234"));
    EXPECT_EQ(shown(i, "S_MonitoringPhone1"), "+79123456789");
    EXPECT_FALSE(text(i, "S_MonitoringServiceCentre", "+79168999100"));
    EXPECT_TRUE(text(i, "S_MonitoringPhone1", ""));
    EXPECT_EQ(shown(i, "S_MonitoringPhone1"), "");

    EXPECT_TRUE(text(i, "S_TrapPublic", "public2"));
    EXPECT_FALSE(text(i, "S_TrapPublic", "pub_lic"));
    EXPECT_FALSE(text(i, "S_TrapPublic", "")) << "an empty community is never written";
    EXPECT_EQ(shown(i, "S_TrapPublic"), "public2");

    EXPECT_TRUE(text(i, "S_Comment", "Подстанция №1"));
    EXPECT_EQ(shown(i, "S_Comment"), "Подстанци");
    EXPECT_FALSE(text(i, "S_Comment", "Щит ☃"));
    EXPECT_EQ(shown(i, "S_Comment"), "Подстанци");
    EXPECT_TRUE(text(i, "S_MonitoringPassword", "654321"));
    EXPECT_FALSE(text(i, "S_MonitoringPassword", ""));

    EXPECT_TRUE(text(i, "S_MAC2", "1ff"));
    EXPECT_EQ(shown(i, "S_MAC2"), "FF");
    EXPECT_TRUE(text(i, "S_IP1", "300"));
    EXPECT_EQ(shown(i, "S_IP1"), "44");
    EXPECT_FALSE(text(i, "S_IP1", "1x"));
    EXPECT_EQ(shown(i, "S_IP1"), "44");

    EXPECT_EQ(settings_edit_block_monitor(i, 1, false, "20"), 0);
    EXPECT_EQ(settings_edit_block_monitor(i, 1, true, "0"), 0);
    EXPECT_EQ(settings_u16(i, F::BlockMonitorAddress, 1), 120);
    EXPECT_EQ(settings_edit_block_monitor(i, 1, true, "x"), -1);
    EXPECT_EQ(settings_edit_name(i, F::LoadBreakerNames, 51, "Вентиляция"), 0);
    EXPECT_EQ(settings_name(i, F::LoadBreakerNames, 51), "Вентиляци");
    // A short name over a long one: only zeros follow it in the field.
    EXPECT_EQ(settings_edit_name(i, F::LoadBreakerNames, 51, "QF"), 0);
    std::span<const uint8_t> field = settings_item(std::as_const(i), F::LoadBreakerNames, 51);
    ASSERT_GE(field.size(), 3u);
    EXPECT_EQ(field[0], 'Q');
    EXPECT_EQ(field[1], 'F');
    for (size_t k = 2; k < field.size(); ++k)
        EXPECT_EQ(field[k], 0) << "byte " << k;
}

TEST(SettingsChanges, OneRowPerSettingAsThePageNamesIt)
{
    SettingsImage device = battery_plant();
    ASSERT_EQ(device_string_from_utf8(settings_item(device, F::Comment), "ЭПУ-1"), 0);
    SettingsImage edit = device;
    number(edit, "S_FloatVoltage", 54.5);
    settings_edit_check(edit, bound("S_SummerTime"), true);
    text(edit, "S_Comment", "Щит-7");
    settings_edit_check(edit, bound("S_Trap2Active"), true);
    text(edit, "S_Trap2IP4", "9");
    ASSERT_EQ(set_mask_bit(edit, 0, 3, true), 0);
    std::vector<SettingsChange> c = settings_changes(device, edit);
    ASSERT_EQ(c.size(), 6u);
    auto row = [](const SettingsChange& r) { return r.name + " | " + r.from + " | " + r.to; };
    EXPECT_EQ(row(c[0]), "Комментарий | ЭПУ-1 | Щит-7");
    EXPECT_EQ(row(c[1]), "Летнее время | выкл. | вкл.");
    EXPECT_EQ(row(c[2]), "Напряжение содержания | 53.5 | 54.5");
    EXPECT_EQ(row(c[3]), "Получатель trap 2 включен | выкл. | вкл.");
    EXPECT_EQ(row(c[4]), "Получатель trap 2 | 0.0.0.0 | 0.0.0.9");
    EXPECT_EQ(c[5].name.rfind("Реле 1: ", 0), 0u) << c[5].name;
    // A word no control shows is listed too, so nothing differs unseen.
    settings_set_u16(edit, F::MonitoringFlags, settings_u16(edit, F::MonitoringFlags) | 0x8000);
    EXPECT_EQ(row(settings_changes(device, edit).back()), "Слово 750 | 0x0000 | 0x8100");
    EXPECT_TRUE(settings_changes(edit, edit).empty());
}

TEST(SettingsWrite, SegmentsAndTheCheckAfterTheWrite)
{
    SettingsImage device = battery_plant(1);
    ASSERT_EQ(device_string_from_utf8(settings_item(device, F::TrapPublic), "public"), 0);
    SettingsImage edit = device;
    settings_item(edit, F::TrapPublic)[0] = 0;
    settings_set_u16(edit, F::MainsLow, 190);
    SettingsImage wire = edit;
    settings_to_registers(1, wire.data());
    std::vector<SettingsSegment> s = settings_write_segments(1, wire.data());
    ASSERT_EQ(s.size(), 4u);
    EXPECT_EQ(s[0].offset + s[0].count, 2);
    EXPECT_EQ(s[1].offset + s[1].count, 618);
    EXPECT_EQ(s[2].offset + s[2].count, 682);
    EXPECT_EQ(s[3].offset, 692);
    EXPECT_EQ(s[3].offset + s[3].count, settings_body_registers(1)) << "through the flags word";

    // An unwritten community stays the Controller's; the review shows only
    // what the write changes.
    SettingsImage expected = settings_expected_after_write(device, edit);
    EXPECT_EQ(settings_name(expected, F::TrapPublic, 0), "public");
    ASSERT_EQ(settings_changes(device, expected).size(), 1u);

    // The check after the write names what the Controller did not take.
    SettingsImage read = expected;
    settings_set_u16(read, F::MainsLow, 180);
    std::vector<SettingsChange> refused = settings_changes(expected, read);
    ASSERT_EQ(refused.size(), 1u);
    EXPECT_EQ(refused[0].name, "Нижний порог напряжения");
    EXPECT_EQ(refused[0].from, "190");
    EXPECT_EQ(refused[0].to, "180");
    // Header words (the Controller's own counters) are never compared.
    settings_set_u16(read, F::Header0, 1);
    settings_set_u16(read, F::MainsLow, 190);
    EXPECT_TRUE(settings_changes(expected, read).empty());
}
