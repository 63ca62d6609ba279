// Journal records as the Controller sends them, shown in any time zone and
// event layout with any configured names: the row texts are UTF-8 and an
// event text never runs past the buffer it was given.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "events/journal.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in{data, size};
    int16_t zone = int16_t(in.word());
    bool summer = in.byte() & 1;
    int layout = in.byte() % 5;   // 1-3, and the layouts that have no entries
    size_t text_size = 1 + in.byte() % 160;
    CatalogueSettings settings;
    settings.load_breaker_count = in.byte();
    settings.battery_group_count = in.byte();
    settings.contactor_count = in.byte();
    settings.rectifier_count = in.byte();
    settings.phase_count = in.byte();
    settings.dry_contact_count = in.byte();
    in.bytes(settings.load_breaker_names.data(), settings.load_breaker_names.size());
    in.bytes(settings.contactor_names.data(), settings.contactor_names.size());
    in.bytes(settings.dry_contact_names.data(), settings.dry_contact_names.size());

    while (in.left() >= kJournalRecordBytes) {
        std::span<const uint8_t, kJournalRecordBytes> bytes(data + in.at, kJournalRecordBytes);
        in.at += kJournalRecordBytes;
        JournalRecord record = journal_record_decode(bytes);
        std::optional<JournalRow> row = journal_row(record, zone, summer, layout, settings);
        FUZZ_CHECK(row.has_value() == (bytes[0] == 0 && bytes[1] == 0));
        if (row) {
            FUZZ_CHECK(row->code == unsigned(bytes[10] << 8 | bytes[11]));
            FUZZ_CHECK(valid_utf8(row->date) && valid_utf8(row->event) && valid_utf8(row->kind_text));
            FUZZ_CHECK(!row->event.empty());
        }
        // A buffer exactly this long: a write past it is caught.
        std::unique_ptr<char[]> text(new char[text_size]);
        event_text(text.get(), text_size, record.code, layout, settings);
        size_t length = strnlen(text.get(), text_size);
        FUZZ_CHECK(length < text_size);
        FUZZ_CHECK(g_utf8_validate(text.get(), gssize(length), nullptr));
    }
    return 0;
}
