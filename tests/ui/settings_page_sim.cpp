// The settings page against rarur-sim in each layout: the test reads the
// simulator's settings block itself (libmodbus) and decodes it with its own
// small table of word numbers, then has ui-driver connect the real window and
// check that every bound control and list shows those values. A second
// simulator with edge values (empty texts, clamped counts, no battery group)
// follows the first on the same window, so nothing of the first Controller may
// stay on show.
#include <gtest/gtest.h>
#include <glib.h>
#include <modbus.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "../integration/sim_process.h"

namespace {

using Regs = std::vector<uint16_t>;

int word_count(int layout) { return layout == 1 ? 702 : layout == 2 ? 750 : 751; }

// Layout-1 word -> word of the layout: masks grow by 8 words each in layout 2,
// layout 3 inserts the energy-saving word at 579.
int at(int l1, int layout)
{
    if (layout == 1 || l1 < 135)
        return l1;
    int w = l1 + 48;
    return layout == 3 && w >= 579 ? w + 1 : w;
}

bool read_block(int port, int layout, Regs& regs)
{
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
    if (!ctx || modbus_connect(ctx) != 0) {
        if (ctx)
            modbus_free(ctx);
        return false;
    }
    regs.assign(word_count(layout), 0);
    bool ok = true;
    for (int start = 0; ok && start < word_count(layout); start += 100) {
        int n = std::min(100, word_count(layout) - start);
        ok = modbus_read_registers(ctx, start, n, regs.data() + start) == n;
    }
    modbus_close(ctx);
    modbus_free(ctx);
    return ok;
}

// The Controller's own way of taking new settings: the body at 0x3000, then
// the command block with the monitoring password.
bool write_block(int port, int layout, const Regs& regs)
{
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
    if (!ctx || modbus_connect(ctx) != 0) {
        if (ctx)
            modbus_free(ctx);
        return false;
    }
    bool ok = true;
    for (int w = 3; ok && w < word_count(layout); w += 100) {
        int n = std::min(100, word_count(layout) - w);
        ok = modbus_write_registers(ctx, 0x3000 + w - 3, n, regs.data() + w) == n;
    }
    uint16_t command[6] = {};
    ok = ok && modbus_read_registers(ctx, 0x4000, 2, command) == 2;
    for (int i = 0; i < 3; ++i)
        command[2 + i] = regs[at(621, layout) + i];
    command[5] = 1;
    ok = ok && modbus_write_registers(ctx, 0x4000, 6, command) == 6;
    modbus_close(ctx);
    modbus_free(ctx);
    return ok;
}

struct Decoded {
    const Regs& regs;
    int layout;
    uint16_t u16(int l1) const { return regs[at(l1, layout)]; }
    int16_t s16(int l1) const { return static_cast<int16_t>(u16(l1)); }
    uint8_t byte(int l1, int n) const
    {
        uint16_t r = regs[at(l1, layout) + n / 2];
        return static_cast<uint8_t>(n % 2 == 0 ? r >> 8 : r & 0xFF);
    }
    std::string text(int l1, int length) const
    {
        std::string cp1251;
        for (int n = 0; n < length && byte(l1, n); ++n)
            cp1251 += static_cast<char>(byte(l1, n));
        gchar* utf8 = g_convert(cp1251.data(), static_cast<gssize>(cp1251.size()), "UTF-8", "WINDOWS-1251",
                                nullptr, nullptr, nullptr);
        std::string out = utf8 ? utf8 : "";
        g_free(utf8);
        return out;
    }
    // Event code c of mask k: each group of the mask is big-endian on the wire.
    bool mask_bit(int k, int c) const
    {
        static const int groups1[] = {4, 8, 4, 4, 8, 4, 4, 4}, groups23[] = {4, 8, 4, 4, 8, 8, 8, 4, 4, 4};
        int words = layout == 1 ? 20 : 28;
        int host = c / 8, start = 0;
        for (int size : layout == 1 ? std::vector<int>(groups1, groups1 + 8) : std::vector<int>(groups23, groups23 + 10)) {
            if (host < start + size) {
                int wire = start + size - 1 - (host - start);
                uint16_t r = regs[15 + words * (k - 1) + wire / 2];
                uint8_t b = static_cast<uint8_t>(wire % 2 == 0 ? r >> 8 : r & 0xFF);
                return b >> (c % 8) & 1;
            }
            start += size;
        }
        return false;
    }
};

std::string quoted(const std::string& s)
{
    std::string out = "\"";
    for (char c : s)
        out += c == '"' || c == '\\' ? std::string("\\") + c : std::string(1, c);
    return out + "\"";
}

std::string number(double value, int digits)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", digits, value);
    std::string pattern = "^";
    for (char c : std::string(text))
        pattern += c == '.' ? std::string("[.,]") : std::string(1, c);
    return quoted(pattern + "$");
}

// The expectations of one Controller, in script lines.
std::string expectations(const Decoded& d, int version)
{
    std::string s;
    auto expect = [&](const std::string& id, const std::string& prop, const std::string& op, const std::string& v) {
        s += "expect " + id + " " + prop + " " + op + " " + v + "\n";
    };
    struct Spin { const char* id; int word; int scale; int digits; bool is_signed; };
    const Spin spins[] = {
        {"S_EPUVoltage", 424, 10, 1, false},      {"S_BatteryCapacity", 422, 1, 0, false},
        {"S_ChargeCurrent", 423, 100, 2, false},  {"S_FloatVoltage", 424, 10, 1, false},
        {"S_FastChargeVoltage", 425, 10, 1, false}, {"S_EqChargeVoltage", 426, 10, 1, false},
        {"S_TestVoltage", 427, 10, 1, false},     {"S_LowBatteryVoltage", 428, 10, 1, false},
        {"S_TermocompensationK", 429, 10, 1, false}, {"S_BlockHightVoltage", 439, 100, 2, false},
        {"S_BlockLowVoltage", 440, 100, 2, false}, {"S_K1Voltage", 443, 10, 1, false},
        {"S_K2Voltage", 444, 10, 1, false},       {"S_K3Voltage", 445, 10, 1, false},
        {"S_K4Voltage", 446, 10, 1, false},       {"S_VUVReserv", 529, 1, 0, false},
        {"S_MainsLow", 532, 1, 0, false},         {"S_MainsHight", 533, 1, 0, false},
        {"S_TermoCount", 535, 1, 0, false},       {"S_T2min", 536, 10, 1, true},
        {"S_T2max", 537, 10, 1, true},            {"S_T2hyst", 538, 10, 1, false},
        {"S_DCCount", 539, 1, 0, false},          {"S_MonitoringRS485", 625, 1, 0, false},
        {"S_MonitoringInitPeriod", 626, 1, 0, false}, {"S_RelyCount", 14, 1, 0, false},
        {"S_LoadAutomats", 157, 1, 0, false},     {"S_BatteryCount", 419, 1, 0, false},
        {"S_ContactorsCount", 442, 1, 0, false},  {"S_VUVCount", 528, 1, 0, false},
        {"S_MainsPhasesCount", 531, 1, 0, false},
    };
    for (const Spin& sp : spins)
        expect(sp.id, "text", "matches",
               number((sp.is_signed ? d.s16(sp.word) : d.u16(sp.word)) / double(sp.scale), sp.digits));
    expect("S_SerialNumber", "text", "matches", number(double(uint32_t(d.u16(3)) << 16 | d.u16(4)), 0));
    expect("S_2VPerGroup", "text", "matches", number(std::clamp<int>(d.u16(420), 11, 30), 0));
    expect("S_VUVType", "text", "matches", number(d.u16(530) & 0xFF, 0));

    auto row = [](int value, int rows) { return std::to_string(value >= 0 && value < rows ? value : -1); };
    expect("S_Timezone", "active", "==", row(d.s16(7) + 48, 97));
    expect("S_ElementsPerBlock", "active", "==", row(d.u16(430), 3));
    expect("S_MonitoringMode", "active", "==", row(d.u16(624), 3));
    expect("S_LoadShuntCombo", "active", "==", row(d.u16(156), 26));
    expect("S_BatteryShuntCombo", "active", "==", row(d.u16(421), 26));
    expect("S_VUVType_ComboBox", "active", "==", row(int(d.u16(530)) - 0x8000, 13));
    if (version != 200)
        expect("S_VUVClass_ComboBox", "active", "==", "0");

    struct Check { const char* id; int word; int bit; bool inverted; };
    const Check checks[] = {
        {"S_SummerTime", 8, 0, false},   {"S_AlarmSignal", 135, 0, false},  {"S_FastCharge", 441, 1, false},
        {"S_Termocompensation", 441, 2, false}, {"S_BlockControl", 441, 4, false},
        {"S_ShuntToEachBattery", 441, 0, false}, {"S_BatteryAutomatsByDC", 441, 3, false},
        {"S_LoadShunt", 158, 0, false},  {"S_Lighting", 534, 2, false},     {"S_LightLogic", 534, 1, true},
        {"S_MainsMeashure", 534, 0, false},
        {"S_MonitoringPhone1Active", 701, 1, false}, {"S_MonitoringPhone2Active", 701, 2, false},
        {"S_MonitoringPhone3Active", 701, 3, false}, {"S_MonitoringSMS1Active", 701, 4, false},
        {"S_MonitoringSMS2Active", 701, 5, false},   {"S_MonitoringSMS3Active", 701, 6, false},
        {"S_Trap1Active", 701, 7, false}, {"S_Trap2Active", 701, 8, false}, {"S_Trap3Active", 701, 9, false},
    };
    for (const Check& c : checks)
        expect(c.id, "active", "==", std::to_string((d.u16(c.word) >> c.bit & 1) != c.inverted));
    if (d.layout == 3)
        expect("S_Energosafe", "active", "==", std::to_string(d.regs[579] & 1));

    struct Text { std::string id; int word; int length; };
    std::vector<Text> texts = {{"S_Password", 5, 4},           {"S_Comment", 9, 10},
                               {"S_MonitoringPassword", 621, 6}, {"S_MonitoringServiceCentre", 627, 14},
                               {"S_TrapPublic", 685, 10},      {"S_TrapPrivate", 690, 10}};
    for (int i = 0; i < 3; ++i) {
        texts.push_back({"S_MonitoringPhone" + std::to_string(i + 1), 634 + 7 * i, 14});
        texts.push_back({"S_MonitoringSMS" + std::to_string(i + 1), 655 + 7 * i, 14});
    }
    for (const Text& t : texts)
        expect(t.id, "text", "==", quoted(d.text(t.word, t.length)));
    char octet[8];
    for (int k = 0; k < 6; ++k) {
        std::snprintf(octet, sizeof octet, "%02X", d.byte(676, k));
        expect("S_MAC" + std::to_string(k + 1), "text", "==", octet);
    }
    struct Address { const char* prefix; int word; };
    for (Address a : {Address{"S_IP", 679}, Address{"S_Msk", 681}, Address{"S_Ro", 683}, Address{"S_Trap1IP", 695},
                      Address{"S_Trap2IP", 697}, Address{"S_Trap3IP", 699}})
        for (int k = 0; k < 4; ++k)
            expect(a.prefix + std::to_string(k + 1), "text", "==", std::to_string(d.byte(a.word, k)));

    // Lists: one row per item up to the count, the count clamped to the list's table.
    auto cell = [&](const char* store, int r, int column, const std::string& value) {
        s += "expect-cell " + std::string(store) + " " + std::to_string(r) + " " + std::to_string(column) + " == " +
             value + "\n";
    };
    int breakers = std::min<int>(d.u16(157), 52), groups = std::min<int>(d.u16(419), 4);
    int contactors = std::min<int>(d.u16(442), 4), dry = std::min<int>(d.u16(539), 16);
    int relays = std::min<int>(d.u16(14), 4);
    expect("S_AtomatsNamesListStore", "rows", "==", std::to_string(breakers));
    for (int i = 0; i < breakers; ++i)
        cell("S_AtomatsNamesListStore", i, 1, quoted(d.text(159 + 5 * i, 10)));
    expect("S_BatterySetUPKBListStore", "rows", "==", std::to_string(groups));
    for (int g = 0; g < groups; ++g) {
        cell("S_BatterySetUPKBListStore", g, 1, std::to_string(d.u16(431 + g) / 8));
        cell("S_BatterySetUPKBListStore", g, 2, std::to_string(d.u16(431 + g) % 8 + 1));
    }
    expect("S_ContactorsParametersListStore", "rows", "==", std::to_string(contactors));
    for (int k = 0; k < contactors; ++k) {
        cell("S_ContactorsParametersListStore", k, 1, std::to_string(d.u16(447) >> k & 1));
        cell("S_ContactorsParametersListStore", k, 2, quoted(d.text(508 + 5 * k, 10)));
    }
    expect("S_DCListStore", "rows", "==", std::to_string(dry));
    for (int i = 0; i < dry; ++i) {
        cell("S_DCListStore", i, 1, quoted(d.text(541 + 5 * i, 10)));
        cell("S_DCListStore", i, 2, std::to_string(d.u16(540) >> i & 1));
    }
    expect("S_ContactorsConfigurationListStore", "rows", "==", std::to_string(groups + breakers));
    for (int r = 0; r < groups + breakers; ++r)
        cell("S_ContactorsConfigurationListStore", r, 1 + std::min<int>(d.u16(r < groups ? 448 + r : 456 + r - groups), 4),
             "1");
    expect("S_RelyNames", "rows", "==", std::to_string(relays));
    for (int i = 0; i < relays; ++i)
        cell("S_RelyNames", i, 1, quoted(d.text(136 + 5 * i, 10)));
    const char* relay_columns[4] = {"cl_1r", "cl_2r", "cl_3r", "cl_4r"};
    for (int i = 0; i < 4; ++i)
        expect(relay_columns[i], "visible", "==", std::to_string(relays > i));
    s += "print S_EventsMaskListStore\n";
    return s;
}

std::string connect_lines(int port, uint32_t serial)
{
    return "activate imagemenuitem1\nset-text DeviceAddress 127.0.0.1:" + std::to_string(port) +
           "\nclick SED_ButtonOk\nwait-until 20000 expect S_SerialNumber text matches " +
           number(serial, 0) + "\n";
}

struct MaskRowSeen {
    int code;
    bool bits[6];
};

// The rows of every `print S_EventsMaskListStore`, in the order printed.
std::vector<std::vector<MaskRowSeen>> printed_mask_lists(const std::string& json)
{
    std::vector<std::vector<MaskRowSeen>> lists;
    const std::string key = "\"S_EventsMaskListStore\":{\"rows\":[";
    std::regex row(R"re(\{"cells":\["(?:[^"\\]|\\.)*",(true|false),(true|false),(true|false),(true|false),(true|false),(true|false),(\d+)\]\})re");
    for (size_t at = json.find(key); at != std::string::npos; at = json.find(key, at + 1)) {
        size_t begin = at + key.size();
        // The last row's "}", the rows' "]" and the store's "}".
        size_t end = json.compare(begin, 2, "]}") == 0 ? begin : json.find("}]}", begin) + 1;
        std::string rows = json.substr(begin, end - begin);
        std::vector<MaskRowSeen> list;
        for (auto it = std::sregex_iterator(rows.begin(), rows.end(), row); it != std::sregex_iterator(); ++it) {
            MaskRowSeen seen{std::stoi((*it)[7]), {}};
            for (int k = 0; k < 6; ++k)
                seen.bits[k] = (*it)[1 + k] == "true";
            list.push_back(seen);
        }
        lists.push_back(list);
    }
    return lists;
}

// Events the catalogue lists for the counts: the fixed ones and one per item.
size_t expected_mask_rows(const Decoded& d)
{
    size_t fixed = d.layout == 3 ? 20 : 19;
    int modules = std::min<int>(d.u16(528), d.layout == 1 ? 60 : d.layout == 2 ? 190 : 180);
    return fixed + std::min<int>(d.u16(157), 52) + 2 * std::min<int>(d.u16(419), 8) + 2 * std::min<int>(d.u16(442), 4) +
           modules + std::min<int>(d.u16(531), 3) + std::min<int>(d.u16(539), 16);
}

void set_text(Regs& regs, int word, int length, const std::string& bytes)
{
    for (int n = 0; n < length; ++n) {
        uint8_t b = n < int(bytes.size()) ? uint8_t(bytes[n]) : 0;
        uint16_t& r = regs[word + n / 2];
        r = n % 2 == 0 ? uint16_t((r & 0x00FF) | b << 8) : uint16_t((r & 0xFF00) | b);
    }
}

class SettingsPageSim : public testing::TestWithParam<int> {};

TEST_P(SettingsPageSim, ShowsWhatTheControllerHoldsAndNothingOfTheControllerBefore)
{
    const int version = GetParam();
    const int layout = version <= 399 ? 1 : version >= 410 ? 3 : 2;
    SimOptions options;
    options.protocol_version = version;
    options.freeze = true;
    SimProcess first(options), second(options);
    ASSERT_TRUE(first.running() && second.running()) << first.log() << second.log();

    Regs a, b;
    ASSERT_TRUE(read_block(first.port(), layout, a));
    ASSERT_TRUE(read_block(second.port(), layout, b));
    // The second Controller: empty texts, counts past the page's tables, no
    // battery group, GSM monitoring, an energy-saving rectifier model.
    auto w = [&](int l1) -> uint16_t& { return b[at(l1, layout)]; };
    w(3) = 0x000B;
    w(4) = 0xAFF0; // serial 765936
    w(5) = w(6) = 0;
    set_text(b, 9, 10, "");
    w(7) = uint16_t(-48);
    w(8) = 1;
    w(14) = 2;
    w(157) = 60;
    w(419) = 0;
    w(420) = 5;
    w(530) = 0x800B;
    w(536) = uint16_t(-50);
    w(539) = 20;
    w(624) = 1;
    set_text(b, at(641, layout), 14, "+79990001122");
    w(701) |= 1 << 2;
    ASSERT_TRUE(write_block(second.port(), layout, b));
    ASSERT_TRUE(read_block(second.port(), layout, b));
    ASSERT_EQ(b[at(157, layout)], 60) << "the simulator did not take the edited settings";

    Decoded da{a, layout}, db{b, layout};
    std::string script = connect_lines(first.port(), uint32_t(da.u16(3)) << 16 | da.u16(4)) + expectations(da, version);
    script += "activate imagemenuitem2\nwait-until 5000 expect app link_open == 0\n";
    script += connect_lines(second.port(), 765936) + expectations(db, version);
    script += "expect S_BatteryExpander visible == 0\nexpect S_ContactorsExpander visible == 0\n"
              "expect S_EPUVoltage visible == 1\nexpect S_RS485Expander visible == 0\n"
              "expect S_MonitoringPhone2 sensitive == 1\nexpect S_MonitoringPhone3 sensitive == 0\n";
    if (layout == 3)
        script += "expect S_Energosafe sensitive == 0\nexpect S_Energosafe tooltip == "
                  "\"Для использования должно быть: <b>АБ > 0</b>\"\n";

    std::string path = first.dir() + "/settings_page.uitest";
    std::ofstream(path) << script;
    std::string command = std::string("RARUR_SIM=") + rarur_sim_binary() + " " + UI_DRIVER_PATH + " --timeout 120 --script " + path;
    FILE* pipe = popen(command.c_str(), "r");
    ASSERT_NE(pipe, nullptr);
    std::string json;
    char buffer[4096];
    while (size_t n = fread(buffer, 1, sizeof buffer, pipe))
        json.append(buffer, n);
    int status = pclose(pipe);
    EXPECT_NE(json.find("\"result\":\"pass\""), std::string::npos) << json.substr(0, json.find("\"state\""));
    EXPECT_EQ(status, 0);

    auto lists = printed_mask_lists(json);
    ASSERT_EQ(lists.size(), 2u);
    for (size_t n = 0; n < 2; ++n) {
        const Decoded& d = n == 0 ? da : db;
        SCOPED_TRACE(n == 0 ? "first Controller" : "second Controller");
        EXPECT_EQ(lists[n].size(), expected_mask_rows(d));
        for (const MaskRowSeen& r : lists[n])
            for (int k = 1; k <= 6; ++k)
                EXPECT_EQ(r.bits[k - 1], d.mask_bit(k, r.code)) << "code " << r.code << " mask " << k;
    }
}

INSTANTIATE_TEST_SUITE_P(Layouts, SettingsPageSim, testing::Values(300, 400, 410));

} // namespace
