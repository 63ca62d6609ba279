#include "settings/apply.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "base/app_state.h"
#include "base/log.h"
#include "base/ui_hooks.h"
#include "modbus/operations.h"
#include "registers/settings_store.h"
#include "settings/apply_plan.h"

namespace {

constexpr size_t kApplyStack = 256000;
constexpr auto kRequestPause = std::chrono::milliseconds(25);

ApplyHooks g_hooks{};
std::atomic<bool> g_running{false};
std::atomic<int> g_progress{0};
std::atomic<int> g_range{0};
std::atomic<int> g_verify_timeout_ms{15000};

// The hooks run on the GUI thread; the worker hands them values.
void set_text(const char* text)
{
    run_on_gui([text = std::string(text)] {
        if (g_hooks.set_text)
            g_hooks.set_text(text.c_str());
    });
}

// The Controller holds this write's values (taken, or found on the read back).
void tell_written()
{
    run_on_gui([] {
        if (g_hooks.written)
            g_hooks.written();
    });
}

// The page unlocks in the hook: from then on an edit is the user's next one,
// not part of this write, so the worker no longer counts as running.
int finish(int result)
{
    run_on_gui([result] {
        g_running = false;
        if (g_hooks.finish)
            g_hooks.finish(result);
    });
    return result;
}

// Writes `count` registers of the wire image from body offset `offset`.
ModbusResult write_settings_segment(const WorkerContext& context, int offset, const uint8_t* data, int count)
{
    for (int done = 0; done < count;) {
        int n = std::min(kSettingsWriteRequest, count - done);
        ModbusResult result = modbus_write_registers(static_cast<uint16_t>(kSettingsWriteBase + offset + done),
                                                     static_cast<unsigned>(n), data + 2 * done);
        if (result != ModbusResult::Ok) {
            log_message(err_text, "Ошибка %d\n", int(result));
            return result;
        }
        done += n;
        g_progress = offset + done;
        if (!context.sleep_for(kRequestPause))
            return ModbusResult::NoLink;
    }
    return ModbusResult::Ok;
}

void transfer_failed()
{
    log_message(err_text, "Ошибка передачи параметров\n");
    set_text("Ошибка передачи параметров");
    g_progress = 0;
}

enum class Command { Taken, Unanswered, Refused };

// Rows of a check: `row.from` written, `row.to` read back.
void log_rows(const char* title, const std::vector<SettingsChange>& rows)
{
    if (rows.empty())
        return;
    log_message(err_text, title, rows.size());
    for (const SettingsChange& c : rows)
        log_message(err_text, "%s: записано %s, прочитано %s\n", c.name.c_str(), c.from.c_str(), c.to.c_str());
}

// The next settings read that began after the command block, against what
// the Controller should now hold. After a command whose outcome the reply did
// not give (none came, or an exception), the read says what happened; a value
// that is neither what this write sent nor what the review showed was put
// there by another client meanwhile.
int verify(const WorkerContext& context, const ApplyRequest& request, uint64_t reads_before, Command command)
{
    SettingsImage expected = settings_expected_after_write(request.device, request.edit);
    SettingsImage read;
    if (!settings_wait_device_read(reads_before, request.edit.layout, read, context,
                                   std::chrono::milliseconds(g_verify_timeout_ms.load()))) {
        if (command == Command::Unanswered) {
            log_message(err_text, "Контроллер не ответил на команду записи настроек; применены ли они, неизвестно\n");
            set_text("Ошибка применения настроек: применены ли они, неизвестно");
            return kApplyCommandUnanswered;
        }
        if (command == Command::Refused) {
            set_text("Ошибка применения настроек");
            return kApplyCommandRefused;
        }
        set_text("Настройки применены, но не проверены");
        if (!context.live())
            return kApplyLinkLost;
        log_message(err_text, "Настройки не проверены: контроллер не ответил на чтение настроек\n");
        return kApplyUnverified;
    }
    std::vector<SettingsChange> differ = settings_changes(expected, read);
    // The settings this write changes: the Controller's value before it by name.
    std::vector<SettingsChange> ours = settings_changes(request.device, expected);
    std::vector<SettingsChange> not_taken, other;
    for (const SettingsChange& c : differ) {
        auto mine = std::find_if(ours.begin(), ours.end(), [&](const SettingsChange& o) { return o.name == c.name; });
        const std::string& before = mine == ours.end() ? c.from : mine->from;
        (c.to == before ? not_taken : other).push_back(c);
    }
    bool none_taken = not_taken.size() == ours.size() && !ours.empty();
    if (command == Command::Unanswered)
        log_message(err_text, "Контроллер не ответил на команду записи настроек; настройки прочитаны снова\n");
    if (differ.empty() && command != Command::Refused) {
        log_message(norm_text, "Настройки применены и проверены\n");
        set_text("Настройки применены и проверены");
        return kApplyVerified;
    }
    if (!other.empty() || command == Command::Refused) {
        // A refused command with the settings changed is another client's
        // block carried out between this write's data and its command.
        bool changed_by_other = !other.empty() || !settings_changes(request.device, read).empty();
        if (changed_by_other) {
            log_rows("Другой клиент изменил настройки во время записи (%zu):\n", other);
            if (differ.empty())
                log_message(err_text, "Контроллер держит записанные значения, но принял их командой другого "
                                      "клиента\n");
            log_rows("Контроллер не принял настройки (%zu):\n", not_taken);
            set_text("Другой клиент изменил настройки во время записи");
            return command == Command::Refused ? kApplyCommandRefused : kApplyMismatch;
        }
        set_text("Ошибка применения настроек");
        return kApplyCommandRefused;
    }
    if (command == Command::Unanswered && none_taken) {
        log_message(err_text, "Настройки не применены: контроллер держит прежние значения\n");
        set_text("Настройки не применены");
        return kApplyCommandUnanswered;
    }
    log_rows("Контроллер не принял настройки (%zu):\n", not_taken);
    set_text(command == Command::Unanswered ? "Настройки применены частично" : "Контроллер не принял часть настроек");
    return kApplyMismatch;
}

// What the Controller holds now, by a read begun after this point, is still
// what the user reviewed.
int recheck_device(const WorkerContext& context, const ApplyRequest& request)
{
    SettingsImage now;
    if (!settings_wait_device_read(settings_device_reads_started(), request.device.layout, now, context,
                                   std::chrono::milliseconds(g_verify_timeout_ms.load()))) {
        log_message(err_text, "Настройки не записаны: контроллер не ответил на чтение настроек\n");
        set_text("Ошибка передачи параметров");
        return kApplyTransferError;
    }
    std::vector<SettingsChange> changed = settings_changes(request.device, now);
    if (changed.empty())
        return kApplyVerified;
    log_message(err_text, "Настройки контроллера изменились после просмотра изменений (%zu), ничего не записано:\n",
                changed.size());
    for (const SettingsChange& c : changed)
        log_message(err_text, "%s: было %s, стало %s\n", c.name.c_str(), c.from.c_str(), c.to.c_str());
    set_text("Настройки контроллера изменились, ничего не записано");
    return kApplyDeviceChanged;
}

} // namespace

void settings_apply_set_hooks(const ApplyHooks& hooks) { g_hooks = hooks; }

int settings_apply_run(const WorkerContext& context, const ApplyRequest& request)
{
    int layout = request.edit.layout;
    g_progress = 0;
    g_range = 0;
    run_on_gui([] {
        if (g_hooks.begin)
            g_hooks.begin();
    });
    set_text("Передача настроек...");
    if (request.recheck_device)
        if (int result = recheck_device(context, request); result != kApplyVerified)
            return finish(result);

    // Without the two registers to echo the Controller refuses the command
    // block: nothing is written then, so it is left as it was.
    uint8_t echo[4];
    if (modbus_read_registers(kSettingsCommandAddress, 2, echo, 0x03) != ModbusResult::Ok) {
        transfer_failed();
        return finish(kApplyTransferError);
    }
    std::vector<uint8_t> command = settings_command_block(echo, request.password);
    g_range = settings_body_registers(layout);

    SettingsImage wire = request.edit;
    settings_to_registers(layout, wire.data());
    std::vector<SettingsSegment> segments = settings_write_segments(layout, wire.data());
    if (settings_segments_set_monitoring_password(segments))
        app.password_entered = 0;
    for (const SettingsSegment& s : segments)
        if (write_settings_segment(context, s.offset, wire.data() + 2 * (s.offset + 3), s.count) != ModbusResult::Ok) {
            transfer_failed();
            return finish(kApplyTransferError);
        }

    uint64_t reads_before = settings_device_reads_started();
    if (ModbusOutcome applied =
            modbus_write_registers(kSettingsCommandAddress, kSettingsCommandRegisters, command.data());
        !applied.ok()) {
        // Exception 4 on this block is the Controller's answer to a wrong
        // monitoring password: ask for it again rather than send it once more.
        bool refused = applied.failure == ModbusFailure::Exception;
        bool wrong_password = refused && applied.exception_code == 4;
        if (wrong_password) {
            app.password_entered = 0;
            log_message(err_text, "Контроллер отклонил пароль мониторинга\n");
        }
        g_progress = 0;
        if (wrong_password || !context.live()) {
            set_text(wrong_password ? "Контроллер отклонил пароль мониторинга" : "Ошибка применения настроек");
            return finish(refused ? kApplyCommandRefused : kApplyCommandUnanswered);
        }
        // The block may have been carried out all the same (its reply lost),
        // or another client's block may have taken this one's data: the
        // settings read back say which.
        int result = verify(context, request, reads_before, refused ? Command::Refused : Command::Unanswered);
        if (result == kApplyVerified || result == kApplyMismatch)
            tell_written();
        return finish(result);
    }
    set_text("Настройки применены");
    tell_written();
    return finish(verify(context, request, reads_before, Command::Taken));
}

int settings_apply_start(const ApplyRequest& request)
{
    g_running = true;
    int started = worker_start(
        kApplyLane, link_session_current(),
        [request](const WorkerContext& c) { settings_apply_run(c, request); },
        kApplyStack);
    if (started != 0)
        g_running = false;
    return started;
}

bool settings_apply_running() { return g_running; }

void settings_apply_progress(int* value, int* range)
{
    *value = g_progress;
    *range = g_range;
}

void settings_apply_set_verify_timeout(int ms) { g_verify_timeout_ms = ms; }
