#include "records.h"

#include "wire.h"

namespace sim {

void Journal::add(uint32_t time, uint16_t kind, uint16_t code)
{
    newest = (newest + 1) % journal_size;
    JournalEntry& e = ring[newest];
    e.present = true;
    e.descriptor = next_descriptor++;
    e.time = time;
    e.kind = kind;
    e.code = code;
}

static void encode_journal(const JournalEntry& e, std::vector<uint16_t>& out)
{
    if (!e.present) {
        out.assign(journal_record_regs, 0xFFFF);  // erased slot
        return;
    }
    out.push_back(0);
    out.push_back(e.descriptor);
    push32(out, e.time);
    out.push_back(e.kind);
    out.push_back(e.code);
}

static void encode_summary(const Section& s, std::vector<uint16_t>& out)
{
    out.push_back(0);
    out.push_back(s.descriptor);
    push32(out, s.start);
    push32(out, s.duration);
    out.push_back(s.completion);
    out.push_back(s.group_mask);
    push32(out, s.capacity_mah);
    out.push_back(s.voltage);
    out.push_back(uint16_t(s.temperature));
}

static void encode_group(const GroupPoint& g, std::vector<uint16_t>& out)
{
    if (!g.present) {
        out.assign(group_record_regs, 0xFFFF);
        return;
    }
    out.push_back(0);
    push32(out, g.capacity_mah);
    for (int b = 0; b < 30; ++b) {
        out.push_back(g.block_mv[b]);
        out.push_back(uint16_t(g.block_temp[b]));
    }
}

int read_file_record(const Journal& journal, const BatteryFiles& files, int file, int record, int length,
                     std::vector<uint16_t>& out)
{
    out.clear();
    int natural = 0;
    if (file == journal_file) {
        if (record < 0 || record >= journal_size)
            return 2;
        encode_journal(journal.ring[record], out);
        natural = journal_record_regs;
    } else {
        const RecordFile* rf = nullptr;
        if (file >= test_file_base && file < test_file_base + battery_slots)
            rf = &files.tests[file - test_file_base];
        else if (file >= discharge_file_base && file < discharge_file_base + battery_slots)
            rf = &files.discharges[file - discharge_file_base];
        else
            return 2;
        int s = record / 16, part = record % 16;
        if (record < 0 || s >= max_sections || part > 8)
            return 2;
        bool present = s < int(rf->sections.size());
        if (part == 0) {
            natural = summary_regs;
            if (present)
                encode_summary(rf->sections[s], out);
            else
                out.assign(summary_regs, 0xFFFF);
        } else {
            natural = group_record_regs;
            if (present)
                encode_group(rf->sections[s].groups[part - 1], out);
            else
                out.assign(group_record_regs, 0xFFFF);
        }
    }
    if (length < 1 || length > natural) {
        out.clear();
        return 3;
    }
    out.resize(length);
    return 0;
}

}  // namespace sim
