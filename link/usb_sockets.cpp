// The program's own USB access library: each attached Controller is a Unix
// stream socket rarur-<id>.sock in one folder (what rarur-sim --usb-dir
// serves), carrying the USB frames unchanged.
#include <dirent.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "link/usb_access.h"

namespace {

// Controllers beyond this many in one folder are not looked at.
constexpr size_t kMaxControllers = 256;

struct Stream {
    int fd;
    explicit Stream(int f) : fd(f) {}
    ~Stream() { ::close(fd); }
};

std::mutex g_lock;
std::map<RarurHandle, std::shared_ptr<Stream>> g_streams;
RarurHandle g_next_handle = 1;

// A call still inside read or write keeps its stream alive until it returns,
// so a handle closed meanwhile never has its descriptor reused under it.
std::shared_ptr<Stream> stream_of(RarurHandle handle)
{
    std::lock_guard<std::mutex> g(g_lock);
    auto it = g_streams.find(handle);
    return it == g_streams.end() ? nullptr : it->second;
}

// A Controller that does not take a connection within this long (its queue of
// connections full: stopped, hung, or never answering) counts as not attached.
constexpr int kAcceptWaitMs = 200;

int connect_to(const char* path)
{
    sockaddr_un to{};
    to.sun_family = AF_UNIX;
    if (std::strlen(path) >= sizeof to.sun_path)
        return -1;
    std::strcpy(to.sun_path, path);
    int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd < 0)
        return -1;
    // Linux bounds a connect to a Unix socket by the send time-out: a
    // non-blocking one would give up at once on a queue that is full only
    // for a moment, a blocking one without it waits for ever.
    timeval bound{0, kAcceptWaitMs * 1000};
    timeval none{0, 0};
    int r = ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
    if (r == 0) {
        do
            r = ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
        while (r != 0 && errno == EINTR);
    }
    // Writes wait in poll() on their own time-out, not in the socket.
    if (r != 0 || ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &none, sizeof none) != 0) {
        ::close(fd);
        return -1;
    }
    return fd;
}

// "rarur-<id>.sock" with a decimal id that fits 32 bits.
bool id_of(const char* name, uint32_t* id)
{
    const char* digits = name + 6;
    if (std::strncmp(name, "rarur-", 6) != 0 || *digits < '0' || *digits > '9')
        return false;
    char* end = nullptr;
    errno = 0;
    unsigned long long value = std::strtoull(digits, &end, 10);
    if (errno != 0 || value > 0xFFFFFFFFull || std::strcmp(end, ".sock") != 0)
        return false;
    *id = uint32_t(value);
    return true;
}

// The sockets somebody is listening on: one left behind by a simulator that
// was killed is not an attached Controller.
int attached(std::vector<RarurEntry>* found)
{
    std::string dir = usb_socket_dir();
    DIR* d = ::opendir(dir.c_str());
    if (!d)
        return errno == ENOENT || errno == ENOTDIR ? 0 : -1;
    while (dirent* e = ::readdir(d)) {
        RarurEntry entry{};
        std::string path = dir + "/" + e->d_name;
        struct stat st;
        if (!id_of(e->d_name, &entry.id) || path.size() >= sizeof entry.identification ||
            ::stat(path.c_str(), &st) != 0 || !S_ISSOCK(st.st_mode))
            continue;
        int fd = connect_to(path.c_str());
        if (fd < 0)
            continue;
        ::close(fd);
        std::memcpy(entry.identification, path.c_str(), path.size());
        found->push_back(entry);
        if (found->size() == kMaxControllers)
            break;
    }
    ::closedir(d);
    std::sort(found->begin(), found->end(),
              [](const RarurEntry& a, const RarurEntry& b) { return a.id < b.id; });
    return 0;
}

int socket_find(RarurEntry* entries, uint32_t capacity, uint32_t* count)
{
    if (!count || (capacity > 0 && !entries))
        return -1;
    std::vector<RarurEntry> found;
    if (attached(&found) != 0)
        return -1;
    uint32_t n = entries ? std::min<uint32_t>(capacity, uint32_t(found.size())) : uint32_t(found.size());
    if (entries)
        std::copy_n(found.begin(), n, entries);
    *count = n;
    return 0;
}

int socket_open(const RarurEntry* entry, RarurHandle* handle)
{
    if (!entry || !handle || !std::memchr(entry->identification, 0, sizeof entry->identification))
        return -1;
    int fd = connect_to(entry->identification);
    if (fd < 0)
        return -1;
    std::lock_guard<std::mutex> g(g_lock);
    *handle = g_next_handle++;
    g_streams.emplace(*handle, std::make_shared<Stream>(fd));
    return 0;
}

int socket_read(RarurHandle handle, uint8_t* buffer, uint32_t capacity, uint32_t* read, uint32_t timeout_ms)
{
    std::shared_ptr<Stream> s = stream_of(handle);
    if (!s || !read)
        return -1;
    *read = 0;
    pollfd p{s->fd, POLLIN, 0};
    int ready = ::poll(&p, 1, int(std::min<uint32_t>(timeout_ms, 60000)));
    if (ready == 0 || (ready < 0 && errno == EINTR))
        return 0;
    ssize_t n = ::recv(s->fd, buffer, capacity, MSG_DONTWAIT);
    if (n > 0) {
        *read = uint32_t(n);
        return 0;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
        return 0;
    return -1;   // 0 is the Controller gone
}

int socket_write(RarurHandle handle, const uint8_t* data, uint32_t length, uint32_t* written, uint32_t timeout_ms)
{
    std::shared_ptr<Stream> s = stream_of(handle);
    if (!s || !written)
        return -1;
    *written = 0;
    while (*written < length) {
        pollfd p{s->fd, POLLOUT, 0};
        int ready = ::poll(&p, 1, int(std::min<uint32_t>(timeout_ms, 60000)));
        if (ready < 0 && errno == EINTR)
            continue;
        if (ready <= 0)
            return -1;
        ssize_t n = ::send(s->fd, data + *written, length - *written, MSG_NOSIGNAL | MSG_DONTWAIT);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            continue;
        if (n <= 0)
            return -1;
        *written += uint32_t(n);
    }
    return 0;
}

int socket_close(RarurHandle handle)
{
    std::shared_ptr<Stream> s;
    {
        std::lock_guard<std::mutex> g(g_lock);
        auto it = g_streams.find(handle);
        if (it == g_streams.end())
            return -1;
        s = std::move(it->second);
        g_streams.erase(it);
    }
    ::shutdown(s->fd, SHUT_RDWR);   // a read still waiting returns now
    return 0;
}

}  // namespace

std::string usb_socket_dir()
{
    if (const char* dir = std::getenv("RARUR_USB_DIR"); dir && *dir)
        return dir;
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime && *runtime)
        return std::string(runtime) + "/rarur";
    return "/tmp/rarur-" + std::to_string(::getuid());
}

const UsbAccess& usb_socket_access()
{
    static const UsbAccess access{"", socket_find, socket_open, socket_read, socket_write, socket_close};
    return access;
}
