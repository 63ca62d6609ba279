#include "battery/records_read.h"

#include <atomic>
#include <memory>

#include "base/app_state.h"
#include "base/log.h"
#include "base/text_format.h"
#include "base/ui_hooks.h"
#include "modbus/operations.h"
#include "status/poll.h"

namespace {

constexpr size_t kRecordsStack = 256000;

std::atomic<int> g_reading{0};
void (*g_on_idle)() = nullptr;

RecordReadControl control_for(const WorkerContext& context, std::function<void(const std::string&)> progress,
                              std::function<std::string(int, int)> progress_text)
{
    RecordReadControl c;
    c.read = modbus_read_file_record;
    c.live = [&context] { return context.live(); };
    c.progress = [progress, progress_text](int done, int total) {
        std::string text = progress_text(done, total);
        run_on_gui([progress, text] { progress(text); });
    };
    return c;
}

int start(std::function<void(const WorkerContext&)> body)
{
    if (!app.link_open || g_reading.exchange(1))
        return -1;
    int started = worker_start(
        kRecordsLane, link_session_current(),
        [body](const WorkerContext& context) {
            body(context);
            g_reading = 0;   // last: a new read may start from here on
            if (void (*hook)() = g_on_idle)
                run_on_gui(hook);
        },
        kRecordsStack);
    if (started != 0) {
        g_reading = 0;
        log_message(err_text, "Не удалось запустить поток чтения записей\n");
    }
    return started;
}

}  // namespace

bool records_reading() { return g_reading != 0; }

void records_on_idle(void (*hook)()) { g_on_idle = hook; }

int record_list_read_start(RecordKind kind, int16_t zone_quarters, bool summer, RecordListReport report)
{
    unsigned newest = status_identification_register(record_newest_register(kind));
    return start([=](const WorkerContext& context) {
        bool test = kind == RecordKind::Test;
        RecordReadControl control = control_for(context, report.progress, [test](int done, int total) {
            return format(test ? "Чтение батарейных тестов: %d из %d" : "Чтение разрядов: %d из %d", done, total);
        });
        control.slot_failed = [kind](int slot) {
            log_message(err_text, "%s", record_slot_failed_text(kind, slot).c_str());
        };
        RecordListRead result = read_record_list(kind, newest, zone_quarters, summer, control);
        LinkSession session = context.session();
        // Said once the list shows what was read, so the log never reports a
        // list the window does not hold yet, nor one a lost link emptied.
        run_on_gui([report, result = std::move(result), session, kind] {
            report.progress("");
            report.done(result, session);
            if (!result.link_lost && link_session_live(session)) {
                RecordListEnd end = record_list_end(kind, result);
                log_message(end.error ? err_text : norm_text, "%s", end.text.c_str());
            }
        });
    });
}

int record_file_read_start(int file, int points, RecordFileReport report)
{
    return start([=](const WorkerContext& context) {
        RecordReadControl control = control_for(context, report.progress, [file](int done, int total) {
            return record_file_progress_text(file, done, total);
        });
        auto data = std::make_shared<RecordFile>();
        int result = read_record_file(file, control, *data, points);
        if (result == -1)
            log_message(err_text, "Ошибка чтения теста\n");
        LinkSession session = context.session();
        run_on_gui([report, data, result, session] {
            report.progress("");
            report.done(*data, result, session);
        });
    });
}
