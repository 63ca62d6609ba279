// rarur-cli journal: the window's journal read, written to a file (the
// window's spreadsheet, or CSV), or appended to a per-Controller archive that
// reads only what is new since its last row.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include <glib.h>
#include <glib/gstdio.h>

#include "base/text_format.h"
#include "cli/commands.h"
#include "cli/journal_archive.h"
#include "cli/session.h"
#include "events/journal_export.h"
#include "events/journal_read.h"
#include "status/poll.h"

namespace {

// The read's progress on stderr: a bar redrawn in place on a terminal, a
// plain line every few percent otherwise (a log file of a nightly run).
class Progress {
public:
    explicit Progress(const char* title) : title_(title), terminal_(isatty(STDERR_FILENO)) {}
    // Log lines go out on a line of their own, not into the bar.
    void pump()
    {
        if (drawn_) {
            std::fputs("\r\033[K", stderr);
            drawn_ = false;
        }
        cli_pump_log();
    }
    void show(const JournalProgressView& p)
    {
        if (p.done <= 0 || p.text.empty())
            return;
        if (terminal_) {
            constexpr int kWidth = 30;
            int filled = p.total > 0 ? std::min(kWidth, p.done * kWidth / p.total) : 0;
            std::fprintf(stderr, "\r%s [%s%s] %s", title_, std::string(filled, '#').c_str(),
                         std::string(kWidth - filled, '-').c_str(), p.text.c_str());
            std::fflush(stderr);
            drawn_ = true;
            return;
        }
        int step = p.total > 0 ? p.done * 100 / p.total / kLineStepPercent : 0;
        if (step > last_step_) {
            last_step_ = step;
            std::fprintf(stderr, "%s: %s\n", title_, p.text.c_str());
        }
    }
    void end()
    {
        if (drawn_)
            std::fputs("\n", stderr);
        drawn_ = false;
    }

private:
    static constexpr int kLineStepPercent = 5;
    const char* title_;
    bool terminal_;
    bool drawn_ = false;
    int last_step_ = -1;
};

struct ReadOutcome {
    std::vector<JournalRow> rows;
    JournalReadResult result;
    bool interrupted = false;
    bool started = false;
    // Every record planned was tried and read.
    bool whole() const { return started && !interrupted && !result.failed && result.end == JournalReadEnd::Complete; }
};

// Runs one read of the journal worker to its end; Ctrl-C stops it as the
// window's stop button does, and the rows read so far are kept.
ReadOutcome read_journal(JournalReadPlan plan, const char* title)
{
    ReadOutcome out;
    if (cli_as_window([&] { return journal_read_start(std::move(plan)); }) != 0) {
        cli_pump_log();
        return out;
    }
    out.started = true;
    Progress progress(title);
    while (journal_busy()) {
        if (cli_interrupted() && !out.interrupted) {
            out.interrupted = true;
            journal_read_stop();
        }
        progress.pump();
        progress.show(journal_progress());
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
        std::vector<JournalRow> rows = journal_take_rows();
        out.rows.insert(out.rows.end(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
    }
    progress.pump();
    progress.end();
    std::vector<JournalRow> rows = journal_take_rows();
    out.rows.insert(out.rows.end(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
    out.result = journal_read_result();
    out.interrupted = out.interrupted || cli_interrupted();
    return out;
}

bool ends_with(const std::string& name, const char* suffix)
{
    size_t n = std::strlen(suffix);
    if (name.size() < n)
        return false;
    return g_ascii_strcasecmp(name.c_str() + name.size() - n, suffix) == 0;
}

// ---- -o FILE -----------------------------------------------------------------

// A file that cannot be made is said before a read that may take minutes
// over a modem, not after it: its folder must let a file be made, or the
// file be there and writable. 0, or the errno.
int file_writable(const std::string& name)
{
    gchar* path = g_filename_from_utf8(name.c_str(), -1, nullptr, nullptr, nullptr);
    if (!path)
        return EINVAL;
    gchar* dir = g_path_get_dirname(path);
    int error = 0;
    if (access(dir, W_OK | X_OK) != 0) {
        error = errno;
        if (access(path, W_OK) == 0)
            error = 0;
    }
    g_free(dir);
    g_free(path);
    return error;
}

int journal_to_file(const std::string& address, const std::string& name, bool csv)
{
    if (int error = file_writable(name)) {
        cli_error(format("Ошибка открытия файла '%s': %s", name.c_str(), g_strerror(error)));
        return kExitFailed;
    }
    if (int code = cli_connect(address); code != kExitOk) {
        cli_disconnect();
        return code;
    }
    ReadOutcome read = read_journal({}, "Журнал событий");
    JournalSource source = journal_source();
    cli_disconnect();
    if (!read.started)
        return kExitFailed;

    std::vector<JournalExportRow> rows = journal_export_rows(read.rows);
    SpreadsheetFile file;
    if (int error = spreadsheet_create(name.c_str(), file)) {
        cli_error(format("Ошибка открытия файла '%s': %s", name.c_str(), g_strerror(error)));
        return kExitFailed;
    }
    if (csv)
        journal_csv_write(file.writer, rows);
    else
        journal_export_write(file.writer, source.site, source.serial, rows);
    if (int error = spreadsheet_close(file)) {
        cli_error(format("Ошибка записи файла '%s': %s", name.c_str(), g_strerror(error)));
        return kExitFailed;
    }
    if (read.interrupted) {
        std::fprintf(stderr, "Чтение журнала событий прервано: %zu прочитанных записей сохранено в файл '%s'\n",
                     rows.size(), name.c_str());
        return kExitInterrupted;
    }
    std::fprintf(stderr, "Журнал событий сохранен в файл '%s' (записей: %zu)\n", name.c_str(), rows.size());
    return read.whole() ? kExitOk : kExitFailed;
}

// ---- --archive DIR -------------------------------------------------------------

// The archive file, open for appending and locked against a second run on the
// same Controller at the same time.
class ArchiveFile {
public:
    ~ArchiveFile()
    {
        if (fd_ < 0)
            return;
        // A first run that appended nothing leaves no empty archive behind.
        struct stat st {};
        if (locked_ && fstat(fd_, &st) == 0 && st.st_size == 0)
            unlink(path_.c_str());
        close(fd_);
    }
    // 0, or the errno; EWOULDBLOCK: another run holds it.
    int open_locked(const std::string& path)
    {
        path_ = path;
        fd_ = open(path.c_str(), O_RDWR | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        if (fd_ < 0)
            return errno;
        if (flock(fd_, LOCK_EX | LOCK_NB) != 0)
            return errno;
        locked_ = true;
        return 0;
    }
    int read_all(std::string* text)
    {
        text->clear();
        char buffer[65536];
        for (off_t at = 0;;) {
            ssize_t n = pread(fd_, buffer, sizeof buffer, at);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                return errno;
            if (n == 0)
                return 0;
            text->append(buffer, size_t(n));
            at += n;
        }
    }
    // Appends the lines at once; on a failure the file is cut back to what
    // it held, so a half-written row never becomes the archive's last.
    int append(const std::string& text)
    {
        struct stat st {};
        if (fstat(fd_, &st) != 0)
            return errno;
        int error = 0;
        for (size_t done = 0; done < text.size() && !error;) {
            ssize_t n = write(fd_, text.data() + done, text.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0)
                error = errno;
            else
                done += size_t(n);
        }
        if (!error && fsync(fd_) != 0)
            error = errno;
        if (error && ftruncate(fd_, st.st_size) != 0) {
            // The cut failed as well: the damage is said when the archive is next read.
        }
        return error;
    }

private:
    std::string path_;
    int fd_ = -1;
    bool locked_ = false;
};

int archive_exit(const ReadOutcome& read) { return read.interrupted ? kExitInterrupted : kExitFailed; }

int journal_to_archive(const std::string& address, const std::string& dir)
{
    if (g_mkdir_with_parents(dir.c_str(), 0755) != 0) {
        cli_error(format("Ошибка создания каталога '%s': %s", dir.c_str(), g_strerror(errno)));
        return kExitFailed;
    }
    if (int code = cli_connect(address); code != kExitOk) {
        cli_disconnect();
        return code;
    }
    auto finish = [](int code) {
        cli_disconnect();
        return code;
    };
    JournalSource source = journal_source();
    uint16_t newest = journal_first_record(status_identification_register(8));
    std::string path = format("%s/%u.csv", dir.c_str(), source.identification_serial);
    ArchiveFile archive;
    if (int error = archive.open_locked(path)) {
        cli_error(error == EWOULDBLOCK ? format("Архив '%s' занят другим запуском rarur-cli", path.c_str())
                                       : format("Ошибка открытия файла '%s': %s", path.c_str(), g_strerror(error)));
        return finish(kExitFailed);
    }
    std::string text, why;
    std::optional<JournalArchiveMark> mark;
    if (int error = archive.read_all(&text)) {
        cli_error(format("Ошибка чтения файла '%s': %s", path.c_str(), g_strerror(error)));
        return finish(kExitFailed);
    }
    if (journal_archive_last(text, &mark, &why) != 0) {
        cli_error(format("Архив '%s' поврежден (%s): он оставлен как есть, журнал не прочитан", path.c_str(),
                         why.c_str()));
        return finish(kExitFailed);
    }

    std::vector<JournalRow> rows;
    bool whole_ring = !mark;
    if (mark) {
        JournalReadPlan verify;
        verify.first = mark->position;
        verify.count = 1;
        ReadOutcome seen = read_journal(std::move(verify), "Проверка архива");
        if (seen.interrupted) {
            cli_error("Чтение журнала прервано: архив не изменился");
            return finish(kExitInterrupted);
        }
        if (!seen.whole()) {
            cli_error("Не удалось прочитать последнюю запись архива в контроллере: архив не дополнен");
            return finish(archive_exit(seen));
        }
        if (seen.rows.size() != 1 || !journal_archive_same(*mark, seen.rows[0])) {
            cli_error(format("Последней записи архива (позиция %u) в журнале контроллера больше нет: журнал "
                             "переписан по кругу или начат заново (сброс контроллера), записи между ними "
                             "потеряны; читается весь журнал",
                             unsigned(mark->position)));
            whole_ring = true;
        } else {
            int fresh = journal_ring_distance(mark->position, newest);
            if (fresh == 0) {
                std::fprintf(stderr, "Новых записей в журнале нет: архив '%s' не изменился\n", path.c_str());
                return finish(kExitOk);
            }
            JournalReadPlan plan;
            plan.first = journal_next_record(mark->position);
            plan.count = fresh;
            plan.direction = JournalDirection::Forwards;
            // A record that cannot be read would leave a gap: the read ends
            // there, and what came before it is appended.
            plan.last = [](uint16_t, const uint8_t* bytes) { return bytes == nullptr; };
            ReadOutcome read = read_journal(std::move(plan), "Новые записи журнала");
            rows = std::move(read.rows);
            if (!read.whole()) {
                std::string line;
                for (const JournalRow& row : rows)
                    line += journal_archive_line(row) + "\r\n";
                if (int error = archive.append(line)) {
                    cli_error(format("Ошибка записи файла '%s': %s", path.c_str(), g_strerror(error)));
                    return finish(kExitFailed);
                }
                std::fprintf(stderr,
                             "Чтение журнала не закончено: в архив '%s' дописано записей по порядку, без "
                             "пропусков: %zu из %d; остальные прочитает следующий запуск\n",
                             path.c_str(), rows.size(), fresh);
                return finish(archive_exit(read));
            }
        }
    }
    if (whole_ring) {
        JournalReadPlan plan;
        plan.first = newest;
        plan.count = kJournalRingSize;
        plan.last = [end = JournalWholeRingEnd{}](uint16_t, const uint8_t* bytes) mutable { return end(bytes); };
        ReadOutcome read = read_journal(std::move(plan), "Журнал событий");
        // The read goes newest first: rows of a read cut short lie apart from
        // the archive's end, so none are appended and the next run reads again.
        if (!read.whole() || read.result.failed) {
            cli_error(format("Чтение журнала не закончено: в архив '%s' ничего не дописано (прочитанные записи "
                             "оставили бы пропуск); следующий запуск прочитает журнал снова",
                             path.c_str()));
            return finish(archive_exit(read));
        }
        rows = journal_archive_whole_ring_rows(std::move(read.rows), newest,
                                               journal_first_record(status_identification_register(8)));
    }
    cli_disconnect();

    std::string lines = text.empty() ? std::string(kJournalArchiveHeader) + "\r\n" : "";
    for (const JournalRow& row : rows)
        lines += journal_archive_line(row) + "\r\n";
    if (int error = archive.append(lines)) {
        cli_error(format("Ошибка записи файла '%s': %s", path.c_str(), g_strerror(error)));
        return kExitFailed;
    }
    std::fprintf(stderr, "В архив '%s' дописано записей: %zu\n", path.c_str(), rows.size());
    return kExitOk;
}

}  // namespace

int cli_journal(int argc, char** argv)
{
    gchar* output = nullptr;
    gchar* archive = nullptr;
    const GOptionEntry entries[] = {
        {"output", 'o', 0, G_OPTION_ARG_STRING, &output,
         "Записать журнал в ФАЙЛ: .xml — таблица, как экспорт окна, .csv — CSV в UTF-8", "ФАЙЛ"},
        {"archive", 0, 0, G_OPTION_ARG_FILENAME, &archive,
         "Дописать новые записи в архив КАТАЛОГ/<серийный номер>.csv", "КАТАЛОГ"},
        {}};
    if (!cli_parse_options(&argc, &argv, "АДРЕС (-o ФАЙЛ | --archive КАТАЛОГ)",
                           "Читает журнал событий контроллера, как кнопка «Прочитать журнал событий»: 2000 "
                           "последних записей\nв файл (-o), или только новые записи в архив (--archive). Ход "
                           "чтения — в stderr;\nCtrl+C останавливает чтение, прочитанное сохраняется.",
                           entries, true,
                           "Коды выхода: 0 — прочитано и записано, 2 — ошибка в параметрах, 3 — нет связи с "
                           "контроллером,\n4 — чтение с ошибками или файл не записан, 130 — прервано (Ctrl+C)."))
        return kExitUsage;
    std::string out = output ? output : "";
    std::string dir = archive ? archive : "";
    g_free(output);
    g_free(archive);
    if (argc != 2)
        return cli_usage_error(argc < 2 ? "не указан адрес контроллера" : "лишний параметр «" +
                                                                             std::string(argv[2]) + "»");
    if (out.empty() == dir.empty())
        return cli_usage_error("укажите либо -o ФАЙЛ, либо --archive КАТАЛОГ");
    if (!dir.empty())
        return journal_to_archive(argv[1], dir);
    bool csv = ends_with(out, ".csv");
    if (!csv && !ends_with(out, ".xml"))
        return cli_usage_error("-o: файл должен оканчиваться на .xml или .csv");
    return journal_to_file(argv[1], out, csv);
}
