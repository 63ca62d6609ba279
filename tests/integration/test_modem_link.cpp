// The GSM and PSTN links end to end against rarur-sim's modem. The program's
// modem thread opens a pseudo-terminal of a tap that passes every byte on to
// the simulator's modem and back, keeping what crossed the line and when, and
// that can hold back or answer a command itself.
#include "sim_process.h"

#include <gtest/gtest.h>

#ifdef RARUR_SIM_PATH
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "base/app_state.h"
#include "base/headless_ui.h"
#include "base/ui_hooks.h"
#include "base/workers.h"
#include "link/connection.h"
#include "link/modem.h"
#include "modbus/exchange.h"
#include "modbus/operations.h"
#include "status/display_hooks.h"
#include "status/poll.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Chunk {
    bool to_modem;
    int64_t ms;
    std::string bytes;
};

class ModemTap {
public:
    explicit ModemTap(std::string modem_path) : modem_path_(std::move(modem_path)), start_(Clock::now())
    {
        master_ = posix_openpt(O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (master_ < 0 || grantpt(master_) != 0 || unlockpt(master_) != 0)
            return;
        // The program opens a link, never /dev/pts/N itself: once the tap
        // closes its master the kernel hands that number to the next pty
        // opened on the machine (a test running beside this one), and the
        // "vanished" port would open again onto somebody else's modem.
        char dir[] = "/tmp/rarur-tap-XXXXXX";
        if (!mkdtemp(dir))
            return;
        dir_ = dir;
        path_ = dir_ + "/port";
        if (symlink(ptsname(master_), path_.c_str()) != 0) {
            path_.clear();
            return;
        }
        thread_ = std::thread([this] { run(); });
    }
    ~ModemTap()
    {
        stop_ = true;
        if (thread_.joinable())
            thread_.join();
        if (master_ >= 0)
            close(master_);
        if (modem_ >= 0)
            close(modem_);
        if (!path_.empty())
            unlink(path_.c_str());
        if (!dir_.empty())
            rmdir(dir_.c_str());
    }
    const std::string& path() const { return path_; }
    // A command the program sends that starts with `prefix` is not passed on;
    // `reply` goes back instead (nothing: the modem seems to think forever).
    void answer(const std::string& prefix, const std::string& reply = "")
    {
        std::lock_guard<std::mutex> g(lock_);
        held_prefix_ = prefix;
        held_reply_ = reply;
    }
    // The program's end of the line goes away, as an unplugged adapter does;
    // false when the tap's thread did not let it go in time.
    bool vanish()
    {
        unlink(path_.c_str());
        vanish_ = true;
        return wait_until([this] { return gone_.load(); });
    }
    std::vector<Chunk> chunks()
    {
        std::lock_guard<std::mutex> g(lock_);
        return chunks_;
    }
    std::string sent()
    {
        std::string all;
        for (const Chunk& c : chunks())
            if (c.to_modem)
                all += c.bytes;
        return all;
    }
    // Everything that crossed the line, one chunk a line: ">ms bytes" sent, "<ms bytes" received.
    std::string both_ways()
    {
        std::string all;
        for (const Chunk& c : chunks())
            all += (c.to_modem ? ">" : "<") + std::to_string(c.ms) + " " + c.bytes + "\n";
        return all;
    }
    // Time of the first chunk the program sent that contains `text`, after `from` ms; -1 if none.
    int64_t sent_at(const std::string& text, int64_t from = 0)
    {
        for (const Chunk& c : chunks())
            if (c.to_modem && c.ms >= from && c.bytes.find(text) != std::string::npos)
                return c.ms;
        return -1;
    }
    int64_t now_ms() const
    {
        return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count();
    }

private:
    void record(bool to_modem, const char* bytes, ssize_t n)
    {
        std::lock_guard<std::mutex> g(lock_);
        chunks_.push_back({to_modem, now_ms(), std::string(bytes, size_t(n))});
    }
    void open_modem()
    {
        modem_ = open(modem_path_.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK);
        if (modem_ >= 0) {
            termios t{};
            tcgetattr(modem_, &t);
            cfmakeraw(&t);
            tcsetattr(modem_, TCSANOW, &t);
        }
    }
    void run()
    {
        char buffer[4096];
        while (!stop_) {
            if (vanish_ && master_ >= 0) {
                close(master_);
                master_ = -1;
                gone_ = true;
            }
            if (master_ < 0) {
                if (modem_ >= 0) {
                    close(modem_);
                    modem_ = -1;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            pollfd p[2] = {{master_, POLLIN, 0}, {modem_, POLLIN, 0}};
            ::poll(p, modem_ >= 0 ? 2 : 1, 10);
            if ((p[0].revents & POLLIN) && modem_ < 0)
                open_modem();
            if (p[0].revents & POLLIN) {
                ssize_t n = read(master_, buffer, sizeof buffer);
                if (n > 0) {
                    record(true, buffer, n);
                    std::string prefix, reply;
                    {
                        std::lock_guard<std::mutex> g(lock_);
                        prefix = held_prefix_;
                        reply = held_reply_;
                    }
                    if (!prefix.empty() && std::string(buffer, size_t(n)).rfind(prefix, 0) == 0) {
                        if (!reply.empty() && write(master_, reply.data(), reply.size()) > 0)
                            record(false, reply.data(), ssize_t(reply.size()));
                    } else if (modem_ >= 0 && write(modem_, buffer, size_t(n)) != n) {
                        ADD_FAILURE() << "the tap could not pass bytes on";
                    }
                }
            }
            if (p[0].revents & POLLHUP) {
                // Nobody holds the program's end: the modem sees its line dropped too.
                if (modem_ >= 0) {
                    close(modem_);
                    modem_ = -1;
                }
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
                continue;
            }
            if (modem_ < 0) {
                open_modem();
                continue;
            }
            if (p[1].revents & POLLIN) {
                ssize_t n = read(modem_, buffer, sizeof buffer);
                if (n > 0) {
                    record(false, buffer, n);
                    if (write(master_, buffer, size_t(n)) != n)
                        ADD_FAILURE() << "the tap could not pass bytes back";
                }
            }
        }
    }

    std::string modem_path_, dir_, path_;
    Clock::time_point start_;
    int master_ = -1, modem_ = -1;
    std::thread thread_;
    std::atomic<bool> stop_{false}, vanish_{false}, gone_{false};
    std::mutex lock_;
    std::vector<Chunk> chunks_;
    std::string held_prefix_, held_reply_;
};

// A call takes the modem's set-up, dialling and guard times, several times
// longer in the sanitizer builds.
constexpr int kCallMs = 20000;

bool contains(const std::string& haystack, const std::string& needle)
{
    return haystack.find(needle) != std::string::npos;
}

size_t count(const std::string& haystack, const std::string& needle)
{
    size_t n = 0;
    for (size_t at = haystack.find(needle); at != std::string::npos; at = haystack.find(needle, at + 1))
        ++n;
    return n;
}

// What the program sends before its dial command.
std::string set_up(bool gsm, const std::string& init)
{
    std::string s = "atz\r\nate0\r\natv0\r\nat&s0\r\nat&c1\r\natm0l0\r\natx4\r\n";
    if (gsm)
        s += "at+stsf=0\r\nat\\n5\r\nat+wind=0\r\n";
    if (!init.empty())
        s += "at" + init + "\r\n";
    return s;
}

std::atomic<int> g_links_ended{0};

class ModemLink : public testing::Test {
protected:
    void SetUp() override
    {
        headless_ui_install();
        headless_ui_clear();
        app_state_reset_start_values();
        display_hooks_headless();
        status_data_reset();
        poll_set_register_reader(modbus_read_registers);
        poll_set_link_close(link_close);
        connection_unsubscribe_all();
        connection_init();
        g_links_ended = 0;
        connection_subscribe(ConnectionEvent::LinkEnded, [] { ++g_links_ended; });
    }
    void TearDown() override
    {
        hang_up();
        modem_set_waits({});
        connection_unsubscribe_all();
        app_state_reset_start_values();   // the next suite connects over Ethernet
    }
    // "Отключиться", and wait until the modem thread is done.
    static void hang_up()
    {
        {
            GdkLock g;
            link_close();
        }
        workers_wait(kModemLane);
        exchange_wait_stopped();
    }
    static int dial(LinkKind kind, const std::string& port, const std::string& phone, const std::string& init = "",
                    bool tone = true)
    {
        app.link_kind = kind;
        std::snprintf(app.modem_init_string, sizeof app.modem_init_string, "%s", init.c_str());
        app.tone_dialling = tone;
        LinkTarget target;
        target.address = port;
        target.phone = phone;
        GdkLock g;
        return connect_target(target);
    }
    static bool up() { return app.link_open && app.transport_running; }
    // Up and said so: the transport thread marks itself running just before it
    // hands the window the link's title and logs the connection.
    static bool announced() { return up() && contains(headless_log(), "Подключен к"); }
    static SimOptions modem_sim(std::vector<std::string> args = {})
    {
        SimOptions o;
        o.modem = true;
        o.freeze = true;
        o.args = std::move(args);
        return o;
    }
};

}  // namespace

TEST_F(ModemLink, GsmSetsUpDialsPollsLikeEthernetAndHangsUpWithItsGuardTimes)
{
    SimProcess sim(modem_sim());
    ASSERT_TRUE(sim.running()) << sim.log();

    // The same frozen plant over Ethernet first.
    headless_set_device_address("127.0.0.1:" + std::to_string(sim.port()));
    {
        GdkLock g;
        ASSERT_EQ(connect_ethernet(), 0);
    }
    ASSERT_TRUE(wait_until(up, kCallMs));
    ASSERT_EQ(poll_cycle(), CycleResult::Complete) << headless_log();
    StatusImage over_ethernet = status_image();
    {
        GdkLock g;
        link_close();
    }
    exchange_wait_stopped();
    status_data_reset();
    headless_ui_clear();
    g_links_ended = 0;

    ModemTap tap(sim.modem_path());
    ASSERT_FALSE(tap.path().empty());
    ASSERT_EQ(dial(LinkKind::Gsm, tap.path(), "89161234567", "+cbst=7,0,1"), 0);
    EXPECT_EQ(headless_connect_controls(), 0) << "the menu is connected while the modem dials";
    ASSERT_TRUE(wait_until(announced, kCallMs)) << headless_log() << "\n" << tap.sent() << "|" << sim.log();
    std::string dialled = set_up(true, "+cbst=7,0,1") + "atd89161234567\r\n";
    EXPECT_EQ(tap.sent(), dialled);
    // A dot per step: five for the port, four for the reset, four and three
    // for the set-up, one each for the init string and the dial.
    EXPECT_EQ(headless_log(), "Подключение к контроллеру" + std::string(18, '.') +
                                  "Подключено на 300 бит/с\nПодключен к 89161234567\n");
    EXPECT_EQ(headless_title(), "RARUR Service - GSM [89161234567]");

    ASSERT_EQ(poll_cycle(), CycleResult::Complete) << headless_log();
    EXPECT_EQ(std::memcmp(&status_image(), &over_ethernet, sizeof over_ethernet), 0)
        << "the modem wrapping carries the same values";
    EXPECT_EQ(status_image().identification[1], 410);

    int64_t asked = tap.now_ms();
    hang_up();
    int64_t plus = tap.sent_at("+++", asked), ath = tap.sent_at("ath\r\n", asked);
    ASSERT_GE(plus, 0) << tap.sent();
    ASSERT_GE(ath, 0);
    EXPECT_GE(plus - asked, 1400) << "a guard time of silence before \"+++\"";
    EXPECT_GE(ath - plus, 1400) << "and after it";
    std::string log = headless_log();
    EXPECT_TRUE(contains(log, "Отключение...Отключен\n")) << log;
    EXPECT_TRUE(contains(log, "Порт не сообщает состояние линий модема")) << "a pty has no modem lines";
    EXPECT_EQ(count(log, "Порт не сообщает"), 1u);
    EXPECT_EQ(headless_connect_controls(), 1);
    EXPECT_EQ(headless_title(), "RARUR Service");
    EXPECT_EQ(app.link_open.load(), 0);
    EXPECT_EQ(g_links_ended.load(), 1);
}

TEST_F(ModemLink, PstnDialsToneOrPulseAndTakesTheResultCodes)
{
    struct Case {
        bool tone;
        int code;
        const char* logged;
    };
    for (Case c : {Case{false, 12, "[norm_text]Подключено на 1200/75 бит/с\n"},
                   Case{true, 22, "[err_text]Неизвестный ответ модема [22]\n"}}) {
        SCOPED_TRACE(c.code);
        SimProcess sim(modem_sim({"--modem-result", std::to_string(c.code)}));
        ASSERT_TRUE(sim.running()) << sim.log();
        headless_ui_clear();
        ModemTap tap(sim.modem_path());
        ASSERT_EQ(dial(LinkKind::Pstn, tap.path(), "84951234567", "", c.tone), 0);
        ASSERT_TRUE(wait_until(announced, kCallMs)) << headless_log();
        EXPECT_EQ(tap.sent(), set_up(false, "") + (c.tone ? "atdt" : "atdp") + "84951234567\r\n");
        EXPECT_TRUE(contains(headless_log_tagged(), c.logged)) << headless_log_tagged();
        EXPECT_EQ(headless_title(), "RARUR Service - PSTN [84951234567]");
        uint8_t version[2];
        EXPECT_EQ(modbus_read_registers(1, 1, version, 0x04), ModbusResult::Ok);
        hang_up();
    }
}

TEST_F(ModemLink, ABusyLineIsRedialledAfterFiveSecondsUntilTheUserGivesUp)
{
    SimProcess sim(modem_sim({"--modem-result", "7"}));
    ASSERT_TRUE(sim.running()) << sim.log();
    ModemTap tap(sim.modem_path());
    ASSERT_EQ(dial(LinkKind::Gsm, tap.path(), "89161234567"), 0);
    ASSERT_TRUE(wait_until([&] {
        return count(tap.sent(), "atd89161234567\r\n") >= 2 && count(headless_log(), "ЗАНЯТО") >= 2;
    }, kCallMs)) << headless_log();
    int64_t first = tap.sent_at("atd8"), second = tap.sent_at("atd8", first + 1);
    EXPECT_GE(second - first, 5000);
    EXPECT_EQ(count(tap.sent(), "atz\r\n"), 2u) << "each try sets the modem up afresh";
    EXPECT_EQ(count(headless_log_tagged(), "[err_text]ЗАНЯТО\n"), 2u) << headless_log_tagged();
    EXPECT_EQ(app.link_open.load(), 0);
    hang_up();
    std::string log = headless_log();
    EXPECT_EQ(log.substr(log.size() - std::strlen("Отключение...Отключено\n")), "Отключение...Отключено\n") << log;
    EXPECT_FALSE(contains(log, "Подключен к"));
    EXPECT_EQ(headless_connect_controls(), 1);
}

TEST_F(ModemLink, CancellingWhileTheModemDialsStopsTheDialAndOpensNothing)
{
    SimProcess sim(modem_sim());
    ASSERT_TRUE(sim.running()) << sim.log();
    ModemTap tap(sim.modem_path());
    tap.answer("atd8");   // the modem dials and dials
    ASSERT_EQ(dial(LinkKind::Gsm, tap.path(), "89161234567"), 0);
    ASSERT_TRUE(wait_until([&] { return tap.sent_at("atd8") >= 0; }, kCallMs)) << headless_log();
    hang_up();
    EXPECT_TRUE(contains(tap.sent(), "atd89161234567\r\natdt\r\n")) << tap.sent();
    std::string log = headless_log();
    EXPECT_TRUE(contains(log, ".Отменено\nОтключение...Отключено\n")) << log;
    EXPECT_FALSE(contains(log, "Подключен к")) << "no link for a call that never happened";
    EXPECT_EQ(app.link_open.load(), 0);
    EXPECT_EQ(app.transport_running.load(), 0);
    EXPECT_EQ(headless_connect_controls(), 1);
    EXPECT_FALSE(contains(tap.sent(), "+++")) << "nothing to hang up";
}

TEST_F(ModemLink, ADroppedCallEndsTheLinkResetsTheWindowAndIsRedialled)
{
    SimProcess sim(modem_sim());
    ASSERT_TRUE(sim.running()) << sim.log();
    ModemTap tap(sim.modem_path());
    ASSERT_EQ(dial(LinkKind::Gsm, tap.path(), "89161234567"), 0);
    ASSERT_TRUE(wait_until(up, kCallMs)) << headless_log();
    ASSERT_EQ(poll_cycle(), CycleResult::Complete) << headless_log();

    ASSERT_EQ(sim.control("fault drop-carrier"), "ok");
    int64_t dropped = tap.now_ms();
    // The next exchange finds the modem's "NO CARRIER" on the line.
    EXPECT_NE(poll_cycle(), CycleResult::Complete);
    ASSERT_TRUE(wait_until([] { return g_links_ended.load() == 1; }, kCallMs)) << headless_log();
    EXPECT_EQ(app.link_open.load(), 0);
    EXPECT_TRUE(contains(headless_log_tagged(), "[err_text]НЕТ НЕСУЩЕЙ\n[norm_text]Отключен\n"))
        << headless_log_tagged();

    ASSERT_TRUE(wait_until(up, kCallMs)) << headless_log();
    EXPECT_GE(tap.sent_at("atz", dropped) - dropped, 5000) << "redialled after the pause";
    EXPECT_EQ(count(headless_log(), "Подключен к 89161234567\n"), 2u);
    EXPECT_EQ(poll_cycle(), CycleResult::Complete) << headless_log();
    EXPECT_EQ(headless_connect_controls(), 0);
}

TEST_F(ModemLink, APortThatDiesWhileTheModemDialsIsRetriedAfterThePauseNotSpunOn)
{
    SimProcess sim(modem_sim());
    ASSERT_TRUE(sim.running()) << sim.log();
    ModemTap tap(sim.modem_path());
    tap.answer("atdt8");
    std::string port = tap.path();
    ASSERT_EQ(dial(LinkKind::Pstn, port, "84951234567"), 0);
    ASSERT_TRUE(wait_until([&] { return tap.sent_at("atdt8") >= 0; }, kCallMs)) << headless_log();
    ASSERT_TRUE(tap.vanish());
    // The dial gives up on the dead port and the thread waits before it
    // tries again, where the port can no longer be opened.
    ASSERT_TRUE(wait_until([] { return contains(headless_log(), "ОШИБКА открытия порта"); }, kCallMs)) << headless_log();
    std::string log = headless_log();
    EXPECT_TRUE(contains(log, ".ОШИБКА: Input/output error\nПодключение к контроллеру.ОШИБКА открытия порта '" + port))
        << log;
    EXPECT_EQ(app.link_open.load(), 0);
    hang_up();
    EXPECT_TRUE(contains(headless_log(), "Отключение...Отключено\n"));
    EXPECT_EQ(headless_connect_controls(), 1);
}

TEST_F(ModemLink, APortThatDiesDuringTheCallIsALostCall)
{
    SimProcess sim(modem_sim());
    ASSERT_TRUE(sim.running()) << sim.log();
    ModemTap tap(sim.modem_path());
    ASSERT_EQ(dial(LinkKind::Gsm, tap.path(), "89161234567"), 0);
    ASSERT_TRUE(wait_until(up, kCallMs)) << headless_log();
    ASSERT_TRUE(tap.vanish());
    uint8_t out[2];
    EXPECT_EQ(modbus_read_registers(0, 1, out, 0x04), ModbusResult::NoLink);
    ASSERT_TRUE(wait_until([] { return g_links_ended.load() == 1; }, kCallMs)) << headless_log();
    EXPECT_EQ(app.link_open.load(), 0);
    EXPECT_TRUE(contains(headless_log(), "Отключен\n"));
    EXPECT_EQ(headless_connect_controls(), 0) << "the call is still wanted: the thread redials";
}

TEST_F(ModemLink, ASilentModemOrAnUnansweredDialFailsWithinItsWaitAndIsTriedAgain)
{
    modem_set_waits({1000, 2000});
    SimProcess sim(modem_sim());
    ASSERT_TRUE(sim.running()) << sim.log();
    ModemTap tap(sim.modem_path());
    tap.answer("atz");   // switched off
    ASSERT_EQ(dial(LinkKind::Gsm, tap.path(), "89161234567"), 0);
    ASSERT_TRUE(wait_until([] { return contains(headless_log(), "ОШИБКА конфигурации модема\n"); }, 8000))
        << headless_log();
    EXPECT_TRUE(contains(headless_log(), "Подключение к контроллеру.......Модем не отвечает: проверьте питание "
                                         "модема, кабель и скорость порта\nОШИБКА конфигурации модема\n"))
        << headless_log();
    EXPECT_TRUE(contains(headless_log_tagged(), "[err_text]Модем не отвечает")) << headless_log_tagged();

    // Switched on, but the call it dials is never answered, not even by the
    // modem's own "NO ANSWER": a failed dial, stopped and redialled.
    tap.answer("atd8");
    ASSERT_TRUE(wait_until([&] { return count(tap.sent(), "atd89161234567\r\n") >= 2; }, kCallMs))
        << headless_log() << tap.both_ways();
    int64_t first = tap.sent_at("atd8"), second = tap.sent_at("atd8", first + 1);
    EXPECT_GE(second - first, 2000 + 5000) << "the wait, then the pause before a redial";
    EXPECT_TRUE(contains(tap.sent(), "atd89161234567\r\natdt\r\n")) << "the dialling is stopped" << tap.sent();
    EXPECT_TRUE(contains(headless_log_tagged(), ".[err_text]ОШИБКА: таймаут\n[norm_text]Подключение к контроллеру"))
        << headless_log_tagged();
    EXPECT_EQ(app.link_open.load(), 0);
    EXPECT_EQ(headless_connect_controls(), 0) << "the call is still wanted";
}

TEST_F(ModemLink, ACarrierLostWhileARequestWaitsFailsItAsALostLinkNotAsAReply)
{
    SimProcess sim(modem_sim());
    ASSERT_TRUE(sim.running()) << sim.log();
    ModemTap tap(sim.modem_path());
    ASSERT_EQ(dial(LinkKind::Gsm, tap.path(), "89161234567"), 0);
    ASSERT_TRUE(wait_until(up, kCallMs)) << headless_log();
    ASSERT_EQ(poll_cycle(), CycleResult::Complete) << headless_log();

    // The next request drops the call: its answer is the modem's "3".
    ASSERT_EQ(sim.control("fault close-after 0"), "ok");
    uint8_t out[2];
    EXPECT_EQ(modbus_read_registers(1, 1, out, 0x04), ModbusResult::NoLink);
    ASSERT_TRUE(wait_until([] { return g_links_ended.load() == 1; }, kCallMs)) << headless_log();
    std::string log = headless_log_tagged();
    EXPECT_TRUE(contains(log, "[err_text]НЕТ НЕСУЩЕЙ\n[norm_text]Отключен\n")) << log;
    EXPECT_FALSE(contains(log, "Некорректный размер")) << log;
    EXPECT_FALSE(contains(log, "Ошибка обмена")) << log;
    EXPECT_EQ(count(log, "НЕТ НЕСУЩЕЙ"), 1u) << log;
    EXPECT_EQ(app.link_open.load(), 0);
    ASSERT_TRUE(wait_until(up, kCallMs)) << "redialled: " << headless_log();
    EXPECT_EQ(modbus_read_registers(1, 1, out, 0x04), ModbusResult::Ok) << headless_log();
}

TEST_F(ModemLink, APortThatRefusesTheSettingsSaysSoOnceAndIsNotRetried)
{
    SimProcess sim(modem_sim());
    ASSERT_TRUE(sim.running()) << sim.log();
    ModemTap tap(sim.modem_path());
    // 256000 baud, 5 bits, 1.5 stop bits: a pseudo-terminal may or may not
    // take the speed, it never takes 5 bits.
    app.baud_index = 14;
    app.data_bits_index = 0;
    app.stop_bits_index = 1;
    ASSERT_EQ(dial(LinkKind::Gsm, tap.path(), "89161234567"), 0);
    ASSERT_TRUE(wait_until([] { return headless_connect_controls() == 1; }, 5000)) << headless_log();
    std::string log = headless_log();
    EXPECT_TRUE(contains(log, "Порт не поддерживает ")) << log;
    EXPECT_EQ(count(log, "Порт не поддерживает"), 1u) << log;
    EXPECT_TRUE(contains(log, "\nОтключение...Отключено\n")) << log;
    EXPECT_EQ(app.modem_wanted.load(), 0);
    // The modem thread has ended: nothing is left to try again.
    workers_wait(kModemLane);
    EXPECT_EQ(count(headless_log(), "Подключение к контроллеру"), 1u) << headless_log();
    EXPECT_TRUE(tap.sent().empty()) << "the modem was never spoken to";
}

TEST_F(ModemLink, ALongGarbledAnswerFailsTheResetCleanly)
{
    SimProcess sim(modem_sim());
    ASSERT_TRUE(sim.running()) << sim.log();
    ModemTap tap(sim.modem_path());
    tap.answer("atz", std::string(300, 'x') + "\r\n");
    ASSERT_EQ(dial(LinkKind::Gsm, tap.path(), "89161234567"), 0);
    ASSERT_TRUE(wait_until([] { return contains(headless_log(), "ОШИБКА конфигурации модема\n"); }, kCallMs))
        << headless_log();
    EXPECT_FALSE(contains(tap.sent(), "atd"));
}

#endif
