#include "settings/bindings.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/text_format.h"

namespace {

using S = SettingsSection;
using F = SettingsField;
using K = ControlKind;
using P = WordPart;
using R = TextRule;

constexpr uint8_t kAllLayouts = 0b111;

constexpr SettingsBinding base(const char* key, const char* id, S section, F field, int item, K kind)
{
    return {key,       id, section, field, static_cast<uint8_t>(item), kind, P::Whole, 1, 0, 0, 0, 0, false,
            R::Free,   0,  0,       0,     kAllLayouts, "", 0, 0, Window::Fixed, 0, MaskListsEffect::None};
}

constexpr SettingsBinding named(const char* label, SettingsBinding b)
{
    b.label = label;
    return b;
}

constexpr SettingsBinding spin(const char* key, const char* id, S section, F field, int scale = 1, int digits = 0,
                               P part = P::Whole, int item = 0)
{
    SettingsBinding b = base(key, id, section, field, item, K::Spin);
    b.scale = static_cast<uint16_t>(scale);
    b.digits = static_cast<uint8_t>(digits);
    b.part = part;
    return b;
}

constexpr SettingsBinding clamped_spin(const char* key, const char* id, S section, F field, int min, int max)
{
    SettingsBinding b = spin(key, id, section, field);
    b.shown_min = static_cast<int16_t>(min);
    b.shown_max = static_cast<int16_t>(max);
    return b;
}

constexpr SettingsBinding combo(const char* key, const char* id, S section, F field, int rows, int row_offset = 0,
                                P part = P::Whole)
{
    SettingsBinding b = base(key, id, section, field, 0, K::Combo);
    b.rows = static_cast<uint8_t>(rows);
    b.row_offset = row_offset;
    b.part = part;
    return b;
}

// The layouts mask of a binding that exists where `has` holds.
constexpr uint8_t layouts_where(bool (*has)(int layout))
{
    uint8_t mask = 0;
    for (int layout = 1; layout <= 3; ++layout)
        if (has(layout))
            mask = uint8_t(mask | 1u << (layout - 1));
    return mask;
}

constexpr SettingsBinding check(const char* key, const char* id, S section, F field, uint16_t bit,
                                bool inverted = false, uint8_t layouts = kAllLayouts)
{
    SettingsBinding b = base(key, id, section, field, 0, K::Check);
    b.bit = bit;
    b.inverted = inverted;
    b.layouts = layouts;
    return b;
}

constexpr SettingsBinding entry(const char* key, const char* id, S section, F field, R rule = R::Free, int item = 0)
{
    SettingsBinding b = base(key, id, section, field, item, K::Entry);
    b.rule = rule;
    return b;
}

constexpr SettingsBinding octet(const char* key, const char* id, F field, int item, int byte, R rule = R::Decimal)
{
    SettingsBinding b = base(key, id, S::Monitoring, field, item, K::AddressByte);
    b.byte = static_cast<uint8_t>(byte);
    b.rule = rule;
    return b;
}

namespace bits = settings_bits;

// In section order; within a section in the order of the page.
constexpr SettingsBinding kBindings[] = {
    named("Серийный номер", spin("main.serial_number", "S_SerialNumber", S::Main, F::SerialNumber, 1, 0, P::Dword)).limits(0, 999999),
    named("Пароль настроек", entry("main.password", "S_Password", S::Main, F::Password)),
    named("Комментарий", entry("main.comment", "S_Comment", S::Main, F::Comment)),
    named("Часовой пояс", combo("main.time_zone", "S_Timezone", S::Main, F::Timezone, kTimezoneRows, 48, P::Signed)),
    named("Летнее время", check("main.summer_time", "S_SummerTime", S::Main, F::SummerTime, bits::kSummerTime)),

    named("Звуковой сигнал", check("events.alarm_signal", "S_AlarmSignal", S::Events, F::AlarmSignal, bits::kAlarmSignal)).refreshes_masks(),

    named("Напряжение на нагрузке", spin("load.epu_voltage", "S_EPUVoltage", S::Load, F::FloatVoltage, 10, 1)).limits(180, 750).within(Window::Float).refreshes(section_bit(S::Load)),

    named("Элементов 2 В в группе", clamped_spin("battery.cells", "S_2VPerGroup", S::Battery, F::CellsPerGroup, 11, 30)).limits(11, 30).refreshes(section_bit(S::Battery) | section_bit(S::Contactors)),
    named("Ёмкость группы", spin("battery.capacity", "S_BatteryCapacity", S::Battery, F::BatteryCapacity)).limits(5, 5000),
    named("Ограничение тока заряда", spin("battery.charge_current", "S_ChargeCurrent", S::Battery, F::ChargeCurrent, 100, 2)).limits(10, 100),
    named("Напряжение содержания", spin("battery.float_voltage", "S_FloatVoltage", S::Battery, F::FloatVoltage, 10, 1)).within(Window::Float).refreshes(section_bit(S::Battery)),
    named("Ускоренный заряд", check("battery.fast_charge", "S_FastCharge", S::Battery, F::BatteryFlags, bits::kFastCharge)).refreshes(section_bit(S::Battery)),
    named("Напряжение ускоренного заряда", spin("battery.fast_charge_voltage", "S_FastChargeVoltage", S::Battery, F::FastChargeVoltage, 10, 1)).within(Window::Charge).refreshes(section_bit(S::Battery)),
    named("Напряжение выравнивающего заряда", spin("battery.equalising_voltage", "S_EqChargeVoltage", S::Battery, F::EqChargeVoltage, 10, 1)).within(Window::Charge).refreshes(section_bit(S::Battery)),
    named("Напряжение окончания теста", spin("battery.test_voltage", "S_TestVoltage", S::Battery, F::TestVoltage, 10, 1)).within(Window::Test).refreshes(section_bit(S::Battery)),
    named("Напряжение глубокого разряда", spin("battery.low_voltage", "S_LowBatteryVoltage", S::Battery, F::LowBatteryVoltage, 10, 1)).within(Window::LowBattery).refreshes(section_bit(S::Battery)),
    named("Термокомпенсация", check("battery.thermal_compensation", "S_Termocompensation", S::Battery, F::BatteryFlags,
          bits::kTermocompensation)).refreshes(section_bit(S::Battery)),
    named("Коэффициент термокомпенсации", spin("battery.thermal_coefficient", "S_TermocompensationK", S::Battery, F::TermocompensationK, 10, 1)).limits(20, 55),
    named("Контроль блоков (УПКБ)", check("battery.block_control", "S_BlockControl", S::Battery, F::BatteryFlags, bits::kBlockControl)).refreshes(section_bit(S::Battery)),
    named("Элементов в блоке", combo("battery.elements_per_block", "S_ElementsPerBlock", S::Battery, F::ElementsPerBlock,
          kElementsPerBlockRows)),
    named("Верхний порог напряжения блока", spin("battery.block_high_voltage", "S_BlockHightVoltage", S::Battery, F::BlockHighVoltage, 100, 2)).limits(50, 1800).refreshes(section_bit(S::Battery)),
    named("Нижний порог напряжения блока", spin("battery.block_low_voltage", "S_BlockLowVoltage", S::Battery, F::BlockLowVoltage, 100, 2)).limits(50, 1800).refreshes(section_bit(S::Battery)),

    named("Напряжение отключения K1", spin("contactors.k1_voltage", "S_K1Voltage", S::Contactors, F::ContactorVoltage, 10, 1, P::Whole, 0)).within(Window::LowBattery).refreshes(section_bit(S::Contactors)),
    named("Напряжение отключения K2", spin("contactors.k2_voltage", "S_K2Voltage", S::Contactors, F::ContactorVoltage, 10, 1, P::Whole, 1)).within(Window::LowBattery).refreshes(section_bit(S::Contactors)),
    named("Напряжение отключения K3", spin("contactors.k3_voltage", "S_K3Voltage", S::Contactors, F::ContactorVoltage, 10, 1, P::Whole, 2)).within(Window::LowBattery).refreshes(section_bit(S::Contactors)),
    named("Напряжение отключения K4", spin("contactors.k4_voltage", "S_K4Voltage", S::Contactors, F::ContactorVoltage, 10, 1, P::Whole, 3)).within(Window::LowBattery).refreshes(section_bit(S::Contactors)),

    named("Резерв выпрямительных блоков", spin("rectifiers.reserve", "S_VUVReserv", S::Rectifiers, F::RectifierReserve)).within(Window::Reserve),
    named("Режим энергоэффективности", check("rectifiers.energy_saving", "S_Energosafe", S::Rectifiers, F::EnergySaving, bits::kEnergySaving, false,
          layouts_where(layout_has_energy_saving))),

    named("Нижний порог напряжения", spin("mains.low", "S_MainsLow", S::Mains, F::MainsLow)).limits(170, 210),
    named("Верхний порог напряжения", spin("mains.high", "S_MainsHight", S::Mains, F::MainsHigh)).limits(230, 290),
    named("Модуль грозозащиты", check("mains.lighting", "S_Lighting", S::Mains, F::MainsFlags, bits::kLighting)).refreshes_masks().refreshes(section_bit(S::Mains)),
    named("Прямая логика грозозащиты", check("mains.light_logic", "S_LightLogic", S::Mains, F::MainsFlags, bits::kLightLogicOff, true)),

    named("Датчиков температуры", spin("temperature.sensors", "S_TermoCount", S::Temperature, F::TempSensorCount)).limits(1, 2).refreshes(section_bit(S::Temperature)),
    named("Минимум Т2", spin("temperature.t2_min", "S_T2min", S::Temperature, F::T2Min, 10, 1, P::Signed)).limits(-200, 600),
    named("Максимум Т2", spin("temperature.t2_max", "S_T2max", S::Temperature, F::T2Max, 10, 1, P::Signed)).limits(-200, 600),
    named("Гистерезис Т2", spin("temperature.t2_hysteresis", "S_T2hyst", S::Temperature, F::T2Hyst, 10, 1)).limits(0, 50),

    named("Сухих контактов", spin("dry_contacts.count", "S_DCCount", S::DryContacts, F::DryContactCount)).limits(0, 16).rebuilds_masks().refreshes(section_bit(S::DryContacts)),

    named("Пароль мониторинга", entry("monitoring.password", "S_MonitoringPassword", S::Monitoring, F::MonitoringPassword)),
    named("Канал мониторинга", combo("monitoring.mode", "S_MonitoringMode", S::Monitoring, F::MonitoringMode, kMonitoringModeRows)).refreshes(section_bit(S::Monitoring)),
    named("Адрес RS-485", spin("monitoring.rs485_address", "S_MonitoringRS485", S::Monitoring, F::MonitoringRS485)).limits(1, 247),
    named("Начальный период", spin("monitoring.initial_period", "S_MonitoringInitPeriod", S::Monitoring, F::MonitoringInitPeriod)).limits(0, 30),
    named("Номер SMS-центра", entry("monitoring.service_centre", "S_MonitoringServiceCentre", S::Monitoring, F::ServiceCentre, R::Digits)),
    named("Телефон 1 включен", check("monitoring.phone1_active", "S_MonitoringPhone1Active", S::Monitoring, F::MonitoringFlags, 1 << 1)).refreshes(section_bit(S::Monitoring)),
    named("Телефон 1", entry("monitoring.phone1", "S_MonitoringPhone1", S::Monitoring, F::Phones, R::Phone, 0)),
    named("Телефон 2 включен", check("monitoring.phone2_active", "S_MonitoringPhone2Active", S::Monitoring, F::MonitoringFlags, 1 << 2)).refreshes(section_bit(S::Monitoring)),
    named("Телефон 2", entry("monitoring.phone2", "S_MonitoringPhone2", S::Monitoring, F::Phones, R::Phone, 1)),
    named("Телефон 3 включен", check("monitoring.phone3_active", "S_MonitoringPhone3Active", S::Monitoring, F::MonitoringFlags, 1 << 3)).refreshes(section_bit(S::Monitoring)),
    named("Телефон 3", entry("monitoring.phone3", "S_MonitoringPhone3", S::Monitoring, F::Phones, R::Phone, 2)),
    named("Номер SMS 1 включен", check("monitoring.sms1_active", "S_MonitoringSMS1Active", S::Monitoring, F::MonitoringFlags, 1 << 4)).refreshes(section_bit(S::Monitoring)),
    named("Номер SMS 1", entry("monitoring.sms1", "S_MonitoringSMS1", S::Monitoring, F::SmsNumbers, R::Phone, 0)),
    named("Номер SMS 2 включен", check("monitoring.sms2_active", "S_MonitoringSMS2Active", S::Monitoring, F::MonitoringFlags, 1 << 5)).refreshes(section_bit(S::Monitoring)),
    named("Номер SMS 2", entry("monitoring.sms2", "S_MonitoringSMS2", S::Monitoring, F::SmsNumbers, R::Phone, 1)),
    named("Номер SMS 3 включен", check("monitoring.sms3_active", "S_MonitoringSMS3Active", S::Monitoring, F::MonitoringFlags, 1 << 6)).refreshes(section_bit(S::Monitoring)),
    named("Номер SMS 3", entry("monitoring.sms3", "S_MonitoringSMS3", S::Monitoring, F::SmsNumbers, R::Phone, 2)),
    named("MAC-адрес", octet("network.mac1", "S_MAC1", F::Mac, 0, 0, R::Hex)),
    named("MAC-адрес", octet("network.mac2", "S_MAC2", F::Mac, 0, 1, R::Hex)),
    named("MAC-адрес", octet("network.mac3", "S_MAC3", F::Mac, 0, 2, R::Hex)),
    named("MAC-адрес", octet("network.mac4", "S_MAC4", F::Mac, 0, 3, R::Hex)),
    named("MAC-адрес", octet("network.mac5", "S_MAC5", F::Mac, 0, 4, R::Hex)),
    named("MAC-адрес", octet("network.mac6", "S_MAC6", F::Mac, 0, 5, R::Hex)),
    named("IP-адрес", octet("network.ip1", "S_IP1", F::Ip, 0, 0)),
    named("IP-адрес", octet("network.ip2", "S_IP2", F::Ip, 0, 1)),
    named("IP-адрес", octet("network.ip3", "S_IP3", F::Ip, 0, 2)),
    named("IP-адрес", octet("network.ip4", "S_IP4", F::Ip, 0, 3)),
    named("Маска подсети", octet("network.mask1", "S_Msk1", F::NetMask, 0, 0)),
    named("Маска подсети", octet("network.mask2", "S_Msk2", F::NetMask, 0, 1)),
    named("Маска подсети", octet("network.mask3", "S_Msk3", F::NetMask, 0, 2)),
    named("Маска подсети", octet("network.mask4", "S_Msk4", F::NetMask, 0, 3)),
    named("Шлюз", octet("network.router1", "S_Ro1", F::Router, 0, 0)),
    named("Шлюз", octet("network.router2", "S_Ro2", F::Router, 0, 1)),
    named("Шлюз", octet("network.router3", "S_Ro3", F::Router, 0, 2)),
    named("Шлюз", octet("network.router4", "S_Ro4", F::Router, 0, 3)),
    named("SNMP-сообщество чтения", entry("network.trap_public", "S_TrapPublic", S::Monitoring, F::TrapPublic, R::Community)),
    named("SNMP-сообщество записи", entry("network.trap_private", "S_TrapPrivate", S::Monitoring, F::TrapPrivate, R::Community)),
    named("Получатель trap 1 включен", check("network.trap1_active", "S_Trap1Active", S::Monitoring, F::MonitoringFlags, 1 << 7)).refreshes(section_bit(S::Monitoring)),
    named("Получатель trap 1", octet("network.trap1_ip1", "S_Trap1IP1", F::TrapIps, 0, 0)),
    named("Получатель trap 1", octet("network.trap1_ip2", "S_Trap1IP2", F::TrapIps, 0, 1)),
    named("Получатель trap 1", octet("network.trap1_ip3", "S_Trap1IP3", F::TrapIps, 0, 2)),
    named("Получатель trap 1", octet("network.trap1_ip4", "S_Trap1IP4", F::TrapIps, 0, 3)),
    named("Получатель trap 2 включен", check("network.trap2_active", "S_Trap2Active", S::Monitoring, F::MonitoringFlags, 1 << 8)).refreshes(section_bit(S::Monitoring)),
    named("Получатель trap 2", octet("network.trap2_ip1", "S_Trap2IP1", F::TrapIps, 1, 0)),
    named("Получатель trap 2", octet("network.trap2_ip2", "S_Trap2IP2", F::TrapIps, 1, 1)),
    named("Получатель trap 2", octet("network.trap2_ip3", "S_Trap2IP3", F::TrapIps, 1, 2)),
    named("Получатель trap 2", octet("network.trap2_ip4", "S_Trap2IP4", F::TrapIps, 1, 3)),
    named("Получатель trap 3 включен", check("network.trap3_active", "S_Trap3Active", S::Monitoring, F::MonitoringFlags, 1 << 9)).refreshes(section_bit(S::Monitoring)),
    named("Получатель trap 3", octet("network.trap3_ip1", "S_Trap3IP1", F::TrapIps, 2, 0)),
    named("Получатель trap 3", octet("network.trap3_ip2", "S_Trap3IP2", F::TrapIps, 2, 1)),
    named("Получатель trap 3", octet("network.trap3_ip3", "S_Trap3IP3", F::TrapIps, 2, 2)),
    named("Получатель trap 3", octet("network.trap3_ip4", "S_Trap3IP4", F::TrapIps, 2, 3)),

    named("Сигнальных реле", spin("configuration.relays", "S_RelyCount", S::Configuration, F::RelayCount)).limits(0, 4).refreshes_masks(),
    named("Автоматов нагрузки", spin("configuration.load_breakers", "S_LoadAutomats", S::Configuration, F::LoadBreakerCount)).limits(1, 52).rebuilds_masks().refreshes(section_bit(S::Load) | section_bit(S::Configuration)),
    named("Шунт нагрузки", check("configuration.load_shunt", "S_LoadShunt", S::Configuration, F::LoadShuntFlags, bits::kLoadShuntPresent)).refreshes(section_bit(S::Configuration)),
    named("Номинал шунта нагрузки", combo("configuration.load_shunt_rating", "S_LoadShuntCombo", S::Configuration, F::LoadShuntType, kShuntRows)),
    named("Групп АБ", spin("configuration.battery_groups", "S_BatteryCount", S::Configuration, F::BatteryGroupCount)).limits(0, 4).rebuilds_masks().refreshes(section_bit(S::Configuration) | section_bit(S::Load) | section_bit(S::Contactors) | section_bit(S::Battery)),
    named("Номинал шунта АБ", combo("configuration.battery_shunt_rating", "S_BatteryShuntCombo", S::Configuration, F::BatteryShuntType,
          kShuntRows)),
    named("Шунт в каждой группе АБ", check("configuration.shunt_to_each_battery", "S_ShuntToEachBattery", S::Configuration, F::BatteryFlags,
          bits::kShuntToEachBattery)),
    named("Автоматы АБ по сухим контактам", check("configuration.battery_breakers_by_dc", "S_BatteryAutomatsByDC", S::Configuration, F::BatteryFlags,
          bits::kBatteryAutomatsByDC)),
    named("Контакторов", spin("configuration.contactors", "S_ContactorsCount", S::Configuration, F::ContactorCount)).limits(0, 4).rebuilds_masks().refreshes(section_bit(S::Configuration) | section_bit(S::Contactors) | section_bit(S::Battery)),
    named("Выпрямительных блоков", spin("configuration.rectifiers", "S_VUVCount", S::Configuration, F::RectifierCount)).within(Window::RectifierCount).rebuilds_masks().refreshes(section_bit(S::Rectifiers)),
    named("Класс выпрямителей", combo("configuration.rectifier_class", "S_VUVClass_ComboBox", S::Configuration, F::RectifierType,
          kRectifierClassRows, 0, P::HighByte)).refreshes(section_bit(S::Configuration)),
    named("Тип выпрямителей", spin("configuration.rectifier_type", "S_VUVType", S::Configuration, F::RectifierType, 1, 0, P::LowByte)).limits(0, 255),
    named("Модель выпрямителей", combo("configuration.rectifier_model", "S_VUVType_ComboBox", S::Configuration, F::RectifierType,
          kRectifierModelRows, -bits::kRectifierModelRow)).refreshes(section_bit(S::Configuration)),
    named("Контроль сети", check("configuration.mains_measurement", "S_MainsMeashure", S::Configuration, F::MainsFlags,
          bits::kMainsMeasurement)).refreshes(section_bit(S::Mains) | section_bit(S::Configuration)),
    named("Фаз сети", spin("configuration.mains_phases", "S_MainsPhasesCount", S::Configuration, F::MainsPhaseCount)).limits(1, 3),
};

// Rows 11 and 12 are the models with the energy-saving mode.
constexpr const char* kRectifierModels[kRectifierModelRows] = {
    "ВУВ 24/25",  "ВУВ 24/50",  "ВУВ 48/25",  "ВУВ 48/30",  "ВУВ 48/50",    "ВУВ 48/60",    "ВУВ 48/100",
    "ВУВ 60/25",  "ВУВ 60/50",  "ВУВ 220/10", "ВУВ 220/20", "ВУВ 48/50 ЭЭ", "ВУВ 48/100 ЭЭ",
};

constexpr int kShuntRatings[kShuntRows] = {15,  20,  25,  30,  40,   45,   50,   60,   75,   90,   100,  150,  200,
                                           250, 300, 400, 500, 600, 750, 1000, 1500, 2000, 2500, 3000, 4000, 5000};

long word_part(const SettingsBinding& b, const SettingsImage& image)
{
    switch (b.part) {
    case P::Whole: return settings_u16(image, b.field, b.item);
    case P::Signed: return settings_s16(image, b.field, b.item);
    case P::Dword: return static_cast<long>(settings_u32(image, b.field));
    case P::LowByte: return settings_u16(image, b.field, b.item) & 0xFF;
    case P::HighByte: return settings_u16(image, b.field, b.item) >> 8;
    }
    return 0;
}

} // namespace

std::span<const SettingsBinding> settings_bindings() { return kBindings; }

const SettingsBinding* settings_binding(const char* id)
{
    for (const SettingsBinding& b : kBindings)
        if (id && std::strcmp(b.id, id) == 0)
            return &b;
    return nullptr;
}

const char* rectifier_model_name(int row)
{
    return row >= 0 && row < kRectifierModelRows ? kRectifierModels[row] : "";
}

int shunt_rating(int row) { return row >= 0 && row < kShuntRows ? kShuntRatings[row] : 0; }

std::string settings_combo_text(const SettingsBinding& b, int row)
{
    if (b.kind != K::Combo || row < 0 || row >= b.rows)
        return "";
    switch (b.field) {
    case F::Timezone: {
        int quarters = std::abs(row - 48);
        return format("%c%02d:%02d", row < 48 ? '-' : '+', quarters / 4, quarters % 4 * 15);
    }
    case F::LoadShuntType:
    case F::BatteryShuntType: return format("%d А", shunt_rating(row));
    case F::MonitoringMode: return row == 0 ? "RS-485" : row == 1 ? "GSM" : "PSTN";
    case F::ElementsPerBlock: return row == 0 ? "1" : row == 1 ? "3" : "6";
    case F::RectifierType:
        if (b.part == P::HighByte)
            return row == 0 ? "ВУВ" : "Сторонний";
        return rectifier_model_name(row);
    default: break;
    }
    return format("%d", row);
}

ControlValue settings_control_value(const SettingsBinding& b, const SettingsImage& image)
{
    ControlValue v;
    switch (b.kind) {
    case K::Spin: {
        long raw = word_part(b, image);
        if (b.shown_min < b.shown_max)
            raw = std::clamp<long>(raw, b.shown_min, b.shown_max);
        v.number = static_cast<double>(raw) / b.scale;
        break;
    }
    case K::Combo: {
        long row = word_part(b, image) + b.row_offset;
        v.row = row >= 0 && row < b.rows ? static_cast<int>(row) : -1;
        break;
    }
    case K::Check:
        v.active = ((settings_u16(image, b.field, b.item) & b.bit) != 0) != b.inverted;
        break;
    case K::Entry:
        v.text = device_string_to_utf8(settings_item(image, b.field, b.item));
        break;
    case K::AddressByte: {
        auto bytes = settings_item(image, b.field, b.item);
        unsigned octet = b.byte < bytes.size() ? bytes[b.byte] : 0;
        v.text = format(b.rule == R::Hex ? "%02X" : "%u", octet);
        break;
    }
    }
    return v;
}
