// rarur-cli: the Controller's work without a window, for scripts and for a
// monitoring engine. The same exchange, links, workers, decoding, exports and
// settings rules as the window's program, composed here with no GTK.
#include <glib.h>

#include <clocale>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/commands.h"
#include "cli/session.h"

namespace {

struct Command {
    const char* name;
    int (*run)(int argc, char** argv);
    const char* summary;
};

const Command kCommands[] = {
    {"status", cli_status, "состояние ЭПУ после одного цикла опроса (--json: для программ)"},
    {"check", cli_check, "проверка для системы мониторинга (Icinga 2, Nagios, …)"},
    {"journal", cli_journal, "чтение журнала событий в файл или в архив"},
    {"records", cli_records, "тесты и разряды АБ: список и выгрузка"},
    {"settings", cli_settings, "настройки: сохранить, сравнить с файлом, записать"},
    {"clock", cli_clock, "установка часов контроллера"},
    {"service", cli_service, "сервисные команды"},
};

std::string command_list()
{
    std::string text = "Команды:\n";
    for (const Command& c : kCommands)
        text += "  " + std::string(c.name) + std::string(10 - std::strlen(c.name), ' ') + c.summary + "\n";
    text += "\nАдрес контроллера (АДРЕС):\n"
            "  tcp:УЗЕЛ[:ПОРТ]    Ethernet, порт по умолчанию 502\n"
            "  usb:ИД | usb:      контроллер на USB (usb: — единственный подключенный)\n"
            "  gsm:ПОРТ:НОМЕР     GSM-модем на последовательном порту\n"
            "  pstn:ПОРТ:НОМЕР    модем на телефонной линии\n"
            "\n«rarur-cli КОМАНДА --help» описывает команду. Коды выхода: rarur-cli(1).";
    return text;
}

}  // namespace

int main(int argc, char** argv)
{
    std::setlocale(LC_ALL, "");
    g_set_prgname("rarur-cli");

    gboolean version = FALSE;
    const GOptionEntry entries[] = {
        {"version", 0, 0, G_OPTION_ARG_NONE, &version, "Показать версию и выйти", nullptr}, {}};
    GOptionContext* context = g_option_context_new("КОМАНДА [ПАРАМЕТР…]");
    g_option_context_set_summary(context, "Работа с контроллером RARUR из командной строки: состояние, проверка для "
                                          "мониторинга,\nжурнал событий, записи АБ, настройки, часы и сервисные "
                                          "команды.");
    std::string commands = command_list();
    g_option_context_set_description(context, commands.c_str());
    g_option_context_add_main_entries(context, entries, nullptr);
    // Options after the command are the command's own.
    g_option_context_set_strict_posix(context, TRUE);
    GError* error = nullptr;
    bool parsed = g_option_context_parse(context, &argc, &argv, &error);
    g_option_context_free(context);
    if (!parsed) {
        int code = cli_usage_error(error->message);
        g_error_free(error);
        return code;
    }
    if (version) {
        std::fputs("rarur-cli (RARUR Service) " RARUR_VERSION "\n", stdout);
        return kExitOk;
    }
    if (argc < 2)
        return cli_usage_error("не указана команда");
    for (const Command& c : kCommands) {
        if (std::strcmp(argv[1], c.name) != 0)
            continue;
        argv[0] = const_cast<char*>("rarur-cli");
        cli_runtime_start();
        return cli_run_subcommand(c.name, argc, argv, c.run);
    }
    return cli_usage_error(std::string("неизвестная команда «") + argv[1] + "»");
}
