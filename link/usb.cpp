#include "link/usb.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <thread>

#include "base/app_state.h"
#include "base/log.h"
#include "base/text_format.h"
#include "link/connection.h"

namespace {

constexpr const char* kListFailed = "Ошибка получения списка подключенных контроллеров RARUR";
constexpr const char* kNoneAttached = "Нет подключенных контроллеров RARUR";
constexpr const char* kOpenFailed = "Ошибка подключения к контроллеру";
constexpr const char* kCloseFailed = "Ошибка отключения от контроллера";

// One read waits this long. With the exchange's budget of empty reads it bounds
// a missing reply at about two seconds, as on Ethernet; a reply that does come
// is complete by its own length byte, whatever the budget.
constexpr int kReadWaitMs = 2;
constexpr uint32_t kWriteTimeoutMs = 100;
// A library that returns before its time-out is asked again after this pause,
// so that an empty read still lasts the wait the budget counts on.
constexpr auto kReadRetryPause = std::chrono::microseconds(200);
// More than this many attached Controllers is taken for a failing library.
constexpr uint32_t kMaxControllers = 256;
// A library call the window stopped waiting for (it is closing).
constexpr int kGivenUp = -2;

// What the last search found, and through which library (GUI thread).
const UsbAccess* g_found_access = nullptr;
std::vector<RarurEntry> g_found;

void report(MessageKind kind, LogTag tag, const char* text)
{
    ui().show_message(kind, text);
    log_message(tag, "%s\n", text);
}

int list_failed()
{
    report(MessageKind::Error, err_text, kListFailed);
    return -1;
}

void show_close_failed(void*) { ui().show_message(MessageKind::Error, kCloseFailed); }

struct UsbStream {
    const UsbAccess& access;
    RarurHandle handle;
    std::atomic<bool> shut{false};
    std::atomic<int> last_result{0};

    UsbStream(const UsbAccess& a, RarurHandle h) : access(a), handle(h) {}
    // Runs when nobody can be inside a call on the handle any more. Boxes are
    // the GUI thread's: this may be the transport thread on its way out.
    ~UsbStream()
    {
        if (access.close(handle) != 0)
            ui().post(show_close_failed, nullptr);
    }

    int read(uint8_t* buffer, int max, int wait_ms)
    {
        auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
        for (;;) {
            if (shut)
                return -1;
            uint32_t n = 0;
            int result = access.read(handle, buffer, uint32_t(max), &n, uint32_t(std::max(wait_ms, 0)));
            // Any negative result is a failure, and so is a count the buffer
            // cannot hold: nothing the library says then can be trusted.
            if (result < 0 || n > uint32_t(max)) {
                last_result = result;
                return -1;
            }
            if (n > 0)
                return int(n);
            if (wait_ms <= 0 || std::chrono::steady_clock::now() >= until)
                return 0;
            std::this_thread::sleep_for(kReadRetryPause);
        }
    }

    int write(const uint8_t* bytes, int length)
    {
        if (shut)
            return -1;
        uint32_t written = 0;
        int result = access.write(handle, bytes, uint32_t(length), &written, kWriteTimeoutMs);
        last_result = result;
        if (result == 0 && written == uint32_t(length))
            return length;
        return written < uint32_t(length) ? int(written) : -1;
    }
};

const RarurEntry* found_entry(uint32_t id)
{
    for (const RarurEntry& entry : g_found)
        if (entry.id == id)
            return &entry;
    return nullptr;
}

// An open run off the GUI thread. A handle it opens after the window stopped
// waiting for it is closed again when the last side lets go.
struct UsbOpening {
    const UsbAccess* access;
    RarurEntry entry;
    RarurHandle handle = 0;
    std::atomic<bool> opened{false};
    std::atomic<bool> taken{false};
    UsbOpening(const UsbAccess* a, const RarurEntry& e) : access(a), entry(e) {}
    ~UsbOpening()
    {
        if (opened && !taken)
            access->close(handle);
    }
};

int usb_open(const LinkTarget& target, std::shared_ptr<LinkIo>* io)
{
    // A target not among the last search (a caller that knows the
    // identifier): look again.
    if (!found_entry(target.usb_id) && usb_find_controllers(nullptr) != 0)
        return -1;
    const RarurEntry* entry = found_entry(target.usb_id);
    app.usb_device_id = target.usb_id;
    int result = -1;
    std::shared_ptr<UsbOpening> opening;
    if (entry) {
        opening = std::make_shared<UsbOpening>(g_found_access, *entry);
        result = link_run_blocking(
            [opening] {
                if (opening->access->open(&opening->entry, &opening->handle) != 0)
                    return -1;
                opening->opened = true;
                return 0;
            },
            kGivenUp);
    }
    if (result == kGivenUp)
        return -1;   // the window went away: nobody to tell
    if (result != 0) {
        report(MessageKind::Error, err_text, kOpenFailed);
        return -1;
    }
    opening->taken = true;
    RarurHandle handle = opening->handle;
    *io = usb_link_io(*g_found_access, handle);
    unsigned long id = target.usb_id;
    (*io)->title = format("RARUR Service - USB {%lu}", id);
    (*io)->connected_text = format("Подключен через USB {%lu}\n", id);
    return 0;
}

// The handle itself is closed by the stream once the transport thread has
// ended: closing it here could pull it from under a read in progress.
void usb_close() { exchange_close(); }

}  // namespace

const LinkBackend usb_backend = {
    .kind = LinkKind::Usb,
    .name = "USB",
    .menu_item = "menuitem7",
    .scheme = "usb",
    .asks = LinkBackend::Asks::Device,
    .open = usb_open,
    .close = usb_close,
};

std::shared_ptr<LinkIo> usb_link_io(const UsbAccess& access, RarurHandle handle)
{
    auto stream = std::make_shared<UsbStream>(access, handle);
    auto io = std::make_shared<LinkIo>();
    io->kind = LinkKind::Usb;
    io->read_wait_ms = kReadWaitMs;
    io->write_all = [stream](const uint8_t* bytes, int length) { return stream->write(bytes, length); };
    io->read_some = [stream](uint8_t* buffer, int max, int wait_ms) { return stream->read(buffer, max, wait_ms); };
    io->shutdown = [stream] { stream->shut = true; };
    io->error_code = [stream] { return stream->last_result.load(); };
    return io;
}

int usb_find_controllers(std::vector<uint32_t>* ids)
{
    const UsbAccess* access = usb_access();
    if (!access)
        return list_failed();
    // A library may take its time over the search (the program's own gives
    // each Controller a moment to accept): off the GUI thread.
    auto entries = std::make_shared<std::vector<RarurEntry>>();
    int found = link_run_blocking(
        [access, entries] {
            uint32_t count = 0;
            if (access->find(nullptr, 0, &count) != 0 || count > kMaxControllers)
                return -1;
            if (count == 0)
                return 1;
            entries->resize(count);
            uint32_t filled = 0;
            if (access->find(entries->data(), count, &filled) != 0 || filled != count)
                return -1;
            return 0;
        },
        kGivenUp);
    if (found == kGivenUp)
        return kGivenUp;
    if (found < 0)
        return list_failed();
    if (found == 1) {
        report(MessageKind::Info, norm_text, kNoneAttached);
        return 1;
    }
    g_found_access = access;
    g_found = std::move(*entries);
    if (ids) {
        ids->clear();
        for (const RarurEntry& entry : g_found)
            ids->push_back(entry.id);
    }
    return 0;
}

int usb_connect(UsbChooser choose)
{
    std::vector<uint32_t> ids;
    if (usb_find_controllers(&ids) != 0)
        return -1;
    int index = 0;
    if (ids.size() > 1) {
        index = choose ? choose(ids) : -1;
        if (index < 0 || size_t(index) >= ids.size())
            return -1;
    }
    LinkTarget target;
    target.usb_id = ids[size_t(index)];
    return connect_target(target);
}
