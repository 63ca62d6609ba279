#include <gtest/gtest.h>

#include <clocale>
#include <cstring>
#include <vector>

#include "status/presenters.h"

namespace {

using F = SettingsField;

struct Plant {
    StatusImage s;
    SettingsImage device;
    SettingsImage reference;

    explicit Plant(int version = 410)
    {
        std::setlocale(LC_ALL, "C");
        s.identification[1] = static_cast<uint16_t>(version);
        device.layout = reference.layout = layout_for_version(version);
    }
    void set(F field, uint16_t value, int item = 0) { settings_set_u16(device, field, value, item); }
    void set_event(int buffer_layout, int code)
    {
        auto* bytes = reinterpret_cast<uint8_t*>(s.events[buffer_layout - 1].data() + 6);
        bytes[code / 8] |= static_cast<uint8_t>(1 << (code % 8));
    }
    void set_mask(int k, int code)
    {
        auto mask = settings_item(device, F::EventMasks, k - 1);
        mask[code / 8] |= static_cast<uint8_t>(1 << (code % 8));
    }
    void phase(int i, uint16_t volts, uint16_t state)
    {
        s.mains[2 * (i - 1)] = volts;
        s.mains[2 * (i - 1) + 1] = state;
    }
};

} // namespace

TEST(SummaryMains, PhaseCountDecidesWhichPhasesShow)
{
    Plant p;
    p.set(F::MainsFlags, settings_bits::kMainsMeasurement);
    p.phase(1, 1200, 0);
    p.phase(2, 180, 1);
    auto v = present_summary_mains(p.s, p.device);
    for (int i = 0; i < 3; ++i)
        EXPECT_EQ(v.phase[i].visible, false);
    EXPECT_EQ(*v.phase[0].markup, "999В");

    p.set(F::MainsPhaseCount, 2);
    v = present_summary_mains(p.s, p.device);
    EXPECT_EQ(v.phase[0].visible, true);
    EXPECT_EQ(v.phase[1].visible, true);
    EXPECT_EQ(v.phase[2].visible, false);
    EXPECT_EQ(*v.phase[1].markup, red("180В"));
    EXPECT_FALSE(v.phase[2].markup.has_value());
    EXPECT_EQ(*v.label.markup, "Сеть");
}

TEST(SummaryMains, WithoutMeasurementOneTextStandsForTheMains)
{
    Plant p;
    p.set(F::MainsPhaseCount, 3);
    p.phase(1, 230, 3);
    p.phase(2, 150, 1);
    auto v = present_summary_mains(p.s, p.device);
    EXPECT_EQ(*v.phase[0].markup, "---В");
    EXPECT_EQ(*v.phase[1].markup, red("Понижено"));
    EXPECT_FALSE(v.phase[2].markup.has_value());

    p.phase(1, 230, 0);
    v = present_summary_mains(p.s, p.device);
    EXPECT_EQ(*v.phase[0].markup, "Норма");
    EXPECT_FALSE(v.phase[1].markup.has_value());
    EXPECT_FALSE(v.phase[2].markup.has_value());
}

TEST(SummaryMains, APhaseStateTheControllerDoesNotDefineShowsAsAnErrorNeverAsNormal)
{
    for (bool measurement : {true, false}) {
        Plant p;
        p.set(F::MainsPhaseCount, 3);
        p.set(F::MainsFlags, measurement ? settings_bits::kMainsMeasurement : 0);
        p.phase(1, 230, 7);
        p.phase(2, 231, 0);
        auto summary = present_summary_mains(p.s, p.device);
        auto page = present_mains_page(p.s, p.device);
        EXPECT_EQ(*summary.phase[0].markup, red("Ошибка")) << measurement;
        EXPECT_TRUE(summary.phase[0].alarm && summary.phase[0].unknown_code && !summary.phase[0].measured);
        EXPECT_EQ(*page.phase_status[0].markup, red("Ошибка")) << measurement;
        EXPECT_TRUE(page.phase_status[0].unknown_code);
        EXPECT_FALSE(page.phase_value[0].measured);
        // With phase measurement the other phases are still shown and measured.
        EXPECT_EQ(summary.phase[1].markup.value_or(""), measurement ? "231В" : "");
        EXPECT_EQ(summary.phase[1].measured, measurement);
        // Nor is a phase in an unknown state counted as lost, or as present.
        p.phase(2, 0, 1);
        p.phase(3, 0, 2);
        EXPECT_EQ(present_condition(p.s, p.device).mains_lost, measurement);
    }
}

// The window's red, the command line's colour and the monitoring check all
// read the views' flags: a view's markup is red exactly when it says alarm.
TEST(Views, MarkupIsRedExactlyWhenTheViewSaysAlarm)
{
    Plant p;
    p.set(F::MainsPhaseCount, 3);
    p.set(F::MainsFlags, settings_bits::kMainsMeasurement | settings_bits::kLighting);
    p.set(F::TempSensorCount, 2);
    p.set(F::BatteryGroupCount, 1);
    p.set_event(3, 352);
    p.set_mask(1, 352);
    p.s.events[2][0] = 1;
    const uint16_t phase_states[] = {0, 1, 2, 3, 9};
    const uint16_t load_states[] = {0, 1, 2, 3, 4, 8};
    const uint16_t sensor_states[] = {0, 1, 2, 3, 6};
    for (int k = 0; k < 6; ++k) {
        p.phase(1 + k % 3, 200, phase_states[k % 5]);
        p.s.load[3] = load_states[k];
        p.s.mains[6] = static_cast<uint16_t>(k % 3);
        p.s.temperatures[2] = static_cast<uint16_t>(k % 2);
        p.s.temperatures[4] = sensor_states[k % 5];
        auto mains = present_summary_mains(p.s, p.device);
        auto load = present_summary_load(p.s, p.device);
        auto battery = present_summary_battery(p.s, p.device);
        auto alarms = present_summary_alarms(p.s);
        auto page = present_mains_page(p.s, p.device);
        auto load_page = present_load_page(p.s, p.device, p.reference);
        auto temperatures = present_temperatures(p.s, p.device);
        std::vector<const WidgetView*> views = {&mains.label, &load.label, &load.voltage, &load.current,
                                                &battery.label, &battery.current, &alarms.label,
                                                &page.lighting_status, &load_page.voltage, &load_page.current,
                                                &temperatures.t1, &temperatures.t2};
        for (int i = 0; i < 3; ++i)
            views.insert(views.end(), {&mains.phase[i], &page.phase_value[i], &page.phase_status[i]});
        for (const WidgetView* w : views) {
            if (!w->markup)
                continue;
            bool red_markup = w->markup->find("#FF0000") != std::string::npos;
            EXPECT_EQ(red_markup, w->alarm) << *w->markup;
            EXPECT_TRUE(!w->unknown_code || w->alarm || !w->measured) << *w->markup;
        }
    }
}

TEST(SummaryMains, MainsAlarmAndEnergySavingFollowTheLayoutCodes)
{
    Plant p3(410);
    p3.set_event(3, 352);
    p3.set_mask(2, 352);
    p3.set_event(3, 341);
    auto v = present_summary_mains(p3.s, p3.device);
    EXPECT_EQ(*v.label.markup, red("Сеть"));
    EXPECT_EQ(v.energosafe.visible, true);

    Plant p2(405);
    p2.set_event(2, 341);
    p2.set_event(3, 341);
    p2.set_event(2, 224); // a layout-1 mains code is not a mains event in layout 2
    p2.set_mask(1, 224);
    v = present_summary_mains(p2.s, p2.device);
    EXPECT_EQ(v.energosafe.visible, false);
    EXPECT_EQ(*v.label.markup, "Сеть");
}

TEST(SummaryLoad, VoltageByStateAndCurrentByShunt)
{
    Plant p;
    p.s.load[0] = 5432;
    uint32_t ma = 12345;
    std::memcpy(&p.s.load[1], &ma, 4);

    p.s.load[3] = 1;
    auto v = present_summary_load(p.s, p.device);
    EXPECT_EQ(*v.voltage.markup, "54.3В");
    EXPECT_EQ(v.tk.visible, true);
    EXPECT_EQ(*v.current.markup, "12.3А"); // no shunt: one decimal

    p.set(F::LoadShuntFlags, settings_bits::kLoadShuntPresent);
    p.set(F::LoadShuntType, 2);
    EXPECT_EQ(*present_summary_load(p.s, p.device).current.markup, "12.345А");
    p.set(F::LoadShuntType, 13);
    EXPECT_EQ(*present_summary_load(p.s, p.device).current.markup, "12.35А");
    p.set(F::LoadShuntType, 14);
    EXPECT_EQ(*present_summary_load(p.s, p.device).current.markup, "12.3А");

    p.s.load[3] = 3;
    v = present_summary_load(p.s, p.device);
    EXPECT_EQ(*v.voltage.markup, red("54.3В Повышено"));
    EXPECT_EQ(v.tk.visible, false);

    for (uint16_t state : {4, 9}) {
        p.s.load[3] = state;
        v = present_summary_load(p.s, p.device);
        EXPECT_EQ(*v.voltage.markup, "--,-В");
        EXPECT_EQ(*v.current.markup, "--,-А");
    }
}

TEST(SummaryLoad, MaskedLoadEventInALaterBufferRaisesTheAlarm)
{
    Plant p(399);
    p.set_event(2, 40);
    p.set_mask(1, 40);
    EXPECT_EQ(*present_summary_load(p.s, p.device).label.markup, red("Нагрузка"));
    Plant unmasked(399);
    unmasked.set_event(2, 40);
    unmasked.set_mask(3, 40);
    EXPECT_EQ(*present_summary_load(unmasked.s, unmasked.device).label.markup, "Нагрузка");
}

TEST(SummaryBatteryAndAlarms, ModesCountsAndNoBattery)
{
    Plant p;
    p.s.battery[2] = 12;
    int32_t ma = -1500;
    std::memcpy(&p.s.battery[0], &ma, 4);
    auto v = present_summary_battery(p.s, p.device);
    EXPECT_EQ(*v.status.markup, "Нет батареи");
    EXPECT_EQ(v.current.visible, false);

    p.set(F::BatteryGroupCount, 2);
    v = present_summary_battery(p.s, p.device);
    EXPECT_EQ(*v.status.markup, "Аварийный режим");
    EXPECT_EQ(*v.current.markup, "-1.50А");
    EXPECT_EQ(*present_battery_page(p.s, p.device, p.reference).status.markup, "Аварийный режим");
    p.s.battery[2] = 7;
    EXPECT_EQ(*present_summary_battery(p.s, p.device).status.markup, "Нет батареи");

    Plant a(300);
    a.s.events[1][1] = 2; // layout-2 buffer from the fallback read
    auto alarms = present_summary_alarms(a.s);
    EXPECT_EQ(*alarms.label.markup, red("Аварии"));
    EXPECT_EQ(*alarms.count1.markup, "0");
    EXPECT_EQ(*alarms.count2.markup, "0");
}

TEST(MainsPage, PhasesLightningAndMeasurementOff)
{
    Plant p;
    p.set(F::MainsFlags, settings_bits::kMainsMeasurement | settings_bits::kLighting);
    p.phase(1, 1200, 2);
    p.phase(2, 0, 3);
    p.s.mains[6] = 5;
    auto v = present_mains_page(p.s, p.device);
    EXPECT_EQ(v.phase_value[0].visible, true); // phase count 0: L1 still shown
    EXPECT_EQ(*v.phase_value[0].markup, red("999В"));
    EXPECT_EQ(*v.phase_status[0].markup, red("Повышено"));
    EXPECT_EQ(v.phase_label[1].visible, false);
    EXPECT_EQ(*v.lighting_status.markup, red("Авария"));

    p.set(F::MainsPhaseCount, 3);
    v = present_mains_page(p.s, p.device);
    EXPECT_EQ(*v.phase_value[1].markup, "---В");
    EXPECT_EQ(*v.phase_status[1].markup, red("Ошибка"));
    EXPECT_EQ(*v.phase_status[2].markup, "Норма");

    p.set(F::MainsFlags, 0);
    p.phase(1, 170, 1);
    v = present_mains_page(p.s, p.device);
    EXPECT_EQ(v.lighting_label.visible, false);
    EXPECT_EQ(v.phase_value[0].visible, false);
    EXPECT_EQ(v.phase_status[1].visible, false);
    EXPECT_EQ(*v.phase_status[0].markup, red("Понижено"));
}

TEST(LoadPage, BreakerRowsNamesAndUnknownStates)
{
    Plant p;
    p.s.load[0] = 5400;
    p.s.load[3] = 2;
    p.s.load[4] = 1;  // QH1 off
    p.s.load[5] = 7;  // QH2: no such code
    p.set(F::LoadBreakerCount, 3);
    const uint8_t name[10] = {0xC2, 0xE2, 0xEE, 0xE4, 0}; // "Ввод"
    std::memcpy(settings_item(p.device, F::LoadBreakerNames, 0).data(), name, 10);
    const uint8_t bad[10] = {0x98};
    std::memcpy(settings_item(p.device, F::LoadBreakerNames, 1).data(), bad, 10);

    auto v = present_load_page(p.s, p.device, p.reference);
    EXPECT_EQ(*v.voltage.markup, red("54.00В") + " Понижено");
    EXPECT_TRUE(v.update_list);
    EXPECT_TRUE(v.rebuild);
    ASSERT_EQ(v.rows.size(), 3u);
    EXPECT_EQ(v.rows[0], (AutomatRow{"gtk-cancel", "QH1", "Отключен", "\"Ввод\"", {1, false}}));
    EXPECT_EQ(v.rows[1], (AutomatRow{"gtk-dialog-error", "QH2", "Ошибка", "", {7, true}}));
    EXPECT_EQ(v.rows[2], (AutomatRow{"gtk-apply", "QH3", "Включен", "", {0, false}}));

    p.reference = p.device;
    EXPECT_FALSE(present_load_page(p.s, p.device, p.reference).rebuild);

    p.set(F::LoadBreakerCount, 0);
    v = present_load_page(p.s, p.device, p.reference);
    ASSERT_EQ(v.rows.size(), 1u);
    EXPECT_EQ(v.rows[0].automat, "QH1");

    p.s.load[3] = 4;
    v = present_load_page(p.s, p.device, p.reference);
    EXPECT_EQ(*v.voltage.markup, red("--,-В Ошибка"));
    EXPECT_EQ(*v.current.markup, red("--,-А Ошибка"));
    EXPECT_FALSE(v.update_list);
}

TEST(BatteryPage, GroupsAndBlocksFollowTheSettings)
{
    Plant p;
    p.set(F::BatteryGroupCount, 6);
    p.set(F::CellsPerGroup, 25);
    p.set(F::ElementsPerBlock, 1);
    p.set(F::BatteryFlags, settings_bits::kBlockControl);
    p.s.battery[3 + 4 * 0] = 5350;
    p.s.battery[6 + 4 * 0] = 3 | (3 << 2);   // connection state 3: not a code
    p.s.battery[6 + 4 * 1] = 1 | (2 << 2);
    p.s.battery_blocks[0][2] = 4;
    p.s.battery_blocks[0][3 * 1] = 1210;
    p.s.battery_blocks[0][3 * 1 + 1] = static_cast<uint16_t>(-100);
    p.s.battery_blocks[0][3 * 2 + 2] = 9;

    auto v = present_battery_page(p.s, p.device, p.reference);
    EXPECT_TRUE(v.rebuild);
    ASSERT_EQ(v.groups.size(), 4u);
    const BatteryGroupView& g1 = v.groups[0];
    EXPECT_EQ(g1.row, (BatteryRow{"gtk-dialog-error", "Группа 1", "Ошибка", "53.50В", "0.00А", "gtk-dialog-error",
                                  true, "Ошибка", true, {3, true}, {3, false}, true}));
    EXPECT_EQ(v.groups[1].row.status, "Отключена");
    EXPECT_EQ(v.groups[1].row.bga_status, "Неизвестно");
    ASSERT_EQ(g1.blocks.size(), 8u);
    EXPECT_EQ(g1.blocks[0], (BatteryRow{"gtk-dialog-error", "Блок 1", "Ошибка", "--,-В", "--,-°C", "", false, "", false,
                                        {4, false}, {}, false}));
    EXPECT_EQ(g1.blocks[1].voltage, "12.10В");
    EXPECT_TRUE(g1.blocks[1].measured);
    EXPECT_EQ(g1.blocks[1].current_temp, "-10.0°C");
    EXPECT_EQ(g1.blocks[2].status, "Ошибка");
    EXPECT_EQ(g1.blocks[2].voltage, "--,-В");
    EXPECT_TRUE(g1.blocks[2].state.unknown);
    EXPECT_FALSE(g1.blocks[2].measured);

    p.set(F::ElementsPerBlock, 5);
    EXPECT_EQ(present_battery_page(p.s, p.device, p.reference).groups[0].blocks.size(), 4u);
    p.reference = p.device;
    EXPECT_FALSE(present_battery_page(p.s, p.device, p.reference).rebuild);
    p.set(F::BatteryFlags, 0);
    EXPECT_TRUE(present_battery_page(p.s, p.device, p.reference).groups[0].blocks.empty());
}

TEST(Temperatures, SecondSensorOnlyWithTwoSensors)
{
    Plant p;
    p.s.temperatures = {static_cast<uint16_t>(-55), 215, 0, 301, 2};
    auto v = present_temperatures(p.s, p.device);
    EXPECT_EQ(v.t2.visible, false);
    EXPECT_EQ(*v.t1.markup, "-5.5°C &lt;21.5°C&gt;");
    p.set(F::TempSensorCount, 2);
    v = present_temperatures(p.s, p.device);
    EXPECT_EQ(*v.t2.markup, "30.1°C &gt;T<sub>max</sub>");
    p.s.temperatures[2] = 1;
    p.s.temperatures[4] = 3;
    v = present_temperatures(p.s, p.device);
    EXPECT_EQ(*v.t1.markup, red("Ошибка"));
    EXPECT_EQ(*v.t2.markup, red("Ошибка"));
}

TEST(DeviceTime, ShowsTheControllerZoneAndItsOffset)
{
    std::setlocale(LC_ALL, "C");
    // 2024-01-02 03:04:05 UTC
    const uint32_t t = 1704164645;
    EXPECT_EQ(device_time_text(t, 0, 0), "02 Jan 2024 03:04:05 (+0:00)");
    EXPECT_EQ(device_time_text(t, 12, 1), "02 Jan 2024 07:04:05 (+4:00)");
    EXPECT_EQ(device_time_text(t, -14, 0), "01 Jan 2024 23:34:05 (-3:30)");
    // half an hour west of UTC keeps its sign; summer time moves it east
    EXPECT_EQ(device_time_text(t, -2, 0), "02 Jan 2024 02:34:05 (-0:30)");
    EXPECT_EQ(device_time_text(t, -2, 1), "02 Jan 2024 03:34:05 (+0:30)");
    // a negative sum shows the date of 2147483647 seconds
    EXPECT_EQ(device_time_text(100, -48, 0), "19 Jan 2038 03:14:07 (-12:00)");
}

#include "status/register_view.h"

TEST(RegisterViewer, AsksOnlyWhatOneRequestMayCarryAndShowsWordsThreeWays)
{
    EXPECT_EQ(register_query_problem({4, 0, 90}), "");
    EXPECT_EQ(register_query_problem({3, 0, 100}), "");
    EXPECT_NE(register_query_problem({4, 0, 91}), "");
    EXPECT_NE(register_query_problem({3, 0, 0}), "");
    EXPECT_NE(register_query_problem({6, 0, 1}), "");
    // The last register is 65535: a range past it would wrap to 0.
    EXPECT_EQ(register_query_problem({3, 65535, 1}), "");
    EXPECT_NE(register_query_problem({3, 65535, 2}), "");

    const uint8_t wire[] = {0x01, 0x9A, 0xFF, 0xFE};
    std::vector<RegisterRow> rows = register_rows(65534, wire, 2);
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0].address, "65534 (0xFFFE)");
    EXPECT_EQ(rows[0].unsigned_value, "410");
    EXPECT_EQ(rows[1].unsigned_value, "65534");
    EXPECT_EQ(rows[1].signed_value, "-2");
    EXPECT_EQ(rows[1].hex_value, "0xFFFE");
}
