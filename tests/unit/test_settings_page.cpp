// The settings page as data: the binding table against the interface
// description and the image layouts, the page view's rules, and the event-mask
// table.
#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "settings/bindings.h"
#include "settings/masks.h"
#include "settings/page_view.h"
#include "settings/rules.h"

namespace {

// Every section in order, then the energy-saving requirements, as a fill shows them.
SettingsPageView whole_page(const SettingsImage& image, int protocol_version)
{
    SettingsPageView view;
    for (int s = 0; s < static_cast<int>(SettingsSection::Count_); ++s)
        present_settings_section(static_cast<SettingsSection>(s), image, protocol_version, view);
    present_energy_saving(image, view);
    return view;
}

using F = SettingsField;

std::string interface_description()
{
    std::ifstream in(std::string(RARUR_SOURCE_DIR) + "/interfaces/RARUR.glade");
    std::stringstream text;
    text << in.rdbuf();
    return text.str();
}

// Object ids of the description by class.
std::multimap<std::string, std::string> objects_by_class(const std::string& xml)
{
    std::multimap<std::string, std::string> objects;
    std::regex object(R"re(<object class="(\w+)" id="([^"]+)")re");
    for (auto it = std::sregex_iterator(xml.begin(), xml.end(), object); it != std::sregex_iterator(); ++it)
        objects.emplace((*it)[1], (*it)[2]);
    return objects;
}

// Column-0 texts of the rows of a list store of the description.
std::vector<std::string> store_rows(const std::string& xml, const std::string& id)
{
    size_t start = xml.find("id=\"" + id + "\"");
    size_t end = xml.find("</object>", start);
    std::vector<std::string> rows;
    std::regex cell(R"re(<col id="0"[^>]*>([^<]*)</col>)re");
    std::string block = xml.substr(start, end - start);
    for (auto it = std::sregex_iterator(block.begin(), block.end(), cell); it != std::sregex_iterator(); ++it)
        rows.push_back((*it)[1]);
    return rows;
}

SettingsImage image(int layout)
{
    SettingsImage i;
    i.layout = layout;
    return i;
}

// Layout-1 counts of the plant the simulator ships with.
SettingsImage example_plant(int layout)
{
    SettingsImage i = image(layout);
    settings_set_u16(i, F::LoadBreakerCount, 12);
    settings_set_u16(i, F::BatteryGroupCount, 2);
    settings_set_u16(i, F::ContactorCount, 2);
    settings_set_u16(i, F::RectifierCount, 6);
    settings_set_u16(i, F::MainsPhaseCount, 3);
    settings_set_u16(i, F::DryContactCount, 4);
    return i;
}

bool shown(const SettingsPageView& view, const char* id)
{
    bool on = false, seen = false;
    for (const WidgetFlag& f : view.visible)
        if (std::string(f.id) == id)
            on = f.on, seen = true;
    EXPECT_TRUE(seen) << id << " has no visibility rule";
    return on;
}

std::string tooltip(const SettingsPageView& view, const char* id)
{
    for (const WidgetText& t : view.tooltip)
        if (std::string(t.id) == id)
            return t.text;
    return "(none)";
}

} // namespace

TEST(SettingsBindings, CoverEveryControlOfThePageOnceWithFieldsOfEveryLayoutShown)
{
    std::string xml = interface_description();
    ASSERT_FALSE(xml.empty());
    std::set<std::string> controls;
    for (const auto& [cls, id] : objects_by_class(xml))
        if (id.rfind("S_", 0) == 0 && (cls == "GtkSpinButton" || cls == "GtkEntry" || cls == "GtkComboBox" ||
                                       cls == "GtkCheckButton"))
            controls.insert(id);
    std::set<std::string> ids, keys;
    for (const SettingsBinding& b : settings_bindings()) {
        SCOPED_TRACE(b.id);
        EXPECT_TRUE(ids.insert(b.id).second) << "bound twice";
        EXPECT_TRUE(keys.insert(b.key).second) << "key used twice: " << b.key;
        EXPECT_TRUE(controls.count(b.id)) << "no such control in the description";
        for (int layout = 1; layout <= 3; ++layout)
            if (b.layouts >> (layout - 1) & 1) {
                EXPECT_GE(settings_word(b.field, layout), 0) << "layout " << layout;
                EXPECT_LT(b.item, settings_field_info(b.field).items);
            }
    }
    for (const std::string& id : controls)
        EXPECT_TRUE(ids.count(id)) << id << " is not bound";
}

TEST(SettingsPageView, NamesOnlyWidgetsOfTheDescriptionAndListsItsModels)
{
    std::string xml = interface_description();
    std::set<std::string> objects;
    for (const auto& [cls, id] : objects_by_class(xml))
        objects.insert(id);
    for (int version : {200, 300, 400, 410}) {
        for (uint16_t mode = 0; mode <= 2; ++mode) {
            SettingsImage i = example_plant(layout_for_version(version));
            settings_set_u16(i, F::MonitoringMode, mode);
            SettingsPageView view = whole_page(i, version);
            for (const auto* list : {&view.visible, &view.sensitive})
                for (const WidgetFlag& f : *list)
                    EXPECT_TRUE(objects.count(f.id)) << f.id;
            for (const auto* list : {&view.markup, &view.text, &view.tooltip})
                for (const WidgetText& t : *list)
                    EXPECT_TRUE(objects.count(t.id)) << t.id;
        }
    }
    // The tooltip names models by the list's own texts; the rows map stored values.
    std::vector<std::string> models = store_rows(xml, "S_VUVModelListStore");
    ASSERT_EQ(models.size(), size_t(kRectifierModelRows));
    for (int row = 0; row < kRectifierModelRows; ++row)
        EXPECT_EQ(models[row], rectifier_model_name(row));
    std::vector<std::string> shunts = store_rows(xml, "S_ShuntListStore");
    ASSERT_EQ(shunts.size(), size_t(kShuntRows));
    for (int row = 0; row < kShuntRows; ++row)
        EXPECT_EQ(shunts[row], std::to_string(shunt_rating(row)));
    std::vector<std::string> zones = store_rows(xml, "S_TimezoneListStore");
    ASSERT_EQ(zones.size(), size_t(kTimezoneRows));
    EXPECT_EQ(zones[0], "-12:00");
    EXPECT_EQ(zones[60], "+03:00");
    EXPECT_EQ(zones[96], "+12:00");
}

TEST(SettingsBindings, ShowCellCountsTimeZonesAndModelsAsThePageShowsThem)
{
    SettingsImage i = example_plant(1);
    settings_set_u16(i, F::CellsPerGroup, 5);
    settings_set_u16(i, F::Timezone, 12);
    settings_set_u16(i, F::RectifierType, 0x800B);
    auto value = [&](const char* id) { return settings_control_value(*settings_binding(id), i); };
    EXPECT_EQ(value("S_2VPerGroup").number, 11);
    EXPECT_EQ(per_cell_label(540, 5), "В (4.91<sup>В</sup>/<sub>эл</sub>)");
    EXPECT_EQ(value("S_Timezone").row, 60);
    EXPECT_EQ(value("S_VUVType_ComboBox").row, 11);
    settings_set_u16(i, F::Timezone, 49);
    settings_set_u16(i, F::RectifierType, 0x0102);
    EXPECT_EQ(value("S_Timezone").row, -1) << "past +12:00 selects no row";
    EXPECT_EQ(value("S_VUVType_ComboBox").row, -1) << "a class and type word names no model";
}

TEST(SettingsPageView, WithoutBatteryGroupsOffersTheLoadVoltageInsteadOfBatteryAndContactors)
{
    SettingsImage i = example_plant(2);
    SettingsPageView with = whole_page(i, 400);
    EXPECT_TRUE(shown(with, "S_BatteryExpander"));
    EXPECT_TRUE(shown(with, "S_ContactorsExpander"));
    EXPECT_FALSE(shown(with, "S_EPUVoltage"));
    settings_set_u16(i, F::BatteryGroupCount, 0);
    SettingsPageView without = whole_page(i, 400);
    EXPECT_FALSE(shown(without, "S_BatteryExpander"));
    EXPECT_FALSE(shown(without, "S_ContactorsExpander"));
    EXPECT_FALSE(shown(without, "S_BatteryShuntCombo"));
    EXPECT_TRUE(shown(without, "S_EPUVoltage"));
    EXPECT_TRUE(shown(without, "S_EPUVoltageNameLabel"));
    EXPECT_TRUE(without.block_monitors->empty());
}

TEST(SettingsPageView, ClampsControllerCountsToTheTablesTheyIndex)
{
    SettingsImage i = image(3);
    for (F count : {F::LoadBreakerCount, F::BatteryGroupCount, F::ContactorCount, F::DryContactCount,
                    F::RelayCount})
        settings_set_u16(i, count, 65535);
    SettingsPageView view = whole_page(i, 410);
    EXPECT_EQ(view.breaker_names->size(), 52u);
    EXPECT_EQ(view.block_monitors->size(), 4u);
    EXPECT_EQ(view.contactors->size(), 4u);
    EXPECT_EQ(view.dry_contacts->size(), 16u);
    EXPECT_EQ(view.breaker_contactors->size(), 4u + 52u);
    EXPECT_EQ(view.breaker_contactors->back().label, "QH52");
    EXPECT_EQ(present_mask_lists(i).relays.size(), 4u);

    settings_set_u16(i, F::ContactorCount, 2);
    settings_set_u16(i, F::BatteryBreakerContactor, 9, 0);
    settings_item(i, F::ContactorNames, 1)[0] = 'A';
    view = whole_page(i, 410);
    EXPECT_EQ(view.breaker_contactors->front().option, 4) << "values above 3 select К4";
    EXPECT_FALSE(shown(view, "S_K3Voltage"));
    EXPECT_TRUE(shown(view, "S_K2Voltage"));
    EXPECT_EQ(contactor_label(2, "A"), "K2 \"A\":");
    EXPECT_EQ(contactor_label(1, ""), "K1:");
}

TEST(SettingsPageView, ProtocolVersionAndTypeWordChooseHowTheRectifierTypeShows)
{
    struct Type { int version; uint16_t word; bool model, type_class, number; };
    for (Type t : {Type{200, 0x0005, false, true, true}, Type{200, 0x0105, false, true, false},
                   Type{300, 0x8002, true, false, false}, Type{250, 0x0005, false, false, true},
                   Type{400, 0x0005, false, false, false}, Type{409, 0x8003, true, false, false},
                   Type{410, 0x0005, true, false, false}}) {
        SCOPED_TRACE(t.version);
        SettingsImage j = image(layout_for_version(t.version));
        settings_set_u16(j, F::RectifierType, t.word);
        SettingsPageView view = whole_page(j, t.version);
        EXPECT_EQ(shown(view, "S_VUVType_ComboBox"), t.model);
        EXPECT_EQ(shown(view, "S_VUVClass_ComboBox"), t.type_class);
        EXPECT_EQ(shown(view, "S_VUVType"), t.number);
    }
}

TEST(SettingsPageView, EnergySavingNamesEachUnmetRequirementInLayout3Only)
{
    SettingsImage i = image(3);
    EXPECT_EQ(energy_saving_tooltip(i), "Для использования должно быть: <b>АБ > 0</b>: <b>VUV >= 6</b>"
                                        ": <b>Фаз сети 3</b>: <b>ВУВ 48/50 ЭЭ или ВУВ 48/100 ЭЭ</b>");
    i = example_plant(3);
    settings_set_u16(i, F::MainsFlags, settings_bits::kMainsMeasurement);
    settings_set_u16(i, F::RectifierType, 0x800C);
    SettingsPageView met = whole_page(i, 410);
    EXPECT_EQ(tooltip(met, "S_Energosafe"), "");
    EXPECT_EQ(tooltip(met, "labelSEnergosafe"), "");
    EXPECT_TRUE(met.sensitive.back().on);

    settings_set_u16(i, F::MainsFlags, 0);
    settings_set_u16(i, F::RectifierCount, 5);
    SettingsPageView unmet = whole_page(i, 410);
    EXPECT_EQ(tooltip(unmet, "S_Energosafe"), "Для использования должно быть: <b>VUV >= 6</b>: <b>Фаз сети 3</b>");
    EXPECT_FALSE(unmet.sensitive.back().on);
    // Switched on while the requirements held: it stays sensitive so it can be switched off.
    settings_set_u16(i, F::EnergySaving, settings_bits::kEnergySaving);
    SettingsPageView on = whole_page(i, 410);
    EXPECT_EQ(tooltip(on, "S_Energosafe"), tooltip(unmet, "S_Energosafe"));
    EXPECT_TRUE(on.sensitive.back().on);

    i.layout = 2;
    EXPECT_EQ(tooltip(whole_page(i, 400), "S_Energosafe"), "(none)");
}

TEST(SettingsRefusals, SayWhyATextSnapsBackAndNothingForATextTaken)
{
    auto why = [](const char* id, const char* text) { return settings_refusal_reason(*settings_binding(id), text); };
    EXPECT_EQ(why("S_MonitoringPhone1", "8-916-111"), "Телефон 1: только цифры и «+», не более 13 знаков");
    EXPECT_EQ(why("S_MonitoringPhone1", "+79161112233"), "");
    EXPECT_EQ(why("S_MonitoringServiceCentre", "+7916"), "Номер SMS-центра: только цифры, не более 13");
    EXPECT_EQ(why("S_TrapPublic", "pub_lic"), "SNMP-сообщество чтения: только латинские буквы и цифры, не более 9 знаков");
    EXPECT_EQ(why("S_TrapPublic", ""), "SNMP-сообщество чтения: пустое значение не записывается, оставлено прежнее");
    EXPECT_EQ(why("S_TrapPublic", "public"), "");
    EXPECT_EQ(why("S_MAC1", "zz"), "MAC-адрес: только шестнадцатеричные цифры 0–9 и A–F");
    EXPECT_EQ(why("S_MAC1", "1ff"), "");
    EXPECT_EQ(why("S_IP1", "-1"), "IP-адрес: только цифры 0–9");
    EXPECT_EQ(why("S_Comment", "€uro"), "");
    EXPECT_EQ(why("S_Comment", "日本"), "Комментарий: есть знаки, которых нет в кодировке контроллера (WINDOWS-1251)");
}

TEST(EventMasks, ListOnlyApplicableEventsWithTheirSixBits)
{
    EXPECT_EQ(present_mask_lists(image(1)).rows.size(), 19u);
    EXPECT_EQ(present_mask_lists(image(2)).rows.size(), 19u);
    EXPECT_EQ(present_mask_lists(image(3)).rows.size(), 20u);

    SettingsImage i = example_plant(1);
    settings_set_u16(i, F::RelayCount, 2);
    ASSERT_EQ(set_mask_bit(i, 97, 1, true), 0);
    EXPECT_EQ(settings_event_mask(i, 1)[12], 0x02);
    MaskListsView view = present_mask_lists(i);
    EXPECT_EQ(view.rows.size(), 52u);
    std::set<int> codes;
    for (const MaskRow& r : view.rows)
        codes.insert(r.code);
    EXPECT_TRUE(codes.count(46));
    EXPECT_FALSE(codes.count(47)) << "breaker 13 of 12";
    for (const MaskRow& r : view.rows) {
        if (r.code == 97) {
            EXPECT_EQ(r.bits, (std::array<bool, 6>{true, false, false, false, false, false}));
        }
    }
    ASSERT_EQ(view.relays.size(), 2u);
    EXPECT_EQ(view.relays[1].label, "Реле 2");
    EXPECT_EQ(view.relay_columns, (std::array<bool, 4>{true, true, false, false}));

    EXPECT_EQ(set_mask_bit(i, 320, 1, true), -2) << "layout 1 has codes 0-319";
    EXPECT_EQ(set_mask_bit(i, 5, 7, true), -2);
    ASSERT_EQ(set_mask_bit(i, 97, 1, false), 0);
    EXPECT_FALSE(mask_bit(i, 97, 1));
}
