// rarur-sim against libmodbus's client, an independent Modbus implementation:
// reads of every layout, writes, and the exception codes of bad requests.
#include "sim_process.h"

#include <gtest/gtest.h>

#if defined(RARUR_SIM_PATH) && defined(HAVE_LIBMODBUS)
#include <cerrno>
#include <modbus.h>

namespace {

struct Client {
    modbus_t* ctx = nullptr;
    explicit Client(int port)
    {
        ctx = modbus_new_tcp("127.0.0.1", port);
        if (ctx && modbus_connect(ctx) != 0) {
            modbus_free(ctx);
            ctx = nullptr;
        }
    }
    ~Client()
    {
        if (ctx) {
            modbus_close(ctx);
            modbus_free(ctx);
        }
    }
};

uint32_t u32(const uint16_t* r) { return uint32_t(r[0]) << 16 | r[1]; }

struct LayoutCase {
    int version;
    int events_regs, settings_words;
    int mains_addr, dry_addr;
    int module_regs;  // rectifier list from 2304
};

}  // namespace

TEST(SimModbus, AnswersLibmodbusReadsInEveryLayout)
{
    for (LayoutCase lc : {LayoutCase{300, 26, 702, 2560, 3072, 180}, LayoutCase{400, 34, 750, 3072, 3584, 570},
                          LayoutCase{411, 34, 751, 3072, 3584, 540}}) {
        SCOPED_TRACE(lc.version);
        SimOptions o;
        o.protocol_version = lc.version;
        o.freeze = true;
        SimProcess sim(o);
        ASSERT_TRUE(sim.running()) << sim.log();
        Client c(sim.port());
        ASSERT_TRUE(c.ctx);

        uint16_t id[15];
        ASSERT_EQ(modbus_read_input_registers(c.ctx, 0, 15, id), 15);
        EXPECT_EQ(id[1], lc.version);
        EXPECT_EQ(u32(id + 3), 100123u);
        EXPECT_LE(id[10], 5);
        EXPECT_LE(id[12], 5);

        uint16_t ev[34];
        EXPECT_EQ(modbus_read_input_registers(c.ctx, 256, lc.events_regs, ev), lc.events_regs);
        if (lc.events_regs == 26) {
            // A layout-1 Controller refuses the longer events block of the newer layouts.
            EXPECT_EQ(modbus_read_input_registers(c.ctx, 256, 34, ev), -1);
            EXPECT_EQ(errno, EMBXILADD);
        }

        uint16_t load[56];
        ASSERT_EQ(modbus_read_input_registers(c.ctx, 512, 56, load), 56);
        EXPECT_NEAR(load[0], 5350, 50);                  // bus voltage, 0.01 V
        EXPECT_NEAR(double(u32(load + 1)), 45000, 20000);  // load current, mA

        // The rectifier list ends exactly where the layout says, read in steps of 90.
        std::vector<uint16_t> modules(lc.module_regs);
        for (int start = 0; start < lc.module_regs; start += 90) {
            int n = std::min(90, lc.module_regs - start);
            ASSERT_EQ(modbus_read_input_registers(c.ctx, 2304 + start, n, modules.data() + start), n);
        }
        EXPECT_EQ(modbus_read_input_registers(c.ctx, 2304 + lc.module_regs - 1, 2, modules.data()), -1);
        double shared = 0;
        for (int m = 0; m < 6; ++m) {
            EXPECT_NEAR(modules[3 * m], 5355, 60);  // output voltage, 0.01 V
            EXPECT_EQ(modules[3 * m + 2], 0);       // normal
            shared += modules[3 * m + 1];           // 0.01 A
        }
        EXPECT_NEAR(shared * 10, double(u32(load + 1)), 3000) << "the modules carry the load";
        EXPECT_EQ(modules[3 * 6 + 2], 0);  // unconfigured modules are empty

        uint16_t mains[7];
        ASSERT_EQ(modbus_read_input_registers(c.ctx, lc.mains_addr, 7, mains), 7);
        for (int n = 0; n < 3; ++n) {
            EXPECT_GE(mains[2 * n], 220);
            EXPECT_LE(mains[2 * n], 235);
            EXPECT_EQ(mains[2 * n + 1], 0);
        }

        // The settings block in requests of 100, as the program reads it.
        std::vector<uint16_t> s(lc.settings_words);
        for (int start = 0; start < lc.settings_words; start += 100) {
            int n = std::min(100, lc.settings_words - start);
            ASSERT_EQ(modbus_read_registers(c.ctx, start, n, s.data() + start), n) << start;
        }
        EXPECT_EQ(u32(&s[3]), 100123u);
        EXPECT_EQ(int16_t(s[7]), 12);  // +3 h
        // "ЭПУ-1" in WINDOWS-1251, never byte-swapped.
        EXPECT_EQ(s[9], 0xDDCF);
        EXPECT_EQ(s[10], 0xD32D);
        EXPECT_EQ(s[11], 0x3100);
        uint16_t extra[2];
        EXPECT_EQ(modbus_read_registers(c.ctx, lc.settings_words - 1, 2, extra), -1);
        EXPECT_EQ(errno, EMBXILADD);
    }
}

TEST(SimModbus, WritesStagedSettingsWithLibmodbusAndRefusesStrayWrites)
{
    SimOptions o;
    o.freeze = true;
    SimProcess sim(o);
    ASSERT_TRUE(sim.running()) << sim.log();
    Client c(sim.port());
    ASSERT_TRUE(c.ctx);

    const uint16_t serial[2] = {0x0001, 0x869F};  // 99999
    EXPECT_EQ(modbus_write_registers(c.ctx, 0x3000, 2, serial), 2);
    uint16_t back[2];
    ASSERT_EQ(modbus_read_registers(c.ctx, 0x3000, 2, back), 2);
    EXPECT_EQ(back[0], 0x0001);
    EXPECT_EQ(back[1], 0x869F);
    // Staged only: the block at 0 is unchanged until the settings command.
    ASSERT_EQ(modbus_read_registers(c.ctx, 3, 2, back), 2);
    EXPECT_EQ(u32(back), 100123u);

    EXPECT_EQ(modbus_write_registers(c.ctx, 0x2000, 2, serial), -1);
    EXPECT_EQ(errno, EMBXILADD);
    // Past the end of the settings body (751 - 3 = 748 registers from 0x3000).
    EXPECT_EQ(modbus_write_registers(c.ctx, 0x3000 + 747, 2, serial), -1);
    EXPECT_EQ(errno, EMBXILADD);

    std::vector<std::string> lines = sim.record_lines();
    ASSERT_GE(lines.size(), 1u);
    EXPECT_NE(lines[0].find(" fn=10 addr=3000 count=2 data=0001869F"), std::string::npos) << lines[0];
}

TEST(SimModbus, AnswersBadRequestsWithTheirExceptionCodes)
{
    SimOptions o;
    o.freeze = true;
    SimProcess sim(o);
    ASSERT_TRUE(sim.running()) << sim.log();
    Client c(sim.port());
    ASSERT_TRUE(c.ctx);

    uint16_t r[4];
    EXPECT_EQ(modbus_read_input_registers(c.ctx, 0x5000, 1, r), -1);
    EXPECT_EQ(errno, EMBXILADD);
    // Straddling two blocks is refused: identification ends at 14.
    EXPECT_EQ(modbus_read_input_registers(c.ctx, 14, 2, r), -1);
    EXPECT_EQ(errno, EMBXILADD);

    // Unknown function through libmodbus's raw request.
    const uint8_t raw[] = {0xFF, 0x2B, 0x0E, 0x01, 0x00};
    ASSERT_GT(modbus_send_raw_request(c.ctx, raw, sizeof raw), 0);
    uint8_t rsp[MODBUS_TCP_MAX_ADU_LENGTH];
    int n = modbus_receive_confirmation(c.ctx, rsp);
    ASSERT_EQ(n, 9);
    EXPECT_EQ(rsp[7], 0xAB);
    EXPECT_EQ(rsp[8], 1);

    // Counts libmodbus would not even send.
    RawModbusTcp raw_client(sim.port());
    ASSERT_TRUE(raw_client.connected());
    using V = std::vector<unsigned char>;
    EXPECT_EQ(raw_client.exchange({0x04, 0x00, 0x00, 0x00, 0x00}), (V{0x84, 0x03}));
    EXPECT_EQ(raw_client.exchange({0x04, 0x00, 0x00, 0x00, 126}), (V{0x84, 0x03}));
    EXPECT_EQ(raw_client.exchange({0x03, 0x00, 0x00, 0x00, 126}), (V{0x83, 0x03}));
    EXPECT_EQ(raw_client.exchange({0x10, 0x30, 0x00, 0x00, 124, 248, 0, 0}), (V{0x90, 0x03}));
    // Byte count that does not match the register count.
    EXPECT_EQ(raw_client.exchange({0x10, 0x30, 0x00, 0x00, 0x01, 0x04, 0, 0, 0, 0}), (V{0x90, 0x03}));
    // A request cut short.
    EXPECT_EQ(raw_client.exchange({0x04, 0x00}), (V{0x84, 0x03}));

    // Any unit id and transaction id are echoed back.
    V id = raw_client.exchange({0x04, 0x00, 0x01, 0x00, 0x01}, 2000, 0x1234, 0x11);
    ASSERT_EQ(id.size(), 4u);
    EXPECT_EQ(id[3], 410 & 0xFF);
    EXPECT_EQ(raw_client.last_header(), (V{0x12, 0x34, 0x00, 0x00, 0x00, 0x05, 0x11}));
}

TEST(SimModbus, InjectedExceptionComesBackOnlyForTheRequestsItNames)
{
    SimOptions o;
    o.args = {"--fault", "exception fn=04 addr=256 code=2"};
    SimProcess sim(o);
    ASSERT_TRUE(sim.running()) << sim.log();
    Client c(sim.port());
    ASSERT_TRUE(c.ctx);
    uint16_t r[34];
    EXPECT_EQ(modbus_read_input_registers(c.ctx, 256, 34, r), -1);
    EXPECT_EQ(errno, EMBXILADD);
    EXPECT_EQ(modbus_read_input_registers(c.ctx, 0, 15, r), 15);

    EXPECT_EQ(sim.control("fault clear"), "ok");
    EXPECT_EQ(sim.control("fault exception fn=04 addr=0x0200 code=6 times=1"), "ok");
    EXPECT_EQ(modbus_read_input_registers(c.ctx, 512, 34, r), -1);
    EXPECT_EQ(errno, EMBXSBUSY);
    EXPECT_EQ(modbus_read_input_registers(c.ctx, 512, 34, r), 34);  // fired once only
    EXPECT_EQ(modbus_read_input_registers(c.ctx, 256, 34, r), 34);  // cleared

    EXPECT_EQ(sim.control("fault exception addr=zz"), "error bad value in 'addr=zz'");
    EXPECT_EQ(sim.control("fault bogus"), "error unknown fault 'bogus'");
}

#endif
