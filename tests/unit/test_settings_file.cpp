// Settings files: what a saved file says, what reading it refuses, and what
// loading it changes in the edit copy, across layouts and locales.
#include <gtest/gtest.h>

#include <glib.h>

#include <algorithm>
#include <clocale>
#include <cstring>
#include <string>

#include "base/text_format.h"
#include "settings/apply_plan.h"
#include "settings/bindings.h"
#include "settings/masks.h"
#include "settings/settings_file.h"
#include "settings/setting_units.h"

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
        {"no row", replaced(text, "main.time_zone=+00:45", "main.time_zone=+99:00"), 0, -1,
         "«main.time_zone = +99:00» — нет такого значения в списке"},
        {"phone letters", replaced(text, "monitoring.phone1=", "monitoring.phone1=+7abc"), 0, -1,
         "monitoring.phone1"},
        {"octet", replaced(text, "network.ip1=0", "network.ip1=256"), 0, -1, "network.ip1"},
        {"unknown key", replaced(text, "mains.low=", "mains.lowest=1\nmains.low="), -2, 0,
         format("Строка %d: «mains.lowest»", line_of(text, "mains.low="))},
        {"two points", replaced(text, "battery.float_voltage=54.0", "battery.float_voltage=53.5.9"), 0, -1,
         "«battery.float_voltage = 53.5.9» — не число"},
        {"a key given twice behind a form feed", replaced(text, "mains.low=", "mains.low\f=200\nmains.low="), -2, 0,
         format("Строка %d: «mains.low» уже задан", line_of(text, "mains.low=") + 1)},
        {"WINDOWS-1251", replaced(text, "site=", "site=\xD3\xE7\xE5\xEB"), -2, 0,
         format("Строка %d: текст не в кодировке UTF-8", line_of(text, "site="))},
        {"a minimum above its maximum", replaced(text, "temperature.t2_min=-5.0", "temperature.t2_min=6.0"), 0, -1,
         "«Минимум Т2» (temperature.t2_min = 6.0) больше, чем «Максимум Т2» (temperature.t2_max = 0.0)"},
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
    // What Windows Notepad saves: a byte-order mark before the text.
    Loaded notepad = load("\xEF\xBB\xBF" + replaced(text, "mains.low=180", "mains.low=190"), device);
    EXPECT_EQ(notepad.load, 0) << notepad.message;
    EXPECT_EQ(settings_u16(notepad.result.image, F::MainsLow), 190);
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
    std::string text = settings_file_text(from, 410, "2026-12-08 10:15:00");
    Loaded l = load(text, target, true);
    ASSERT_EQ(l.load, 0) << l.message;
    EXPECT_EQ(l.result.missing, std::vector<std::string>{"rectifiers.energy_saving"});
    EXPECT_TRUE(l.result.not_carried.empty());
    EXPECT_EQ(settings_u16(l.result.image, F::FloatVoltage), 545);
    EXPECT_EQ(settings_u32(l.result.image, F::SerialNumber), 100777u);
    // Only the one value differs: every word and event of the file found its place.
    auto changes = settings_changes(target, l.result.image);
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(l.result.image.bytes, [&] {
        SettingsImage expected = target;
        settings_set_u16(expected, F::FloatVoltage, 545);
        return expected.bytes;
    }());

    // Same layout from another Controller: its serial number stays ours.
    Loaded same = load(text, plant(3, 100777), true);
    ASSERT_EQ(same.load, 0) << same.message;
    EXPECT_EQ(settings_u32(same.result.image, F::SerialNumber), 100777u);
}

TEST(SettingsFile, ALayout1FileCarriesEveryNameMaskAndAssignmentIntoLayout3AndSaysWhatHasNoPlace)
{
    SettingsImage from = plant(1, 100555);
    for (int i = 0; i < 4; ++i)
        device_string_from_utf8(settings_item(from, F::RelayNames, i), format("Реле %d", i + 1).c_str());
    for (int i = 0; i < 52; ++i)
        device_string_from_utf8(settings_item(from, F::LoadBreakerNames, i), format("Фидер %d", i + 1).c_str());
    for (int i = 0; i < 4; ++i)
        device_string_from_utf8(settings_item(from, F::ContactorNames, i), format("КМ%d", i + 1).c_str());
    for (int i = 0; i < 16; ++i)
        device_string_from_utf8(settings_item(from, F::DryContactNames, i), format("Дверь %d", i + 1).c_str());
    settings_set_u16(from, F::BatteryBreakerContactor, 2, 0);
    settings_set_u16(from, F::LoadBreakerContactor, 3, 4);
    settings_set_u16(from, F::BlockMonitorAddress, 5 * 8 + 2, 1);
    settings_set_u16(from, F::DryContactTypes, 0x00F0);
    settings_set_u16(from, F::ContactorBySK, 0x5);
    settings_set_u16(from, F::RectifierType, 0x8000 | 3); // a model of the list
    settings_set_u16(from, F::ContactorCount, 1);
    settings_set_u16(from, F::ContactorVoltage, 420, 0); // K2..K4 unused: 0.0 V
    set_mask_bit(from, 160, 1, true); // rectifier 1: code 160 in layouts 1 and 3
    set_mask_bit(from, 220, 2, true); // no rectifier reserve: 220 in layout 1, 340 in layout 3
    set_mask_bit(from, 224, 3, true); // mains phase 1: 224, then 352
    set_mask_bit(from, 35, 4, true);  // load breaker QH1
    set_mask_bit(from, 288, 5, true); // dry contact 1: 288, then 416
    set_mask_bit(from, 256, 6, true); // T2 below minimum: 256, then 384

    SettingsImage target = plant(3, 100777);
    for (int k = 0; k < 4; ++k)
        settings_set_u16(target, F::ContactorVoltage, 430, k);
    set_mask_bit(target, 341, 1, true); // energy saving: layout 3 only, stays as it is
    settings_set_u16(target, F::RectifierType, 0x0105); // class 1, type 5
    Loaded l = load(settings_file_text(from, 300, "2026-12-08 10:15:00"), target, true);
    ASSERT_EQ(l.load, 0) << l.message;
    const SettingsImage& got = l.result.image;
    for (F field : {F::RelayNames, F::LoadBreakerNames, F::ContactorNames, F::DryContactNames,
                    F::BatteryBreakerContactor, F::LoadBreakerContactor, F::BlockMonitorAddress})
        for (int i = 0; i < settings_field_info(field).items; ++i)
            EXPECT_TRUE(std::ranges::equal(settings_item(got, field, i), settings_item(from, field, i)))
                << static_cast<int>(field) << " " << i;
    EXPECT_EQ(settings_u16(got, F::DryContactTypes), 0x00F0);
    EXPECT_EQ(settings_u16(got, F::RectifierType), 0x8003);
    EXPECT_EQ(settings_u16(got, F::ContactorBySK), 0x5);
    EXPECT_TRUE(mask_bit(got, 160, 1));
    EXPECT_TRUE(mask_bit(got, 340, 2));
    EXPECT_FALSE(mask_bit(got, 220, 2));
    EXPECT_TRUE(mask_bit(got, 352, 3));
    EXPECT_TRUE(mask_bit(got, 35, 4));
    EXPECT_TRUE(mask_bit(got, 416, 5));
    EXPECT_TRUE(mask_bit(got, 384, 6));
    EXPECT_TRUE(mask_bit(got, 341, 1));
    EXPECT_EQ(settings_u32(got, F::SerialNumber), 100777u);

    // Every one of them is an edit the review lists; the unused contactors'
    // 0.0 V is brought into the window of 24 cells and marked.
    auto changes = settings_changes(target, got);
    auto row = [&](const std::string& name) {
        auto it = std::find_if(changes.begin(), changes.end(), [&](const SettingsChange& c) { return c.name == name; });
        return it == changes.end() ? std::string("(нет)") : it->to;
    };
    EXPECT_EQ(row("Название QH52"), "Фидер 52");
    EXPECT_EQ(row("Название СК16"), "Дверь 16");
    EXPECT_EQ(row("Контактор QH5"), "К3");
    EXPECT_EQ(row("УПКБ группы 2"), "адрес 5, канал 3");
    EXPECT_EQ(row("НЗ/НР СК5"), "вкл.");
    EXPECT_EQ(settings_u16(got, F::ContactorVoltage, 1), 17 * 24);
    settings_mark_limited(changes, got, l.result.limited);
    EXPECT_EQ(row("Напряжение отключения K2"), "40.8 (ограничено)");
    EXPECT_EQ(row("Напряжение отключения K1"), "42.0");

    // Back into layout 1: what layout 1 has no place for is said, not dropped.
    SettingsImage three = plant(3);
    settings_set_u16(three, F::EnergySaving, 1);
    settings_set_u16(three, F::RectifierCount, 100);
    set_mask_bit(three, 259, 1, true); // rectifier 100
    set_mask_bit(three, 341, 2, true); // energy saving
    Loaded back = load(settings_file_text(three, 410, "2026-12-08 10:15:00"), plant(1), true);
    ASSERT_EQ(back.load, 0) << back.message;
    std::string lost;
    for (const std::string& line : back.result.not_carried)
        lost += line + "\n";
    EXPECT_NE(lost.find("Режим энергоэффективности"), std::string::npos) << lost;
    EXPECT_NE(lost.find("маска «Авария 1ст», события 259"), std::string::npos) << lost;
    EXPECT_NE(lost.find("маска «Авария 2ст», события 341"), std::string::npos) << lost;
    EXPECT_EQ(settings_u16(back.result.image, F::RectifierCount), 60);
    auto back_changes = settings_changes(plant(1), back.result.image);
    settings_mark_limited(back_changes, back.result.image, back.result.limited);
    EXPECT_TRUE(std::any_of(back_changes.begin(), back_changes.end(), [](const SettingsChange& c) {
        return c.name == "Выпрямительных блоков" && c.to == "60 (ограничено)";
    }));
}

TEST(SettingsFile, EveryValueThatBecomesAnEditPassesThePageRulesWhereverItComesFrom)
{
    SettingsImage device = plant(3);
    const std::string date = "2026-12-08 10:15:00";
    // Words of [raw] whose keys were removed: refused with the word and its key.
    struct Hostile {
        F field;
        uint16_t value;
        const char* key;
        int word;
    } hostile[] = {
        {F::RelayCount, 99, "configuration.relays", 14},
        {F::CellsPerGroup, 0, "battery.cells", 468},
        {F::BatteryCapacity, 65535, "battery.capacity", 470},
        {F::MonitoringMode, 7, "monitoring.mode", 673},
    };
    for (const Hostile& h : hostile) {
        SCOPED_TRACE(h.key);
        SettingsImage edited = device;
        settings_set_u16(edited, h.field, h.value);
        std::string text = settings_file_text(edited, 410, date);
        size_t at = text.find(std::string(h.key) + "=");
        ASSERT_NE(at, std::string::npos);
        text.erase(at, text.find('\n', at) + 1 - at);
        Loaded l = load(text, device);
        EXPECT_EQ(l.load, -1);
        EXPECT_NE(l.message.find(format("Слово %d группы [raw] (%s", h.word, h.key)), std::string::npos) << l.message;
    }
    // The same words copied from another Controller are brought into range and marked.
    {
        SettingsImage edited = device;
        settings_set_u16(edited, F::RelayCount, 99);
        settings_set_u16(edited, F::CellsPerGroup, 0);
        std::string text = settings_file_text(edited, 410, date);
        for (const char* key : {"configuration.relays=", "battery.cells="})
            text.erase(text.find(key), text.find('\n', text.find(key)) + 1 - text.find(key));
        Loaded copied = load(text, plant(3, 100777), true);
        ASSERT_EQ(copied.load, 0) << copied.message;
        EXPECT_EQ(settings_u16(copied.result.image, F::RelayCount), 4);
        EXPECT_EQ(settings_u16(copied.result.image, F::CellsPerGroup), 11);
        auto changes = settings_changes(plant(3, 100777), copied.result.image);
        settings_mark_limited(changes, copied.result.image, copied.result.limited);
        EXPECT_TRUE(std::any_of(changes.begin(), changes.end(), [](const SettingsChange& c) {
            return c.name == "Сигнальных реле" && c.to == "4 (ограничено)";
        }));
        EXPECT_TRUE(std::any_of(changes.begin(), changes.end(), [](const SettingsChange& c) {
            return c.name == "Напряжение содержания" && c.to == "25.3 (ограничено)";
        }));
    }
    // A name of all ten bytes, saved before someone renamed it: restored as the
    // page keeps names, and marked.
    {
        SettingsImage saved = device;
        device_string_from_utf8(settings_item(saved, F::LoadBreakerNames, 6), "Вентиляция");
        SettingsImage renamed = device;
        device_string_from_utf8(settings_item(renamed, F::LoadBreakerNames, 6), "Вент");
        Loaded back = load(settings_file_text(saved, 410, date), renamed);
        ASSERT_EQ(back.load, 0) << back.message;
        EXPECT_EQ(settings_name(back.result.image, F::LoadBreakerNames, 6), "Вентиляци");
        ASSERT_EQ(back.result.limited.size(), 1u);
        EXPECT_EQ(back.result.limited[0].name, "Название QH7");
    }
    // A relay count of 99 in [raw] under a key that says 2: the key is the edit.
    {
        SettingsImage edited = device;
        settings_set_u16(edited, F::RelayCount, 99);
        Loaded l = load(replaced(settings_file_text(edited, 410, date), "configuration.relays=99",
                                 "configuration.relays=2"), device);
        ASSERT_EQ(l.load, 0) << l.message;
        EXPECT_EQ(settings_u16(l.result.image, F::RelayCount), 2);
    }

    // One word, two keys: the load-bus voltage may not set a float voltage
    // outside the window of 24 cells while battery groups exist.
    std::string text = settings_file_text(device, 410, date);
    Loaded epu = load(replaced(text, "load.epu_voltage=54.0", "load.epu_voltage=70.0"), device);
    EXPECT_EQ(epu.load, -1);
    EXPECT_NE(epu.message.find(format("Строка %d: «load.epu_voltage = 70.0» — значение вне допустимого диапазона "
                                      "53.2–55.2", line_of(text, "load.epu_voltage="))),
              std::string::npos)
        << epu.message;
    SettingsImage no_batteries = device;
    settings_set_u16(no_batteries, F::BatteryGroupCount, 0);
    Loaded bus = load(replaced(settings_file_text(no_batteries, 410, date), "load.epu_voltage=54.0",
                               "load.epu_voltage=70.0"), no_batteries);
    ASSERT_EQ(bus.load, 0) << bus.message;
    EXPECT_EQ(settings_u16(bus.result.image, F::FloatVoltage), 700);

    // A Controller's value outside the rules (a charge current of 20.00 A) is its
    // own: loaded onto itself it stays; onto another Controller it is brought
    // into range and marked in the review.
    SettingsImage seeded = device;
    settings_set_u16(seeded, F::ChargeCurrent, 2000);
    device_string_from_utf8(settings_item(seeded, F::Comment), "ABCDEFGHIJ"); // all 10 bytes
    std::string own = settings_file_text(seeded, 410, date);
    Loaded itself = load(own, seeded);
    ASSERT_EQ(itself.load, 0) << itself.message;
    EXPECT_EQ(itself.result.image.bytes, seeded.bytes);
    // Typed into another Controller's file, the text this one holds is taken whole.
    Loaded named = load(replaced(text, "main.comment=Узел 1", "main.comment=ABCDEFGHIJ"), seeded, true);
    ASSERT_EQ(named.load, 0) << named.message;
    EXPECT_TRUE(std::ranges::equal(settings_item(named.result.image, F::Comment), settings_item(seeded, F::Comment)));
    Loaded other = load(own, device, true);
    ASSERT_EQ(other.load, 0) << other.message;
    EXPECT_EQ(settings_u16(other.result.image, F::ChargeCurrent), 100);
    auto changes = settings_changes(device, other.result.image);
    settings_mark_limited(changes, other.result.image, other.result.limited);
    auto has = [&](const std::string& row) {
        return std::any_of(changes.begin(), changes.end(),
                           [&](const SettingsChange& c) { return c.name + " | " + c.from + " | " + c.to == row; });
    };
    EXPECT_TRUE(has("Ограничение тока заряда | 0.25 | 1.00 (ограничено)"));
    EXPECT_TRUE(has("Комментарий | Узел 1 | ABCDEFGHI (ограничено)"));
    // Typed by hand out of range, the same value refuses the file.
    Loaded typed = load(replaced(own, "battery.charge_current=20.00", "battery.charge_current=30.00"), device, true);
    EXPECT_EQ(typed.load, -1);
    EXPECT_NE(typed.message.find("«battery.charge_current = 30.00» — значение вне допустимого диапазона 0.10–1.00"),
              std::string::npos)
        << typed.message;
}

TEST(SettingsFile, FilesSayWhatTheyHoldAndRefuseWhatAPersonWouldMisread)
{
    SettingsImage device = plant(3);
    device_string_from_utf8(settings_item(device, F::Password), "1234");
    device_string_from_utf8(settings_item(device, F::MonitoringPassword), "654321");
    const std::string date = "2026-12-08 10:15:00";
    std::string text = settings_file_text(device, 410, date);
    // Combos as the page shows them; no password anywhere unless asked for.
    for (const char* line : {"main.time_zone=+00:45\n", "battery.elements_per_block=1\n",
                             "configuration.load_shunt_rating=15 А\n", "monitoring.mode=RS-485\n",
                             "contents=controller\n"})
        EXPECT_NE(text.find(line), std::string::npos) << line;
    EXPECT_EQ(text.find("password"), std::string::npos);
    EXPECT_EQ(text.find("3132 3334"), std::string::npos);
    std::string with = settings_file_text(device, 410, date, {true, true});
    EXPECT_NE(with.find("main.password=1234\n"), std::string::npos);
    EXPECT_NE(with.find("contents=edited\n"), std::string::npos);
    // Without password keys the Controller's passwords stay, whatever they are.
    SettingsImage other = device;
    device_string_from_utf8(settings_item(other, F::Password), "9999");
    Loaded kept = load(text, other);
    ASSERT_EQ(kept.load, 0) << kept.message;
    EXPECT_EQ(settings_name(kept.result.image, F::Password, 0), "9999");
    EXPECT_EQ(settings_name(kept.result.image, F::MonitoringPassword, 0), "654321");

    // An older file's row numbers still read.
    std::string old = replaced(replaced(replaced(text, "format=2\n", ""), "main.time_zone=+00:45", "main.time_zone=60"),
                               "battery.elements_per_block=1", "battery.elements_per_block=2");
    Loaded rows = load(old, device);
    ASSERT_EQ(rows.load, 0) << rows.message;
    EXPECT_EQ(settings_s16(rows.result.image, F::Timezone), 12);
    EXPECT_EQ(settings_u16(rows.result.image, F::ElementsPerBlock), 2);

    Loaded spaced = load(replaced(text, "mains.low=180", "mains.low=190 "), device);
    ASSERT_EQ(spaced.load, 0) << spaced.message;
    EXPECT_EQ(settings_u16(spaced.result.image, F::MainsLow), 190);

    std::string nul = replaced(text, "main.comment=Узел 1", std::string("main.comment=Узел\0 2", sizeof "main.comment=Узел\0 2" - 1));
    struct Case {
        const char* what;
        std::string text;
        int read, load;
        std::string names;
    } cases[] = {
        {"hexadecimal", replaced(text, "mains.low=180", "mains.low=0x10"), 0, -1, "«mains.low = 0x10» — не число"},
        {"hexadecimal octet", replaced(text, "network.ip1=0", "network.ip1=0x10"), 0, -1, "network.ip1 = 0x10"},
        {"NUL", nul, -2, 0, format("Строка %d: нулевой байт", line_of(text, "main.comment="))},
        {"tab in the comment", replaced(text, "main.comment=Узел 1", "main.comment=Узел\\t1"), 0, -1,
         format("Строка %d: «main.comment» — табуляция или перевод строки", line_of(text, "main.comment="))},
        {"twice", replaced(text, "mains.high=250", "mains.high=250\nmains.low=190"), -2, 0,
         format("Строка %d: «mains.low» уже задан в строке %d", line_of(text, "mains.high=") + 1,
                line_of(text, "mains.low="))},
        {"over 1 MiB", text + "# " + std::string(kSettingsFileMaxSize, 'x') + "\n", -1, 0, "больше 1 МиБ"},
        {"a long value", replaced(text, "main.comment=Узел 1", "main.comment=" + std::string(100000, 'W')), 0, -1,
         "«main.comment = " + std::string(60, 'W') + "…»"},
        {"a cut word range", replaced(text, "w0016=", "w0016=12"), -2, 0, "слова 16–31 группы [raw]"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Loaded l = load(c.text, device);
        EXPECT_EQ(l.read, c.read) << l.message;
        if (c.read == 0) {
            EXPECT_EQ(l.load, c.load) << l.message;
        }
        EXPECT_NE(l.message.find(c.names), std::string::npos) << l.message;
        EXPECT_LT(l.message.size(), 400u);
    }
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

TEST(SettingsCarry, EachSettingIsWhollyThePagesOrTheControllersAndBothChangedIsAsked)
{
    SettingsImage base = plant(2);
    settings_set_u16(base, F::BatteryCapacity, 4000);
    SettingsImage edited = base;
    settings_set_u16(edited, F::BatteryCapacity, 4095); // only the low byte differs
    settings_set_u16(edited, F::MainsLow, 190);
    settings_set_u16(edited, F::FloatVoltage, 545);
    SettingsImage now = base;
    settings_set_u16(now, F::BatteryCapacity, 4864);   // another client, high byte
    settings_set_u16(now, F::MainsHigh, 270);          // another client, a setting nobody edited
    settings_set_u16(now, F::CellsPerGroup, 18);       // the float voltage's limits follow it
    SettingsCarried carried = settings_carry_edits(base, edited, now);
    EXPECT_EQ(settings_u16(carried.image, F::BatteryCapacity), 4095);
    EXPECT_EQ(settings_u16(carried.image, F::MainsLow), 190);
    EXPECT_EQ(settings_u16(carried.image, F::MainsHigh), 270);
    EXPECT_LE(settings_u16(carried.image, F::FloatVoltage), 414) << "18 cells hold at most 41.4 V";
    ASSERT_EQ(carried.conflicts.size(), 1u);
    EXPECT_EQ(settings_conflicts_text(carried.conflicts), "Ёмкость группы: в Контроллере 4864, на странице 4095");
    SettingsImage controllers = carried.image;
    settings_take_controller_value(controllers, now, carried.conflicts[0]);
    EXPECT_EQ(settings_u16(controllers, F::BatteryCapacity), 4864);
    EXPECT_TRUE(settings_conflicts_open(carried.conflicts, controllers, now).empty());
    // The Controller changed again: the recorded value no longer holds.
    settings_set_u16(now, F::BatteryCapacity, 4800);
    EXPECT_TRUE(settings_conflicts_open(carried.conflicts, carried.image, now).empty());

    // A text the Controller rewrote with the same letters is no conflict, and
    // what lies after its end stays the Controller's.
    SettingsImage same = base;
    settings_item(same, F::Comment)[9] = 0x55;
    device_string_from_utf8(settings_item(edited, F::Comment), "Узел 2");
    SettingsCarried texts = settings_carry_edits(base, base, same);
    EXPECT_TRUE(texts.conflicts.empty());
    EXPECT_EQ(texts.image.bytes, same.bytes);
    // Kept from another layout: nothing is carried.
    EXPECT_EQ(settings_carry_edits(plant(3), edited, now).image.bytes, now.bytes);
}

// The whole image, word by word in every layout: a [raw] word changed in a
// file is either a setting the review names, refused with its word named, or
// kept as the Controller holds it with a line saying so. Never written unseen.
TEST(SettingsFile, EveryWordOfEachLayoutIsReviewedByNameOrKeptAsTheControllerHoldsIt)
{
    for (int layout = 1; layout <= 3; ++layout) {
        SettingsImage device = plant(layout);
        const std::string text =
            settings_file_text(device, layout == 1 ? 300 : layout == 2 ? 400 : 410, "2026-12-08 10:15:00");
        const std::vector<uint8_t>& owned = settings_unit_bits(layout);
        int named = 0, kept = 0, refused = 0;
        for (int w = 3; w < settings_word_count(layout); ++w) {
            SCOPED_TRACE(format("layout %d, word %d", layout, w));
            std::string key = format("\nw%04d=", w / 16 * 16);
            size_t at = text.find(key);
            ASSERT_NE(at, std::string::npos);
            std::string changed = text;
            for (size_t i = at + key.size() + 5 * static_cast<size_t>(w % 16), n = 0; n < 4; ++i, ++n)
                changed[i] = "FEDCBA9876543210"[g_ascii_xdigit_value(changed[i])];
            Loaded l = load(changed, device);
            ASSERT_EQ(l.read, 0) << l.message;
            if (l.load != 0) {
                // Refused with the word, or with the key that now disagrees with it.
                EXPECT_TRUE(l.message.find(format("Слово %d", w)) != std::string::npos ||
                            l.message.rfind("Строка ", 0) == 0)
                    << l.message;
                ++refused;
                continue;
            }
            for (const SettingsChange& c : settings_changes(device, l.result.image))
                EXPECT_NE(c.name.rfind("Слово", 0), 0u) << c.name;
            bool said = std::any_of(l.result.not_carried.begin(), l.result.not_carried.end(),
                                    [&](const std::string& line) {
                                        return line.find(format("слово %d ", w)) != std::string::npos;
                                    });
            uint16_t x, y;
            std::memcpy(&x, l.result.image.data() + 2 * w, 2);
            std::memcpy(&y, device.data() + 2 * w, 2);
            uint16_t mask;
            uint8_t bytes[2] = {owned[2 * w], owned[2 * w + 1]};
            std::memcpy(&mask, bytes, 2);
            bool hidden = mask != 0xFFFF;
            EXPECT_EQ(x & ~mask, y & ~mask) << "a bit no setting owns was taken from the file";
            EXPECT_EQ(said, hidden);
            (x != y ? named : kept)++;
        }
        EXPECT_GT(named, 0);
        EXPECT_GT(kept, 0);
        (void)refused;
    }
}

TEST(SettingsFile, TheContactorsBySkWordIsFourSettingsAndTheRestStaysTheControllers)
{
    SettingsImage device = plant(2);
    SettingsImage file = device;
    settings_set_u16(file, F::ContactorBySK, 0xFFF2);
    Loaded l = load(settings_file_text(file, 400, "2026-12-08 10:15:00"), device);
    ASSERT_EQ(l.load, 0) << l.message;
    EXPECT_EQ(settings_u16(l.result.image, F::ContactorBySK), 0x0002);
    std::vector<SettingsChange> review = settings_changes(device, l.result.image);
    ASSERT_EQ(review.size(), 1u);
    EXPECT_EQ(review[0].name, "K2 по СК");
    ASSERT_EQ(l.result.not_carried.size(), 1u);
    EXPECT_NE(l.result.not_carried[0].find("0xFFF0"), std::string::npos) << l.result.not_carried[0];
}

} // namespace

namespace {

TEST(SettingsFile, AClampOntoTheControllersOwnValueIsSaidAndTextsCompareAsThePageShowsThem)
{
    SettingsImage device = plant(3);
    settings_set_u16(device, F::MainsLow, 170);
    // Saved on another Controller whose mains low (160) is below this one's range.
    SettingsImage other = plant(3, 100999);
    settings_set_u16(other, F::MainsLow, 160);
    Loaded copied = load(settings_file_text(other, 410, "2026-12-08 10:15:00"), device, true);
    ASSERT_EQ(copied.load, 0) << copied.message;
    EXPECT_EQ(settings_u16(copied.result.image, F::MainsLow), 170);
    EXPECT_TRUE(std::any_of(copied.result.limited.begin(), copied.result.limited.end(),
                            [](const SettingsLimited& l) { return l.name == "Нижний порог напряжения"; }));

    // Bytes after a text's end differ: the same comment, no row, and the
    // Controller's bytes are what would be written.
    SettingsImage tail = device;
    settings_item(tail, F::Comment)[9] = 0x41;
    Loaded same = load(settings_file_text(tail, 410, "2026-12-08 10:15:00"), device);
    ASSERT_EQ(same.load, 0) << same.message;
    EXPECT_TRUE(settings_changes(device, same.result.image).empty());
    EXPECT_EQ(same.result.image.bytes, device.bytes);
}

} // namespace
