#include "settings/page_view.h"

#include <algorithm>
#include <initializer_list>

#include "base/text_format.h"

namespace {

using F = SettingsField;
namespace bits = settings_bits;

// The type words of the two rectifier models that offer energy saving.
constexpr uint16_t kEnergySavingModels[2] = {bits::kRectifierModelRow | 11, bits::kRectifierModelRow | 12};
constexpr unsigned kEnergySavingMinModules = 6;

unsigned count(const SettingsImage& image, F field, unsigned table)
{
    return std::min<unsigned>(settings_u16(image, field), table);
}

bool flag(const SettingsImage& image, F field, uint16_t bit) { return (settings_u16(image, field) & bit) != 0; }

void show(SettingsPageView& view, std::initializer_list<const char*> ids, bool on)
{
    for (const char* id : ids)
        view.visible.push_back({id, on});
}

void load_section(const SettingsImage& image, SettingsPageView& view)
{
    show(view, {"S_EPUVoltageNameLabel", "S_EPUVoltage", "S_EPUVoltageLabel"},
         settings_u16(image, F::BatteryGroupCount) == 0);
    auto& rows = view.breaker_names.emplace();
    unsigned breakers = count(image, F::LoadBreakerCount, kPageLoadBreakers);
    for (unsigned i = 0; i < breakers; ++i)
        rows.push_back({format("QH%u", i + 1), settings_name(image, F::LoadBreakerNames, static_cast<int>(i)),
                        static_cast<int>(i)});
}

void battery_section(const SettingsImage& image, SettingsPageView& view)
{
    unsigned cells = settings_u16(image, F::CellsPerGroup);
    show(view, {"S_BatteryExpander"}, settings_u16(image, F::BatteryGroupCount) != 0);
    const std::pair<const char*, F> voltages[] = {
        {"S_FloatVoltageLabel", F::FloatVoltage},         {"S_FastChargeVoltageLabel", F::FastChargeVoltage},
        {"S_EqChargeVoltageLabel", F::EqChargeVoltage},   {"S_TestVoltageLabel", F::TestVoltage},
        {"S_LowBatteryVoltageLabel", F::LowBatteryVoltage},
    };
    for (const auto& [id, field] : voltages)
        view.markup.push_back({id, per_cell_label(settings_u16(image, field), cells)});
    show(view, {"S_FastChargeNameLabel", "S_FastChargeVoltage", "S_FastChargeVoltageLabel"},
         flag(image, F::BatteryFlags, bits::kFastCharge));
    show(view, {"S_TermocompensationKNameLabel", "S_TermocompensationK", "S_TermocompensationKLabel"},
         flag(image, F::BatteryFlags, bits::kTermocompensation));
    show(view,
         {"S_ElementsPerBlockNameLabel", "S_ElementsPerBlock", "S_BlockHightVoltageNameLabel", "S_BlockHightVoltage",
          "S_BlockHightVoltageLabel", "S_BlockLowVoltageNameLabel", "S_BlockLowVoltage", "S_BlockLowVoltageLabel",
          "S_BatterySetUPKBNameLabel", "S_BatterySetUPKBWindow"},
         flag(image, F::BatteryFlags, bits::kBlockControl));
    auto& rows = view.block_monitors.emplace();
    unsigned groups = count(image, F::BatteryGroupCount, kPageBatteryGroups);
    for (unsigned g = 0; g < groups; ++g) {
        unsigned stored = settings_u16(image, F::BlockMonitorAddress, static_cast<int>(g));
        rows.push_back({format("Группа %u", g + 1), static_cast<int>(stored / 8), static_cast<int>(stored % 8 + 1),
                        static_cast<int>(g)});
    }
}

void contactors_section(const SettingsImage& image, SettingsPageView& view)
{
    static const char* const kIds[kPageContactors][3] = {
        {"S_K1VoltageNameLabel", "S_K1Voltage", "S_K1VoltageLabel"},
        {"S_K2VoltageNameLabel", "S_K2Voltage", "S_K2VoltageLabel"},
        {"S_K3VoltageNameLabel", "S_K3Voltage", "S_K3VoltageLabel"},
        {"S_K4VoltageNameLabel", "S_K4Voltage", "S_K4VoltageLabel"},
    };
    show(view, {"S_ContactorsExpander"}, settings_u16(image, F::BatteryGroupCount) != 0);
    unsigned contactors = count(image, F::ContactorCount, kPageContactors);
    unsigned cells = settings_u16(image, F::CellsPerGroup);
    uint16_t by_dry_contact = settings_u16(image, F::ContactorBySK);
    auto& rows = view.contactors.emplace();
    for (int k = 0; k < kPageContactors; ++k) {
        show(view, {kIds[k][0], kIds[k][1], kIds[k][2]}, static_cast<unsigned>(k) < contactors);
        std::string name = settings_name(image, F::ContactorNames, k);
        view.text.push_back({kIds[k][0], contactor_label(k + 1, name)});
        view.markup.push_back({kIds[k][2], per_cell_label(settings_u16(image, F::ContactorVoltage, k), cells)});
        if (static_cast<unsigned>(k) < contactors)
            rows.push_back({format("K%d", k + 1), (by_dry_contact >> k & 1) != 0, name, k});
    }
}

void mains_section(const SettingsImage& image, SettingsPageView& view)
{
    show(view, {"S_LightLogicName", "S_LightLogic"}, flag(image, F::MainsFlags, bits::kLighting));
    show(view,
         {"S_MainsLowNameLabel", "S_MainsLow", "S_MainsLowLabel", "S_MainsHightNameLabel", "S_MainsHight",
          "S_MainsHightLabel"},
         flag(image, F::MainsFlags, bits::kMainsMeasurement));
}

void temperature_section(const SettingsImage& image, SettingsPageView& view)
{
    show(view,
         {"S_T2minNameLabel", "S_T2min", "S_T2minLabel", "S_T2maxNameLabel", "S_T2max", "S_T2maxLabel",
          "S_T2hystNameLabel", "S_T2hyst", "S_T2hystLabel"},
         settings_u16(image, F::TempSensorCount) >= 2);
}

void dry_contacts_section(const SettingsImage& image, SettingsPageView& view)
{
    auto& rows = view.dry_contacts.emplace();
    unsigned contacts = count(image, F::DryContactCount, kPageDryContacts);
    uint16_t types = settings_u16(image, F::DryContactTypes);
    for (unsigned i = 0; i < contacts; ++i)
        rows.push_back({format("СК%u", i + 1), settings_name(image, F::DryContactNames, static_cast<int>(i)),
                        (types >> i & 1) != 0, static_cast<int>(i)});
}

void monitoring_section(const SettingsImage& image, SettingsPageView& view)
{
    static const char* const kPhones[3][2] = {{"S_MonitoringPhone1Active", "S_MonitoringPhone1"},
                                              {"S_MonitoringPhone2Active", "S_MonitoringPhone2"},
                                              {"S_MonitoringPhone3Active", "S_MonitoringPhone3"}};
    static const char* const kSms[3][2] = {{"S_MonitoringSMS1Active", "S_MonitoringSMS1"},
                                           {"S_MonitoringSMS2Active", "S_MonitoringSMS2"},
                                           {"S_MonitoringSMS3Active", "S_MonitoringSMS3"}};
    static const char* const kTrapPanels[3] = {"S_Trap1Panel", "S_Trap2Panel", "S_Trap3Panel"};
    uint16_t flags = settings_u16(image, F::MonitoringFlags);

    auto phones = [&](bool on) {
        for (const auto& row : kPhones)
            show(view, {row[0], row[1]}, on);
    };
    auto sms = [&](bool on) {
        for (const auto& row : kSms)
            show(view, {row[0], row[1]}, on);
    };
    auto rs485 = [&](bool on) { show(view, {"S_RS485Expander"}, on); };
    auto initial_period = [&](bool on) { show(view, {"S_MonitoringInitPeriodLabel", "S_MonitoringInitPeriodFields"}, on); };
    auto service_centre = [&](bool on) { show(view, {"S_MonitoringServiceCentreNameLabel", "S_MonitoringServiceCentre"}, on); };
    switch (settings_u16(image, F::MonitoringMode)) {
    case 0: // RS-485
        rs485(true);
        phones(false);
        sms(false);
        initial_period(false);
        service_centre(false);
        break;
    case 1: // GSM
        rs485(false);
        phones(true);
        sms(true);
        initial_period(true);
        service_centre(true);
        break;
    case 2: // PSTN
        rs485(false);
        service_centre(false);
        sms(false);
        phones(true);
        initial_period(true);
        break;
    default:
        break;
    }
    for (int i = 0; i < 3; ++i) {
        view.sensitive.push_back({kPhones[i][1], (flags >> (1 + i) & 1) != 0});
        view.sensitive.push_back({kSms[i][1], (flags >> (4 + i) & 1) != 0});
        view.sensitive.push_back({kTrapPanels[i], (flags >> (7 + i) & 1) != 0});
    }
}

// How the rectifier type word is shown depends on the exact protocol version:
// version 200 has classes with a type number, version 300 a list of models.
// The model list also shows whenever the word carries a model (bit 15) and in
// layout 3, whose energy-saving mode asks for one of two models: without it
// the user could never meet that requirement from this page.
void rectifier_type(const SettingsImage& image, int version, SettingsPageView& view)
{
    uint16_t type = settings_u16(image, F::RectifierType);
    bool model = version == 300 || (type & bits::kRectifierModelRow) != 0 || image.layout == 3;
    bool type_class = version == 200 && !model;
    bool type_number = !model && version <= 299 && !(type_class && (type >> 8) == 1);
    show(view, {"S_VUVType_ComboBoxNameLabel", "S_VUVType_ComboBox"}, model);
    show(view, {"S_VUVClass_ComboBoxNameLabel", "S_VUVClass_ComboBox"}, type_class);
    show(view, {"S_VUVTypeNameLabel", "S_VUVType"}, type_number);
    if (!type_class)
        view.combo_rows.push_back({"S_VUVClass_ComboBox", 0});
}

void configuration_section(const SettingsImage& image, int version, SettingsPageView& view)
{
    bool batteries = settings_u16(image, F::BatteryGroupCount) != 0;
    show(view, {"S_LoadShuntComboNameLabel", "S_LoadShuntCombo", "S_LoadShuntComboLabel"},
         flag(image, F::LoadShuntFlags, bits::kLoadShuntPresent));
    show(view,
         {"S_BatteryShuntComboNameLabel", "S_BatteryShuntCombo", "S_BatteryShuntComboLabel",
          "S_ShuntToEachBatteryNameLabel", "S_ShuntToEachBattery"},
         batteries);
    show(view, {"S_MainsPhasesCountNameLabel", "S_MainsPhasesCount"},
         flag(image, F::MainsFlags, bits::kMainsMeasurement));
    rectifier_type(image, version, view);

    auto& rows = view.breaker_contactors.emplace();
    auto option = [](unsigned word) { return static_cast<int>(std::min(word, 4u)); };
    unsigned groups = count(image, F::BatteryGroupCount, kPageBatteryGroups);
    for (unsigned g = 0; g < groups; ++g)
        rows.push_back({format("QB%u", g + 1), option(settings_u16(image, F::BatteryBreakerContactor, static_cast<int>(g))),
                        0, static_cast<int>(g)});
    unsigned breakers = count(image, F::LoadBreakerCount, kPageLoadBreakers);
    for (unsigned i = 0; i < breakers; ++i)
        rows.push_back({format("QH%u", i + 1), option(settings_u16(image, F::LoadBreakerContactor, static_cast<int>(i))),
                        1, static_cast<int>(i)});
}

} // namespace

int shown_cell_count(unsigned stored) { return static_cast<int>(std::clamp(stored, 11u, 30u)); }

std::string per_cell_label(unsigned volts_x10, unsigned stored_cells)
{
    return format("В (%0.2f<sup>В</sup>/<sub>эл</sub>)", volts_x10 / 10.0 / shown_cell_count(stored_cells));
}

std::string contactor_label(int number, std::string_view name)
{
    std::string label = format("K%d", number);
    if (!name.empty()) {
        label += " \"";
        label += name;
        label += "\"";
    }
    return label + ":";
}

std::string energy_saving_tooltip(const SettingsImage& image)
{
    std::string missing;
    if (settings_u16(image, F::BatteryGroupCount) == 0)
        missing += ": <b>АБ > 0</b>";
    if (settings_u16(image, F::RectifierCount) < kEnergySavingMinModules)
        missing += ": <b>VUV >= 6</b>";
    if (settings_u16(image, F::MainsPhaseCount) != 3 || !flag(image, F::MainsFlags, bits::kMainsMeasurement))
        missing += ": <b>Фаз сети 3</b>";
    uint16_t type = settings_u16(image, F::RectifierType);
    if (type != kEnergySavingModels[0] && type != kEnergySavingModels[1])
        missing += format(": <b>%s или %s</b>", rectifier_model_name(11), rectifier_model_name(12));
    return missing.empty() ? missing : "Для использования должно быть" + missing;
}

void present_energy_saving(const SettingsImage& image, SettingsPageView& view)
{
    if (!layout_has_energy_saving(image.layout))
        return;
    std::string tooltip = energy_saving_tooltip(image);
    // A mode that is on stays within reach, so it can be switched off when its
    // requirements no longer hold; the tooltip still names what is missing.
    bool on = settings_u16(image, SettingsField::EnergySaving) & settings_bits::kEnergySaving;
    for (const char* id : {"S_Energosafe", "labelSEnergosafe"}) {
        view.sensitive.push_back({id, tooltip.empty() || on});
        view.tooltip.push_back({id, tooltip});
    }
}

void present_settings_section(SettingsSection section, const SettingsImage& image, int protocol_version,
                              SettingsPageView& view)
{
    switch (section) {
    case SettingsSection::Load: load_section(image, view); break;
    case SettingsSection::Battery: battery_section(image, view); break;
    case SettingsSection::Contactors: contactors_section(image, view); break;
    case SettingsSection::Rectifiers: show(view, {"S_Energosafe", "labelSEnergosafe"}, layout_has_energy_saving(image.layout)); break;
    case SettingsSection::Mains: mains_section(image, view); break;
    case SettingsSection::Temperature: temperature_section(image, view); break;
    case SettingsSection::DryContacts: dry_contacts_section(image, view); break;
    case SettingsSection::Monitoring: monitoring_section(image, view); break;
    case SettingsSection::Configuration: configuration_section(image, protocol_version, view); break;
    case SettingsSection::Main:
    case SettingsSection::Events:
    case SettingsSection::Count_: break;
    }
}
