#include <gtest/gtest.h>

#include <signal.h>

#include <cctype>
#include <clocale>
#include <cstring>
#include <string>

#include "base/gdk_lock.h"
#include "base/headless_ui.h"
#include "cli/plant_report.h"
#include "cli/session.h"
#include "link/connection.h"
#include "modbus/exchange.h"
#include "status/display_hooks.h"

namespace {

using F = SettingsField;

// A layout-3 plant with three measured phases, a battery and two
// temperature sensors; masks 1 and 2 as a department sets them.
struct Plant {
    StatusImage s;
    StatusImage previous;
    SettingsImage device;
    SettingsImage reference;

    Plant()
    {
        s.identification[1] = 410;
        device.layout = reference.layout = 3;
        set(F::MainsPhaseCount, 3);
        set(F::MainsFlags, settings_bits::kMainsMeasurement);
        set(F::BatteryGroupCount, 2);
        set(F::TempSensorCount, 2);
        for (int i = 1; i <= 3; ++i)
            phase(i, 228, 0);
        s.load[0] = 5350;   // 53.50 V
        s.battery[2] = 1;   // float charge
        s.temperatures[0] = 215;
    }
    void set(F field, uint16_t value, int item = 0) { settings_set_u16(device, field, value, item); }
    void phase(int i, uint16_t volts, uint16_t state)
    {
        s.mains[2 * (i - 1)] = volts;
        s.mains[2 * (i - 1) + 1] = state;
    }
    // An active event, selected by mask k, counted as the Controller counts it.
    void alarm(int k, int code)
    {
        auto* bits = reinterpret_cast<uint8_t*>(s.events[2].data() + 6);
        bits[code / 8] |= static_cast<uint8_t>(1 << (code % 8));
        auto mask = settings_item(device, F::EventMasks, k - 1);
        mask[code / 8] |= static_cast<uint8_t>(1 << (code % 8));
        s.events[2][k - 1]++;
    }
    CycleView view() const { return build_cycle_view(s, previous, 3, device, reference, nullptr); }
};

// A strict reader of one JSON value: true when `text` is exactly one
// well-formed value (and a newline).
struct JsonReader {
    const std::string& t;
    size_t i = 0;
    void space()
    {
        while (i < t.size() && std::strchr(" \t\r\n", t[i]))
            ++i;
    }
    bool literal(const char* word)
    {
        size_t n = std::strlen(word);
        if (t.compare(i, n, word) != 0)
            return false;
        i += n;
        return true;
    }
    bool string()
    {
        if (t[i] != '"')
            return false;
        for (++i; i < t.size(); ++i) {
            unsigned char c = t[i];
            if (c == '"') {
                ++i;
                return true;
            }
            if (c < 0x20)
                return false;
            if (c == '\\') {
                ++i;
                if (i >= t.size() || !std::strchr("\"\\/bfnrtu", t[i]))
                    return false;
                if (t[i] == 'u')
                    for (int k = 0; k < 4; ++k)
                        if (++i >= t.size() || !std::isxdigit(static_cast<unsigned char>(t[i])))
                            return false;
            }
        }
        return false;
    }
    bool number()
    {
        size_t start = i;
        if (t[i] == '-')
            ++i;
        if (i >= t.size() || !std::isdigit(static_cast<unsigned char>(t[i])))
            return false;
        if (t[i] == '0' && i + 1 < t.size() && std::isdigit(static_cast<unsigned char>(t[i + 1])))
            return false;
        while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])))
            ++i;
        if (i < t.size() && t[i] == '.') {
            ++i;
            if (i >= t.size() || !std::isdigit(static_cast<unsigned char>(t[i])))
                return false;
            while (i < t.size() && std::isdigit(static_cast<unsigned char>(t[i])))
                ++i;
        }
        return i > start;
    }
    bool value()
    {
        space();
        if (i >= t.size())
            return false;
        char c = t[i];
        bool ok = false;
        if (c == '{' || c == '[') {
            char close = c == '{' ? '}' : ']';
            ++i;
            space();
            if (i < t.size() && t[i] == close) {
                ++i;
                return true;
            }
            for (;;) {
                space();
                if (c == '{') {
                    if (!string())
                        return false;
                    space();
                    if (i >= t.size() || t[i++] != ':')
                        return false;
                }
                if (!value())
                    return false;
                space();
                if (i < t.size() && t[i] == ',') {
                    ++i;
                    continue;
                }
                if (i < t.size() && t[i] == close) {
                    ++i;
                    return true;
                }
                return false;
            }
        }
        if (c == '"')
            ok = string();
        else if (c == 't')
            ok = literal("true");
        else if (c == 'f')
            ok = literal("false");
        else if (c == 'n')
            ok = literal("null");
        else
            ok = number();
        return ok;
    }
    bool document()
    {
        if (!value())
            return false;
        space();
        return i == t.size();
    }
};

bool valid_json(const std::string& text)
{
    JsonReader r{text};
    return r.document();
}

}  // namespace

TEST(PlantCheck, StateFollowsAlarmsMainsAndBattery)
{
    {
        Plant p;
        CheckResult r = plant_check(p.view());
        EXPECT_EQ(r.state, CheckState::Ok);
        EXPECT_EQ(r.line.rfind("RARUR OK - ", 0), 0u) << r.line;
        EXPECT_NE(r.line.find("АБ в содержании"), std::string::npos) << r.line;
    }
    {   // second degree: WARNING, with the list's text
        Plant p;
        p.alarm(2, 98);
        CheckResult r = plant_check(p.view());
        EXPECT_EQ(r.state, CheckState::Warning) << r.line;
        EXPECT_NE(r.line.find("аварии 2 степени: 1"), std::string::npos) << r.line;
    }
    {   // a discharging battery with no alarm selected by the masks: WARNING
        Plant p;
        p.s.battery[2] = 4;
        CheckResult r = plant_check(p.view());
        EXPECT_EQ(r.state, CheckState::Warning) << r.line;
        EXPECT_NE(r.line.find("Разряд АБ"), std::string::npos) << r.line;
    }
    {   // first degree beats second degree and names the event
        Plant p;
        p.alarm(2, 98);
        p.alarm(1, 352);
        CheckResult r = plant_check(p.view());
        EXPECT_EQ(r.state, CheckState::Critical) << r.line;
        EXPECT_NE(r.line.find("аварии 1 степени: 1 (Авария фазы Ф1 сети)"), std::string::npos) << r.line;
    }
    {   // every phase out with masks that select nothing: still CRITICAL
        Plant p;
        p.s.battery[2] = 4;
        for (int i = 1; i <= 3; ++i)
            p.phase(i, 0, 1);
        CheckResult r = plant_check(p.view());
        EXPECT_EQ(r.state, CheckState::Critical) << r.line;
        EXPECT_NE(r.line.find("нет сети"), std::string::npos) << r.line;
    }
    {   // one phase sagging is not the mains lost; a sensor error neither
        Plant p;
        p.phase(2, 172, 1);
        p.phase(3, 0, 3);
        EXPECT_EQ(plant_check(p.view()).state, CheckState::Ok);
        p.phase(1, 0, 1);
        EXPECT_EQ(plant_check(p.view()).state, CheckState::Critical) << "the phases measured are all out";
    }
    {   // no battery fitted: its mode says nothing
        Plant p;
        p.set(F::BatteryGroupCount, 0);
        p.s.battery[2] = 4;
        CheckResult r = plant_check(p.view());
        EXPECT_EQ(r.state, CheckState::Ok) << r.line;
        EXPECT_EQ(r.line.find("battery_current"), std::string::npos) << r.line;
    }
}

TEST(PlantCheck, PerfdataHasUnitsPointDecimalsAndUForWhatIsNotMeasured)
{
    const char* saved = std::setlocale(LC_ALL, nullptr);
    std::string restore = saved ? saved : "C";
    bool russian = std::setlocale(LC_ALL, "ru_RU.UTF-8") != nullptr;
    Plant p;
    p.phase(2, 1200, 0);   // shown capped, as the window does
    p.phase(3, 0, 3);      // sensor error
    p.s.load[3] = 4;       // load not measured
    p.s.temperatures[2] = 1;
    p.s.temperatures[3] = static_cast<uint16_t>(-55);
    // A comment with the plugin line's separator must not split it.
    auto comment = settings_item(p.device, F::Comment, 0);
    std::memcpy(comment.data(), "A|B", 3);
    CheckResult r = plant_check(p.view());
    std::setlocale(LC_ALL, restore.c_str());

    size_t bar = r.line.find(" | ");
    ASSERT_NE(bar, std::string::npos) << r.line;
    EXPECT_EQ(r.line.find('|'), bar + 1) << "one separator only: " << r.line;
    std::string data = r.line.substr(bar + 3);
    EXPECT_NE(data.find("'mains_l1'=228V"), std::string::npos) << data;
    EXPECT_NE(data.find("'mains_l2'=999V"), std::string::npos) << data;
    EXPECT_NE(data.find("'mains_l3'=U"), std::string::npos) << data;
    EXPECT_NE(data.find("'load_voltage'=U 'load_current'=U"), std::string::npos) << data;
    EXPECT_NE(data.find("'temperature1'=U"), std::string::npos) << data;
    EXPECT_NE(data.find("'temperature2'=-5.5C"), std::string::npos) << data;
    EXPECT_NE(data.find("'alarms1'=0 'alarms2'=0"), std::string::npos) << data;
    EXPECT_EQ(data.find(','), std::string::npos) << (russian ? "locale leaked in: " : "") << data;
    EXPECT_EQ(r.line.find('\n'), std::string::npos);
}

TEST(PlantReport, MarkupBecomesPlainTextWithEntitiesDecoded)
{
    EXPECT_EQ(markup_text(red("Сеть")), "Сеть");
    EXPECT_EQ(markup_text("21.5°C &lt;T<sub>min</sub>"), "21.5°C <Tmin");
    EXPECT_EQ(markup_text("&quot;A&amp;B&quot; &#1046;&#x416; & &bogus; &#0;"), "\"A&B\" ЖЖ & &bogus; &#0;");
    EXPECT_EQ(markup_text("cut <span"), "cut ");
}

TEST(PlantReport, JsonIsValidLocaleFreeAndEscapesTheControllersTexts)
{
    Plant p;
    p.alarm(1, 352);
    p.set(F::LoadBreakerCount, 2);
    p.set(F::BatteryFlags, settings_bits::kBlockControl);
    p.set(F::CellsPerGroup, 24);
    p.set(F::ElementsPerBlock, 2);
    p.s.battery_blocks[0][0] = 1337;
    p.s.temperatures[4] = 3;   // sensor 2 error: null, not a number
    auto comment = settings_item(p.device, F::Comment, 0);
    std::memcpy(comment.data(), "a\"b\\c\x01\xC0", 7);   // quote, backslash, control, WINDOWS-1251 "А"
    uint32_t clock = 1796783391;   // 2026-12-09 02:29:51 UTC
    std::memcpy(&p.s.identification[5], &clock, sizeof clock);
    p.set(F::Timezone, static_cast<uint16_t>(-14));   // -3:30, and summer time: -2:30
    p.set(F::SummerTime, settings_bits::kSummerTime);

    const char* saved = std::setlocale(LC_ALL, nullptr);
    std::string restore = saved ? saved : "C";
    std::setlocale(LC_ALL, "ru_RU.UTF-8");
    std::string json = plant_status_json(p.view(), "tcp:host\"1");
    std::setlocale(LC_ALL, restore.c_str());

    EXPECT_TRUE(valid_json(json)) << json;
    EXPECT_NE(json.find("\"address\":\"tcp:host\\\"1\""), std::string::npos);
    EXPECT_NE(json.find("\"comment\":\"a\\\"b\\\\c А\""), std::string::npos) << json;
    EXPECT_NE(json.find("\"load\":{\"alarm\":false,\"voltage\":53.50,"), std::string::npos) << json;
    EXPECT_NE(json.find("\"sensor2\":{\"temperature\":null,\"state\":3}"), std::string::npos) << json;
    EXPECT_NE(json.find("\"first_degree\":1"), std::string::npos) << json;
    EXPECT_NE(json.find("\"mode\":1,\"mode_text\":\"АБ в содержании\""), std::string::npos) << json;
    EXPECT_NE(json.find("{\"code\":352,\"text\":\"Авария фазы Ф1 сети\"}"), std::string::npos) << json;
    EXPECT_NE(json.find("\"blocks\":[{\"block\":1,\"state\":0,\"state_text\":\"Норма\",\"voltage\":13.37,"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"time_local\":\"2026-12-08T23:59:51-02:30\""), std::string::npos) << json;
    EXPECT_EQ(json.find("53,5"), std::string::npos) << json;
}

TEST(PlantReport, TextShowsTheWindowsWordsWithoutMarkup)
{
    Plant p;
    p.alarm(1, 352);
    p.phase(1, 172, 1);
    // Names are plain text in the lists: nothing in them is markup.
    p.set(F::DryContactCount, 1);
    std::memcpy(settings_item(p.device, F::DryContactNames, 0).data(), "<b>&amp;", 8);
    std::string text = plant_status_text(p.view(), false);
    EXPECT_NE(text.find("Сухие контакты\n  СК1 \"<b>&amp;\" Норма\n"), std::string::npos) << text;
    EXPECT_NE(plant_status_json(p.view(), "").find("\"label\":\"<b>&amp;\""), std::string::npos);
    EXPECT_EQ(text.find("<span"), std::string::npos) << text;
    EXPECT_EQ(text.find("&lt;"), std::string::npos) << text;
    EXPECT_NE(text.find("  Т1: 21.5°C <0.0°C>\n"), std::string::npos) << text;
    EXPECT_NE(text.find("\nСеть: 172В 228В 228В\n"), std::string::npos) << text;
    EXPECT_NE(text.find("Аварии 1 степени\n  Авария фазы Ф1 сети\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  Ф1: 172В Понижено\n"), std::string::npos) << text;
}

TEST(PlantReport, StatesTheControllerDoesNotDefineAreErrorsInTheReportTheJsonAndTheCheck)
{
    Plant p;
    p.phase(2, 231, 6);               // no such phase state
    p.s.load[3] = 5;                  // no such load state
    p.s.temperatures[4] = 9;          // no such sensor-2 state
    p.set(F::RectifierCount, 2);
    p.s.rectifiers[2][3 * 1] = 4800;
    p.s.rectifiers[2][3 * 1 + 2] = 11;   // VUV2: past the last code
    CycleView v = p.view();

    std::string text = plant_status_text(v, true);
    // The alarm colour comes from the view's flag, for the whole item.
    EXPECT_NE(text.find("  Ф2: ---В \033[1;31mОшибка\033[0m\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  Т2: \033[1;31mОшибка\033[0m\n"), std::string::npos) << text;
    EXPECT_EQ(plant_status_text(v, false).find('\033'), std::string::npos);

    std::string json = plant_status_json(v, "");
    EXPECT_NE(json.find("{\"phase\":2,\"voltage\":null,\"state\":6,\"state_text\":\"Ошибка\"}"), std::string::npos)
        << json;
    EXPECT_NE(json.find("\"load\":{\"alarm\":false,\"voltage\":null,\"current\":null,\"state\":5,"),
              std::string::npos)
        << json;
    EXPECT_NE(json.find("\"sensor2\":{\"temperature\":null,\"state\":9}"), std::string::npos) << json;
    EXPECT_NE(json.find("{\"name\":\"VUV2\",\"state\":11,\"state_text\":\"Ошибка\",\"voltage\":null,\"current\":null}"),
              std::string::npos)
        << json;

    // Each of them could hide an alarm: never OK.
    CheckResult r = plant_check(v);
    EXPECT_EQ(r.state, CheckState::Warning) << r.line;
    EXPECT_NE(r.line.find("неизвестное состояние: Ф2, нагрузка, VUV2 и ещё 1"), std::string::npos) << r.line;
}

TEST(PlantReport, ControlCharactersOfTheControllersTextsReachNoTerminalEngineOrFile)
{
    Plant p;
    auto comment = settings_item(p.device, F::Comment, 0);
    std::memcpy(comment.data(), "A\n\x1b[2J\x1b]0", 9);   // a line feed, a screen clear, a title change
    p.set(F::DryContactCount, 1);
    std::memcpy(settings_item(p.device, F::DryContactNames, 0).data(), "K\x01Z", 3);
    CycleView v = p.view();
    EXPECT_EQ(v.device_comment, "A  [2J ]0");

    auto clean = [](const std::string& out, bool lines) {
        for (unsigned char c : out)
            if ((c < 0x20 && !(lines && c == '\n')) || c == 0x7F)
                return false;
        return true;
    };
    std::string text = plant_status_text(v, false);
    EXPECT_TRUE(clean(text, true)) << text;
    EXPECT_NE(text.find("  Комментарий: A  [2J ]0\n"), std::string::npos) << text;
    EXPECT_NE(text.find("  СК1 \"K Z\" Норма\n"), std::string::npos) << text;
    std::string json = plant_status_json(v, "");
    EXPECT_EQ(json.find("\\u00"), std::string::npos) << json;
    CheckResult r = plant_check(v);
    EXPECT_TRUE(clean(r.line, false)) << r.line;
}

TEST(CliSession, TheViewReportedKeepsTheEventListsOfTheLastCycleThatBuiltThem)
{
    cli_runtime_start();
    CycleView built;
    built.event_lists.changed = true;
    built.event_lists.rows[0] = {"Авария фазы Ф1 сети"};
    built.event_lists.codes[0] = {352};
    CycleView unchanged;   // the next cycle: same events, the lists are left alone
    unchanged.alarm1_count = 1;
    {
        GdkLock lock;
        display_apply(built);
        display_apply(unchanged);
    }
    CycleView reported = cli_last_view();
    // What the program's runtime installed goes, for the tests after this one.
    headless_ui_install();
    display_hooks_headless();
    connection_unsubscribe_all();
    exchange_set_events(ExchangeEvents{});
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);

    EXPECT_EQ(reported.alarm1_count, 1u);
    ASSERT_EQ(reported.event_lists.rows[0].size(), 1u);
    EXPECT_EQ(reported.event_lists.rows[0][0], "Авария фазы Ф1 сети");
    EXPECT_EQ(reported.event_lists.codes[0], std::vector<uint16_t>{352});
}
