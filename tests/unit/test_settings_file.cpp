// Settings files: what a saved file says, what reading it refuses, and what
// loading it changes in the edit copy, across layouts and locales.
#include <gtest/gtest.h>

#include <algorithm>
#include <clocale>
#include <string>

#include "base/text_format.h"
#include "settings/apply_plan.h"
#include "settings/bindings.h"
#include "settings/settings_file.h"

namespace {

using F = SettingsField;

SettingsImage plant(int layout, uint32_t serial = 100123)
{
    SettingsImage i;
    i.layout = layout;
    settings_set_u32(i, F::SerialNumber, serial);
    settings_set_u16(i, F::BatteryGroupCount, 2);
    settings_set_u16(i, F::CellsPerGroup, 24);
    settings_set_u16(i, F::FloatVoltage, 540);
    settings_set_u16(i, F::FastChargeVoltage, 560);
    settings_set_u16(i, F::EqChargeVoltage, 565);
    settings_set_u16(i, F::TestVoltage, 460);
    settings_set_u16(i, F::LowBatteryVoltage, 430);
    settings_set_u16(i, F::ChargeCurrent, 25);
    settings_set_u16(i, F::RectifierCount, 6);
    settings_set_u16(i, F::RectifierReserve, 1);
    settings_set_u16(i, F::TempSensorCount, 2);
    settings_set_u16(i, F::MainsLow, 180);
    settings_set_u16(i, F::MainsHigh, 250);
    settings_set_u16(i, F::T2Min, static_cast<uint16_t>(-50));
    settings_set_u16(i, F::Timezone, 3);
    settings_item(i, F::Mac)[0] = 0xFF;
    device_string_from_utf8(settings_item(i, F::Comment), "Узел 1");
    device_string_from_utf8(settings_item(i, F::RelayNames, 2), "Реле «Ж»");
    settings_item(i, F::EventMasks)[7] = 0xA5; // only [raw] carries it
    return i;
}

// Replaces the first `from` in `text`.
std::string replaced(std::string text, const std::string& from, const std::string& to)
{
    size_t at = text.find(from);
    EXPECT_NE(at, std::string::npos) << from;
    if (at != std::string::npos)
        text.replace(at, from.size(), to);
    return text;
}

int line_of(const std::string& text, const std::string& what)
{
    size_t at = text.find(what);
    return at == std::string::npos ? -1 : 1 + static_cast<int>(std::count(text.begin(), text.begin() + at, '\n'));
}

struct Loaded {
    int read = 0;
    int load = 0;
    std::string message;
    SettingsFileLoad result;
};

Loaded load(const std::string& text, const SettingsImage& target, bool keep_serial = false)
{
    Loaded l;
    SettingsFile file;
    l.read = settings_file_read(text.data(), text.size(), file, l.message);
    if (l.read == 0)
        l.load = settings_file_load(file, target, keep_serial, l.result, l.message);
    return l;
}

class LocaleGuard {
public:
    explicit LocaleGuard(const char* name) : old_(setlocale(LC_ALL, nullptr)) { have_ = setlocale(LC_ALL, name) != nullptr; }
    ~LocaleGuard() { setlocale(LC_ALL, old_.c_str()); }
    bool have() const { return have_; }

private:
    std::string old_;
    bool have_ = false;
};

TEST(SettingsFile, SavedOnARussianDesktopLoadsUnchangedElsewhereInEveryLayout)
{
    for (int layout = 1; layout <= 3; ++layout) {
        SCOPED_TRACE(layout);
        SettingsImage device = plant(layout);
        std::string text;
        {
            LocaleGuard ru("ru_RU.UTF-8");
            if (!ru.have())
                GTEST_SKIP() << "ru_RU.UTF-8 is not installed";
            text = settings_file_text(device, layout == 1 ? 300 : layout == 2 ? 400 : 410, "2026-12-08 10:15:00");
        }
        EXPECT_NE(text.find("battery.float_voltage=54.0\n"), std::string::npos);
        EXPECT_NE(text.find("temperature.t2_min=-5.0\n"), std::string::npos);
        EXPECT_NE(text.find("main.comment=Узел 1\n"), std::string::npos);
        EXPECT_NE(text.find("site=Узел 1\n"), std::string::npos);
        EXPECT_NE(text.find("network.mac1=FF\n"), std::string::npos);
        EXPECT_EQ(text.find("rectifiers.energy_saving") != std::string::npos, layout == 3);
        EXPECT_EQ(settings_file_name(device, "2026-12-08 10:15:00"), "S_100123_2026-12-08.rarur");

        for (const char* locale : {"C.UTF-8", "ru_RU.UTF-8"}) {
            LocaleGuard guard(locale);
            Loaded same = load(text, device);
            ASSERT_EQ(same.read, 0) << same.message;
            ASSERT_EQ(same.load, 0) << same.message;
            EXPECT_TRUE(settings_changes(device, same.result.image).empty());
            EXPECT_EQ(same.result.image.bytes, device.bytes);

            // Three values changed by hand: those three and nothing else.
            std::string edited = replaced(text, "battery.float_voltage=54.0", "battery.float_voltage=54.5");
            edited = replaced(edited, "main.comment=Узел 1", "main.comment=Узел 2");
            edited = replaced(edited, "configuration.rectifiers=6", "configuration.rectifiers=8");
            Loaded three = load(edited, device);
            ASSERT_EQ(three.load, 0) << three.message;
            auto changes = settings_changes(device, three.result.image);
            ASSERT_EQ(changes.size(), 3u);
            EXPECT_EQ(settings_u16(three.result.image, F::FloatVoltage), 545);
            EXPECT_EQ(settings_u16(three.result.image, F::RectifierCount), 8);
            EXPECT_EQ(settings_name(three.result.image, F::Comment, 0), "Узел 2");
        }
    }
    // A serial number of ten digits, up to the largest 32 bits hold, reads
    // back; one past it is not a serial number.
    SettingsImage top = plant(3, 4294967295u);
    std::string text = settings_file_text(top, 410, "2026-12-08 10:15:00");
    Loaded same = load(text, top);
    ASSERT_EQ(same.read, 0) << same.message;
    ASSERT_EQ(same.load, 0) << same.message;
    EXPECT_EQ(same.result.image.bytes, top.bytes);
    EXPECT_NE(load(replaced(text, "serial_number=4294967295", "serial_number=4294967296"), top).read, 0);

    // A Controller's text starting with a form feed, which the file's line
    // loses, loads back to what the Controller holds.
    SettingsImage odd = plant(3);
    const char phone[] = "\f\f89161234567";
    std::copy_n(phone, sizeof phone - 1, settings_item(odd, F::Phones, 1).begin());
    Loaded back = load(settings_file_text(odd, 410, "2026-12-08 10:15:00"), odd);
    ASSERT_EQ(back.load, 0) << back.message;
    EXPECT_EQ(back.result.image.bytes, odd.bytes);
}

TEST(SettingsFile, RefusesABadValueOrADamagedFileNamingKeyAndLine)
{
    SettingsImage device = plant(3);
    std::string text = settings_file_text(device, 410, "2026-12-08 10:15:00");
    struct Case {
        const char* what;
        std::string text;
        int read, load;
        std::string names;
    } cases[] = {
        {"out of range", replaced(text, "mains.low=180", "mains.low=150"), 0, -1,
         format("Строка %d: «mains.low = 150»", line_of(text, "mains.low="))},
        {"outside the cell window", replaced(text, "battery.test_voltage=46.0", "battery.test_voltage=50.0"), 0, -1,
         format("Строка %d: «battery.test_voltage = 50.0»", line_of(text, "battery.test_voltage="))},
        {"malformed number", replaced(text, "battery.float_voltage=54.0", "battery.float_voltage=54,0"), 0, -1,
         format("Строка %d: «battery.float_voltage = 54,0» — не число", line_of(text, "battery.float_voltage="))},
        {"no row", replaced(text, "main.time_zone=51", "main.time_zone=97"), 0, -1, "строки 97 нет в списке"},
        {"phone letters", replaced(text, "monitoring.phone1=", "monitoring.phone1=+7abc"), 0, -1,
         "monitoring.phone1"},
        {"octet", replaced(text, "network.ip1=0", "network.ip1=256"), 0, -1, "network.ip1"},
        {"unknown key", replaced(text, "mains.low=", "mains.lowest=1\nmains.low="), -2, 0,
         format("Строка %d: «mains.lowest»", line_of(text, "mains.low="))},
        {"not a settings file", "<html>не то</html>", -1, 0, "не является файлом настроек"},
        {"a key file of something else", "[Desktop Entry]\nName=x\n", -1, 0, "не является файлом настроек"},
        {"truncated", text.substr(0, text.size() - 30), -2, 0, "обрезан"},
        {"truncated in the middle", text.substr(0, text.find("[raw]") + 40), -2, 0, "обрезан"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Loaded l = load(c.text, device);
        EXPECT_EQ(l.read, c.read) << l.message;
        if (c.read == 0) {
            EXPECT_EQ(l.load, c.load) << l.message;
        }
        EXPECT_NE(l.message.find(c.names), std::string::npos) << l.message;
    }
    // A layout-3 file that says it is layout 1 keeps a key layout 1 lacks.
    Loaded other = load(replaced(replaced(text, "protocol_version=410", "protocol_version=300"), "layout=3",
                                 "layout=1"), device);
    EXPECT_EQ(other.read, -2);
    EXPECT_NE(other.message.find(format("Строка %d: параметра «rectifiers.energy_saving» нет в раскладке 1",
                                        line_of(text, "rectifiers.energy_saving="))),
              std::string::npos)
        << other.message;
}

TEST(SettingsFile, LoadsAcrossLayoutsByKeyAndListsWhatTheTargetLacks)
{
    SettingsImage from = plant(3);
    settings_set_u16(from, F::FloatVoltage, 545);
    SettingsImage target = plant(1, 100777);
    settings_item(target, F::EventMasks)[7] = 0x11;
    std::string text = settings_file_text(from, 410, "2026-12-08 10:15:00");
    Loaded l = load(text, target, true);
    ASSERT_EQ(l.load, 0) << l.message;
    EXPECT_EQ(l.result.missing, std::vector<std::string>{"rectifiers.energy_saving"});
    EXPECT_EQ(settings_u16(l.result.image, F::FloatVoltage), 545);
    EXPECT_EQ(settings_u32(l.result.image, F::SerialNumber), 100777u);
    EXPECT_EQ(settings_event_mask(l.result.image, 1)[0], settings_event_mask(target, 1)[0]);
    auto changes = settings_changes(target, l.result.image);
    ASSERT_EQ(changes.size(), 1u);

    // Same layout from another Controller: its serial number stays ours.
    Loaded same = load(text, plant(3, 100777), true);
    ASSERT_EQ(same.load, 0) << same.message;
    EXPECT_EQ(settings_u32(same.result.image, F::SerialNumber), 100777u);
}

TEST(SettingsFile, AHandEditWinsOverTheOtherKeyOfTheSameSettingLeftAsSaved)
{
    // The float voltage is also the load-bus voltage: one word, two keys.
    SettingsImage device = plant(3);
    std::string text = settings_file_text(device, 410, "2026-12-08 10:15:00");
    ASSERT_NE(line_of(text, "load.epu_voltage=54.0"), -1);
    for (const char* key : {"battery.float_voltage=", "load.epu_voltage="}) {
        SCOPED_TRACE(key);
        Loaded l = load(replaced(text, std::string(key) + "54.0", std::string(key) + "54.5"), device);
        ASSERT_EQ(l.load, 0) << l.message;
        EXPECT_EQ(settings_u16(l.result.image, F::FloatVoltage), 545);
    }
    // Edited both ways, neither is taken, and the message names the other.
    Loaded both = load(replaced(replaced(text, "battery.float_voltage=54.0", "battery.float_voltage=54.5"),
                                "load.epu_voltage=54.0", "load.epu_voltage=53.5"), device);
    EXPECT_EQ(both.load, -1);
    EXPECT_NE(both.message.find("задает эту же настройку иначе"), std::string::npos) << both.message;
}

TEST(SettingsFile, CarriesLostEditsOntoANewerDeviceCopy)
{
    SettingsImage base = plant(2);
    SettingsImage edited = base;
    settings_set_u16(edited, F::MainsLow, 190);
    SettingsImage now = base;
    settings_set_u16(now, F::MainsHigh, 270); // changed meanwhile by someone else
    SettingsImage carried = settings_carry_edits(base, edited, now);
    EXPECT_EQ(settings_u16(carried, F::MainsLow), 190);
    EXPECT_EQ(settings_u16(carried, F::MainsHigh), 270);
    EXPECT_EQ(settings_changes(now, carried).size(), 1u);
    // Kept from another layout: nothing is carried.
    EXPECT_EQ(settings_carry_edits(plant(3), edited, now).bytes, now.bytes);
}

} // namespace
