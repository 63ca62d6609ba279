// File-record reads (function 0x14) of the journal and of the battery test and
// discharge files, decoded here byte by byte, independently of any program code.
#include "sim_process.h"

#include <gtest/gtest.h>

#ifdef RARUR_SIM_PATH
#include <set>

namespace {

using Bytes = std::vector<unsigned char>;

unsigned be16(const Bytes& b, size_t at) { return unsigned(b[at] << 8 | b[at + 1]); }
uint32_t be32(const Bytes& b, size_t at) { return uint32_t(be16(b, at)) << 16 | be16(b, at + 2); }

// Reads one record; returns its data bytes, or {0x80 | fn, code} for an exception.
Bytes read_record(RawModbusTcp& c, unsigned file, unsigned record, unsigned length)
{
    Bytes pdu = {0x14, 7, 6, (unsigned char)(file >> 8), (unsigned char)file, (unsigned char)(record >> 8),
                 (unsigned char)record, (unsigned char)(length >> 8), (unsigned char)length};
    Bytes r = c.exchange(pdu);
    if (r.size() == 2 && r[0] == 0x94)
        return r;
    // fn, response data length, file response length, reference type, data
    if (r.size() != 4 + 2 * length || r[0] != 0x14 || r[1] != 2 + 2 * length || r[2] != 1 + 2 * length ||
        r[3] != 6)
        return {};
    return Bytes(r.begin() + 4, r.end());
}

Bytes identification(RawModbusTcp& c)
{
    Bytes r = c.exchange({0x04, 0, 0, 0, 15});
    return r.size() == 32 ? Bytes(r.begin() + 2, r.end()) : Bytes{};
}

struct JournalRecord {
    bool present;
    unsigned descriptor;
    uint32_t time;
    unsigned kind, code;
};

JournalRecord decode_journal(const Bytes& b)
{
    return {be16(b, 0) == 0, be16(b, 2), be32(b, 4), be16(b, 8), be16(b, 10)};
}

// Every test starts from a frozen plant, connected, with the identification
// block (where the newest record of each ring is named) already read.
class SimFiles : public ::testing::Test {
protected:
    static SimOptions frozen()
    {
        SimOptions o;
        o.freeze = true;
        return o;
    }
    void SetUp() override
    {
        ASSERT_TRUE(sim.running()) << sim.log();
        id = identification(c);
        ASSERT_EQ(id.size(), 30u);
    }
    SimProcess sim{frozen()};
    RawModbusTcp c{sim.port()};
    Bytes id;
};

}  // namespace

TEST_F(SimFiles, JournalRingHoldsAWrappingHistoryEndingAtIdentificationRegister8)
{
    unsigned newest = be16(id, 16);
    uint32_t now = be32(id, 10);
    ASSERT_LT(newest, 4096u);

    unsigned present = 0, empty = 0;
    uint32_t later = now;
    unsigned r = newest;
    for (int i = 0; i < 600; ++i, r = (r + 4095) % 4096) {
        Bytes b = read_record(c, 1, r, 6);
        ASSERT_EQ(b.size(), 12u) << r;
        JournalRecord j = decode_journal(b);
        if (i == 0) {
            ASSERT_TRUE(j.present);
        }
        if (!j.present) {
            EXPECT_EQ(b, Bytes(12, 0xFF));  // an erased slot
            ++empty;
            continue;
        }
        ++present;
        EXPECT_LE(j.kind, 2u);
        EXPECT_TRUE(j.code < 448 || (j.code >= 512 && j.code <= 516)) << j.code;
        EXPECT_LE(j.time, later) << "record " << r << " is newer than the one after it";
        later = j.time;
    }
    EXPECT_GT(present, 400u);
    EXPECT_GT(empty, 0u);
    // The seeded history crosses the end of the ring.
    EXPECT_EQ(be16(read_record(c, 1, 4095, 6), 0), 0u);
    EXPECT_EQ(be16(read_record(c, 1, 0, 6), 0), 0u);

    // A new record lands after the newest and moves register 8.
    ASSERT_EQ(sim.control("journal add 514 2"), "ok");
    id = identification(c);
    EXPECT_EQ(be16(id, 16), (newest + 1) % 4096);
    JournalRecord j = decode_journal(read_record(c, 1, (newest + 1) % 4096, 6));
    EXPECT_TRUE(j.present);
    EXPECT_EQ(j.kind, 2u);
    EXPECT_EQ(j.code, 514u);
    EXPECT_EQ(j.time, now);

    // An alarm opens a state (kind 1) and closing it ends it (kind 0).
    ASSERT_EQ(sim.control("alarm raise QH3"), "ok");
    ASSERT_EQ(sim.control("alarm clear QH3"), "ok");
    JournalRecord start = decode_journal(read_record(c, 1, (newest + 2) % 4096, 6));
    JournalRecord end = decode_journal(read_record(c, 1, (newest + 3) % 4096, 6));
    EXPECT_EQ(start.code, 37u);
    EXPECT_EQ(start.kind, 1u);
    EXPECT_EQ(end.code, 37u);
    EXPECT_EQ(end.kind, 0u);

    using V = Bytes;
    EXPECT_EQ(read_record(c, 1, 4096, 6), (V{0x94, 0x02}));
    EXPECT_EQ(read_record(c, 2, 0, 6), (V{0x94, 0x02}));
    EXPECT_EQ(read_record(c, 1, 0, 7), (V{0x94, 0x03}));
}

TEST_F(SimFiles, BatteryFilesHoldSectionsAndGroupRecordsForEveryRing)
{
    std::set<unsigned> completions;
    for (unsigned base : {16u, 24u}) {
        unsigned newest = be16(id, base == 16 ? 20 : 24);
        ASSERT_LE(newest, 5u);
        // The newest slot holds a finished record.
        Bytes first = read_record(c, base + newest, 0, 12);
        ASSERT_EQ(first.size(), 24u);
        EXPECT_EQ(be16(first, 0), 0u);
        for (unsigned slot = 0; slot < 6; ++slot) {
            unsigned file = base + slot;
            unsigned sections = 0;
            unsigned last_code = 1;
            uint32_t last_duration = 0, start = 0;
            for (unsigned s = 0; s < 22; ++s) {
                Bytes sum = read_record(c, file, 16 * s, 12);
                ASSERT_EQ(sum.size(), 24u) << file << "/" << s;
                if (be16(sum, 0) != 0) {
                    EXPECT_EQ(sum, Bytes(24, 0xFF));
                    break;
                }
                EXPECT_EQ(last_code, 1u) << "a section after the final one in file " << file;
                ++sections;
                if (s == 0)
                    start = be32(sum, 4);
                EXPECT_EQ(be32(sum, 4), start);                 // every section repeats the start
                EXPECT_GT(be32(sum, 8), last_duration);         // and carries the totals so far
                last_duration = be32(sum, 8);
                last_code = be16(sum, 12);
                EXPECT_EQ(be16(sum, 14), 0x3u);                 // groups 1 and 2 took part
                EXPECT_GT(be16(sum, 20), 4000u);                // plant voltage, 0.01 V
                // Group records: 2 configured groups, 24 cells / 6 per block = 4 blocks.
                for (unsigned g = 0; g < 3; ++g) {
                    Bytes gr = read_record(c, file, 16 * s + 1 + g, 63);
                    ASSERT_EQ(gr.size(), 126u);
                    if (g == 2) {
                        EXPECT_EQ(be16(gr, 0), 0xFFFFu);
                        continue;
                    }
                    EXPECT_EQ(be16(gr, 0), 0u);
                    for (unsigned b = 0; b < 30; ++b) {
                        unsigned mv = be16(gr, 6 + 4 * b);
                        int temp = int16_t(be16(gr, 8 + 4 * b));
                        if (b < 4) {
                            EXPECT_GT(mv, 10000u);
                            EXPECT_LT(mv, 14500u);
                            EXPECT_GT(temp, 100);
                            EXPECT_LT(temp, 400);
                        } else {
                            EXPECT_EQ(mv, 0xFFFFu);
                            EXPECT_EQ(temp, 0x7FFF);
                        }
                    }
                }
            }
            if (sections)
                completions.insert(last_code);
            if (base == 24 && slot == 0) {
                EXPECT_EQ(sections, 22u);  // a discharge whose every section says "in progress"
            }
        }
    }
    // Several ways of ending: success, by hand, time-out, low current, to charge, ...
    EXPECT_GE(completions.size(), 5u);
    using V = Bytes;
    EXPECT_EQ(read_record(c, 16, 9, 12), (V{0x94, 0x02}));   // not a record of a section
    EXPECT_EQ(read_record(c, 16, 22 * 16, 12), (V{0x94, 0x02}));
    EXPECT_EQ(read_record(c, 22, 0, 12), (V{0x94, 0x02}));
    EXPECT_EQ(read_record(c, 16, 0, 13), (V{0x94, 0x03}));
}

TEST_F(SimFiles, BatteryTestCommandRecordsANewTestUntilStopped)
{
    unsigned slot = be16(id, 20);
    auto battery_command = [&](unsigned word, const char* password) {
        Bytes pdu = {0x10, 0x42, 0x00, 0x00, 0x04, 0x08};
        for (int i = 0; i < 6; ++i)
            pdu.push_back((unsigned char)password[i]);
        pdu.push_back((unsigned char)(word >> 8));
        pdu.push_back((unsigned char)word);
        return c.exchange(pdu);
    };
    EXPECT_EQ(battery_command(1, "654321"), (Bytes{0x90, 0x04}));
    EXPECT_EQ(battery_command(1, "123456"), (Bytes{0x10, 0x42, 0x00, 0x00, 0x04}));

    id = identification(c);
    unsigned new_slot = (slot + 1) % 6;
    EXPECT_EQ(be16(id, 20), new_slot);
    Bytes mode = c.exchange({0x04, 0x03, 0x02, 0x00, 0x01});  // register 770
    EXPECT_EQ(mode, (Bytes{0x04, 0x02, 0x00, 0x06}));        // battery test
    unsigned newest = be16(id, 16);
    JournalRecord j = decode_journal(read_record(c, 1, (newest + 4096 - 2) % 4096, 6));
    EXPECT_EQ(j.code, 515u);  // "Запуск теста АБ", followed by the mode change

    ASSERT_EQ(sim.control("tick 35"), "ok");
    EXPECT_EQ(battery_command(0, "123456").size(), 5u);
    unsigned sections = 0, code = 0;
    for (unsigned s = 0; s < 22; ++s) {
        Bytes sum = read_record(c, 16 + new_slot, 16 * s, 12);
        if (be16(sum, 0) != 0)
            break;
        ++sections;
        code = be16(sum, 12);
    }
    EXPECT_EQ(sections, 5u);  // start, three points 10 s apart, the stop
    EXPECT_EQ(code, 2u);      // stopped by hand
    EXPECT_EQ(c.exchange({0x04, 0x03, 0x02, 0x00, 0x01}), (Bytes{0x04, 0x02, 0x00, 0x00}));  // charging
}

#endif
