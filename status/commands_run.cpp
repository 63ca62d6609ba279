#include "status/commands_run.h"

#include <cstring>

#include "base/app_state.h"
#include "base/log.h"
#include "base/workers.h"
#include "modbus/operations.h"

namespace {

constexpr const char* kCommandLane = "command";
constexpr size_t kCommandStack = 256000;

template <size_t N>
int start_write(uint16_t start, const std::array<uint8_t, N>& frame, std::string done, const char* failed)
{
    // The password is taken now: a new one typed while the worker waits for
    // the queue applies to the next command, not this one.
    int started = worker_start(
        kCommandLane, link_session_current(),
        [=](const WorkerContext&) {
            int result = modbus_write_registers(start, N / 2, frame.data());
            GdkLock lock;
            if (result == 0)
                log_message(norm_text, "%s", done.c_str());
            else
                log_message(err_text, failed, result);
        },
        kCommandStack);
    if (started != 0)
        log_message(err_text, "Не удалось запустить поток команды\n");
    return started;
}

}  // namespace

int service_command_start(ServiceCommand command)
{
    const ServiceCommandInfo& info = service_command_info(command);
    return start_write(info.start, command_frame(app.monitoring_password, info.word), info.done, info.failed);
}

int clock_command_start(uint32_t seconds)
{
    return start_write(kClockCommandStart, clock_frame(app.monitoring_password, seconds),
                       "Установлено время контроллера: " + clock_set_text(seconds) + "\n",
                       "Ошибка установки времени [%d]\n");
}
