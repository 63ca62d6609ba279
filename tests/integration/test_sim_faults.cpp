// Faults on demand over TCP and the USB stand-in, garbage input, hours of the
// plant's own alarms, and a clean exit on SIGTERM.
#include "sim_process.h"

#include <gtest/gtest.h>

#ifdef RARUR_SIM_PATH
#include <chrono>
#include <cstdlib>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

using Bytes = std::vector<unsigned char>;
const Bytes read_id = {0x04, 0x00, 0x00, 0x00, 0x0F};

// Raw bytes on a stream socket, read until `want` bytes or time-out/close.
Bytes receive(int fd, size_t want, int timeout_ms)
{
    Bytes got;
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (got.size() < want) {
        int left = int(std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                             std::chrono::steady_clock::now())
                           .count());
        pollfd p{fd, POLLIN, 0};
        if (left <= 0 || poll(&p, 1, left) <= 0)
            break;
        unsigned char buf[512];
        ssize_t n = recv(fd, buf, std::min(sizeof buf, want - got.size()), 0);
        if (n <= 0)
            break;
        got.insert(got.end(), buf, buf + n);
    }
    return got;
}

// A numeric field of the control channel's status line; -1 when absent.
long status_field(const std::string& status, const std::string& key)
{
    size_t at = status.find(" " + key + "=");
    return at == std::string::npos ? -1 : std::atol(status.c_str() + at + key.size() + 2);
}

bool peer_closed(int fd, int timeout_ms)
{
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0)
        return false;
    unsigned char c;
    return recv(fd, &c, 1, 0) == 0;
}

int connect_unix(const std::string& path)
{
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    if (connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        close(fd);
        return -1;
    }
    return fd;
}

}  // namespace

TEST(SimFaults, UsbStandInCarriesLengthByteFramesAndExceptions)
{
    SimOptions o;
    o.tcp = false;
    o.usb_id = 5;
    o.freeze = true;
    SimProcess sim(o);
    ASSERT_TRUE(sim.running()) << sim.log();
    int fd = connect_unix(sim.usb_socket_path());
    ASSERT_GE(fd, 0);
    const unsigned char req[] = {0x06, 0x04, 0x00, 0x00, 0x00, 0x0F};
    ASSERT_EQ(send(fd, req, sizeof req, 0), 6);
    Bytes r = receive(fd, 33, 2000);
    ASSERT_EQ(r.size(), 33u);
    EXPECT_EQ(r[0], 33);  // 2n + 3
    EXPECT_EQ(r[1], 0x04);
    EXPECT_EQ(r[2], 30);
    EXPECT_EQ(r[5] << 8 | r[6], 410);

    const unsigned char bad[] = {0x06, 0x04, 0x50, 0x00, 0x00, 0x01};
    ASSERT_EQ(send(fd, bad, sizeof bad, 0), 6);
    EXPECT_EQ(receive(fd, 3, 2000), (Bytes{0x03, 0x84, 0x02}));
    // A length byte below 2 can never start a frame: the stand-in hangs up.
    const unsigned char garbage[] = {0x00, 0x13, 0x37};
    ASSERT_EQ(send(fd, garbage, sizeof garbage, 0), 3);
    EXPECT_TRUE(peer_closed(fd, 2000));
    close(fd);
    EXPECT_EQ(sim.control("status").substr(0, 3), "ok ");
}

TEST(SimFaults, SilenceTruncationDelayLateRepliesTransactionIdsAndCloseAfterOnTcp)
{
    SimProcess sim;
    ASSERT_TRUE(sim.running()) << sim.log();
    {
        RawModbusTcp c(sim.port());
        ASSERT_EQ(sim.control("fault silence on"), "ok");
        EXPECT_TRUE(c.exchange(read_id, 300).empty());
        // The silent request was still seen and recorded.
        ASSERT_FALSE(sim.record_lines().empty());
        EXPECT_NE(sim.record_lines().back().find("fn=04 addr=0000 count=15"), std::string::npos);
    }
    {
        ASSERT_EQ(sim.control("fault silence off"), "ok");
        ASSERT_EQ(sim.control("fault delay 300"), "ok");
        RawModbusTcp c(sim.port());
        auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(c.exchange(read_id).size(), 32u);
        EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(280));
        ASSERT_EQ(sim.control("fault delay 0"), "ok");
    }
    {
        RawModbusTcp c(sim.port());
        ASSERT_EQ(sim.control("fault truncate on"), "ok");
        // Half the frame: the header announces 33 bytes that never come.
        EXPECT_TRUE(c.exchange(read_id, 300).empty());
        ASSERT_EQ(sim.control("fault truncate off"), "ok");
    }
    {
        RawModbusTcp c(sim.port());
        ASSERT_EQ(sim.control("fault close-after 2"), "ok");
        EXPECT_EQ(c.exchange(read_id).size(), 32u);
        EXPECT_EQ(c.exchange(read_id).size(), 32u);
        EXPECT_TRUE(c.exchange(read_id, 500).empty());
    }
    {
        // close-after 0: the next request is not answered at all.
        RawModbusTcp c(sim.port());
        ASSERT_EQ(sim.control("fault close-after 0"), "ok");
        EXPECT_TRUE(c.exchange(read_id, 500).empty());
        RawModbusTcp again(sim.port());
        EXPECT_EQ(again.exchange(read_id).size(), 32u);  // one-shot
    }
    {
        // A foreign transaction id on every reply, then the request's own again.
        RawModbusTcp c(sim.port());
        ASSERT_EQ(sim.control("fault tid 9"), "ok");
        EXPECT_EQ(c.exchange(read_id, 2000, 0x1234).size(), 32u);
        EXPECT_EQ(c.last_header().at(0), 0);
        EXPECT_EQ(c.last_header().at(1), 9);
        ASSERT_EQ(sim.control("fault tid off"), "ok");
        EXPECT_EQ(c.exchange(read_id, 2000, 0x1234).size(), 32u);
        EXPECT_EQ(c.last_header().at(0), 0x12);
        EXPECT_EQ(c.last_header().at(1), 0x34);
    }
    {
        // The reply to a request covering the chosen address is held back.
        RawModbusTcp c(sim.port());
        ASSERT_EQ(sim.control("fault late fn=04 addr=1 ms=300 times=1"), "ok");
        auto t0 = std::chrono::steady_clock::now();
        EXPECT_EQ(c.exchange(read_id).size(), 32u);
        EXPECT_GE(std::chrono::steady_clock::now() - t0, std::chrono::milliseconds(280));
    }
    EXPECT_EQ(sim.control("fault delay x"), "error expected a number");
    EXPECT_EQ(sim.control("fault late ms=100"), "error the rule needs fn=, addr=, file= or record=");
    EXPECT_EQ(sim.control("fault late fn=14 record=245"), "error late needs ms=");
    EXPECT_EQ(sim.control("fault tid 70000"), "error expected a transaction id 0-65535 or off");
}

TEST(SimFaults, SurvivesGarbageAndExitsCleanlyOnSigterm)
{
    SimProcess sim;
    ASSERT_TRUE(sim.running()) << sim.log();
    // Random PDUs behind valid headers, half of them starting with a served
    // function code so that the parsers see them.
    const unsigned char functions[] = {0x03, 0x04, 0x10, 0x14};
    RawModbusTcp noisy(sim.port());
    for (unsigned seed = 1; seed <= 200; ++seed) {
        Bytes noise(1 + (seed * 37) % 250);
        unsigned x = seed * 2654435761u;
        for (auto& b : noise) {
            x = x * 1103515245u + 12345u;
            b = (unsigned char)(x >> 16);
        }
        if (seed % 2)
            noise[0] = functions[(seed / 2) % 4];
        Bytes reply = noisy.exchange(noise, 500);
        ASSERT_EQ(reply.size(), 2u) << "seed " << seed;  // every one is an exception
        EXPECT_EQ(reply[0], (noise[0] & 0x7F) | 0x80);
    }
    // Control lines that are nonsense or far too long are answered, not fatal.
    EXPECT_EQ(sim.control("alarm raise nowhere"), "error unknown alarm 'nowhere'");
    EXPECT_EQ(sim.control(std::string(5000, 'x')), "error command too long");
    EXPECT_EQ(sim.control("event set 999"), "error event code out of range for this layout");
    RawModbusTcp c(sim.port());
    EXPECT_EQ(c.exchange(read_id).size(), 32u);

    struct stat st{};
    ASSERT_EQ(stat(sim.control_path().c_str(), &st), 0);
    EXPECT_TRUE(sim.stop());
    EXPECT_NE(stat(sim.control_path().c_str(), &st), 0) << "control socket left behind";
}

TEST(SimFaults, RunsHoursOfItsOwnAlarmsComingAndGoing)
{
    // A live plant, as a demo runs it: alarms raise themselves about once in
    // 90 s and clear 15-45 s later, each change journaled.
    SimProcess sim;
    ASSERT_TRUE(sim.running()) << sim.log();
    std::string status = sim.control("status");
    ASSERT_EQ(status.rfind("ok ", 0), 0u) << status;
    for (int hour = 1; hour <= 6; ++hour) {
        SCOPED_TRACE(hour);
        long time = status_field(status, "time"), journal = status_field(status, "journal");
        ASSERT_EQ(sim.control("tick 3600"), "ok") << sim.log();
        status = sim.control("status");
        ASSERT_EQ(status.rfind("ok ", 0), 0u) << status << sim.log();
        EXPECT_NE(status.find(" frozen=0 "), std::string::npos) << status;
        EXPECT_GE(status_field(status, "time") - time, 3600);
        // Scenarios that never cleared could not be raised again and the
        // journal would stand still after a handful of records.
        long added = (status_field(status, "journal") - journal + 4096) % 4096;
        EXPECT_GE(added, 20) << status;
    }
    RawModbusTcp c(sim.port());
    Bytes id = c.exchange(read_id);
    ASSERT_EQ(id.size(), 32u) << sim.log();
    EXPECT_EQ(id[0], 0x04);
    EXPECT_TRUE(sim.stop()) << sim.log();
}

TEST(SimFaults, EventsAndAlarmsDriveBitsCountsAndStatus)
{
    SimOptions o;
    o.freeze = true;
    o.protocol_version = 300;
    SimProcess sim(o);
    ASSERT_TRUE(sim.running()) << sim.log();
    RawModbusTcp c(sim.port());
    auto events = [&] { return c.exchange({0x04, 0x01, 0x00, 0x00, 26}); };
    Bytes e = events();
    ASSERT_EQ(e.size(), 54u);
    EXPECT_EQ(e[2] << 8 | e[3], 0);  // no class-1 alarm
    // Layout 1: mains phase 2 is code 225, bit 1 of the 32-bit group at
    // registers 276-277 (codes 224-255), i.e. the low register's bit 1.
    ASSERT_EQ(sim.control("alarm raise L2"), "ok");
    e = events();
    EXPECT_EQ(e[2 + 2 * 21 + 1], 0x02);
    EXPECT_EQ(e[2] << 8 | e[3], 1);  // mask 1 selects mains events
    Bytes mains = c.exchange({0x04, 0x0A, 0x00, 0x00, 7});
    ASSERT_EQ(mains.size(), 16u);
    EXPECT_EQ(mains[2 + 7], 1);                    // phase 2 state: low
    EXPECT_LT(mains[2 + 4] << 8 | mains[2 + 5], 200);  // its voltage sagged
    // Code 33 forced on: the last byte of the 64-bit group at 264-267.
    ASSERT_EQ(sim.control("event set 33"), "ok");
    e = events();
    EXPECT_EQ(e[2 + 2 * 11 + 1], 0x02);
    ASSERT_EQ(sim.control("event clear 225"), "ok");
    ASSERT_EQ(sim.control("alarm clear L2"), "ok");
    e = events();
    EXPECT_EQ(e[2 + 2 * 21 + 1], 0x00);
    EXPECT_EQ(e[2] << 8 | e[3], 0);
    std::string status = sim.control("status");
    EXPECT_NE(status.find("events=33,100"), std::string::npos) << status;
}

#endif
