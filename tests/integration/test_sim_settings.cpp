// Settings written to 0x3000 + (word - 3), taken by the command block at
// 0x4000 with the monitoring password, and read back from 0; plus the clock
// command.
#include "sim_process.h"

#include <gtest/gtest.h>

#ifdef RARUR_SIM_PATH
#include <cstring>

namespace {

using Bytes = std::vector<unsigned char>;

struct Settings {
    std::vector<uint16_t> words;
};

bool read_settings(RawModbusTcp& c, int count, std::vector<uint16_t>& words)
{
    words.assign(count, 0);
    for (int start = 0; start < count; start += 100) {
        int n = std::min(100, count - start);
        Bytes r = c.exchange({0x03, (unsigned char)(start >> 8), (unsigned char)start, 0, (unsigned char)n});
        if (r.size() != size_t(2 + 2 * n) || r[0] != 0x03)
            return false;
        for (int i = 0; i < n; ++i)
            words[start + i] = uint16_t(r[2 + 2 * i] << 8 | r[3 + 2 * i]);
    }
    return true;
}

Bytes write_pdu(unsigned start, const std::vector<uint16_t>& regs)
{
    Bytes pdu = {0x10, (unsigned char)(start >> 8), (unsigned char)start, 0, (unsigned char)regs.size(),
                 (unsigned char)(2 * regs.size())};
    for (uint16_t v : regs) {
        pdu.push_back((unsigned char)(v >> 8));
        pdu.push_back((unsigned char)v);
    }
    return pdu;
}

std::vector<uint16_t> password_regs(const char* p)
{
    return {uint16_t(uint8_t(p[0]) << 8 | uint8_t(p[1])), uint16_t(uint8_t(p[2]) << 8 | uint8_t(p[3])),
            uint16_t(uint8_t(p[4]) << 8 | uint8_t(p[5]))};
}

// Words of the fields the test edits: layout-1 numbers and their layout-3 places.
struct Fields {
    int words, breaker_count, monitoring_password;
};

}  // namespace

TEST(SimSettings, WriteApplyReadBackRoundTripRefusesAWrongPassword)
{
    for (auto [version, f] : {std::pair{300, Fields{702, 157, 621}}, std::pair{410, Fields{751, 205, 670}}}) {
        SCOPED_TRACE(version);
        SimOptions o;
        o.protocol_version = version;
        o.freeze = true;
        SimProcess sim(o);
        ASSERT_TRUE(sim.running()) << sim.log();
        RawModbusTcp c(sim.port());
        std::vector<uint16_t> before;
        ASSERT_TRUE(read_settings(c, f.words, before));
        EXPECT_EQ(before[f.breaker_count], 12);

        // Edit: comment "ЩИТ-2" (cp1251 D9 C8 D2 2D 32) and 16 load breakers.
        std::vector<uint16_t> edited = before;
        edited[9] = 0xD9C8;
        edited[10] = 0xD22D;
        edited[11] = 0x3200;
        edited[f.breaker_count] = 16;
        // Body in segments of at most 100 registers, as the program writes it.
        for (int w = 3; w < f.words; w += 100) {
            int n = std::min(100, f.words - w);
            std::vector<uint16_t> seg(edited.begin() + w, edited.begin() + w + n);
            ASSERT_EQ(c.exchange(write_pdu(0x3000 + w - 3, seg)).size(), 5u) << w;
        }
        Bytes key = c.exchange({0x03, 0x40, 0x00, 0x00, 0x02});
        ASSERT_EQ(key.size(), 6u);
        std::vector<uint16_t> command = {uint16_t(key[2] << 8 | key[3]), uint16_t(key[4] << 8 | key[5])};

        auto settings_command = [&](const char* password, std::vector<uint16_t> head) {
            std::vector<uint16_t> block = head;
            for (uint16_t v : password_regs(password))
                block.push_back(v);
            block.push_back(1);
            return c.exchange(write_pdu(0x4000, block));
        };
        // Wrong password: exception 4, nothing taken.
        EXPECT_EQ(settings_command("654321", command), (Bytes{0x90, 0x04}));
        std::vector<uint16_t> now;
        ASSERT_TRUE(read_settings(c, f.words, now));
        EXPECT_EQ(now, before);
        // The first two registers must be echoed as read.
        EXPECT_EQ(settings_command("123456", {uint16_t(command[0] ^ 1), command[1]}), (Bytes{0x90, 0x03}));

        EXPECT_EQ(settings_command("123456", command), (Bytes{0x10, 0x40, 0x00, 0x00, 0x06}));
        ASSERT_TRUE(read_settings(c, f.words, now));
        for (int w = 3; w < f.words; ++w)
            ASSERT_EQ(now[w], edited[w]) << "word " << w;

        // The echo registers move on, so a replayed block is refused.
        EXPECT_EQ(settings_command("123456", command), (Bytes{0x90, 0x03}));
        // The save is journaled ("Сохранение настроек", 513).
        Bytes id = c.exchange({0x04, 0x00, 0x08, 0x00, 0x01});
        ASSERT_EQ(id.size(), 4u);
        unsigned newest = unsigned(id[2] << 8 | id[3]);
        Bytes rec = c.exchange({0x14, 7, 6, 0, 1, (unsigned char)(newest >> 8), (unsigned char)newest, 0, 6});
        ASSERT_EQ(rec.size(), 16u);
        EXPECT_EQ(rec[14] << 8 | rec[15], 513);
    }
}

TEST(SimSettings, NewMonitoringPasswordGuardsTheCommandsFromThenOn)
{
    SimOptions o;
    o.freeze = true;
    SimProcess sim(o);
    ASSERT_TRUE(sim.running()) << sim.log();
    RawModbusTcp c(sim.port());
    // Segment 4 of layout 3: the monitoring password at words 670-672.
    ASSERT_EQ(c.exchange(write_pdu(0x3000 + 670 - 3, password_regs("777777"))).size(), 5u);
    Bytes key = c.exchange({0x03, 0x40, 0x00, 0x00, 0x02});
    ASSERT_EQ(key.size(), 6u);
    std::vector<uint16_t> block = {uint16_t(key[2] << 8 | key[3]), uint16_t(key[4] << 8 | key[5])};
    for (uint16_t v : password_regs("123456"))
        block.push_back(v);
    block.push_back(1);
    ASSERT_EQ(c.exchange(write_pdu(0x4000, block)).size(), 5u);

    std::vector<uint16_t> clock = password_regs("123456");
    clock.insert(clock.end(), {0x6591, 0xD650});  // 1704056400
    EXPECT_EQ(c.exchange(write_pdu(0x4100, clock)), (Bytes{0x90, 0x04}));
    clock = password_regs("777777");
    clock.insert(clock.end(), {0x6591, 0xD650});
    EXPECT_EQ(c.exchange(write_pdu(0x4100, clock)), (Bytes{0x10, 0x41, 0x00, 0x00, 0x05}));
    Bytes t = c.exchange({0x04, 0x00, 0x05, 0x00, 0x02});
    EXPECT_EQ(t, (Bytes{0x04, 0x04, 0x65, 0x91, 0xD6, 0x50}));

    // Contactor synchronisation closes every configured contactor.
    ASSERT_EQ(sim.control("alarm raise K2"), "ok");
    EXPECT_EQ(c.exchange({0x04, 0x08, 0x00, 0x00, 0x02}), (Bytes{0x04, 0x04, 0x00, 0x01, 0x00, 0x02}));
    std::vector<uint16_t> sync = password_regs("777777");
    sync.push_back(1);
    EXPECT_EQ(c.exchange(write_pdu(0x4300, sync)).size(), 5u);
    EXPECT_EQ(c.exchange({0x04, 0x08, 0x00, 0x00, 0x02}), (Bytes{0x04, 0x04, 0x00, 0x01, 0x00, 0x01}));
    // A command block of the wrong size is no command block.
    EXPECT_EQ(c.exchange(write_pdu(0x4300, password_regs("777777"))), (Bytes{0x90, 0x02}));
}

#endif
