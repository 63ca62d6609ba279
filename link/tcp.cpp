#include "link/tcp.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <netdb.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <mutex>
#include <string>
#include <system_error>
#include <thread>

#include "base/log.h"
#include "base/text_format.h"
#include "link/connection.h"
#include "link/socket_errors.h"
#include "link/tcp_address.h"

namespace {

// A connect to an address that does not answer would otherwise hold the
// window for minutes; this is the wait the Windows stack gives up after. It
// bounds the whole attempt: the name's lookup and every address it gives.
constexpr int kConnectWaitMs = 21000;

struct TcpSocket {
    int fd;
    std::atomic<int> last_error{0};
    explicit TcpSocket(int f) : fd(f) {}
    ~TcpSocket() { ::close(fd); }
    void fail(int error) { last_error = wsa_error_from_errno(error); }
};

int wait_blocking(int fd, int timeout_ms)
{
    pollfd p{fd, POLLOUT, 0};
    int ready;
    do
        ready = ::poll(&p, 1, timeout_ms);
    while (ready < 0 && errno == EINTR);
    return ready < 0 ? 0 : ready;   // a poll that cannot wait gives the attempt up
}

std::atomic<TcpConnectWait> g_connect_wait{wait_blocking};

// Where a connect attempt stopped; each has its own log line.
enum class Stage { Resolve, Socket, SendTimeout, ReceiveTimeout, Reuse, NoDelay, Connect };

struct TriedAddress {
    int fd = -1;      // connected (blocking again), or -1
    Stage stage = Stage::Connect;
    int error = 0;    // errno of the stage that failed
};

// One socket of `family`, with the options every link socket gets.
TriedAddress new_socket(int family, uint32_t timeout_ms)
{
    TriedAddress tried;
    int fd = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0)
        return {-1, Stage::Socket, errno};
    timeval timeout{long(timeout_ms / 1000), long(timeout_ms % 1000) * 1000};
    int on = 1;
    struct Option {
        Stage stage;
        int level, name;
        const void* value;
        socklen_t size;
    } options[] = {
        {Stage::SendTimeout, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout},
        {Stage::ReceiveTimeout, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout},
        {Stage::Reuse, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on},
        {Stage::NoDelay, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on},
    };
    for (const Option& o : options)
        if (setsockopt(fd, o.level, o.name, o.value, o.size) != 0) {
            tried = {-1, o.stage, errno};
            ::close(fd);
            return tried;
        }
    tried.fd = fd;
    return tried;
}

// Connects to one address within `wait_ms`. `abandoned` is polled beside the
// socket: once it reports an error the caller has gone and the attempt ends.
TriedAddress connect_one(const addrinfo& to, uint32_t timeout_ms, int wait_ms, int abandoned)
{
    TriedAddress tried = new_socket(to.ai_family, timeout_ms);
    if (tried.fd < 0)
        return tried;
    int fd = tried.fd;
    int flags = fcntl(fd, F_GETFL, 0);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int error = ::connect(fd, to.ai_addr, to.ai_addrlen) == 0 ? 0 : errno;
    if (error == EINPROGRESS) {
        pollfd p[2] = {{fd, POLLOUT, 0}, {abandoned, 0, 0}};
        auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
        for (;;) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(end - std::chrono::steady_clock::now());
            int ready = ::poll(p, abandoned >= 0 ? 2 : 1, int(std::max<long long>(0, left.count())));
            if (ready < 0 && errno == EINTR)
                continue;
            if (ready == 0) {
                error = ETIMEDOUT;
            } else if (abandoned >= 0 && p[1].revents) {
                error = ECANCELED;
            } else {
                socklen_t size = sizeof error;
                if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
                    error = errno;
            }
            break;
        }
    }
    if (error != 0) {
        ::close(fd);
        return {-1, Stage::Connect, error};
    }
    fcntl(fd, F_SETFL, flags);
    return tried;
}

// Tries the addresses in the resolver's order (for "localhost" often ::1
// first, where the Controller's stand-in may listen on 127.0.0.1 only) until
// one connects. Each gets an equal share of the time left, so one that never
// answers cannot use up the time of those after it; one that refuses leaves
// its share to the next. What failed is the last address's failure.
TriedAddress connect_addresses(const addrinfo* list, uint32_t timeout_ms,
                               std::chrono::steady_clock::time_point deadline, int abandoned)
{
    TriedAddress tried{-1, Stage::Connect, ETIMEDOUT};
    int count = 0;
    for (const addrinfo* a = list; a; a = a->ai_next)
        ++count;
    for (const addrinfo* a = list; a; a = a->ai_next, --count) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
        if (left.count() <= 0)
            return {-1, Stage::Connect, ETIMEDOUT};
        tried = connect_one(*a, timeout_ms, int(left.count() / count), abandoned);
        if (tried.fd >= 0 || tried.error == ECANCELED)
            return tried;
    }
    return tried;
}

// A connect attempt: resolved and connected on a thread of its own, since a
// name server may take seconds and the window must not wait for it. The
// thread holds the write end of `done`, the window waits on the read end: the
// thread closing its end tells the window the attempt is over, and the window
// closing its end tells a thread still at it that nobody wants the link.
struct ConnectAttempt {
    TcpAddress address;
    uint32_t timeout_ms = 0;   // the sockets' send and receive time-out
    std::chrono::steady_clock::time_point deadline;
    int done[2] = {-1, -1};
    std::mutex lock;
    bool finished = false;   // the thread has put its result below
    bool abandoned = false;  // the window has gone: the thread closes its socket
    TriedAddress result;
    ~ConnectAttempt()
    {
        for (int fd : done)
            if (fd >= 0)
                ::close(fd);
    }
};

void run_attempt(const std::shared_ptr<ConnectAttempt>& attempt)
{
    TriedAddress result{-1, Stage::Resolve, 0};
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    hints.ai_flags = AI_NUMERICSERV | (attempt->address.numeric_v6 ? AI_NUMERICHOST : 0);
    addrinfo* found = nullptr;
    std::string port = std::to_string(attempt->address.port);
    int resolved = getaddrinfo(attempt->address.host.c_str(), port.c_str(), &hints, &found);
    if (resolved != 0) {
        result.error = wsa_error_from_resolver(resolved, errno);
    } else {
        result = connect_addresses(found, attempt->timeout_ms, attempt->deadline, attempt->done[1]);
        freeaddrinfo(found);
    }
    std::lock_guard g(attempt->lock);
    if (attempt->abandoned && result.fd >= 0) {
        ::close(result.fd);
        result.fd = -1;
    }
    attempt->result = result;
    attempt->finished = true;
    ::close(attempt->done[1]);
    attempt->done[1] = -1;
}

}  // namespace

void tcp_set_connect_wait(TcpConnectWait wait) { g_connect_wait = wait ? wait : wait_blocking; }

int tcp_connect_any(const addrinfo* addresses, int wait_ms, int* code)
{
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(wait_ms);
    TriedAddress tried = connect_addresses(addresses, app.tcp_timeout, deadline, -1);
    *code = tried.fd >= 0 ? 0 : wsa_error_from_errno(tried.error);
    return tried.fd;
}

std::shared_ptr<LinkIo> tcp_link_io(int fd, int wait_ms)
{
    auto sock = std::make_shared<TcpSocket>(fd);
    auto io = std::make_shared<LinkIo>();
    io->kind = LinkKind::Ethernet;
    io->read_wait_ms = wait_ms;
    io->write_all = [sock](const uint8_t* bytes, int length) {
        int sent = 0;
        while (sent < length) {
            ssize_t n = ::send(sock->fd, bytes + sent, size_t(length - sent), MSG_NOSIGNAL);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0) {
                sock->fail(n < 0 ? errno : ECONNRESET);
                break;
            }
            sent += int(n);
        }
        return sent;
    };
    io->read_some = [sock](uint8_t* buffer, int max, int wait_ms) {
        if (wait_ms > 0) {
            pollfd p{sock->fd, POLLIN, 0};
            int ready = ::poll(&p, 1, wait_ms);
            if (ready == 0 || (ready < 0 && errno == EINTR))
                return 0;
        }
        ssize_t n = ::recv(sock->fd, buffer, size_t(max), MSG_DONTWAIT);
        if (n > 0)
            return int(n);
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR))
            return 0;
        // 0 is the peer's orderly close: the connection can carry nothing more.
        sock->fail(n == 0 ? ECONNRESET : errno);
        return -1;
    };
    io->shutdown = [sock] { ::shutdown(sock->fd, SHUT_RDWR); };
    io->error_code = [sock] { return sock->last_error.load(); };
    io->send_error_text = [](int code) { return format("Ошибка передачи: [%d] %s\n", code, wsa_error_text(code)); };
    return io;
}

namespace {

// The log line of a failed attempt, by where it stopped.
void log_failure(const std::string& text, const TriedAddress& failed)
{
    int code = failed.stage == Stage::Resolve ? failed.error : wsa_error_from_errno(failed.error);
    const char* meaning = wsa_error_text(code);
    switch (failed.stage) {
    case Stage::Socket:
        log_message(err_text, "Не удается создать сокет: [%d] %s\n", code, meaning);
        break;
    case Stage::SendTimeout:
        log_message(err_text, "Не удается установить таймаут передачи: [%d] %s\n", code, meaning);
        break;
    case Stage::ReceiveTimeout:
        log_message(err_text, "Не удается установить таймаут приема: [%d] %s\n", code, meaning);
        break;
    case Stage::Reuse:
    case Stage::NoDelay:
        log_message(err_text, "Не удается сконфигурировать TCP: [%d] %s\n", code, meaning);
        break;
    case Stage::Resolve:
    case Stage::Connect:
        log_message(err_text, "Не удается подключиться к '%s': [%d] %s\n", text.c_str(), code, meaning);
        break;
    }
}

int tcp_open(const LinkTarget& target, std::shared_ptr<LinkIo>* io)
{
    auto attempt = std::make_shared<ConnectAttempt>();
    // Blanks pasted around the address are no part of it.
    std::string text = target.address;
    text.erase(0, std::min(text.size(), text.find_first_not_of(" \t")));
    text.erase(text.find_last_not_of(" \t") + 1);
    int parsed = parse_tcp_address(text, &attempt->address);
    if (parsed != 0) {
        // The dialog refuses these before they get here; a command line or a
        // saved address may not have.
        log_message(err_text, "Не удается подключиться к '%s': %s%s%s\n", text.c_str(), kTcpAddressHint,
                    parsed == -2 ? "\n" : "", parsed == -2 ? kTcpAddressHintV6 : "");
        return -1;
    }
    if (pipe2(attempt->done, O_CLOEXEC) != 0) {
        log_failure(text, {-1, Stage::Socket, errno});
        return -1;
    }
    attempt->timeout_ms = app.tcp_timeout;
    attempt->deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kConnectWaitMs);
    try {
        std::thread([attempt] { run_attempt(attempt); }).detach();
    } catch (const std::system_error&) {
        log_message(err_text, "Не удается подключиться к '%s': система не дала создать поток\n", text.c_str());
        return -1;
    }

    // The read end hangs up once the thread has closed its end.
    TriedAddress result{-1, Stage::Connect, ETIMEDOUT};
    for (;;) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(attempt->deadline -
                                                                          std::chrono::steady_clock::now());
        int waited = g_connect_wait.load()(attempt->done[0], int(std::max<long long>(0, left.count())));
        std::lock_guard g(attempt->lock);
        if (attempt->finished && waited >= 0) {
            result = attempt->result;
            break;
        }
        if (waited > 0 && left.count() > 0)
            continue;
        // Timed out, or the program is closing: the thread finds out from the
        // closed read end and closes whatever it opens.
        attempt->abandoned = true;
        ::close(attempt->done[0]);
        attempt->done[0] = -1;
        if (attempt->result.fd >= 0)
            ::close(attempt->result.fd);
        if (waited < 0)
            return -1;   // closing: nothing to report, nothing to open
        break;
    }
    if (result.fd < 0) {
        if (result.stage == Stage::Connect && result.error == ECANCELED)
            return -1;
        log_failure(text, result);
        return -1;
    }
    *io = tcp_link_io(result.fd, int(app.tcp_timeout));
    (*io)->title = format("RARUR Service - [%s]", text.c_str());
    (*io)->connected_text = format("Подключен к %s\n", text.c_str());
    return 0;
}

void tcp_close()
{
    exchange_close();
}

}  // namespace

const LinkBackend tcp_backend = {
    .kind = LinkKind::Ethernet,
    .name = "Ethernet",
    .menu_item = "menuitem8",
    .scheme = "tcp",
    .asks = LinkBackend::Asks::Address,
    .open = tcp_open,
    .close = tcp_close,
    // The Controller serves one connection: it needs a moment to let go of
    // the old one before it accepts the next.
    .reconnect_pause = std::chrono::milliseconds(300),
};

int tcp_connect()
{
    if (app.link_open)
        return 0;
    LinkTarget target;
    target.address = ui().device_address();
    return link_open_through(tcp_backend, target);
}
