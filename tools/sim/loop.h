// A small poll() loop: endpoints register the descriptors they wait on and
// the earliest time they need to run again, then get called back.
#pragma once
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace sim {

int64_t now_ms();  // monotonic clock

struct Loop {
    struct Watch {
        int fd;
        short events;
        std::function<void(short)> on_ready;
    };
    std::vector<Watch> watches;
    int64_t deadline = INT64_MAX;

    void watch(int fd, short events, std::function<void(short)> on_ready)
    {
        watches.push_back({fd, events, std::move(on_ready)});
    }
    void wake_at(int64_t t)
    {
        if (t < deadline)
            deadline = t;
    }
    // Polls until something is ready or the deadline passes, then calls back.
    void run_once();
};

// Non-blocking, close-on-exec helpers.
void set_nonblocking(int fd);
// Writes what the descriptor takes now; erases the written bytes from `out`.
// Returns false when the peer is gone.
bool flush_some(int fd, std::vector<uint8_t>& out);

// Reads what a non-blocking peer has sent into `buf`: the byte count, 0 when
// nothing is there yet, -1 when the peer is gone (closed or failed).
long read_some(int fd, void* buf, size_t size);
// Closes a peer's descriptor and marks it for removal at the next prepare.
void drop_peer(int& fd, bool& dead);

// A non-blocking listening Unix stream socket at `path` (a stale one is
// removed first). Returns the descriptor, or -1 with a message on stderr that
// names the socket as `what` ("control", "socket").
int listen_unix_socket(const std::string& path, int backlog, const char* what);
// Closes a listener and removes its socket file, where there is one.
void close_listener(int fd, const std::string& path);

}  // namespace sim
