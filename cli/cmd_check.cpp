#include <cstdio>
#include <string>

#include "cli/commands.h"
#include "cli/plant_report.h"
#include "cli/plant_view.h"
#include "cli/session.h"

namespace {

int report(const CheckResult& result)
{
    std::printf("%s\n", result.line.c_str());
    std::fflush(stdout);
    return static_cast<int>(result.state);
}

}  // namespace

// A monitoring engine's plugin: one line on stdout and the state as the exit
// code; every failure to learn the plant's state, wrong usage included, is
// UNKNOWN.
int cli_check(int argc, char** argv)
{
    if (!cli_parse_options(&argc, &argv, "АДРЕС",
                           "Проверка для системы мониторинга (Icinga 2, Nagios, Naemon, Checkmk, …): одна строка\n"
                           "«RARUR OK|WARNING|CRITICAL|UNKNOWN - сводка | данные» после одного цикла опроса.",
                           nullptr, true,
                           "CRITICAL — активна авария 1 степени или нет сети; WARNING — авария 2 степени, разряд "
                           "АБ\nили состояние, код которого контроллер не определяет;\nUNKNOWN — контроллер не ответил за время --timeout (10 с) или неверные параметры.\n"
                           "Коды выхода: 0 OK, 1 WARNING, 2 CRITICAL, 3 UNKNOWN."))
        return report(plant_check_unknown("неверные параметры"));
    if (argc != 2) {
        cli_usage_error(argc < 2 ? "не указан адрес контроллера" : "лишний параметр «" + std::string(argv[2]) + "»");
        return report(plant_check_unknown(argc < 2 ? "не указан адрес контроллера" : "неверные параметры"));
    }

    CycleView view;
    std::string why;
    if (cli_plant_view(argv[1], &view, &why) != kExitOk) {
        int code = report(plant_check_unknown(why));
        cli_disconnect();
        return code;
    }
    // The engine has its answer before the link is taken down (a modem's
    // hang-up takes seconds).
    int code = report(plant_check(view));
    cli_disconnect();
    return code;
}
