// A USB access library to drop in through RARUR_USB_LIBRARY: two Controllers,
// 4242 and 77, that answer register reads with register i = start + i. Start
// 0xDEAD is never answered; start 0xBAD0 breaks the handle, whose reads then
// fail with -7. Closing 77 fails. It notes a close that comes while a read is
// still running on the same handle.
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "link/rarur_usb.h"

namespace {

constexpr RarurHandle kHandleBase = 0x5500;
std::mutex g_lock;
std::vector<uint8_t> g_pending;
bool g_broken = false;
std::atomic<int> g_reads_active{0}, g_close_during_read{0}, g_closes{0};

bool valid(RarurHandle h) { return h == kHandleBase + 4242 || h == kHandleBase + 77; }

}  // namespace

extern "C" {

__attribute__((visibility("default"))) int rarur_find(RarurEntry* entries, uint32_t capacity, uint32_t* count)
{
    const uint32_t ids[] = {4242, 77};
    uint32_t n = entries ? (capacity < 2 ? capacity : 2) : 2;
    for (uint32_t i = 0; entries && i < n; ++i) {
        std::memset(&entries[i], 0, sizeof entries[i]);
        std::strcpy(entries[i].identification, "test library");
        entries[i].id = ids[i];
    }
    *count = n;
    return 0;
}

__attribute__((visibility("default"))) int rarur_open(const RarurEntry* entry, RarurHandle* handle)
{
    std::lock_guard<std::mutex> g(g_lock);
    g_pending.clear();
    g_broken = false;
    *handle = kHandleBase + entry->id;
    return 0;
}

__attribute__((visibility("default"))) int rarur_write(RarurHandle handle, const uint8_t* data, uint32_t length,
                                                       uint32_t* written, uint32_t)
{
    std::lock_guard<std::mutex> g(g_lock);
    *written = 0;
    if (!valid(handle) || g_broken || length < 6 || data[0] != length)
        return -3;
    *written = length;
    uint8_t fn = data[1];
    unsigned start = unsigned(data[2] << 8 | data[3]), count = unsigned(data[4] << 8 | data[5]);
    if (start == 0xDEAD)
        return 0;
    if (start == 0xBAD0) {
        g_broken = true;
        return 0;
    }
    if ((fn != 0x03 && fn != 0x04) || count == 0 || count > 125) {
        g_pending = {3, uint8_t(fn | 0x80), 0x01};
        return 0;
    }
    g_pending = {uint8_t(3 + 2 * count), fn, uint8_t(2 * count)};
    for (unsigned i = 0; i < count; ++i) {
        g_pending.push_back(uint8_t((start + i) >> 8));
        g_pending.push_back(uint8_t(start + i));
    }
    return 0;
}

__attribute__((visibility("default"))) int rarur_read(RarurHandle handle, uint8_t* buffer, uint32_t capacity,
                                                      uint32_t* read, uint32_t timeout_ms)
{
    ++g_reads_active;
    int result = 0;
    *read = 0;
    {
        std::lock_guard<std::mutex> g(g_lock);
        if (!valid(handle) || g_broken) {
            result = g_broken ? -7 : -1;
        } else if (!g_pending.empty()) {
            uint32_t n = capacity < g_pending.size() ? capacity : uint32_t(g_pending.size());
            std::memcpy(buffer, g_pending.data(), n);
            g_pending.erase(g_pending.begin(), g_pending.begin() + n);
            *read = n;
        }
    }
    if (result == 0 && *read == 0)
        std::this_thread::sleep_for(std::chrono::milliseconds(timeout_ms));
    --g_reads_active;
    return result;
}

__attribute__((visibility("default"))) int rarur_close(RarurHandle handle)
{
    if (g_reads_active > 0)
        ++g_close_during_read;
    ++g_closes;
    return handle == kHandleBase + 77 ? 3 : 0;
}

// For the test that drops this library in.
__attribute__((visibility("default"))) int rarur_test_closes() { return g_closes; }
__attribute__((visibility("default"))) int rarur_test_close_during_read() { return g_close_during_read; }
__attribute__((visibility("default"))) int rarur_test_reads_active() { return g_reads_active; }

}
