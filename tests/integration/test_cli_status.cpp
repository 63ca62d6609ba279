// rarur-cli status and check as a script and a monitoring engine run them,
// against the simulator.
#include <gtest/gtest.h>

#include <signal.h>

#include <string>

#include "tests/integration/cli_process.h"
#include "tests/integration/sim_process.h"

namespace {

bool has(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The one line a plugin prints: state, summary, performance data.
void expect_plugin_line(const CliResult& r, const char* state)
{
    EXPECT_EQ(r.out.rfind(std::string("RARUR ") + state + " - ", 0), 0u) << r.out << r.err;
    EXPECT_EQ(r.out.find('\n'), r.out.size() - 1) << "one line: " << r.out;
}

}  // namespace

TEST(CliStatus, CheckFollowsThePlantFromOkToCriticalToUnknownAndStatusSaysTheSameInJson)
{
    SimOptions options;
    options.freeze = true;
    SimProcess sim(options);
    ASSERT_TRUE(sim.running()) << sim.log();
    std::string address = "tcp:127.0.0.1:" + std::to_string(sim.port());

    CliResult ok = run_cli({"check", address});
    EXPECT_EQ(ok.exit_code, 0) << ok.out << ok.err;
    expect_plugin_line(ok, "OK");
    EXPECT_TRUE(has(ok.out, " | 'mains_l1'=")) << ok.out;
    EXPECT_TRUE(has(ok.out, "'load_voltage'=53.50V")) << ok.out;
    EXPECT_TRUE(has(ok.out, "'alarms1'=0 'alarms2'=0")) << ok.out;

    CliResult json = run_cli({"status", "--json", address});
    EXPECT_EQ(json.exit_code, 0) << json.err;
    EXPECT_EQ(json.out.front(), '{');
    EXPECT_EQ(json.out.substr(json.out.size() - 2), "}\n");
    for (const char* key : {"\"serial_number\":100123", "\"protocol_version\":410", "\"first_degree\":0",
                            "\"lost\":false", "\"active_lists\":[{\"list\":\"alarm1\"", "\"rectifiers\":[{\"name\":\"VUV1\"",
                            "\"label\":\"Связь\""})
        EXPECT_TRUE(has(json.out, key)) << key << " in " << json.out;

    ASSERT_EQ(sim.control("alarm raise mains"), "ok");
    CliResult critical = run_cli({"check", address});
    EXPECT_EQ(critical.exit_code, 2) << critical.out << critical.err;
    expect_plugin_line(critical, "CRITICAL");
    EXPECT_TRUE(has(critical.out, "нет сети")) << critical.out;
    EXPECT_TRUE(has(critical.out, "Авария фазы Ф1 сети")) << critical.out;
    EXPECT_TRUE(has(critical.out, "'mains_l1'=0V")) << critical.out;
    // The first cycle's settings read refused: its view knows no masks nor
    // names, so the answer waits for a cycle that read them.
    ASSERT_EQ(sim.control("fault exception fn=03 addr=0 times=1"), "ok");
    CliResult later = run_cli({"check", address});
    EXPECT_EQ(later.exit_code, 2) << later.out << later.err;
    EXPECT_TRUE(has(later.out, "(Авария фазы Ф1 сети, ")) << later.out;
    CliResult lost = run_cli({"status", "--json", address});
    EXPECT_TRUE(has(lost.out, "\"lost\":true")) << lost.out;
    EXPECT_TRUE(has(lost.out, "\"discharging\":true")) << lost.out;

    // A Controller that stops answering mid-way: UNKNOWN, not a hang.
    ASSERT_EQ(kill(sim.pid(), SIGSTOP), 0);
    CliResult unknown = run_cli({"check", "--timeout=2", address});
    kill(sim.pid(), SIGCONT);
    EXPECT_EQ(unknown.exit_code, 3) << unknown.out << unknown.err;
    expect_plugin_line(unknown, "UNKNOWN");

    // Wrong usage is UNKNOWN for a plugin, a usage error for status.
    CliResult usage = run_cli({"check", "--timeout=x", address});
    EXPECT_EQ(usage.exit_code, 3);
    expect_plugin_line(usage, "UNKNOWN");
    EXPECT_EQ(run_cli({"status", "nowhere:1"}).exit_code, 2);
}

TEST(CliStatus, CheckWorksOverUsbAndTheModem)
{
    SimOptions options;
    options.tcp = false;
    options.usb_id = 5;
    options.modem = true;
    options.freeze = true;
    SimProcess sim(options);
    ASSERT_TRUE(sim.running()) << sim.log();
    std::string usb_dir = sim.usb_socket_path().substr(0, sim.usb_socket_path().rfind('/'));

    CliRun usb;
    usb.args = {"check", "usb:5"};
    usb.env = {{"RARUR_USB_DIR", usb_dir}};
    CliResult by_usb = run_cli(usb);
    EXPECT_EQ(by_usb.exit_code, 0) << by_usb.out << by_usb.err;
    expect_plugin_line(by_usb, "OK");

    CliResult by_modem = run_cli({"check", "--timeout=30", "gsm:" + sim.modem_path() + ":100"});
    EXPECT_EQ(by_modem.exit_code, 0) << by_modem.out << by_modem.err;
    expect_plugin_line(by_modem, "OK");
    // The same plant, whichever way it is reached.
    EXPECT_EQ(by_usb.out.substr(by_usb.out.find(" | ")), by_modem.out.substr(by_modem.out.find(" | ")));
}
