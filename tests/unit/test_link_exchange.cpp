// The exchange over a fake byte stream: how replies of each link are received
// and judged, without sockets or timing.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <future>
#include <deque>
#include <functional>
#include <mutex>
#include <vector>

#include "base/app_state.h"
#include "base/headless_ui.h"
#include "link/connection.h"
#include "modbus/exchange.h"
#include "modbus/frame.h"
#include "modbus/operations.h"

namespace {

using Bytes = std::vector<uint8_t>;

// A link whose peer answers each frame through `answer`; reads never wait.
struct FakeLink {
    std::mutex lock;
    std::deque<uint8_t> incoming;
    std::vector<Bytes> sent;
    int empty_reads = 0;
    std::function<Bytes(const Bytes&)> answer;

    std::shared_ptr<LinkIo> io(LinkKind kind)
    {
        auto io = std::make_shared<LinkIo>();
        io->kind = kind;
        io->read_wait_ms = 1;   // only marks a real wait; the fake never blocks
        io->connected_text = "Подключен\n";
        io->write_all = [this](const uint8_t* bytes, int length) {
            std::lock_guard<std::mutex> g(lock);
            sent.emplace_back(bytes, bytes + length);
            Bytes reply = answer ? answer(sent.back()) : Bytes{};
            incoming.insert(incoming.end(), reply.begin(), reply.end());
            return length;
        };
        io->read_some = [this](uint8_t* buffer, int max, int wait_ms) {
            std::lock_guard<std::mutex> g(lock);
            int n = 0;
            while (n < max && !incoming.empty()) {
                buffer[n++] = incoming.front();
                incoming.pop_front();
            }
            if (n == 0 && wait_ms > 0)   // not the check for stale bytes before a send
                ++empty_reads;
            return n;
        };
        io->shutdown = [] {};
        io->error_code = [] { return 0; };
        return io;
    }
    int empties()
    {
        std::lock_guard<std::mutex> g(lock);
        return empty_reads;
    }
};

Bytes modem_frame(Bytes pdu)
{
    uint16_t crc = frame_crc16(pdu.data(), pdu.size());
    pdu.push_back(uint8_t(crc));
    pdu.push_back(uint8_t(crc >> 8));
    pdu.resize(pdu.size() * 2 + 1);
    int n = frame_escape(pdu.data(), int(pdu.size() - 1) / 2, int(pdu.size()));
    pdu.resize(size_t(n));
    pdu.push_back(0x0D);
    return pdu;
}

class FakeExchange : public testing::Test {
protected:
    void SetUp() override
    {
        headless_ui_install();
        headless_ui_clear();
        app_state_reset_start_values();
        app.modem_wanted = 0;   // not one of the start values
    }
    void open(LinkKind kind)
    {
        app.link_kind = kind;
        exchange_open(link.io(kind));
    }
    void TearDown() override
    {
        {
            GdkLock g;
            exchange_close();
            app.link_open = 0;
        }
        exchange_wait_stopped();
    }
    FakeLink link;
};

TEST_F(FakeExchange, ExceptionRepliesCompleteAtOnceOnLinksWithALengthField)
{
    // Ethernet: header length 3; USB: length byte 3. Neither may wait out
    // the budget of empty reads.
    link.answer = [](const Bytes&) { return Bytes{0, 0, 0, 0, 0, 3, 0xFF, 0x84, 0x02}; };
    open(LinkKind::Ethernet);
    uint8_t out[52];
    EXPECT_EQ(modbus_read_registers(0x0100, 26, out, 0x04), ModbusResult::Exception);
    EXPECT_EQ(link.empties(), 0);
    TearDown();

    FakeLink usb;
    usb.answer = [](const Bytes&) { return Bytes{3, 0x84, 0x06}; };
    app.link_kind = LinkKind::Usb;
    exchange_open(usb.io(LinkKind::Usb));
    EXPECT_EQ(modbus_read_registers(0x0100, 26, out, 0x04), ModbusResult::Exception);
    EXPECT_EQ(usb.empties(), 0);
    EXPECT_NE(headless_log().find("Исключение: Устройство занято\n"), std::string::npos);
    {
        GdkLock g;
        exchange_close();
    }
    exchange_wait_stopped();
}

TEST_F(FakeExchange, ModemRepliesAreReadUpToTheirEndAndUnstuffed)
{
    // Register values that need stuffing on the way back.
    link.answer = [](const Bytes&) { return modem_frame({0x04, 4, 0x0D, 0x1A, 0x00, 0x0D}); };
    app.log_frames = 1;
    open(LinkKind::Gsm);
    uint8_t out[4];
    ASSERT_EQ(modbus_read_registers(0, 2, out, 0x04), ModbusResult::Ok);
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{0x0D, 0x1A, 0x00, 0x0D}));
    EXPECT_EQ(link.sent.at(0), modem_frame({0x04, 0, 0, 0, 2}));
    // Each byte as it arrives, then the whole reply.
    std::string log = headless_log_tagged();
    EXPECT_NE(log.find("[recv_text]04 \n[recv_text]04 \n"), std::string::npos) << log;
}

TEST_F(FakeExchange, ModemChecksumErrorsAreLoggedOnlyWhileTheCallIsWanted)
{
    link.answer = [](const Bytes&) {
        Bytes f = modem_frame({0x04, 2, 0x12, 0x34});
        f[2] ^= 0x01;
        return f;
    };
    std::atomic<bool> wanted{false};
    app.link_kind = LinkKind::Pstn;
    auto io = link.io(LinkKind::Pstn);
    io->wanted = [&wanted] { return wanted.load(); };
    exchange_open(io);
    uint8_t out[2];
    EXPECT_EQ(modbus_read_registers(7, 1, out, 0x04), ModbusResult::ChecksumError);
    EXPECT_EQ(headless_log().find("Ошибка контрольной суммы"), std::string::npos);
    wanted = true;
    EXPECT_EQ(modbus_read_registers(7, 1, out, 0x04), ModbusResult::ChecksumError);
    EXPECT_NE(headless_log().find("Команда: x04 Смещение: 0007 Количество: 1 Ошибка контрольной суммы\n"),
              std::string::npos);
}

TEST_F(FakeExchange, ATooLongModemFrameIsAReplyOfTheWrongSize)
{
    link.answer = [](const Bytes&) { return Bytes(600, 0x55); };
    open(LinkKind::Gsm);
    uint8_t out[2];
    EXPECT_EQ(modbus_read_registers(0, 1, out, 0x04), ModbusResult::Invalid);
    EXPECT_NE(headless_log().find("Количество: 1 Некорректный размер\n"), std::string::npos) << headless_log();
}

TEST_F(FakeExchange, WaitingForTheTransportThreadCoversAThreadNotYetRunning)
{
    // A link closed the moment it opened: its thread may not have been
    // scheduled yet, and a caller that lets the process end (or installs
    // other hooks) after the wait must not have it run afterwards.
    for (int round = 0; round < 20; ++round) {
        headless_ui_clear();
        FakeLink quick;
        app.link_kind = LinkKind::Usb;
        exchange_open(quick.io(LinkKind::Usb));
        {
            GdkLock g;
            exchange_close();
        }
        exchange_wait_stopped();
        ASSERT_EQ(headless_log(), "Подключен\nОтключен\n") << "round " << round;
        ASSERT_EQ(app.transport_running.load(), 0);
    }
}

TEST_F(FakeExchange, EachWayAnExchangeFailsReachesTheCallerAsItsOwnResult)
{
    const Bytes reply{0, 0, 0, 0, 0, 5, 0xFF, 0x04, 2, 0x12, 0x34};
    Bytes answer = reply;
    link.answer = [&answer](const Bytes&) { return answer; };
    auto io = link.io(LinkKind::Ethernet);
    std::atomic<bool> lines_up{true};
    io->usable = [&lines_up] { return lines_up.load(); };
    app.link_kind = LinkKind::Ethernet;
    exchange_open(io);
    uint8_t out[2];
    ASSERT_EQ(modbus_read_registers(0, 1, out, 0x04), ModbusResult::Ok);

    // A reply cut short is one of the wrong size, not a lost link.
    answer.assign(reply.begin(), reply.begin() + 9);
    EXPECT_EQ(modbus_read_registers(0, 1, out, 0x04), ModbusResult::Invalid);
    EXPECT_NE(headless_log().find("Количество: 1 Некорректный размер\n"), std::string::npos) << headless_log();

    // Silence is a failed exchange.
    headless_ui_clear();
    answer.clear();
    EXPECT_EQ(modbus_read_registers(0, 1, out, 0x04), ModbusResult::NoLink);
    EXPECT_NE(headless_log().find("Нет ответа контроллера: получено 0 из 11 байт\n"), std::string::npos);
    EXPECT_NE(headless_log().find("Ошибка обмена\n"), std::string::npos);

    // A link that cannot carry an exchange sends nothing.
    headless_ui_clear();
    answer = reply;
    lines_up = false;
    size_t sent_before = link.sent.size();
    EXPECT_EQ(modbus_read_registers(0, 1, out, 0x04), ModbusResult::NoLink);
    EXPECT_EQ(link.sent.size(), sent_before);
    EXPECT_EQ(headless_log().find("Некорректный размер"), std::string::npos) << headless_log();
    lines_up = true;
    EXPECT_EQ(modbus_read_registers(0, 1, out, 0x04), ModbusResult::Ok) << "the link carries again";
}

TEST_F(FakeExchange, EthernetRepliesNumberedForAnotherRequestAreDroppedAndTheWaitGoesOnForItsOwn)
{
    // The first request gets its own reply; the second first a reply of
    // another length numbered for the first (a late one), the third one
    // numbered 0, each then its own: only its own is data.
    link.answer = [](const Bytes& request) {
        uint8_t hi = request[0], lo = request[1];
        Bytes own{hi, lo, 0, 0, 0, 5, 0xFF, 0x04, 2, 0x12, 0x34};
        if (lo == 1)
            return own;
        uint8_t earlier = lo == 2 ? 1 : 0;
        Bytes stale{0, earlier, 0, 0, 0, 7, 0xFF, 0x04, 4, 0xDE, 0xAD, 0xBE, 0xEF};
        stale.insert(stale.end(), own.begin(), own.end());
        return stale;
    };
    app.log_frames = 1;
    open(LinkKind::Ethernet);
    uint8_t out[2];
    for (int i = 0; i < 3; ++i) {
        ASSERT_EQ(modbus_read_registers(0, 1, out, 0x04), ModbusResult::Ok) << headless_log();
        EXPECT_EQ(Bytes(out, out + 2), (Bytes{0x12, 0x34}));
    }
    // Numbered one by one from 1; 0, which a Controller that ignores the
    // numbers answers, is never sent.
    ASSERT_EQ(link.sent.size(), 3u);
    for (size_t i = 0; i < 3; ++i)
        EXPECT_EQ(link.sent[i][1], i + 1);
    EXPECT_NE(headless_log().find("Отброшен ответ на запрос №1: ожидается ответ на №2\n"), std::string::npos)
        << headless_log();
    EXPECT_EQ(headless_log().find("не возвращает номер запроса"), std::string::npos)
        << "a 0 after the link has echoed its numbers is as stale as any other";

    // The protocol identifier is 0 on every sound link.
    link.answer = [](const Bytes& request) { return Bytes{request[0], request[1], 0, 1, 0, 5, 0xFF, 0x04, 2, 1, 2}; };
    ModbusOutcome foreign = modbus_read_registers(0, 1, out, 0x04);
    EXPECT_EQ(foreign.failure, ModbusFailure::WrongSize);
    EXPECT_EQ(foreign, ModbusResult::Invalid);
}

TEST_F(FakeExchange, AfterAMissingReplyTheNextRequestWaitsForAQuietLinkAndDropsTheLateReply)
{
    // No answer to the first request; its reply comes once it has been
    // given up, while the link is waiting to fall quiet.
    Bytes late{4, 0x04, 2, 0x0B, 0xAD};
    auto io = link.io(LinkKind::Usb);
    io->quiet_ms = 30;
    int calls = 0;
    link.answer = [&calls](const Bytes&) { return ++calls == 1 ? Bytes{} : Bytes{5, 0x04, 2, 0x12, 0x34}; };
    auto read_some = io->read_some;
    io->read_some = [this, read_some, late](uint8_t* buffer, int max, int wait_ms) {
        if (link.empties() == kEmptyReadBudget + 1) {
            std::lock_guard<std::mutex> g(link.lock);
            link.incoming.insert(link.incoming.end(), late.begin(), late.end());
        }
        return read_some(buffer, max, wait_ms);
    };
    app.link_kind = LinkKind::Usb;
    exchange_open(io);
    uint8_t out[2];
    ModbusOutcome missing = modbus_read_registers(0, 1, out, 0x04);
    EXPECT_EQ(missing.failure, ModbusFailure::NoReply);
    EXPECT_TRUE(missing.outcome_unknown());
    EXPECT_NE(modbus_last_failure().text.find("Количество: 1 Нет ответа контроллера"), std::string::npos)
        << modbus_last_failure().text;
    ASSERT_EQ(modbus_read_registers(0, 1, out, 0x04), ModbusResult::Ok) << headless_log();
    EXPECT_EQ(Bytes(out, out + 2), (Bytes{0x12, 0x34})) << "the late reply is not this request's answer";
}

TEST_F(FakeExchange, APeerThatNeverStopsSendingCannotHoldTheLinkBeforeASend)
{
    // Bytes nobody asked for are dropped before each send, but a peer that
    // streams without end must not keep the request from ever going out, nor
    // the wait for its reply from ending: none of what it streams answers it.
    auto io = link.io(LinkKind::Ethernet);
    io->read_some = [](uint8_t* buffer, int max, int) {
        std::memset(buffer, 0x55, size_t(max));
        return max;
    };
    app.link_kind = LinkKind::Ethernet;
    exchange_open(io);
    auto done = std::async(std::launch::async, [] {
        uint8_t out[2];
        return modbus_read_registers(0, 1, out, 0x04);
    });
    bool finished = done.wait_for(std::chrono::seconds(5)) == std::future_status::ready;
    if (!finished) {
        GdkLock g;
        exchange_close();   // lets the stuck call go
    }
    ASSERT_TRUE(finished);
    EXPECT_EQ(done.get().failure, ModbusFailure::NoReply);
    EXPECT_EQ(link.sent.size(), 1u);
}

TEST(MonitoringPassword, IsPaddedWithZerosAndCutAtSixBytes)
{
    store_monitoring_password("654321", 6);
    store_monitoring_password("12", 2);
    EXPECT_EQ(Bytes(app.monitoring_password, app.monitoring_password + 6),
              (Bytes{0x31, 0x32, 0, 0, 0, 0}));
    EXPECT_EQ(app.password_entered.load(), 1);
    store_monitoring_password("\xC0\xC1\xC2\xC3\xC4\xC5\xC6", 7);
    EXPECT_EQ(app.monitoring_password[5], 0xC5);
}

}  // namespace

TEST(MonitoringPassword, TextWindows1251CannotHoldIsRefusedAndTheLastGoodOneKept)
{
    app.password_entered = 0;
    ASSERT_EQ(store_monitoring_password_text("Пароль"), 0);
    Bytes good(app.monitoring_password, app.monitoring_password + 6);
    EXPECT_EQ(good, (Bytes{0xCF, 0xE0, 0xF0, 0xEE, 0xEB, 0xFC}));
    app.password_entered = 0;
    // CJK and an emoji have no WINDOWS-1251 byte: six zero bytes would be
    // stored as a password nobody typed.
    EXPECT_EQ(store_monitoring_password_text("密码"), -1);
    EXPECT_EQ(store_monitoring_password_text("12\xF0\x9F\x94\x91"), -1);
    EXPECT_EQ(Bytes(app.monitoring_password, app.monitoring_password + 6), good);
    EXPECT_EQ(app.password_entered.load(), 0);
}

namespace {

// The wrappings as the wire carries them, written out here from the formats
// rather than with the program's own framing code.
uint16_t crc16(const Bytes& b)
{
    uint16_t crc = 0xFFFF;
    for (uint8_t x : b) {
        crc ^= x;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

Bytes wrap(LinkKind kind, const Bytes& pdu)
{
    Bytes out;
    switch (kind) {
    case LinkKind::Usb:
        out.push_back(uint8_t(pdu.size() + 1));
        out.insert(out.end(), pdu.begin(), pdu.end());
        return out;
    case LinkKind::Ethernet:
        out = {0, 0, 0, 0, uint8_t((pdu.size() + 1) >> 8), uint8_t(pdu.size() + 1), 0xFF};
        out.insert(out.end(), pdu.begin(), pdu.end());
        return out;
    default: {
        Bytes body = pdu;
        uint16_t crc = crc16(body);
        body.push_back(uint8_t(crc));
        body.push_back(uint8_t(crc >> 8));
        for (uint8_t b : body) {
            if (b == 0x1A)
                out.insert(out.end(), {0x1A, 0x00});
            else if (b == 0x0D)
                out.insert(out.end(), {0x1A, 0x01});
            else
                out.push_back(b);
        }
        out.push_back(0x0D);
        return out;
    }
    }
}

Bytes unwrap_request(LinkKind kind, const Bytes& frame)
{
    if (kind == LinkKind::Usb)
        return Bytes(frame.begin() + 1, frame.end());
    if (kind == LinkKind::Ethernet)
        return Bytes(frame.begin() + 7, frame.end());
    Bytes body;
    for (size_t i = 0; i + 1 < frame.size(); ++i)
        body.push_back(frame[i] == 0x1A ? (frame[++i] == 0 ? 0x1A : 0x0D) : frame[i]);
    EXPECT_EQ(crc16(body), 0);
    body.resize(body.size() - 2);
    return body;
}

// A Controller whose register n holds n and whose record bytes count up.
// Registers 0x0D00-0x0DFF are an exception; 0x0E00-0x0EFF get half a reply.
Bytes controller(const Bytes& pdu)
{
    uint8_t fn = pdu.at(0);
    uint16_t a = uint16_t(pdu.at(1) << 8 | pdu.at(2)), n = uint16_t(pdu.at(3) << 8 | pdu.at(4));
    if (fn != 0x14 && a >= 0x0D00 && a < 0x0E00)
        return {uint8_t(fn | 0x80), 0x02};
    if (fn == 0x03 || fn == 0x04) {
        Bytes r = {fn, uint8_t(2 * n)};
        for (uint16_t i = 0; i < n; ++i)
            r.insert(r.end(), {uint8_t((a + i) >> 8), uint8_t(a + i)});
        return r;
    }
    if (fn == 0x10)
        return Bytes(pdu.begin(), pdu.begin() + 5);
    uint16_t length = uint16_t(pdu.at(7) << 8 | pdu.at(8));
    Bytes r = {0x14, uint8_t(2 * length + 2), uint8_t(2 * length + 1), 6};
    for (int i = 0; i < 2 * length; ++i)
        r.push_back(uint8_t(i));
    return r;
}

class EveryLink : public FakeExchange, public testing::WithParamInterface<LinkKind> {
protected:
    void open_link()
    {
        LinkKind kind = GetParam();
        link.answer = [kind](const Bytes& frame) {
            Bytes pdu = unwrap_request(kind, frame);
            Bytes reply = wrap(kind, controller(pdu));
            uint16_t a = uint16_t(pdu.at(1) << 8 | pdu.at(2));
            if (pdu.at(0) != 0x14 && a >= 0x0E00 && a < 0x0F00)
                reply.resize(reply.size() / 2);
            return reply;
        };
        open(kind);
    }
};

}  // namespace

TEST_P(EveryLink, CarriesReadsWritesAndFileRecordsInItsWrapping)
{
    open_link();
    uint8_t out[490];
    ASSERT_EQ(modbus_read_registers(0x0C0D, 3, out, 0x04), ModbusResult::Ok);
    EXPECT_EQ(Bytes(out, out + 6), (Bytes{0x0C, 0x0D, 0x0C, 0x0E, 0x0C, 0x0F})) << "0x0D travels stuffed on a modem";
    ASSERT_EQ(modbus_read_registers(0x1A00, 125, out, 0x03), ModbusResult::Ok);
    EXPECT_EQ(out[248], 0x1A);
    EXPECT_EQ(out[249], 0x7C);
    // One register more than a request may carry is refused before anything
    // reaches the link.
    size_t sent = link.sent.size();
    EXPECT_EQ(modbus_read_registers(0x1A00, 126, out, 0x03), ModbusResult::Invalid);
    const uint8_t many[252] = {};
    EXPECT_EQ(modbus_write_registers(0x1A00, 126, many), ModbusResult::Invalid);
    EXPECT_EQ(link.sent.size(), sent);
    const uint8_t values[4] = {0x1A, 0x0D, 0x0D, 0x1A};
    EXPECT_EQ(modbus_write_registers(0x3000, 2, values), ModbusResult::Ok);
    EXPECT_EQ(unwrap_request(GetParam(), link.sent.back()),
              (Bytes{0x10, 0x30, 0x00, 0x00, 0x02, 0x04, 0x1A, 0x0D, 0x0D, 0x1A}));
    // The longest record a USB length byte can announce.
    ASSERT_EQ(modbus_read_file_record(1, 4095, 125, out), ModbusResult::Ok);
    EXPECT_EQ(out[13], 13);
    EXPECT_EQ(out[249], 249);
    EXPECT_EQ(app.link_open.load(), 1);
}

TEST_P(EveryLink, ExceptionsAndCutRepliesNeverReachTheCaller)
{
    open_link();
    uint8_t out[8];
    std::memset(out, 0xEE, sizeof out);
    EXPECT_EQ(modbus_read_registers(0x0D00, 4, out, 0x04), ModbusResult::Exception);
    EXPECT_NE(headless_log().find("Команда: x04 Смещение: 0D00 Количество: 4 Исключение: Неправильный адрес данных\n"),
              std::string::npos)
        << headless_log();
    EXPECT_NE(modbus_read_registers(0x0E00, 4, out, 0x04), ModbusResult::Ok);
    EXPECT_EQ(out[0], 0xEE) << "nothing was copied";
    ASSERT_EQ(modbus_read_registers(0x0100, 4, out, 0x04), ModbusResult::Ok) << "the link is still usable";
    EXPECT_EQ(out[7], 0x03);
}

std::string link_name(const testing::TestParamInfo<LinkKind>& info)
{
    const char* const names[] = {"Usb", "Ethernet", "Gsm", "Pstn"};
    return names[int(info.param)];
}

INSTANTIATE_TEST_SUITE_P(Links, EveryLink,
                         testing::Values(LinkKind::Usb, LinkKind::Ethernet, LinkKind::Gsm, LinkKind::Pstn), link_name);
