#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "cli/commands.h"
#include "cli/plant_report.h"
#include "cli/plant_view.h"
#include "cli/session.h"

int cli_plant_view(const std::string& address, CycleView* view, std::string* why)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(cli_link_options().timeout_s);
    auto started = std::chrono::steady_clock::now();
    int code = cli_connect(address);
    if (code == kExitUsage) {
        *why = "неверный адрес контроллера «" + address + "»";
        return code;
    }
    if (code == kExitInterrupted) {
        *why = "прервано";
        return code;
    }
    if (code != kExitOk) {
        // A link refused at once is not a Controller that kept silent.
        if (std::chrono::steady_clock::now() - started < std::chrono::seconds(cli_link_options().timeout_s))
            *why = "нет связи с контроллером " + address;
        else
            *why = "нет ответа контроллера " + address + " за " + std::to_string(cli_link_options().timeout_s) + " с";
        return code;
    }
    // A cycle whose settings read failed was shown from settings not yet
    // known (no masks, no counts): its lists and states are not the plant's.
    auto left = [&] {
        auto d = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        return d.count() > 0 ? d : std::chrono::milliseconds(0);
    };
    if (int code = cli_wait_settings(left()); code != kExitOk) {
        *why = code == kExitInterrupted ? "прервано"
                                        : "настройки контроллера " + address + " не прочитаны за " +
                                              std::to_string(cli_link_options().timeout_s) + " с";
        return code;
    }
    *view = cli_last_view();
    return kExitOk;
}

namespace {

// What was printed reached its reader; a reader gone away (| head) is no error.
bool output_written()
{
    if (std::fflush(stdout) == 0 && !std::ferror(stdout))
        return true;
    if (errno == EPIPE)
        return true;
    cli_error(std::string("Ошибка вывода: ") + std::strerror(errno));
    return false;
}

bool color_wanted()
{
    const char* term = std::getenv("TERM");
    return isatty(STDOUT_FILENO) && !std::getenv("NO_COLOR") && term && std::strcmp(term, "dumb") != 0;
}

}  // namespace

int cli_status(int argc, char** argv)
{
    gboolean json = FALSE;
    const GOptionEntry entries[] = {
        {"json", 'j', 0, G_OPTION_ARG_NONE, &json, "Вывести состояние в формате JSON (для программ)", nullptr}, {}};
    if (!cli_parse_options(&argc, &argv, "АДРЕС",
                           "Состояние ЭПУ после одного цикла опроса: данные контроллера, сводка, списки "
                           "активных событий\nи состояние оборудования, как их показывает окно программы.",
                           entries, true, "Коды выхода: 0 — состояние выведено, 2 — неверные параметры, 3 — нет "
                                          "связи с контроллером,\n4 — ошибка вывода, 130 — прервано."))
        return kExitUsage;
    if (argc != 2)
        return cli_usage_error(argc < 2 ? "не указан адрес контроллера" : "лишний параметр «" + std::string(argv[2]) + "»");

    CycleView view;
    std::string why;
    int code = cli_plant_view(argv[1], &view, &why);
    if (code != kExitOk) {
        cli_disconnect();
        return code;
    }
    std::string text = json ? plant_status_json(view, argv[1]) : plant_status_text(view, color_wanted());
    std::fwrite(text.data(), 1, text.size(), stdout);
    bool written = output_written();
    cli_disconnect();
    return written ? kExitOk : kExitFailed;
}
