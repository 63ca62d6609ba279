// rarur-cli settings save|diff|apply: the settings page's file menu and its
// Apply button without the window. The file goes through the window's own
// rules (settings/file_io.h, settings/settings_file.h) and the write through
// its apply worker; what is printed as the review is exactly what is written.
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include <glib.h>

#include "base/app_state.h"
#include "base/log.h"
#include "base/text_format.h"
#include "base/ui_hooks.h"
#include "cli/commands.h"
#include "cli/session.h"
#include "cli/terminal.h"
#include "registers/settings_store.h"
#include "settings/apply.h"
#include "settings/file_io.h"
#include "status/poll.h"

namespace {

constexpr const char* kSummary =
    "  save АДРЕС ФАЙЛ    сохранить настройки контроллера в файл (как «Сохранить настройки…»)\n"
    "  diff ФАЙЛ АДРЕС    показать, чем настройки файла отличаются от настроек контроллера\n"
    "  apply ФАЙЛ АДРЕС   записать настройки файла в контроллер и проверить запись";
constexpr const char* kDescription =
    "Коды выхода: 0 — настройки совпадают (diff), сохранены (save), записаны и проверены (apply);\n"
    "1 — настройки отличаются (diff), контроллер не принял запись, запись отменена или настройки контроллера\n"
    "изменились после просмотра и ничего не записано (apply);\n"
    "2 — неверные параметры или файл не является файлом настроек; 3 — нет связи с контроллером;\n"
    "4 — ошибка записи файла или передачи, связь потеряна, запись не проверена; 130 — прервано.";
constexpr const char* kNoDifference = "Настройки не отличаются от настроек контроллера.";


// The review dialog's columns: aligned on a terminal, tab-separated for a
// program reading the output.
void print_review(const std::vector<SettingsChange>& changes)
{
    const char* titles[3] = {"Настройка", "В контроллере", "Новое значение"};
    std::vector<std::vector<std::string>> rows;
    rows.push_back({titles[0], titles[1], titles[2]});
    // Values come from the Controller and from files: nothing in them may
    // drive the terminal.
    for (const SettingsChange& c : changes)
        rows.push_back({printable_text(c.name), printable_text(c.from), printable_text(c.to)});
    bool aligned = isatty(STDOUT_FILENO) != 0;
    size_t widths[2] = {0, 0};
    auto chars = [](const std::string& s) { return static_cast<size_t>(g_utf8_strlen(s.c_str(), -1)); };
    for (const auto& row : rows)
        for (int i = 0; i < 2; ++i)
            widths[i] = std::max(widths[i], chars(row[i]));
    for (const auto& row : rows) {
        std::string line;
        for (int i = 0; i < 3; ++i) {
            line += row[i];
            if (i == 2)
                break;
            line += aligned ? std::string(widths[i] - chars(row[i]) + 2, ' ') : "\t";
        }
        std::printf("%s\n", line.c_str());
    }
    std::fflush(stdout);
}

// Connects and waits for the Controller's settings as the page loads them.
int connect_for_settings(const std::string& address)
{
    if (int code = cli_connect(address); code != kExitOk)
        return code;
    return cli_wait_settings();
}

int finish(int code)
{
    cli_disconnect();
    return cli_interrupted() && code != kExitOk ? kExitInterrupted : code;
}

int save(int argc, char** argv)
{
    gboolean passwords = FALSE;
    const GOptionEntry entries[] = {
        {"with-passwords", 0, 0, G_OPTION_ARG_NONE, &passwords,
         "Сохранять пароли (пароль настроек и пароль мониторинга будут записаны в файл открытым текстом)", nullptr},
        {}};
    if (!cli_parse_options(&argc, &argv, "АДРЕС ФАЙЛ",
                           "Сохраняет настройки контроллера в файл, как «Файл» → «Сохранить настройки…».\n"
                           "Файл доступен только владельцу (0600); без --with-passwords паролей в нем нет.",
                           entries, true, kDescription))
        return kExitUsage;
    if (argc != 3)
        return cli_usage_error("нужны АДРЕС и ФАЙЛ: rarur-cli settings save АДРЕС ФАЙЛ");
    std::string path = argv[2];
    if (int code = connect_for_settings(argv[1]); code != kExitOk)
        return finish(code);
    int layout = status_layout_in_force();
    SettingsImage image = settings_device_copy(layout);
    SettingsFileOptions options;
    options.passwords = passwords;
    std::string text = settings_file_text(image, status_identification_register(1), settings_file_now(), options);
    std::string message;
    if (!settings_file_save(path, text, message)) {
        cli_error(message);
        return finish(kExitFailed);
    }
    log_message(norm_text, "Настройки сохранены в файл %s\n", path.c_str());
    return finish(kExitOk);
}

// The file loaded over the Controller's settings as «Загрузить настройки…»
// loads it, and the review of the write.
struct Loaded {
    SettingsImage device;   // the Controller's settings the review is made against
    SettingsFileLoad load;
    std::vector<SettingsChange> review;
};

int load_over_controller(const std::string& path, const SettingsFile& file, Loaded& out)
{
    int layout = status_layout_in_force();
    out.device = settings_device_copy(layout);
    uint32_t serial = settings_u32(out.device, SettingsField::SerialNumber);
    bool other = file.header.serial != serial;
    if (other)
        cli_error("Файл сохранен с другого Контроллера (серийный номер " + std::to_string(file.header.serial) + ", " +
                  printable_text(settings_quoted_value(file.header.site)) + "); подключен Контроллер с серийным номером " +
                  std::to_string(serial) + ", серийный номер останется прежним");
    std::string message;
    if (settings_file_load(file, out.device, other, out.load, message) != 0) {
        cli_error("Файл «" + path + "» не загружен.\n" + message);
        return kExitUsage;
    }
    settings_file_log_load(path, file, out.load);
    out.review = settings_review(out.device, out.load.image);
    settings_mark_limited(out.review, out.load.image, out.load.limited);
    cli_pump_log();
    return kExitOk;
}

// The file checked before anything is sent, then loaded over the settings of
// the Controller at `address` as «Загрузить настройки…» loads it. kExitOk with
// the review in `loaded`; otherwise the exit code, the link closed.
int review_file(const std::string& path, const std::string& address, Loaded& loaded)
{
    SettingsFile file;
    std::string message;
    if (!settings_file_open(path, file, message)) {
        cli_error(message);
        return kExitUsage;
    }
    if (int code = connect_for_settings(address); code != kExitOk)
        return finish(code);
    if (int code = load_over_controller(path, file, loaded); code != kExitOk)
        return finish(code);
    return kExitOk;
}

int diff(int argc, char** argv)
{
    if (!cli_parse_options(&argc, &argv, "ФАЙЛ АДРЕС",
                           "Загружает файл настроек поверх настроек контроллера по правилам «Загрузить "
                           "настройки…»\nи выводит изменения, которые запись внесла бы: настройка, значение в "
                           "контроллере, новое значение.",
                           nullptr, true, kDescription))
        return kExitUsage;
    if (argc != 3)
        return cli_usage_error("нужны ФАЙЛ и АДРЕС: rarur-cli settings diff ФАЙЛ АДРЕС");
    Loaded loaded;
    if (int code = review_file(argv[1], argv[2], loaded); code != kExitOk)
        return code;
    if (loaded.review.empty()) {
        std::printf("%s\n", kNoDifference);
        return finish(kExitOk);
    }
    print_review(loaded.review);
    return finish(kExitNo);
}

// What the apply worker reports, on the thread the stand-in plays the window's.
struct Outcome {
    std::atomic<bool> done{false};
    std::atomic<int> result{kApplyTransferError};
};
Outcome g_outcome;

void on_text(const char* text)
{
    // Progress is chatter; a result other than success is an error, said once
    // (the worker's log line of the same words is then not repeated).
    static const char* const kProgress[] = {"Передача настроек...", "Настройки применены",
                                            "Настройки применены и проверены"};
    bool progress = std::any_of(std::begin(kProgress), std::end(kProgress),
                                [&](const char* p) { return std::strcmp(p, text) == 0; });
    if (!progress)
        ui().show_message(MessageKind::Error, text);
    else if (cli_link_options().verbose)
        std::fprintf(stderr, "%s\n", text);
}

void on_finish(int result)
{
    g_outcome.result = result;
    g_outcome.done = true;
}

int exit_code(int result)
{
    switch (result) {
    case kApplyVerified: return kExitOk;
    case kApplyMismatch:
    case kApplyCommandRefused:
    case kApplyDeviceChanged: return kExitNo;
    default: return kExitFailed;
    }
}

int apply(int argc, char** argv)
{
    gboolean yes = FALSE;
    const GOptionEntry entries[] = {
        {"yes", 'y', 0, G_OPTION_ARG_NONE, &yes, "Записать без вопроса (обязательно, когда stdin не терминал)",
         nullptr},
        {}};
    if (!cli_parse_options(&argc, &argv, "ФАЙЛ АДРЕС",
                           "Записывает настройки файла в контроллер, как кнопка «Применить» страницы настроек:\n"
                           "выводит изменения, спрашивает подтверждение и пароль мониторинга "
                           "(или RARUR_MONITORING_PASSWORD),\nзаписывает и проверяет следующим чтением настроек.",
                           entries, true, kDescription))
        return kExitUsage;
    if (argc != 3)
        return cli_usage_error("нужны ФАЙЛ и АДРЕС: rarur-cli settings apply ФАЙЛ АДРЕС");
    // Refused before anything is read or sent: a script cannot answer.
    if (!yes && !cli_stdin_is_terminal())
        return cli_usage_error("stdin не является терминалом: подтвердите запись параметром --yes");
    if (!cli_stdin_is_terminal() && !std::getenv("RARUR_MONITORING_PASSWORD"))
        return cli_usage_error("stdin не является терминалом: задайте пароль мониторинга в RARUR_MONITORING_PASSWORD");
    Loaded loaded;
    if (int code = review_file(argv[1], argv[2], loaded); code != kExitOk)
        return code;
    if (loaded.review.empty()) {
        std::printf("%s Ничего не записано.\n", kNoDifference);
        return finish(kExitOk);
    }
    std::printf("В контроллер будут записаны изменения:\n");
    print_review(loaded.review);
    if (!yes && !cli_confirm("Записать изменения в контроллер?")) {
        if (cli_interrupted()) {
            std::fputs("\n", stderr);
            cli_error("Прервано, ничего не записано");
            return finish(kExitInterrupted);
        }
        cli_error("Запись отменена, ничего не записано");
        return finish(kExitNo);
    }
    std::string password;
    if (!cli_read_password(&password) || !cli_use_password(password))
        return finish(cli_interrupted() ? kExitInterrupted : kExitUsage);
    if (!cli_link_up()) {
        cli_error("Связь с контроллером потеряна, ничего не записано");
        return finish(kExitFailed);
    }

    // The device copy of the review, rechecked by a read begun after the
    // confirmation: the time at the question may be long, and anything
    // another client changed meanwhile is refused rather than overwritten.
    ApplyRequest request{loaded.load.image, loaded.device, {}, true};
    std::memcpy(request.password, app.monitoring_password, sizeof request.password);
    settings_apply_set_hooks({nullptr, on_text, on_finish, nullptr});
    if (cli_as_window([&] { return settings_apply_start(request); }) != 0) {
        cli_error("Не удается запустить запись настроек: система не дала создать поток");
        return finish(kExitFailed);
    }
    // The worker ends on its own in every case (a lost link included); Ctrl-C
    // closes the link, which stops it at its next request.
    cli_wait([] { return g_outcome.done.load(); }, std::chrono::hours(24));
    if (!g_outcome.done) {
        cli_disconnect();
        cli_pump_log();
    }
    int result = g_outcome.result;
    if (result == kApplyVerified)
        std::printf("Настройки применены и проверены\n");
    return finish(exit_code(result));
}

}  // namespace

int cli_settings(int argc, char** argv)
{
    std::string usage = std::string("нужна подкоманда:\n") + kSummary;
    if (argc < 2)
        return cli_usage_error(usage);
    std::string sub = argv[1];
    if (sub == "--help" || sub == "-h" || sub == "-?") {
        std::printf("Использование:\n  rarur-cli settings ПОДКОМАНДА [ПАРАМЕТР…]\n\nПодкоманды:\n%s\n\n%s\n\n"
                    "«rarur-cli settings ПОДКОМАНДА --help» описывает подкоманду.\n",
                    kSummary, kDescription);
        return kExitOk;
    }
    if (sub == "save")
        return cli_run_subcommand("save", argc, argv, save);
    if (sub == "diff")
        return cli_run_subcommand("diff", argc, argv, diff);
    if (sub == "apply")
        return cli_run_subcommand("apply", argc, argv, apply);
    return cli_usage_error("неизвестная подкоманда «" + sub + "»: " + usage);
}
