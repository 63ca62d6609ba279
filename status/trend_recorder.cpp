#include "status/trend_recorder.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>

#include <glib.h>
#include <unistd.h>

#include "base/log.h"
#include "base/workers.h"
#include "status/trend.h"

namespace {

constexpr const char* kValuesLane = "values";
// How often a waiting recorder looks whether the program is exiting.
constexpr auto kExitCheck = std::chrono::milliseconds(200);

} // namespace

int trend_append_row(FILE* file, const std::string& row, long& good_end)
{
    errno = 0;
    size_t written = std::fwrite(row.data(), 1, row.size(), file);
    if (written == row.size() && std::fflush(file) == 0) {
        good_end += static_cast<long>(row.size());
        return 0;
    }
    int error = errno ? errno : EIO;
    std::clearerr(file);
    // A file that cannot be cut (a FIFO, a terminal) took either all of a row
    // of this size or none of it.
    if (written > 0 && ftruncate(fileno(file), good_end) == 0)
        std::fseek(file, good_end, SEEK_SET);
    return error;
}

struct TrendRecorderState {
    std::mutex lock;
    std::condition_variable wake;
    std::deque<std::string> rows;   // guarded by lock
    bool closing = false;           // guarded by lock
};

namespace {

void record(const WorkerContext& c, const std::shared_ptr<TrendRecorderState>& s, const std::string& path,
            const std::string& name, const std::function<void(std::string)>& failed)
{
    // Opened here, not on the window's thread: a FIFO waits for its reader.
    FILE* file = std::fopen(path.c_str(), "wb");
    long good_end = 0;
    int error = file ? 0 : errno;
    if (file) {
        std::setvbuf(file, nullptr, _IONBF, 0);
        error = trend_append_row(file, trend_csv_header(), good_end);
    }
    unsigned long rows = 0;
    while (error == 0) {
        std::deque<std::string> batch;
        bool closing;
        {
            std::unique_lock g(s->lock);
            s->wake.wait_for(g, kExitCheck, [&] { return s->closing || !s->rows.empty(); });
            batch.swap(s->rows);
            closing = s->closing || !c.live();
        }
        for (const std::string& row : batch) {
            if ((error = trend_append_row(file, row, good_end)) != 0)
                break;
            ++rows;
        }
        if (closing)
            break;
    }
    if (file && std::fclose(file) != 0 && error == 0)
        error = errno;
    if (error) {
        std::string text = g_strerror(error);
        log_message(err_text, "Не удается записать значения в файл %s: %s\n", name.c_str(), text.c_str());
        if (failed)
            failed(text);
        return;
    }
    log_message(norm_text, "Запись значений остановлена: %s, строк: %lu\n", name.c_str(), rows);
}

} // namespace

int TrendRecorder::start(const std::string& path, const std::string& name,
                         std::function<void(std::string error)> failed)
{
    stop();
    auto s = std::make_shared<TrendRecorderState>();
    // Bound to no link: the recording goes on across a drop of the link.
    int started = worker_start(kValuesLane, 0, [s, path, name, failed = std::move(failed)](const WorkerContext& c) {
        record(c, s, path, name, failed);
    });
    if (started != 0)
        return -1;
    state_ = std::move(s);
    return 0;
}

void TrendRecorder::add(std::string row)
{
    if (!state_)
        return;
    std::lock_guard g(state_->lock);
    state_->rows.push_back(std::move(row));
    state_->wake.notify_one();
}

void TrendRecorder::stop()
{
    if (!state_)
        return;
    {
        std::lock_guard g(state_->lock);
        state_->closing = true;
        state_->wake.notify_one();
    }
    state_.reset();
}
