// The Hayes modem endpoint on a pseudo-terminal: the AT set-up and dialling
// the program performs, then one modem frame each way, then the hang-up.
#include "sim_process.h"

#include <gtest/gtest.h>

#ifdef RARUR_SIM_PATH
#include <chrono>
#include <thread>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<unsigned char>;

uint16_t crc16(const Bytes& b)
{
    uint16_t crc = 0xFFFF;
    for (unsigned char x : b) {
        crc ^= x;
        for (int i = 0; i < 8; ++i)
            crc = (crc & 1) ? uint16_t((crc >> 1) ^ 0xA001) : uint16_t(crc >> 1);
    }
    return crc;
}

struct Port {
    int fd = -1;
    explicit Port(const std::string& path)
    {
        fd = open(path.c_str(), O_RDWR | O_NOCTTY);
        if (fd < 0)
            return;
        termios t{};
        tcgetattr(fd, &t);
        cfmakeraw(&t);
        tcsetattr(fd, TCSANOW, &t);
    }
    ~Port()
    {
        if (fd >= 0)
            close(fd);
    }
    void send(const std::string& s) const { ASSERT_EQ(write(fd, s.data(), s.size()), ssize_t(s.size())); }
    void send(const Bytes& b) const { ASSERT_EQ(write(fd, b.data(), b.size()), ssize_t(b.size())); }
    // Everything that arrives until `end` has been seen or the time is up.
    std::string read_until(const std::string& end, int timeout_ms = 2000) const
    {
        std::string got;
        auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
        while (got.size() < end.size() || got.compare(got.size() - end.size(), end.size(), end) != 0) {
            int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(
                               deadline - std::chrono::steady_clock::now())
                               .count());
            pollfd p{fd, POLLIN, 0};
            if (left <= 0 || poll(&p, 1, left) <= 0)
                break;
            char c;
            if (read(fd, &c, 1) != 1)
                break;
            got.push_back(c);
        }
        return got;
    }
};

// PDU + CRC (low byte first), escaped, then CR.
Bytes modem_frame(Bytes pdu)
{
    uint16_t crc = crc16(pdu);
    pdu.push_back(uint8_t(crc & 0xFF));
    pdu.push_back(uint8_t(crc >> 8));
    Bytes out;
    for (unsigned char b : pdu) {
        if (b == 0x1A) {
            out.insert(out.end(), {0x1A, 0x00});
        } else if (b == 0x0D) {
            out.insert(out.end(), {0x1A, 0x01});
        } else {
            out.push_back(b);
        }
    }
    out.push_back(0x0D);
    return out;
}

Bytes unescape(const std::string& s)
{
    Bytes out;
    for (size_t i = 0; i < s.size(); ++i) {
        unsigned char b = (unsigned char)s[i];
        if (b == 0x1A && i + 1 < s.size())
            out.push_back((unsigned char)s[++i] == 0 ? 0x1A : 0x0D);
        else
            out.push_back(b);
    }
    return out;
}

// Sets the modem up the way the program does and dials.
void set_up_and_dial(const Port& port, const std::string& expected_dial_reply)
{
    port.send("atz\r\n");
    std::string r = port.read_until("OK\r\n");
    EXPECT_NE(r.find("atz"), std::string::npos) << "echo is on after reset: " << r;
    port.send("ate0\r\n");
    // The LF after "atz" is echoed behind its result; the command itself is still echoed.
    r = port.read_until("OK\r\n");
    EXPECT_NE(r.find("ate0\r"), std::string::npos) << r;
    port.send("atv0\r\n");
    EXPECT_EQ(port.read_until("\r"), "0\r");
    for (const char* cmd : {"at&s0\r\n", "at&c1\r\n", "atm0l0\r\n", "atx4\r\n", "at+stsf=0\r\n", "at\\n5\r\n"}) {
        port.send(std::string(cmd));
        EXPECT_EQ(port.read_until("\r"), "0\r") << cmd;
    }
    port.send("atdt84951234567\r\n");
    EXPECT_EQ(port.read_until("\r"), expected_dial_reply);
}

}  // namespace

TEST(SimModem, DialsCarriesOneFrameEachWayAndHangsUp)
{
    SimOptions o;
    o.tcp = false;
    o.modem = true;
    o.freeze = true;
    SimProcess sim(o);
    ASSERT_TRUE(sim.running()) << sim.log();
    Port port(sim.modem_path());
    ASSERT_GE(port.fd, 0);
    set_up_and_dial(port, "1\r");

    // Read the identification block: 04 00 00 00 0F, CRC 0x0F14 goes out as 14 0F... for 15 registers.
    port.send(modem_frame({0x04, 0x00, 0x00, 0x00, 0x0F}));
    std::string raw = port.read_until("\r");
    ASSERT_FALSE(raw.empty());
    EXPECT_EQ(raw.find('\r'), raw.size() - 1) << "the only CR ends the frame";
    Bytes reply = unescape(raw.substr(0, raw.size() - 1));
    ASSERT_EQ(reply.size(), 2u + 30u + 2u);
    EXPECT_EQ(crc16(reply), 0);
    EXPECT_EQ(reply[0], 0x04);
    EXPECT_EQ(reply[1], 30);
    EXPECT_EQ(reply[4] << 8 | reply[5], 410);

    // Exceptions travel with their CRC like any reply.
    port.send(modem_frame({0x04, 0x50, 0x00, 0x00, 0x01}));
    Bytes ex = unescape(port.read_until("\r").substr(0, 4));
    ASSERT_EQ(ex.size(), 4u);
    EXPECT_EQ(ex[0], 0x84);
    EXPECT_EQ(ex[1], 0x02);
    EXPECT_EQ(crc16(ex), 0);

    // A frame with a broken checksum gets no answer: the next reply is the
    // next frame's (one register, not fifteen). That reply also says the
    // simulator has taken every byte before it, so the line has been quiet
    // since it came.
    Bytes bad = modem_frame({0x04, 0x00, 0x00, 0x00, 0x0F});
    bad[5] ^= 0x40;
    port.send(bad);
    port.send(modem_frame({0x04, 0x00, 0x00, 0x00, 0x01}));
    Bytes one = unescape(port.read_until("\r").substr(0, 6));
    ASSERT_EQ(one.size(), 6u);
    EXPECT_EQ(one[1], 2);
    auto quiet_since = std::chrono::steady_clock::now();

    // Guard time, "+++", guard time: back to commands; then hang up.
    std::this_thread::sleep_until(quiet_since + std::chrono::milliseconds(o.modem_guard_ms));
    port.send("+++");
    EXPECT_EQ(port.read_until("\r", 2000), "0\r");
    port.send("ath\r\n");
    EXPECT_EQ(port.read_until("\r"), "0\r");
    // Off line, a frame is just a bad command line.
    port.send(modem_frame({0x04, 0x00, 0x00, 0x00, 0x0F}));
    EXPECT_EQ(port.read_until("\r"), "4\r");

    std::vector<std::string> lines = sim.record_lines();
    ASSERT_EQ(lines.size(), 3u);
    EXPECT_NE(lines[0].find("fn=04 addr=0000 count=15"), std::string::npos);
    EXPECT_NE(lines[2].find("fn=04 addr=0000 count=1"), std::string::npos);
}

TEST(SimModem, BusyLineAndFaultsOnTheCall)
{
    {
        SimOptions o;
        o.tcp = false;
        o.modem = true;
        o.args = {"--modem-result", "7"};
        SimProcess sim(o);
        ASSERT_TRUE(sim.running()) << sim.log();
        Port port(sim.modem_path());
        set_up_and_dial(port, "7\r");
    }
    SimOptions o;
    o.tcp = false;
    o.modem = true;
    SimProcess sim(o);
    ASSERT_TRUE(sim.running()) << sim.log();
    Port port(sim.modem_path());
    set_up_and_dial(port, "1\r");
    ASSERT_EQ(sim.control("fault badcrc on"), "ok");
    port.send(modem_frame({0x04, 0x00, 0x00, 0x00, 0x01}));
    std::string raw = port.read_until("\r");
    Bytes reply = unescape(raw.substr(0, raw.size() - 1));
    ASSERT_EQ(reply.size(), 6u);
    EXPECT_NE(crc16(reply), 0);
    ASSERT_EQ(sim.control("fault clear"), "ok");

    // The carrier drops: NO CARRIER, and frames are command lines again.
    ASSERT_EQ(sim.control("fault drop-carrier"), "ok");
    EXPECT_EQ(port.read_until("\r"), "3\r");
    port.send("at\r\n");
    EXPECT_EQ(port.read_until("\r"), "0\r");
}

#endif
