#include "stream_endpoint.h"

#include "wire.h"

#include <arpa/inet.h>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

namespace sim {

namespace {
constexpr size_t max_input = 4096;    // more unparsed input than this is garbage: drop the peer
constexpr size_t max_output = 65536;  // a peer that does not read its replies is not served further
}

StreamEndpoint::~StreamEndpoint()
{
    for (auto& c : conns_)
        if (c->fd >= 0)
            close(c->fd);
    close_listener(listen_fd_, unix_path_);
}

int StreamEndpoint::listen_tcp(const std::string& host_port)
{
    size_t colon = host_port.rfind(':');
    if (colon == std::string::npos) {
        std::fprintf(stderr, "rarur-sim: --listen wants HOST:PORT, got '%s'\n", host_port.c_str());
        return -1;
    }
    std::string host = host_port.substr(0, colon), port = host_port.substr(colon + 1);
    // An IPv6 address is written in brackets, as the program's address is.
    if (host.size() >= 2 && host.front() == '[' && host.back() == ']')
        host = host.substr(1, host.size() - 2);
    addrinfo hints{}, *res = nullptr;
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
    if (int rc = getaddrinfo(host.empty() ? nullptr : host.c_str(), port.c_str(), &hints, &res)) {
        std::fprintf(stderr, "rarur-sim: cannot resolve '%s': %s\n", host_port.c_str(), gai_strerror(rc));
        return -1;
    }
    int fd = socket(res->ai_family, SOCK_STREAM, 0);
    int one = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (fd < 0 || bind(fd, res->ai_addr, res->ai_addrlen) < 0 || listen(fd, 8) < 0) {
        std::fprintf(stderr, "rarur-sim: cannot listen on %s: %s\n", host_port.c_str(), std::strerror(errno));
        freeaddrinfo(res);
        if (fd >= 0)
            close(fd);
        return -1;
    }
    freeaddrinfo(res);
    sockaddr_storage bound{};
    socklen_t len = sizeof bound;
    getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
    port_ = ntohs(bound.ss_family == AF_INET6 ? reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port
                                              : reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    set_nonblocking(fd);
    listen_fd_ = fd;
    return 0;
}

int StreamEndpoint::listen_unix(const std::string& path)
{
    int fd = listen_unix_socket(path, 8, "socket");
    if (fd < 0)
        return -1;
    listen_fd_ = fd;
    unix_path_ = path;
    return 0;
}

void StreamEndpoint::accept_all()
{
    for (;;) {
        int fd = accept(listen_fd_, nullptr, nullptr);
        if (fd < 0)
            return;
        set_nonblocking(fd);
        if (framing_ == Framing::tcp) {
            int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        }
        auto c = std::make_unique<Conn>();
        c->fd = fd;
        conns_.push_back(std::move(c));
    }
}

void StreamEndpoint::on_readable(Conn& c)
{
    uint8_t buf[2048];
    long n = read_some(c.fd, buf, sizeof buf);
    if (n < 0)
        close_conn(c);
    if (n <= 0)
        return;
    c.in.insert(c.in.end(), buf, buf + n);
    if (c.in.size() > max_input)
        close_conn(c);
}

// Takes one complete request off the input. A frame that can never be valid
// (bad protocol id or length) drops the connection, as a real stack would.
bool StreamEndpoint::next_frame(Conn& c, std::vector<uint8_t>& pdu, std::vector<uint8_t>& header)
{
    if (framing_ == Framing::tcp) {
        if (c.in.size() < 7)
            return false;
        int protocol = get_be16(&c.in[2]), length = get_be16(&c.in[4]);
        if (protocol != 0 || length < 2 || length > 254) {
            close_conn(c);
            return false;
        }
        if (c.in.size() < size_t(6 + length))
            return false;
        header.assign(c.in.begin(), c.in.begin() + 7);
        pdu.assign(c.in.begin() + 7, c.in.begin() + 6 + length);
        c.in.erase(c.in.begin(), c.in.begin() + 6 + length);
        return true;
    }
    if (c.in.empty())
        return false;
    size_t length = c.in[0];
    if (length < 2) {
        close_conn(c);
        return false;
    }
    if (c.in.size() < length)
        return false;
    header.clear();
    pdu.assign(c.in.begin() + 1, c.in.begin() + long(length));
    c.in.erase(c.in.begin(), c.in.begin() + long(length));
    return true;
}

void StreamEndpoint::process_frames(Conn& c, int64_t now)
{
    std::vector<uint8_t> pdu, header;
    // One request at a time: a delayed reply holds back the next request.
    while (!c.dead && !c.close_when_flushed && c.pending.empty() && c.out.size() < max_output &&
           next_frame(c, pdu, header)) {
        std::vector<uint8_t> reply = serve_request(sim_, pdu.data(), pdu.size());
        CloseAction close = fault_count_request(sim_.faults);
        if (close == CloseAction::close_now) {
            close_conn(c);
            return;
        }
        std::vector<uint8_t> frame;
        if (framing_ == Framing::tcp) {
            if (sim_.faults.transaction >= 0)
                put_be16(frame, uint16_t(sim_.faults.transaction));
            else
                frame.insert(frame.end(), header.begin(), header.begin() + 2);  // transaction as asked
            frame.insert(frame.end(), header.begin() + 2, header.begin() + 4);  // protocol
            put_be16(frame, uint16_t(1 + reply.size()));
            frame.push_back(header[6]);  // unit id as asked
        } else {
            frame.push_back(uint8_t(1 + reply.size()));
        }
        frame.insert(frame.end(), reply.begin(), reply.end());
        if (sim_.faults.truncate)
            frame.resize(frame.size() / 2);
        bool send = !sim_.faults.silence && !reply.empty();
        c.pending.push_back({now + sim_.faults.delay_ms + sim_.hold_ms, std::move(frame), send,
                             close == CloseAction::after_reply});
    }
}

void StreamEndpoint::prepare(Loop& loop, int64_t now)
{
    std::erase_if(conns_, [](const auto& c) { return c->dead; });
    if (listen_fd_ >= 0)
        loop.watch(listen_fd_, POLLIN, [this](short) { accept_all(); });
    for (auto& cp : conns_) {
        Conn& c = *cp;
        while (!c.pending.empty() && c.pending.front().due <= now) {
            Pending& p = c.pending.front();
            if (p.send)
                c.out.insert(c.out.end(), p.bytes.begin(), p.bytes.end());
            if (p.close_after)
                c.close_when_flushed = true;
            c.pending.pop_front();
        }
        process_frames(c, now);
        if (c.dead)
            continue;
        if (!c.out.empty() && !flush_some(c.fd, c.out)) {
            close_conn(c);
            continue;
        }
        if (c.out.empty() && c.close_when_flushed) {
            close_conn(c);
            continue;
        }
        if (!c.pending.empty())
            loop.wake_at(c.pending.front().due);
        short events = c.out.size() < max_output ? POLLIN : 0;
        if (!c.out.empty())
            events |= POLLOUT;
        Conn* raw = &c;
        loop.watch(c.fd, events, [this, raw](short revents) {
            if (raw->dead)
                return;
            if (revents & (POLLIN | POLLHUP | POLLERR))
                on_readable(*raw);
            if (!raw->dead && (revents & POLLOUT) && !flush_some(raw->fd, raw->out))
                close_conn(*raw);
        });
    }
}

}  // namespace sim
