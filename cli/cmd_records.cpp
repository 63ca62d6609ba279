// rarur-cli records: the battery test and discharge records as the window's
// records page lists them, and one of them exported as the window's double
// click exports it. The window's readers do the work; this file only waits
// for them and prints.
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <glib.h>

#include "battery/record_export.h"
#include "battery/records_read.h"
#include "cli/commands.h"
#include "cli/session.h"
#include "cli/work.h"

namespace {

// A read ends by itself (every request is bounded by the exchange and tried a
// few times); Ctrl-C closes the link, which ends it at once.
constexpr auto kReadBound = std::chrono::hours(1);

int display_width(const std::string& text) { return int(g_utf8_strlen(text.c_str(), -1)); }

// The columns of the records page, titled as there.
void print_list(RecordKind kind, const std::vector<RecordRow>& rows)
{
    std::vector<std::vector<std::string>> table;
    table.push_back({kind == RecordKind::Test ? "Тест" : "Разряд", "D", "Дата", "Длительность", "Статус", "Емкость",
                     "Напряжение", "Температура", "Ср. ток"});
    for (const RecordRow& r : rows)
        table.push_back({r.name, std::to_string(r.descriptor), r.date, r.length, r.status, r.capacity, r.voltage,
                         r.temperature, r.mean_current});
    // A script reads tab-separated fields; a person sees aligned columns.
    bool aligned = isatty(STDOUT_FILENO) != 0;
    std::vector<int> widths(table[0].size(), 0);
    for (const auto& line : table)
        for (size_t c = 0; c < line.size(); ++c)
            widths[c] = std::max(widths[c], display_width(line[c]));
    for (const auto& line : table) {
        std::string out;
        for (size_t c = 0; c < line.size(); ++c) {
            out += line[c];
            if (c + 1 == line.size())
                break;
            out += aligned ? std::string(size_t(widths[c] - display_width(line[c]) + 2), ' ') : "\t";
        }
        std::printf("%s\n", out.c_str());
    }
    std::fflush(stdout);
}

// Reads the list; nullopt when the read did not run to its end (said).
std::optional<RecordListRead> read_list(RecordKind kind, const RecordSettings& settings, int* exit_code)
{
    auto awaited = std::make_shared<Awaited<RecordListRead>>();
    auto progress = std::make_shared<CliProgress>();
    int started = cli_as_window([&] {
        return record_list_read_start(kind, settings.zone_quarters, settings.summer,
                                      {[progress](const std::string& text) { progress->show(text); },
                                       [awaited](const RecordListRead& read, LinkSession) { awaited->set(read); }});
    });
    if (started != 0) {
        // A thread that could not start is said by the reader; a link that
        // ended since the poll cycle is not.
        if (!cli_link_up())
            cli_error("Связь с контроллером потеряна: список не прочитан");
        *exit_code = kExitFailed;
        return std::nullopt;
    }
    cli_wait([awaited] { return awaited->known(); }, kReadBound);
    std::optional<RecordListRead> taken = awaited->take();
    if (!taken) {
        *exit_code = cli_interrupted() ? kExitInterrupted : kExitFailed;
        return std::nullopt;
    }
    progress->show("");
    RecordListRead read = std::move(*taken);
    if (read.link_lost) {
        cli_error(kind == RecordKind::Test ? "Связь с контроллером потеряна: список тестов не прочитан"
                                           : "Связь с контроллером потеряна: список разрядов не прочитан");
        *exit_code = cli_interrupted() ? kExitInterrupted : kExitFailed;
        return std::nullopt;
    }
    return read;
}

int export_record(const RecordRow& row, const RecordSettings& settings, const char* output)
{
    RecordKind kind = record_kind_of_file(row.file);
    struct FileRead {
        RecordFile file;
        int result = 0;
    };
    auto awaited = std::make_shared<Awaited<std::shared_ptr<FileRead>>>();
    auto progress = std::make_shared<CliProgress>();
    int started = cli_as_window([&] {
        return record_file_read_start(row.file, row.points,
                                      {[progress](const std::string& text) { progress->show(text); },
                                       [awaited](const RecordFile& file, int result, LinkSession) {
                                           awaited->set(std::make_shared<FileRead>(FileRead{file, result}));
                                       }});
    });
    if (started != 0) {
        if (!cli_link_up())
            cli_error("Связь с контроллером потеряна: файл не сохранен");
        return kExitFailed;
    }
    cli_wait([awaited] { return awaited->known(); }, kReadBound);
    progress->show("");
    std::optional<std::shared_ptr<FileRead>> taken = awaited->take();
    if (!taken || (*taken)->result == -2) {
        if (cli_interrupted()) {
            cli_error("Прервано: файл не сохранен");
            return kExitInterrupted;
        }
        cli_error("Связь с контроллером потеряна: файл не сохранен");
        return kExitFailed;
    }
    const FileRead& read = **taken;
    if (read.result != 0)   // the reader has said which read failed
        return kExitFailed;
    RecordExportState state = record_export_state(read.file, uint16_t(row.descriptor), row.start);
    if (state != RecordExportState::Ready) {
        std::string text = record_export_state_text(state, kind);
        for (char& c : text)
            if (c == '\n')
                c = ' ';
        cli_error(text);
        return kExitFailed;
    }
    std::string name = output ? output : record_export_name(read.file);
    std::string error;
    if (record_export_save(name, read.file, settings, &error) != 0) {
        cli_error(error);
        return kExitFailed;
    }
    std::printf("%s\n", record_export_saved_text(kind, name).c_str());
    return kExitOk;
}

int records(const char* address, RecordKind kind, int number, const char* output)
{
    if (int code = cli_connect(address); code != kExitOk)
        return code;
    if (int code = cli_wait_settings(); code != kExitOk)
        return code;
    // The settings the window's page holds now: the zone of the list's dates,
    // and the site, serial and groups of the workbook.
    RecordSettings settings = record_settings_now();
    int code = kExitOk;
    std::optional<RecordListRead> list = read_list(kind, settings, &code);
    if (!list)
        return code;
    if (number == 0) {
        print_list(kind, list->rows);
        return list->failed_slots.empty() ? kExitOk : kExitFailed;
    }
    for (const RecordRow& row : list->rows)
        if (row.name == std::to_string(number))
            return export_record(row, settings, output);
    cli_error(std::string(kind == RecordKind::Test ? "Нет батарейного теста №" : "Нет разряда №") +
              std::to_string(number) + " в списке контроллера (rarur-cli records " + address +
              (kind == RecordKind::Test ? ")" : " --discharges)"));
    return list->failed_slots.empty() ? kExitNo : kExitFailed;
}

}  // namespace

int cli_records(int argc, char** argv)
{
    gboolean discharges = FALSE;
    int number = -1;   // not given
    gchar* output = nullptr;
    const GOptionEntry entries[] = {
        {"discharges", 'd', 0, G_OPTION_ARG_NONE, &discharges, "Разряды вместо батарейных тестов", nullptr},
        {"export", 'e', 0, G_OPTION_ARG_INT, &number, "Прочитать запись N списка целиком и сохранить в файл", "N"},
        {"output", 'o', 0, G_OPTION_ARG_FILENAME, &output,
         "Файл для --export (по умолчанию T_…xml или P_…xml в текущем каталоге)", "ФАЙЛ"},
        {}};
    const char* description =
        "Без --export выводит четыре последних теста (или разряда) со столбцами раздела\n"
        "«Батарейные тесты и разряды» страницы «Сервис»: номер N для --export, D, дата начала,\n"
        "длительность, статус, емкость, напряжение, температура, средний ток. В терминале\n"
        "столбцы выровнены, иначе разделены табуляцией.\n"
        "С --export N читает запись N целиком и сохраняет ее в XML-файл, как окно программы.\n"
        "Коды выхода: 0 готово, 1 записи N нет в списке, 2 неверные параметры, 3 нет связи,\n"
        "4 ошибка чтения или записи файла, 130 прервано.";
    if (!cli_parse_options(&argc, &argv, "АДРЕС [--discharges] [--export N [-o ФАЙЛ]]",
                           "Батарейные тесты и разряды: список и выгрузка записи.", entries, true, description))
        return kExitUsage;
    std::unique_ptr<gchar, decltype(&g_free)> owned(output, g_free);
    if (argc != 2)
        return cli_usage_error(argc < 2 ? "не указан адрес контроллера" : "лишние параметры");
    if (output && number < 0)
        return cli_usage_error("-o относится только к --export N");
    if (number == 0 || number > kListedRecords)
        return cli_usage_error("--export: номер записи от 1 до " + std::to_string(kListedRecords));
    if (output && !*output)
        return cli_usage_error("-o: пустое имя файла");
    // The export names its file in UTF-8, as the window's file chooser gives it.
    std::string file;
    if (output) {
        gchar* utf8 = g_filename_to_utf8(output, -1, nullptr, nullptr, nullptr);
        if (!utf8)
            return cli_usage_error("-o: имя файла не в кодировке файловой системы");
        file = utf8;
        g_free(utf8);
    }
    int code = records(argv[1], discharges ? RecordKind::Discharge : RecordKind::Test, std::max(number, 0),
                       output ? file.c_str() : nullptr);
    cli_disconnect();
    return code;
}
