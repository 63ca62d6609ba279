// The exchange over real links: TCP on 127.0.0.1 against libmodbus's server
// as an independent peer, and TCP and USB (the program's own access library on
// a Unix socket) against a peer that misbehaves on request.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <thread>
#include <vector>

#include "base/app_state.h"
#include "base/headless_ui.h"
#include "base/log.h"
#include "link/connection.h"
#include "link/tcp.h"
#include "link/usb.h"
#include "modbus/exchange.h"
#include "modbus/operations.h"
#include "sim_process.h"
#include "test_servers.h"

namespace {

uint16_t be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

class Exchange : public testing::Test {
protected:
    void SetUp() override
    {
        headless_ui_install();
        connection_init();
        headless_ui_clear();
        app_state_reset_start_values();
        app.modem_wanted = 0;   // not one of the start values
        app.log_frames = 0;
    }
    void TearDown() override
    {
        {
            GdkLock g;
            link_close();
        }
        exchange_wait_stopped();
        connection_unsubscribe_all();
    }
    // What the address dialog's OK does, once Ethernet is the chosen link.
    int connect(uint16_t port, const char* host = "127.0.0.1")
    {
        address_ = std::string(host) + ":" + std::to_string(port);
        headless_set_device_address(address_);
        app.link_kind = LinkKind::Ethernet;
        GdkLock g;
        return connect_ethernet();
    }
    static bool contains(const std::string& haystack, const std::string& needle)
    {
        return haystack.find(needle) != std::string::npos;
    }
    std::string address_;
};

// The same exchange over each link kind whose peer the tests can play.
class ExchangeOver : public Exchange, public testing::WithParamInterface<Wire> {
protected:
    void SetUp() override
    {
        Exchange::SetUp();
        unsetenv("RARUR_USB_LIBRARY");
        usb_access_forget();
    }
    bool usb() const { return GetParam() == Wire::Usb; }
    // What the user does to connect to `server`.
    int open(const FaultyServer& server)
    {
        if (!usb())
            return connect(server.port());
        app.link_kind = LinkKind::Usb;
        setenv("RARUR_USB_DIR", server.dir().c_str(), 1);
        GdkLock g;
        return usb_connect(nullptr);
    }
    std::string title() const { return usb() ? "RARUR Service - USB {1}" : "RARUR Service - [" + address_ + "]"; }
    std::string connected() const { return usb() ? "Подключен через USB {1}\n" : "Подключен к " + address_ + "\n"; }
    std::string send_error() const
    {
        return usb() ? "Ошибка передачи\n" : "Ошибка передачи: [10054] Соединение разорвано устройством\n";
    }
    // Length of a frame carrying a PDU of `pdu_length` bytes on this link.
    int framed(int pdu_length) const { return pdu_length + (usb() ? 1 : 7); }
    // The hex dump of `pdu` as this link frames it (Ethernet: as the
    // `transaction`-th request of the link).
    std::string dump(const Bytes& pdu, uint16_t transaction) const
    {
        Bytes frame;
        if (usb())
            frame = {uint8_t(pdu.size() + 1)};
        else
            frame = {uint8_t(transaction >> 8), uint8_t(transaction), 0, 0, uint8_t((pdu.size() + 1) >> 8),
                     uint8_t(pdu.size() + 1), 0xFF};
        frame.insert(frame.end(), pdu.begin(), pdu.end());
        std::string text;
        char hex[4];
        for (uint8_t b : frame) {
            std::snprintf(hex, sizeof hex, "%02X ", b);
            text += hex;
        }
        return text;
    }
};

INSTANTIATE_TEST_SUITE_P(Links, ExchangeOver, testing::Values(Wire::Tcp, Wire::Usb),
                         [](const testing::TestParamInfo<Wire>& info) {
                             return info.param == Wire::Usb ? "Usb" : "Ethernet";
                         });

#ifdef HAVE_LIBMODBUS

TEST_F(Exchange, ReadsAndWritesRegistersOfLibmodbusServer)
{
    LibmodbusServer server;
    ASSERT_EQ(connect(server.port()), 0);

    uint8_t input[12];
    ASSERT_EQ(modbus_read_registers(10, 6, input, 0x04), ModbusResult::Ok);
    for (int i = 0; i < 6; ++i)
        EXPECT_EQ(be16(input + 2 * i), 0x1000 + 10 + i);

    uint8_t values[6] = {0xCA, 0xFE, 0x12, 0x34, 0x00, 0x0D};
    ASSERT_EQ(modbus_write_registers(40, 3, values), ModbusResult::Ok);
    EXPECT_EQ(server.holding(40), 0xCAFE);
    EXPECT_EQ(server.holding(42), 0x000D);
    uint8_t holding[6];
    ASSERT_EQ(modbus_read_registers(40, 3, holding, 0x03), ModbusResult::Ok);
    EXPECT_EQ(0, std::memcmp(holding, values, 6));
    EXPECT_EQ(headless_log().find("Команда"), std::string::npos) << headless_log();
}

TEST_F(Exchange, ReportsLibmodbusExceptionsWithTheirTexts)
{
    LibmodbusServer server;
    ASSERT_EQ(connect(server.port()), 0);
    uint8_t out[512];
    EXPECT_EQ(modbus_read_registers(0x0100, 26, out, 0x04), ModbusResult::Exception);
    EXPECT_TRUE(contains(headless_log(),
                         "Команда: x04 Смещение: 0100 Количество: 26 Исключение: Неправильный адрес данных\n"))
        << headless_log();
    // Function 0x14 is not implemented by that server.
    EXPECT_EQ(modbus_read_file_record(1, 7, 6, out), ModbusResult::Exception);
    EXPECT_TRUE(contains(headless_log(),
                         "Команда: x14 Файл: 0001 Запись: 7 Длина записи: 6 Исключение: Неправильная функция\n"))
        << headless_log();
}

#endif

TEST_P(ExchangeOver, ConnectingAnnouncesTheLinkAndDisconnectingUndoesIt)
{
    static int ended;
    ended = 0;
    connection_subscribe(ConnectionEvent::LinkEnded, [] { ++ended; });
    FaultyServer server(GetParam());
    if (usb()) {
        ASSERT_EQ(open(server), 0);
    } else {
        address_ = "127.0.0.1:" + std::to_string(server.port());
        headless_set_device_address(address_);
        GdkLock g;
        ASSERT_EQ(connect_ethernet(), 0);
    }
    EXPECT_EQ(headless_connect_controls(), 0);
    uint8_t out[2];
    ASSERT_EQ(modbus_read_registers(1, 1, out, 0x04), ModbusResult::Ok);   // the transport thread has announced by now
    EXPECT_EQ(headless_title(), title());
    EXPECT_TRUE(contains(headless_log(), connected()));
    {
        GdkLock g;
        if (!usb()) {
            EXPECT_EQ(tcp_connect(), 0) << "a second connect while open does nothing";
        }
        disconnect_from_device();
        EXPECT_EQ(ended, 1) << "the window returns to its disconnected state at once";
    }
    exchange_wait_stopped();
    EXPECT_EQ(ended, 1) << "and once: the transport thread's end is the same link's";
    EXPECT_EQ(app.link_open.load(), 0);
    EXPECT_EQ(headless_connect_controls(), 1);
    EXPECT_EQ(headless_title(), "RARUR Service");
    EXPECT_TRUE(contains(headless_log(), "Отключен\n"));
    EXPECT_EQ(server.frames().size(), 1u);
    EXPECT_EQ(modbus_read_registers(1, 1, out, 0x04), ModbusResult::NoLink) << "no link";
}

TEST_P(ExchangeOver, AReconnectWaitsForTheOldTransportThreadToFinish)
{
    FaultyServer server(GetParam());
    uint8_t out[2];
    for (int round = 0; round < 3; ++round) {
        ASSERT_EQ(open(server), 0);
        ASSERT_EQ(modbus_read_registers(uint16_t(round), 1, out, 0x04), ModbusResult::Ok);
        EXPECT_EQ(be16(out), round);
        GdkLock g;
        link_close();
    }
    exchange_wait_stopped();
    std::string log = headless_log(), connected = this->connected();
    std::string expected = connected + "Отключен\n" + connected + "Отключен\n" + connected + "Отключен\n";
    EXPECT_EQ(log, expected);
}

// The moment a Controller gets to let go of a connection follows only an
// Ethernet link that was still open when the next connect came, and is left to
// the window's runner (which keeps the GUI thread turning meanwhile).
TEST_F(Exchange, OnlyAnEthernetLinkLeftOpenIsFollowedByAPauseBeforeTheNextConnect)
{
    static std::atomic<int> pauses;
    pauses = 0;
    link_set_blocking_runner([](std::function<int()> call, int) {
        ++pauses;
        return call();
    });
    FaultyServer server;
    headless_set_device_address("127.0.0.1:" + std::to_string(server.port()));
    {
        GdkLock g;
        ASSERT_EQ(connect_ethernet(), 0);
    }
    EXPECT_EQ(pauses, 0) << "no link was open";
    {
        GdkLock g;
        ASSERT_EQ(connect_ethernet(), 0);
    }
    EXPECT_EQ(pauses, 1);
    EXPECT_EQ(app.link_open.load(), 1);
    uint8_t out[2];
    EXPECT_EQ(modbus_read_registers(1, 1, out, 0x04), ModbusResult::Ok) << "the new link carries";
    {
        GdkLock g;
        disconnect_from_device();
    }
    exchange_wait_stopped();
    {
        GdkLock g;
        ASSERT_EQ(connect_ethernet(), 0);
    }
    EXPECT_EQ(pauses, 1) << "a link closed by the user needs no pause";
    link_set_blocking_runner(nullptr);
}

TEST_F(Exchange, UnappliedSettingsKeepTheLinkWhenTheUserSaysNo)
{
    FaultyServer server;
    ASSERT_EQ(connect(server.port()), 0);
    app.settings_modified = 1;
    headless_set_question_answer(0);
    {
        GdkLock g;
        EXPECT_EQ(confirm_disconnect(), 0);
    }
    EXPECT_EQ(app.link_open.load(), 1);
    headless_set_question_answer(1);
    {
        GdkLock g;
        ASSERT_EQ(confirm_disconnect(), 1);
        disconnect_from_device();
    }
    EXPECT_EQ(app.link_open.load(), 0);
}

TEST_F(Exchange, AFailedConnectLogsTheSocketErrorWithItsMeaning)
{
    int port;
    {
        Listener closed;   // a port that was free a moment ago and is closed now
        port = closed.port;
    }
    EXPECT_EQ(connect(uint16_t(port)), -1);
    EXPECT_TRUE(contains(headless_log(), "Не удается подключиться к '127.0.0.1:" + std::to_string(port) +
                                             "': [10061] Соединение отклонено\n"))
        << headless_log();
    EXPECT_EQ(app.link_open.load(), 0);
    // A name is looked up; every address it has refuses.
    headless_ui_clear();
    EXPECT_EQ(connect(uint16_t(port), "localhost"), -1);
    EXPECT_TRUE(contains(headless_log(), "Не удается подключиться к 'localhost:" + std::to_string(port) +
                                             "': [10061] Соединение отклонено\n"))
        << headless_log();
    // A text that cannot be an address is not tried at all.
    headless_ui_clear();
    EXPECT_EQ(connect(502, "192.168.1"), -1);
    EXPECT_EQ(headless_log(), "Не удается подключиться к '192.168.1:502': Адрес: имя или IP-адрес, например "
                              "192.168.1.100:502 или [::1]:502\n");
}

TEST_F(Exchange, NamesAndBracketedIpv6AddressesReachTheSimulator)
{
    SimProcess sim;
    ASSERT_TRUE(sim.running()) << sim.log();
    std::string by_name = "localhost:" + std::to_string(sim.port());
    headless_set_device_address(by_name);
    {
        GdkLock g;
        ASSERT_EQ(tcp_connect(), 0) << headless_log();
    }
    uint8_t id[30];
    ASSERT_EQ(modbus_read_registers(0, 15, id, 0x04), ModbusResult::Ok);
    EXPECT_EQ(be16(id + 2), 410) << "the protocol version of the simulator";
    EXPECT_EQ(headless_title(), "RARUR Service - [" + by_name + "]");
    {
        GdkLock g;
        link_close();
    }
    exchange_wait_stopped();

    SimOptions v6;
    v6.tcp = false;
    v6.args = {"--listen", "[::1]:0"};
    SimProcess sim6(v6);
    if (!sim6.running())
        GTEST_SKIP() << "no IPv6 loopback here: " << sim6.log();
    std::string bracketed = "[::1]:" + std::to_string(sim6.port());
    headless_set_device_address(bracketed);
    {
        GdkLock g;
        ASSERT_EQ(tcp_connect(), 0) << headless_log();
    }
    ASSERT_EQ(modbus_read_registers(0, 15, id, 0x04), ModbusResult::Ok);
    EXPECT_EQ(be16(id + 2), 410);
    EXPECT_TRUE(contains(headless_log(), "Подключен к " + bracketed + "\n")) << headless_log();
}

namespace {

addrinfo* numeric_address(const char* host, uint16_t port)
{
    addrinfo hints{}, *found = nullptr;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    return getaddrinfo(host, std::to_string(port).c_str(), &hints, &found) == 0 ? found : nullptr;
}

// A peer whose backlog is full: the kernel drops further connection
// requests, so a connect to it waits out whatever time it is given.
struct SilentPeer {
    Listener listener;
    int filler = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    SilentPeer()
    {
        ::listen(listener.fd, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        a.sin_port = htons(listener.port);
        ::connect(filler, reinterpret_cast<sockaddr*>(&a), sizeof a);
    }
    ~SilentPeer() { ::close(filler); }
};

}  // namespace

TEST_F(Exchange, EveryAddressOfANameIsTriedInItsShareOfTheWait)
{
    Listener open;
    int closed_port;
    {
        Listener closed;
        closed_port = closed.port;
    }
    // ::1 refuses (nothing listens there, or there is no IPv6 at all), then
    // 127.0.0.1 answers: what "localhost" gives where the Controller's
    // stand-in listens on IPv4 only.
    addrinfo* refused = numeric_address("::1", open.port);
    addrinfo* good = numeric_address("127.0.0.1", open.port);
    ASSERT_TRUE(refused && good);
    refused->ai_next = good;
    int code = -1;
    int fd = tcp_connect_any(refused, 5000, &code);
    EXPECT_GE(fd, 0) << code;
    EXPECT_EQ(code, 0);
    if (fd >= 0)
        ::close(fd);
    // An address that never answers gets half the time; the next one the rest.
    SilentPeer silent;
    addrinfo* mute = numeric_address("127.0.0.1", silent.listener.port);
    ASSERT_TRUE(mute);
    refused->ai_next = nullptr;
    mute->ai_next = good;
    fd = tcp_connect_any(mute, 2000, &code);
    EXPECT_GE(fd, 0) << code;
    if (fd >= 0)
        ::close(fd);
    // All failing: the last one's error.
    addrinfo* gone = numeric_address("127.0.0.1", uint16_t(closed_port));
    ASSERT_TRUE(gone);
    mute->ai_next = gone;
    fd = tcp_connect_any(mute, 400, &code);
    EXPECT_EQ(fd, -1);
    EXPECT_EQ(code, 10061);
    freeaddrinfo(refused);
    freeaddrinfo(mute);   // with `gone`
    freeaddrinfo(good);
}

TEST_P(ExchangeOver, RejectsBadArgumentsWithoutSendingAnything)
{
    FaultyServer server(GetParam());
    ASSERT_EQ(open(server), 0);
    uint8_t out[512] = {};
    EXPECT_EQ(modbus_read_registers(0, 0, out, 0x04), ModbusResult::Invalid);
    EXPECT_EQ(modbus_read_registers(0, 126, out, 0x04), ModbusResult::Invalid);
    EXPECT_EQ(modbus_write_registers(0, 126, out), ModbusResult::Invalid);
    EXPECT_EQ(modbus_read_registers(0xFF9D, 100, out, 0x03), ModbusResult::Invalid);
    EXPECT_EQ(modbus_read_file_record(1, 0, 246, out), ModbusResult::Invalid);
    EXPECT_EQ(modbus_read_file_record(1, 0, 0, out), ModbusResult::Invalid);
    EXPECT_TRUE(server.frames().empty());
    EXPECT_EQ(headless_log().find("Команда"), std::string::npos) << "invalid arguments are not logged";

    EXPECT_EQ(modbus_read_registers(0xFF9D, 99, out, 0x03), ModbusResult::Ok);
    EXPECT_EQ(be16(out + 2 * 98), 0xFFFF);
    // The longest record whose reply the link can frame: USB counts a frame
    // in one byte.
    int longest = usb() ? 125 : 245;
    EXPECT_EQ(modbus_read_file_record(1, 0, uint16_t(longest), out), ModbusResult::Ok);
    EXPECT_EQ(out[2 * longest - 1], (2 * longest - 1) % 256);
    EXPECT_EQ(server.frames().size(), 2u);
}

TEST_P(ExchangeOver, SilenceEndsAfterTheBudgetAndTheLinkStaysUsable)
{
    FaultyServer server(GetParam());
    ASSERT_EQ(open(server), 0);
    server.push(Fault::Silent);
    uint8_t out[12];
    EXPECT_EQ(modbus_read_registers(0x20, 21, out, 0x04), ModbusResult::NoLink);
    std::string log = headless_log();
    EXPECT_TRUE(contains(log, "Нет ответа контроллера: получено 0 из " + std::to_string(framed(44)) +
                                  " байт\nКоманда: x04 Смещение: 0020 Количество: 21 Ошибка обмена\n"))
        << log;
    EXPECT_EQ(app.link_open.load(), 1);
    ASSERT_EQ(modbus_read_registers(0x20, 6, out, 0x04), ModbusResult::Ok);
    EXPECT_EQ(be16(out), 0x20);
}

TEST_P(ExchangeOver, TruncatedGarbledAndExceptionRepliesAreNeverData)
{
    FaultyServer server(GetParam());
    ASSERT_EQ(open(server), 0);
    uint8_t out[12];
    std::memset(out, 0xEE, sizeof out);
    server.push(Fault::Truncate);
    EXPECT_EQ(modbus_read_registers(5, 6, out, 0x04), ModbusResult::Invalid);
    EXPECT_TRUE(contains(headless_log(), "Команда: x04 Смещение: 0005 Количество: 6 Некорректный размер\n"));
    server.push(Fault::Garble);
    EXPECT_EQ(modbus_read_registers(5, 6, out, 0x04), ModbusResult::Invalid);
    server.push(Fault::Exception);
    EXPECT_EQ(modbus_write_registers(5, 6, out), ModbusResult::Exception);
    EXPECT_TRUE(contains(headless_log(),
                         "Команда: x10 Смещение: 0005 Количество: 6 Исключение: Неправильный адрес данных\n"));
    EXPECT_EQ(out[0], 0xEE) << "nothing was copied";
    ASSERT_EQ(modbus_read_registers(5, 6, out, 0x04), ModbusResult::Ok);
    EXPECT_EQ(be16(out + 10), 10);
}

TEST_P(ExchangeOver, LateRepliesAndSurplusBytesAreNotTakenForTheNextAnswer)
{
    FaultyServer server(GetParam());
    ASSERT_EQ(open(server), 0);
    app.log_frames = 1;
    uint8_t out[12];
    server.push(Fault::Surplus);
    ASSERT_EQ(modbus_read_registers(100, 6, out, 0x04), ModbusResult::Ok);
    ASSERT_EQ(modbus_read_registers(200, 6, out, 0x04), ModbusResult::Ok);
    EXPECT_EQ(be16(out), 200);
    EXPECT_TRUE(contains(headless_log_tagged(), "[err_text]DE AD BE EF 00 \n")) << headless_log_tagged();
    EXPECT_TRUE(contains(headless_log_tagged(), "[send_text]" + dump({0x04, 0x00, 0xC8, 0x00, 0x06}, 2) + "\n"));
    Bytes reply = {0x04, 0x0C};
    for (uint8_t r = 200; r < 206; ++r)
        reply.insert(reply.end(), {0x00, r});
    EXPECT_TRUE(contains(headless_log_tagged(), "[recv_text]" + dump(reply, 2) + "\n")) << headless_log_tagged();

    // The late reply reaches the link while it must fall quiet before the
    // next request goes out. (One that came later still would be told from
    // the real answer on Ethernet by its transaction identifier.)
    server.push(Fault::Late);
    EXPECT_EQ(modbus_read_registers(300, 6, out, 0x04), ModbusResult::NoLink);
    ASSERT_TRUE(server.wait_late_sent(5000));
    ASSERT_EQ(modbus_read_registers(400, 6, out, 0x04), ModbusResult::Ok);
    EXPECT_EQ(be16(out), 400);
}

TEST_P(ExchangeOver, APeerThatHangsUpClosesTheLinkAndReleasesEveryCaller)
{
    FaultyServer server(GetParam());
    ASSERT_EQ(open(server), 0);
    server.push(Fault::Close);
    std::atomic<ModbusResult> results[4];
    std::vector<std::thread> callers;
    for (int i = 0; i < 4; ++i) {
        callers.emplace_back([&, i] {
            uint8_t out[2];
            results[i] = modbus_read_registers(uint16_t(i), 1, out, 0x04);
        });
    }
    for (auto& t : callers)
        t.join();
    for (auto& r : results)
        EXPECT_EQ(r.load(), ModbusResult::NoLink);
    exchange_wait_stopped();
    std::string log = headless_log();
    EXPECT_TRUE(contains(log, send_error())) << log;
    EXPECT_TRUE(contains(log, "Отключен\n"));
    EXPECT_EQ(headless_title(), "RARUR Service");
    EXPECT_EQ(headless_connect_controls(), 1);
    EXPECT_EQ(app.link_open.load(), 0);
}

TEST_P(ExchangeOver, ClosingTheLinkReleasesACallerStillWaitingForAReply)
{
    FaultyServer server(GetParam());
    ASSERT_EQ(open(server), 0);
    server.push(Fault::Silent);
    std::atomic<ModbusResult> result{ModbusResult::Ok};
    std::thread caller([&] {
        uint8_t out[2];
        result = modbus_read_registers(0, 1, out, 0x04);
    });
    while (server.frames().empty())
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    {
        GdkLock g;
        link_close();
    }
    caller.join();
    EXPECT_EQ(result.load(), ModbusResult::NoLink);
    EXPECT_EQ(headless_log().find("Ошибка обмена"), std::string::npos)
        << "a closed link is not an exchange error";
}

TEST_P(ExchangeOver, ConcurrentCallersGetTheirOwnAnswersOneExchangeAtATime)
{
    FaultyServer server(GetParam());
    ASSERT_EQ(open(server), 0);
    constexpr int kThreads = 8, kEach = 40;
    std::atomic<int> wrong{0};
    std::vector<std::thread> callers;
    for (int t = 0; t < kThreads; ++t) {
        callers.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                uint16_t start = uint16_t(t * 1000 + i);
                unsigned count = unsigned(1 + (t + i) % 20);
                uint8_t out[40] = {};
                ModbusResult r = (t % 3 == 2) ? modbus_write_registers(start, count, out)
                                              : modbus_read_registers(start, count, out, t % 2 ? 0x03 : 0x04);
                if (r != ModbusResult::Ok ||
                    (t % 3 != 2 && (be16(out) != start || be16(out + 2 * (count - 1)) != start + count - 1)))
                    ++wrong;
            }
        });
    }
    for (auto& t : callers)
        t.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(server.frames().size(), size_t(kThreads * kEach));
    EXPECT_EQ(server.overlaps(), 0);
    EXPECT_EQ(server.malformed(), 0);
}

}  // namespace
