// rarur-cli clock and rarur-cli service: the service page's commands. Each is
// one write with the monitoring password, made by the window's own command
// worker; the command line waits for the worker's outcome, so its exit code
// says whether the Controller took the command.
#include <cstdio>
#include <ctime>
#include <memory>
#include <optional>
#include <string>

#include <glib.h>

#include "cli/commands.h"
#include "cli/session.h"
#include "cli/terminal.h"
#include "cli/work.h"
#include "status/commands.h"
#include "status/commands_run.h"

namespace {

// Connects, stores the password and runs `start` with a callback; waits for
// the worker's outcome and closes the link. `prepare` runs once connected,
// before the password is stored (a non-zero exit code ends there).
int run_command(const std::string& address, const std::function<int()>& prepare,
                const std::function<int(CommandDone)>& start)
{
    // Asked before connecting: a modem call is not kept up while someone types.
    std::string password;
    if (!cli_read_password(&password))
        return kExitUsage;
    if (int code = cli_connect(address); code != kExitOk) {
        cli_disconnect();
        return code;
    }
    if (int code = prepare(); code != kExitOk) {
        cli_disconnect();
        return code;
    }
    if (!cli_use_password(password)) {
        cli_disconnect();
        return kExitUsage;
    }
    // The outcome as the worker tells it, on whichever thread plays the window.
    auto awaited = std::make_shared<Awaited<CommandOutcome>>();
    int started = cli_as_window([&] {
        return start([awaited](const CommandOutcome& outcome, LinkSession) { awaited->set(outcome); });
    });
    // The exchange bounds the write (a silent Controller times out, a lost link
    // fails it at once); Ctrl-C closes the link, which ends the write as well.
    if (started == 0)
        cli_wait([awaited] { return awaited->known(); }, std::chrono::hours(1));
    // The worker has ended (and told its outcome) once this returns.
    cli_disconnect();
    std::optional<CommandOutcome> outcome = awaited->take();
    if (!outcome)
        return cli_interrupted() ? kExitInterrupted : kExitFailed;
    switch (outcome->kind) {
    case CommandOutcome::Done:
        // Taken, even when Ctrl-C came while the answer was on its way.
        std::printf("%s\n", outcome->text.c_str());
        return kExitOk;
    case CommandOutcome::Refused:
        return kExitNo;
    case CommandOutcome::Unknown:
    case CommandOutcome::Failed:
        break;
    }
    return cli_interrupted() ? kExitInterrupted : kExitFailed;
}

// "YYYY-MM-DD HH:MM:SS", every field in its range and the day in its month.
bool parse_local_time(const char* text, int* y, int* mo, int* d, int* h, int* mi, int* s)
{
    int end = 0;
    if (std::sscanf(text, "%4d-%2d-%2d %2d:%2d:%2d%n", y, mo, d, h, mi, s, &end) != 6 || text[end] != '\0')
        return false;
    if (*y < 1 || *mo < 1 || *mo > 12 || *d < 1 || *d > 31)
        return false;
    if (!g_date_valid_dmy(GDateDay(*d), GDateMonth(*mo), GDateYear(*y)))
        return false;
    return *h >= 0 && *h <= 23 && *mi >= 0 && *mi <= 59 && *s >= 0 && *s <= 59;
}

}  // namespace

int cli_clock(int argc, char** argv)
{
    gchar* set = nullptr;
    const GOptionEntry entries[] = {
        {"set", 's', 0, G_OPTION_ARG_STRING, &set,
         "Установить часы контроллера: now — время компьютера, или дата и время по часам компьютера",
         "now|\"ГГГГ-ММ-ДД ЧЧ:ММ:СС\""},
        {}};
    const char* description =
        "Время задается по местному времени компьютера, как на странице «Сервис» окна программы;\n"
        "контроллер показывает его в своем часовом поясе.\n"
        "Пароль мониторинга: переменная RARUR_MONITORING_PASSWORD или ввод в терминале.\n"
        "Коды выхода: 0 часы установлены, 1 контроллер отказал (неверный пароль мониторинга),\n"
        "2 неверные параметры, 3 нет связи, 4 ошибка обмена или ответ не получен (часы могли быть\n"
        "установлены), 130 прервано.";
    if (!cli_parse_options(&argc, &argv, "АДРЕС --set now|\"ГГГГ-ММ-ДД ЧЧ:ММ:СС\"",
                           "Установка часов контроллера.", entries, true, description))
        return kExitUsage;
    std::unique_ptr<gchar, decltype(&g_free)> owned(set, g_free);
    if (argc != 2)
        return cli_usage_error(argc < 2 ? "не указан адрес контроллера" : "лишние параметры");
    if (!set)
        return cli_usage_error("укажите --set now или --set \"ГГГГ-ММ-ДД ЧЧ:ММ:СС\"");
    std::optional<uint32_t> chosen;
    bool now = g_strcmp0(set, "now") == 0;
    if (!now) {
        int y, mo, d, h, mi, s;
        if (!parse_local_time(set, &y, &mo, &d, &h, &mi, &s))
            return cli_usage_error(std::string("--set: неверная дата «") + set +
                                   "», нужно now или \"ГГГГ-ММ-ДД ЧЧ:ММ:СС\"");
        chosen = clock_seconds_from_local(y, mo - 1, d, h, mi, s);
        // The Controller counts unsigned 32-bit seconds from 1970.
        if (!chosen)
            return cli_usage_error("Часы контроллера не могут показать это время: выберите дату от 1 января 1970 "
                                   "года до 7 февраля 2106 года");
    }
    return run_command(argv[1], [] { return cli_wait_settings(); }, [&](CommandDone done) {
        // "now" is the moment the command leaves, after the call and the password.
        uint32_t seconds = now ? static_cast<uint32_t>(std::time(nullptr)) : *chosen;
        return clock_command_start(seconds, std::move(done));
    });
}

int cli_service(int argc, char** argv)
{
    std::string names = "Команды (НАЗВАНИЕ):\n";
    for (const ServiceCommandName& n : kServiceCommandNames)
        names += "  " + std::string(n.name) + std::string(18 - std::string(n.name).size(), ' ') + "«" + n.label +
                 "»\n";
    names += "\nПароль мониторинга: переменная RARUR_MONITORING_PASSWORD или ввод в терминале.\n"
             "Коды выхода: 0 команда выполнена, 1 контроллер отказал (неверный пароль мониторинга\n"
             "или команда сейчас невыполнима), 2 неверные параметры, 3 нет связи, 4 ошибка обмена\n"
             "или ответ не получен (команда могла быть выполнена), 130 прервано.";
    if (!cli_parse_options(&argc, &argv, "АДРЕС НАЗВАНИЕ", "Сервисные команды страницы «Сервис».", nullptr, true,
                           names.c_str()))
        return kExitUsage;
    if (argc < 3)
        return cli_usage_error(argc < 2 ? "не указан адрес контроллера" : "не указано название команды");
    if (argc > 3)
        return cli_usage_error("лишние параметры");
    std::optional<ServiceCommand> command = service_command_by_name(argv[2]);
    if (!command)
        return cli_usage_error(std::string("неизвестная сервисная команда «") + argv[2] + "»");
    return run_command(
        argv[1], [] { return int(kExitOk); },
        [&](CommandDone done) { return service_command_start(*command, std::move(done)); });
}
