#include "status/commands_run.h"

#include <array>
#include <cstring>

#include "base/app_state.h"
#include "base/log.h"
#include "base/text_format.h"
#include "base/workers.h"
#include "modbus/operations.h"
#include "registers/settings_store.h"
#include "status/poll.h"

namespace {

constexpr size_t kCommandStack = 256000;
// The Controller's answer to a wrong monitoring password, and to a command
// the plant cannot carry out now: it does not tell the two apart.
constexpr int kRefusedException = 4;
constexpr const char* kRefusedText =
    "Контроллер отказал: неверный пароль мониторинга или команда сейчас невыполнима\n";

constexpr const char* kUnknownText =
    "Ответ контроллера не получен: команда могла быть выполнена. Проверьте состояние, прежде чем повторять её\n";

std::string without_newline(std::string text)
{
    while (!text.empty() && text.back() == '\n')
        text.pop_back();
    return text;
}

template <size_t N>
int start_write(uint16_t start, const std::array<uint8_t, N>& frame, std::string done_text, const char* failed,
                CommandDone done)
{
    // The password is taken now: a new one typed while the worker waits for
    // the queue applies to the next command, not this one.
    int started = worker_start(
        kCommandLane, link_session_current(),
        [=](const WorkerContext& context) {
            ModbusOutcome written = modbus_write_registers(start, N / 2, frame.data());
            ModbusResult result = written;
            bool refused = written.failure == ModbusFailure::Exception && written.exception_code == kRefusedException;
            CommandOutcome outcome;
            outcome.result = int(result);
            // Told after the log lines, so whoever waits for it has them queued already.
            auto tell = [&] {
                if (done)
                    run_on_gui([done, outcome, session = context.session()] { done(outcome, session); });
            };
            if (result == ModbusResult::Ok) {
                log_message(norm_text, "%s", done_text.c_str());
                outcome.kind = CommandOutcome::Done;
                outcome.text = without_newline(done_text);
                tell();
                return;
            }
            log_message(err_text, failed, int(result));
            outcome.text = without_newline(format(failed, int(result)));
            if (written.outcome_unknown()) {
                // The Controller may have the command and its answer may be
                // lost on the way: sending it again could carry it out twice.
                log_message(err_text, "%s", kUnknownText);
                outcome.kind = CommandOutcome::Unknown;
                outcome.text += "\n" + without_newline(kUnknownText);
                tell();
                return;
            }
            if (!refused) {
                tell();
                return;
            }
            log_message(err_text, "%s", kRefusedText);
            outcome.kind = CommandOutcome::Refused;
            outcome.text += "\n" + without_newline(kRefusedText);
            // A mistyped password would refuse every later command alike: it
            // is asked for again, unless the user has typed a new one
            // meanwhile (on the GUI thread, where passwords are typed).
            std::array<uint8_t, sizeof app.monitoring_password> sent;
            std::memcpy(sent.data(), frame.data(), sent.size());
            run_on_gui([sent] {
                if (std::memcmp(app.monitoring_password, sent.data(), sent.size()) == 0)
                    app.password_entered = 0;
            });
            tell();
        },
        kCommandStack);
    if (started != 0)
        log_message(err_text, "Не удалось запустить поток команды\n");
    return started;
}

}  // namespace

int service_command_start(ServiceCommand command, CommandDone done)
{
    const ServiceCommandInfo& info = service_command_info(command);
    return start_write(info.start, command_frame(app.monitoring_password, info.word), info.done, info.failed,
                       std::move(done));
}

int clock_command_start(uint32_t seconds, CommandDone done)
{
    // The computer's zone chose the instant; the Controller shows it in its own.
    SettingsImage settings = settings_device_copy(status_layout_in_force());
    int16_t zone = settings_s16(settings, SettingsField::Timezone);
    bool summer = settings_u16(settings, SettingsField::SummerTime) & settings_bits::kSummerTime;
    return start_write(kClockCommandStart, clock_frame(app.monitoring_password, seconds),
                       "Установлено время контроллера: " + clock_set_text(seconds) + ", " +
                           clock_controller_text(seconds, zone, summer) + "\n",
                       "Ошибка установки времени [%d]\n", std::move(done));
}
