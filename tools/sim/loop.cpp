#include "loop.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <time.h>
#include <unistd.h>

namespace sim {

int64_t now_ms()
{
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return int64_t(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void Loop::run_once()
{
    std::vector<pollfd> fds;
    fds.reserve(watches.size());
    for (const Watch& w : watches)
        fds.push_back({w.fd, w.events, 0});
    int timeout = -1;
    if (deadline != INT64_MAX) {
        int64_t wait = deadline - now_ms();
        timeout = wait < 0 ? 0 : int(wait > 1000 ? 1000 : wait);
    }
    int n = poll(fds.data(), fds.size(), timeout);
    if (n <= 0)
        return;
    for (size_t i = 0; i < fds.size(); ++i)
        if (fds[i].revents)
            watches[i].on_ready(fds[i].revents);
}

void set_nonblocking(int fd)
{
    fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) | O_NONBLOCK);
    fcntl(fd, F_SETFD, FD_CLOEXEC);
}

bool flush_some(int fd, std::vector<uint8_t>& out)
{
    while (!out.empty()) {
        struct stat st{};
        ssize_t n;
        if (fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode))
            n = send(fd, out.data(), out.size(), MSG_NOSIGNAL);
        else
            n = write(fd, out.data(), out.size());
        if (n > 0) {
            out.erase(out.begin(), out.begin() + n);
            continue;
        }
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return true;
        return false;
    }
    return true;
}

long read_some(int fd, void* buf, size_t size)
{
    ssize_t n = recv(fd, buf, size, 0);
    if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR))
        return -1;
    return n < 0 ? 0 : long(n);
}

void drop_peer(int& fd, bool& dead)
{
    if (fd >= 0)
        close(fd);
    fd = -1;
    dead = true;
}

int listen_unix_socket(const std::string& path, int backlog, const char* what)
{
    sockaddr_un addr{};
    if (path.size() >= sizeof addr.sun_path) {
        std::fprintf(stderr, "rarur-sim: %s path too long: %s\n", what, path.c_str());
        return -1;
    }
    addr.sun_family = AF_UNIX;
    std::memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    unlink(path.c_str());
    int fd = socket(AF_UNIX, SOCK_STREAM, 0);
    if (fd < 0 || bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) < 0 || listen(fd, backlog) < 0) {
        std::fprintf(stderr, "rarur-sim: cannot listen on %s: %s\n", path.c_str(), std::strerror(errno));
        if (fd >= 0)
            close(fd);
        return -1;
    }
    set_nonblocking(fd);
    return fd;
}

void close_listener(int fd, const std::string& path)
{
    if (fd >= 0)
        close(fd);
    if (!path.empty())
        unlink(path.c_str());
}

}  // namespace sim
