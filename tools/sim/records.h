// The Controller's file-record space: the event journal (file 1) and the six
// battery test (16-21) and six discharge (24-29) record files.
#pragma once
#include <array>
#include <cstdint>
#include <random>
#include <vector>

namespace sim {

constexpr int journal_file = 1;
constexpr int journal_size = 4096;
constexpr int journal_record_regs = 6;
constexpr int test_file_base = 16;
constexpr int discharge_file_base = 24;
constexpr int battery_slots = 6;
constexpr int max_sections = 22;
constexpr int summary_regs = 12;
constexpr int group_record_regs = 63;

// Completion codes of a test or discharge section.
enum Completion : uint16_t {
    completed_ok = 0, in_progress = 1, stopped_by_hand = 2, low_current = 3, went_to_charge = 4,
    batteries_off = 5, timed_out = 6, adc_error = 7
};

struct JournalEntry {
    bool present = false;
    uint16_t descriptor = 0;
    uint32_t time = 0;
    uint16_t kind = 0;  // 0 end of a state, 1 beginning, 2 plain event
    uint16_t code = 0;
};

struct Journal {
    std::array<JournalEntry, journal_size> ring{};
    int newest = 0;  // position of the newest record: identification register 8
    uint16_t next_descriptor = 1;
    void add(uint32_t time, uint16_t kind, uint16_t code);
};

struct GroupPoint {
    bool present = false;
    uint32_t capacity_mah = 0xFFFFFFFF;
    std::array<uint16_t, 30> block_mv{};
    std::array<int16_t, 30> block_temp{};
};

struct Section {
    uint16_t descriptor = 0;
    uint32_t start = 0, duration = 0;
    uint16_t completion = in_progress;
    uint16_t group_mask = 0;
    uint32_t capacity_mah = 0;
    uint16_t voltage = 0;  // V x 100
    int16_t temperature = 0;
    std::array<GroupPoint, 8> groups{};
};

struct RecordFile {
    std::vector<Section> sections;  // at most max_sections; the rest are absent
};

struct BatteryFiles {
    std::array<RecordFile, battery_slots> tests{}, discharges{};
    int newest_test = 0, newest_discharge = 0;  // identification registers 10 and 12
};

// One record of a file as registers. Returns 0, or the Modbus exception code
// (2: no such file or record, 3: length wrong for the record).
int read_file_record(const Journal& journal, const BatteryFiles& files, int file, int record, int length,
                     std::vector<uint16_t>& out);

}  // namespace sim
