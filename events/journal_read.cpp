#include "events/journal_read.h"

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>

#include <glib.h>

#include "base/app_state.h"
#include "base/log.h"
#include "base/workers.h"
#include "modbus/operations.h"
#include "registers/settings_store.h"
#include "status/poll.h"

namespace {

constexpr size_t kJournalStack = 256000;
constexpr auto kPause = std::chrono::milliseconds(1);

struct JournalState {
    std::atomic<int> reading{0};
    std::mutex lock;   // guards what follows
    std::vector<JournalRow> rows;
    JournalProgressView progress;
    JournalSource source;
    LinkSession source_session = 0;
    bool ended = false;   // a read has ended since the last start
    JournalReadResult result;
};

JournalState& state()
{
    static JournalState* instance = new JournalState;   // a worker may outlive static teardown
    return *instance;
}

JournalSource source_now()
{
    int layout = status_layout_in_force();
    SettingsImage device = settings_device_copy(layout);
    JournalSource s;
    s.site = device_string_to_utf8(settings_item(device, SettingsField::Comment));
    s.serial = settings_u32(device, SettingsField::SerialNumber);
    // Registers 3-4 hold the serial number as one u32 in host order.
    uint16_t words[2] = {status_identification_register(3), status_identification_register(4)};
    std::memcpy(&s.identification_serial, words, sizeof words);
    return s;
}

void publish(JournalState& j, int done, int total, const std::string& text, std::optional<JournalRow> row)
{
    std::lock_guard g(j.lock);
    if (row)
        j.rows.push_back(std::move(*row));
    j.progress.done = done;
    j.progress.total = total;
    j.progress.text = text;
}

void read_journal(const WorkerContext& c, const JournalReadPlan& plan)
{
    JournalState& j = state();
    int layout = status_layout_in_force();
    SettingsImage device = settings_device_copy(layout);
    int16_t zone = settings_s16(device, SettingsField::Timezone);
    bool summer = settings_u16(device, SettingsField::SummerTime) & settings_bits::kSummerTime;
    if (!app.link_open || !c.live())
        return;

    GTimer* timer = g_timer_new();
    JournalReadControl control;
    control.read = [](uint16_t record, uint8_t* out) {
        return modbus_read_file_record(kJournalFile, record, kJournalRecordRegisters, out);
    };
    control.go_on = [&] { return j.reading && app.link_open && c.live(); };
    control.failed = [](int attempt, uint16_t record) {
        log_message(err_text, "Ошибка чтения записи №%d журнала событий (запись %d)\n", attempt, record);
    };
    control.step = [&](int done, uint16_t record, const uint8_t* bytes) {
        std::optional<JournalRow> row;
        if (bytes) {
            layout = status_layout_in_force();
            row = journal_row(journal_record_decode(std::span<const uint8_t, kJournalRecordBytes>(bytes,
                                                                                                  kJournalRecordBytes)),
                              zone, summer, layout, catalogue_settings(settings_device_copy(layout)));
            if (row)
                row->position = record;
        }
        double elapsed = g_timer_elapsed(timer, nullptr);
        publish(j, done, plan.count, journal_progress_text(done, elapsed, plan.count, bytes != nullptr), std::move(row));
        c.sleep_for(kPause);
    };
    control.last = plan.last;
    uint16_t first = plan.first ? journal_first_record(*plan.first)
                                : journal_first_record(status_identification_register(8));
    JournalReadResult result = journal_read_records(first, control, plan.count, plan.direction);
    g_timer_destroy(timer);

    {
        std::lock_guard g(j.lock);
        j.source = source_now();
        j.source_session = c.session();
        j.result = result;
        j.ended = true;
    }
    JournalEndText end = journal_end_text(result, !j.reading);
    log_message(end.error ? err_text : norm_text, "%s", end.text);
}

}  // namespace

int journal_read_start(JournalReadPlan plan)
{
    JournalState& j = state();
    if (!app.link_open || journal_busy())
        return -1;
    {
        std::lock_guard g(j.lock);
        j.rows.clear();
        j.progress = JournalProgressView{};
        j.progress.total = plan.count;
        j.ended = false;
        // A worker that finds the link gone before its first record leaves this.
        j.result = JournalReadResult{};
        j.result.end = JournalReadEnd::Stopped;
    }
    j.reading = 1;
    int started = worker_start(kJournalLane, link_session_current(), [plan = std::move(plan)](const WorkerContext& c) {
        read_journal(c, plan);
        // Busy ends when the registry counts this worker out, right after this.
        state().reading = 0;
    }, kJournalStack);
    if (started != 0) {
        j.reading = 0;
        log_message(err_text, "Не удается прочитать журнал событий: система не дала создать поток\n");
        return -1;
    }
    return 0;
}

void journal_read_stop() { state().reading = 0; }

bool journal_busy() { return workers_running(kJournalLane) != 0; }
bool journal_reading() { return state().reading != 0; }

bool journal_read_ended()
{
    JournalState& j = state();
    std::lock_guard g(j.lock);
    return j.ended;
}

JournalReadResult journal_read_result()
{
    JournalState& j = state();
    std::lock_guard g(j.lock);
    return j.result;
}

JournalProgressView journal_progress()
{
    JournalState& j = state();
    std::lock_guard g(j.lock);
    return j.progress;
}

std::vector<JournalRow> journal_take_rows()
{
    JournalState& j = state();
    std::lock_guard g(j.lock);
    std::vector<JournalRow> rows;
    rows.swap(j.rows);
    return rows;
}

JournalSource journal_source()
{
    JournalState& j = state();
    {
        std::lock_guard g(j.lock);
        if (!app.link_open || (j.source_session != 0 && !link_session_live(j.source_session)))
            return j.source;
    }
    return source_now();
}

void journal_wait() { workers_wait(kJournalLane); }
