#include "status/trend_recorder.h"

#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>

#include <glib.h>
#include <unistd.h>

#include "base/log.h"
#include "status/trend.h"

namespace {

// Recorders still writing, and whether the program is closing. A recorder is
// no link's worker: it outlives links, and a file that blocks (a FIFO nobody
// reads, a hung share) must not hold the program's exit for good.
struct Running {
    std::mutex lock;
    std::condition_variable changed;
    int count = 0;
};

Running& running()
{
    static Running* instance = new Running;   // a recorder may outlive static teardown
    return *instance;
}

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

void record(const std::shared_ptr<TrendRecorderState>& s, const std::string& path,
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
            s->wake.wait(g, [&] { return s->closing || !s->rows.empty(); });
            batch.swap(s->rows);
            closing = s->closing;
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

void counted_out()
{
    Running& r = running();
    std::lock_guard g(r.lock);
    --r.count;
    r.changed.notify_all();
}

} // namespace

int TrendRecorder::start(const std::string& path, const std::string& name,
                         std::function<void(std::string error)> failed)
{
    stop();
    auto s = std::make_shared<TrendRecorderState>();
    Running& r = running();
    {
        std::lock_guard g(r.lock);
        ++r.count;
    }
    try {
        std::thread([s, path, name, failed = std::move(failed)] {
            record(s, path, name, failed);
            counted_out();
        }).detach();
    } catch (const std::system_error&) {
        counted_out();
        return -1;
    }
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

bool trend_recorders_finish(std::chrono::milliseconds bound)
{
    Running& r = running();
    std::unique_lock g(r.lock);
    return r.changed.wait_for(g, bound, [&] { return r.count == 0; });
}
