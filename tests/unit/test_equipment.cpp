#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <vector>

#include "status/equipment.h"

namespace {

SettingsImage image(int layout)
{
    SettingsImage s;
    s.layout = layout;
    return s;
}

std::string cell(const ListView& view, size_t row, int column)
{
    if (row >= view.rows.size())
        return "<no row>";
    const std::string* text = view.rows[row].cell(column);
    return text ? *text : "<unset>";
}

std::vector<std::string> column(const ListView& view, int c)
{
    std::vector<std::string> out;
    for (size_t i = 0; i < view.rows.size(); ++i)
        out.push_back(cell(view, i, c));
    return out;
}

using Texts = std::vector<std::string>;

}  // namespace

TEST(ContactorList, ShowsAtMostFourContactorsAndNoneWhenCountIsZero)
{
    SettingsImage device = image(1), reference = image(1);
    StatusImage regs;
    regs.contactors = {0x0001, 0x0002, 0x0004, 0x0007};
    ListView view = contactor_list_view(regs, device, reference);
    EXPECT_TRUE(view.rows.empty());
    EXPECT_FALSE(view.rebuild);

    settings_set_u16(device, SettingsField::ContactorCount, 6);
    std::memcpy(settings_item(device, SettingsField::ContactorNames, 1).data(), "\xC1\xE0\xF2", 3);   // "Бат"
    view = contactor_list_view(regs, device, reference);
    EXPECT_TRUE(view.rebuild);
    EXPECT_EQ(column(view, 1), (Texts{"K1", "K2", "K3", "K4"}));
    EXPECT_EQ(column(view, 2), (Texts{"Замкнут", "Разомкнут", "Разомкнут", "Замкнут"}));
    EXPECT_EQ(column(view, 0), (Texts{"gtk-apply", "gtk-cancel", "gtk-dialog-error", "gtk-dialog-error"}));
    // State 3 has no text of its own: it shows as an error.
    EXPECT_EQ(column(view, 3), (Texts{"Норма", "Авария", "Ошибка", "Ошибка"}));
    EXPECT_FALSE(view.rows[2].state.unknown);
    EXPECT_TRUE(view.rows[3].state.unknown);
    EXPECT_EQ(column(view, 4), (Texts{"", "\"Бат\"", "", ""}));

    settings_set_u16(reference, SettingsField::ContactorCount, 6);
    EXPECT_FALSE(contactor_list_view(regs, device, reference).rebuild);
}

TEST(RectifierList, RowCountIsTheModuleCountClampedToOneAndTheLayoutsRecords)
{
    StatusImage modules;
    for (int layout = 1; layout <= 3; ++layout) {
        SettingsImage device = image(layout), reference = image(layout);
        ListView view = rectifier_list_view(modules, device, reference);
        ASSERT_EQ(view.rows.size(), 1u) << "layout " << layout;
        EXPECT_EQ(cell(view, 0, 1), "VUV1");
        EXPECT_FALSE(view.rebuild);

        settings_set_u16(device, SettingsField::RectifierCount, 250);
        view = rectifier_list_view(modules, device, reference);
        EXPECT_TRUE(view.rebuild);
        EXPECT_EQ(view.rows.size(), static_cast<size_t>(rectifier_records(layout)));
    }
    SettingsImage device = image(3), reference = image(3);
    settings_set_u16(device, SettingsField::RectifierCount, 250);
    ListView view = rectifier_list_view(modules, device, reference);
    ASSERT_EQ(view.rows.size(), 180u);
    EXPECT_EQ(cell(view, 179, 1), "VUV180");
}

TEST(RectifierList, EveryStateHasItsIconAndText)
{
    const char* texts[] = {"Норма", "Авария", "Авария сети", "Перегрев", "Перегрузка", "Авария вентиляторов",
                           "Неисправность вентилятора", "Отключен", "Неподходящий тип", "Неизвестно", "Ошибка"};
    const char* icons[] = {"gtk-apply", "gtk-cancel", "gtk-cancel", "gtk-cancel", "gtk-cancel", "gtk-cancel",
                           "gtk-dialog-warning", "gtk-dialog-no", "gtk-dialog-warning", "gtk-dialog-question",
                           "gtk-dialog-error"};
    for (unsigned s = 0; s <= 10; ++s) {
        EXPECT_STREQ(rectifier_state_look(s).text, texts[s]);
        EXPECT_STREQ(rectifier_state_look(s).icon, icons[s]);
    }
    EXPECT_STREQ(rectifier_state_look(11).text, "Ошибка");
    EXPECT_STREQ(rectifier_state_look(65535).icon, "gtk-dialog-error");
}

TEST(DryContactList, RowsFollowTheCountWithStateAndQuotedName)
{
    SettingsImage device = image(3), reference = image(3);
    settings_set_u16(device, SettingsField::DryContactCount, 20);
    std::memcpy(settings_item(device, SettingsField::DryContactNames, 15).data(), "0123456789", 10);
    std::vector<uint16_t> states(16, 0);
    states[1] = 1;
    states[2] = 2;
    states[3] = 7;
    ListView view = dry_contact_list_view(device, reference, states);
    ASSERT_EQ(view.rows.size(), 16u);
    EXPECT_TRUE(view.rebuild);
    EXPECT_EQ(cell(view, 0, 1), "СК1");
    EXPECT_EQ(cell(view, 15, 1), "СК16");
    EXPECT_EQ(cell(view, 15, 2), "\"0123456789\"");
    EXPECT_EQ(cell(view, 0, 2), "");
    EXPECT_EQ((Texts{cell(view, 0, 3), cell(view, 1, 3), cell(view, 2, 3), cell(view, 3, 3)}),
              (Texts{"Норма", "Авария", "Ошибка", "Ошибка"}));
    EXPECT_EQ(cell(view, 1, 0), "gtk-cancel");

    settings_set_u16(device, SettingsField::DryContactCount, 0);
    EXPECT_TRUE(dry_contact_list_view(device, reference, states).rows.empty());
}

TEST(UkdvList, OneUnitPerTenBreakersBeyondTheFirstTwelve)
{
    SettingsImage reference = image(1);
    const std::pair<int, size_t> cases[] = {{0, 0}, {12, 0}, {13, 1}, {22, 1}, {23, 2}, {52, 4}};
    for (auto [breakers, units] : cases) {
        SettingsImage device = image(1);
        settings_set_u16(device, SettingsField::LoadBreakerCount, static_cast<uint16_t>(breakers));
        ListView view = ukdv_list_view(device, reference, 0x0004);
        EXPECT_EQ(view.rows.size(), units) << breakers << " breakers";
        EXPECT_EQ(view.rebuild, breakers != 0);
    }
    SettingsImage device = image(2);
    settings_set_u16(device, SettingsField::LoadBreakerCount, 52);
    ListView view = ukdv_list_view(device, device, 0x0004);
    EXPECT_FALSE(view.rebuild);
    EXPECT_EQ(column(view, 1), (Texts{"Адр0", "Адр1", "Адр2", "Адр3"}));
    EXPECT_EQ(column(view, 2), (Texts{"Норма", "Норма", "Нет", "Норма"}));
    EXPECT_EQ(column(view, 0), (Texts{"gtk-apply", "gtk-apply", "gtk-cancel", "gtk-apply"}));
}

namespace {

SettingsImage block_control_plant(int layout)
{
    SettingsImage s = image(layout);
    settings_set_u16(s, SettingsField::BatteryFlags, settings_bits::kBlockControl);
    settings_set_u16(s, SettingsField::BatteryGroupCount, 2);
    settings_set_u16(s, SettingsField::CellsPerGroup, 24);
    settings_set_u16(s, SettingsField::ElementsPerBlock, 2);
    settings_set_u16(s, SettingsField::BlockMonitorAddress, 0, 0);
    settings_set_u16(s, SettingsField::BlockMonitorAddress, 9, 1);
    return s;
}

}  // namespace

TEST(UpkbList, UnitsCoverTheHighestAddressPlusOneGroupsBlocks)
{
    SettingsImage device = block_control_plant(1);
    ListView view = upkb_list_view(device, device, 0x0002);
    EXPECT_FALSE(view.rebuild);
    EXPECT_EQ(column(view, 1), (Texts{"Адр0", "Адр1"}));   // 9 + 24 / 6 = 13 channels
    EXPECT_EQ(column(view, 2), (Texts{"Норма", "Нет"}));
    EXPECT_EQ(column(view, 0), (Texts{"gtk-apply", "gtk-cancel"}));

    // Blocks of 3 cells: 9 + 8 = 17 channels, three units; of 1 cell: 33, five.
    settings_set_u16(device, SettingsField::ElementsPerBlock, 1);
    EXPECT_EQ(upkb_list_view(device, device, 0).rows.size(), 3u);
    settings_set_u16(device, SettingsField::ElementsPerBlock, 0);
    EXPECT_EQ(upkb_list_view(device, device, 0).rows.size(), 5u);
    // Addresses of groups beyond the count do not count.
    settings_set_u16(device, SettingsField::BatteryGroupCount, 1);
    settings_set_u16(device, SettingsField::CellsPerGroup, 0);
    EXPECT_TRUE(upkb_list_view(device, device, 0).rows.empty());
}

TEST(UpkbList, IsRebuiltWhenAnAddressOrTheBlockShapeChanges)
{
    SettingsImage reference = block_control_plant(3);
    SettingsImage device = reference;
    EXPECT_FALSE(upkb_list_view(device, reference, 0).rebuild);

    settings_set_u16(device, SettingsField::BlockMonitorAddress, 17, 1);
    ListView view = upkb_list_view(device, reference, 0);
    EXPECT_TRUE(view.rebuild);
    EXPECT_EQ(view.rows.size(), 3u);   // 17 + 4 = 21 channels

    device = reference;
    settings_set_u16(device, SettingsField::CellsPerGroup, 12);
    EXPECT_TRUE(upkb_list_view(device, reference, 0).rebuild);
    device = reference;
    settings_set_u16(device, SettingsField::ElementsPerBlock, 1);
    EXPECT_TRUE(upkb_list_view(device, reference, 0).rebuild);
    device = reference;
    settings_set_u16(device, SettingsField::BatteryGroupCount, 3);
    EXPECT_TRUE(upkb_list_view(device, reference, 0).rebuild);
    // An address of a group that is not configured is not watched.
    device = reference;
    settings_set_u16(device, SettingsField::BlockMonitorAddress, 40, 5);
    EXPECT_FALSE(upkb_list_view(device, reference, 0).rebuild);
}

TEST(UpkbList, WithoutBlockControlTheListIsCleared)
{
    SettingsImage device = block_control_plant(2);
    settings_set_u16(device, SettingsField::BatteryFlags, 0x000F);
    ListView view = upkb_list_view(device, device, 0xFFFF);
    EXPECT_TRUE(view.rebuild);
    EXPECT_TRUE(view.rows.empty());
}

TEST(UpkbList, UnitsPastTheSixteenBitsOfTheRegisterShowNormal)
{
    SettingsImage device = block_control_plant(1);
    settings_set_u16(device, SettingsField::BlockMonitorAddress, 150, 1);   // 150 + 4 channels: 20 units
    ListView view = upkb_list_view(device, device, 0xFFFF);
    ASSERT_EQ(view.rows.size(), 20u);
    EXPECT_EQ(cell(view, 15, 2), "Нет");
    EXPECT_EQ(cell(view, 16, 2), "Норма");
    EXPECT_EQ(cell(view, 19, 1), "Адр19");
}

TEST(EquipmentFromStatusImage, EachListReadsItsOwnBlockOfTheLayoutInForce)
{
    std::setlocale(LC_NUMERIC, "C");
    StatusImage status;
    status.rectifiers[0][2] = 7;           // layout-1 buffer: must not be read for layout 3
    status.rectifiers[2][0] = 4800;
    status.rectifiers[2][2] = 1;
    status.contactors[1] = 0x0003;
    status.dry_contacts[0] = 1;
    status.extensions[0] = 0x0001;         // block monitor 0 missing
    status.extensions[1] = 0x0002;         // breaker monitor 1 missing

    SettingsImage device = block_control_plant(3), reference = device;
    settings_set_u16(device, SettingsField::ContactorCount, 2);
    settings_set_u16(device, SettingsField::DryContactCount, 1);
    settings_set_u16(device, SettingsField::LoadBreakerCount, 23);
    reference = device;

    ListView modules = rectifier_list_view(status, device, reference);
    EXPECT_EQ(cell(modules, 0, 2), "Авария");
    EXPECT_EQ(cell(modules, 0, 3), "48.00В");
    ListView contactors = contactor_list_view(status, device, reference);
    EXPECT_EQ(column(contactors, 3), (Texts{"Норма", "Авария"}));
    EXPECT_EQ(column(contactors, 2), (Texts{"Разомкнут", "Замкнут"}));
    EXPECT_EQ(cell(dry_contact_list_view(status, device, reference), 0, 3), "Авария");
    EXPECT_EQ(column(ukdv_list_view(status, device, reference), 2), (Texts{"Норма", "Нет"}));
    EXPECT_EQ(column(upkb_list_view(status, device, reference), 2), (Texts{"Нет", "Норма"}));
}
