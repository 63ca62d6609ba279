#include "link/tcp.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

#include "base/log.h"
#include "base/text_format.h"
#include "link/connection.h"
#include "link/socket_errors.h"
#include "link/tcp_address.h"

namespace {

// A connect to an address that does not answer would otherwise hold the
// window for minutes; this is the wait the Windows stack gives up after.
constexpr int kConnectWaitMs = 21000;

struct TcpSocket {
    int fd;
    std::atomic<int> last_error{0};
    explicit TcpSocket(int f) : fd(f) {}
    ~TcpSocket() { ::close(fd); }
    void fail(int error) { last_error = wsa_error_from_errno(error); }
};

int last_socket_error() { return wsa_error_from_errno(errno); }

int wait_blocking(int fd, int timeout_ms)
{
    pollfd p{fd, POLLOUT, 0};
    int ready;
    do
        ready = ::poll(&p, 1, timeout_ms);
    while (ready < 0 && errno == EINTR);
    return ready < 0 ? 1 : ready;   // a failed poll leaves the verdict to SO_ERROR
}

std::atomic<TcpConnectWait> g_connect_wait{wait_blocking};

// Connects a blocking socket, waiting at most kConnectWaitMs. 0 or an errno value.
int connect_bounded(int fd, const sockaddr_in& to)
{
    int flags = fcntl(fd, F_GETFL, 0);
    fcntl(fd, F_SETFL, flags | O_NONBLOCK);
    int result = ::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to);
    int error = result == 0 ? 0 : errno;
    if (error == EINPROGRESS) {
        int ready = g_connect_wait.load()(fd, kConnectWaitMs);
        if (ready == 0) {
            error = ETIMEDOUT;
        } else if (ready < 0) {
            error = ECANCELED;
        } else {
            socklen_t size = sizeof error;
            if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &size) != 0)
                error = errno;
        }
    }
    fcntl(fd, F_SETFL, flags);
    return error;
}

}  // namespace

void tcp_set_connect_wait(TcpConnectWait wait) { g_connect_wait = wait ? wait : wait_blocking; }

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

int tcp_open(const LinkTarget& target, std::shared_ptr<LinkIo>* io)
{
    int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        int code = last_socket_error();
        log_message(err_text, "Не удается создать сокет: [%d] %s\n", code, wsa_error_text(code));
        return -1;
    }
    auto option_failed = [fd](const char* message) {
        int code = last_socket_error();
        log_message(err_text, message, code, wsa_error_text(code));
        ::close(fd);
        return -1;
    };
    timeval timeout{long(app.tcp_timeout / 1000), long(app.tcp_timeout % 1000) * 1000};
    if (setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &timeout, sizeof timeout) != 0)
        return option_failed("Не удается установить тайаут передачи: [%d] %s\n");
    if (setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout) != 0)
        return option_failed("Не удается установить таймаут приема: [%d] %s\n");
    int on = 1;
    if (setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &on, sizeof on) != 0)
        return option_failed("Не удается сконфигурировать TCP: [%d] %s\n");
    if (setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on) != 0)
        return option_failed("Не удается сконфигурировать TCP: [%d] %s\n");

    const std::string& text = target.address;
    TcpAddress address = parse_tcp_address(text);
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(address.port);
    to.sin_addr.s_addr = tcp_host_address(address.host);
    int error = connect_bounded(fd, to);
    if (error == ECANCELED) {
        // The program is closing: nothing to report, nothing to open.
        ::close(fd);
        return -1;
    }
    if (error != 0) {
        int code = wsa_error_from_errno(error);
        log_message(err_text, "Не удается подключиться к '%s': [%d] %s\n", text.c_str(), code,
                    wsa_error_text(code));
        ::close(fd);
        return -1;
    }
    app.tcp_socket = fd;
    *io = tcp_link_io(fd, int(app.tcp_timeout));
    (*io)->title = format("RARUR Service - [%s]", text.c_str());
    (*io)->connected_text = format("Подключен к %s\n", text.c_str());
    return 0;
}

void tcp_close()
{
    exchange_close();
    app.tcp_socket = -1;
}

}  // namespace

const LinkBackend tcp_backend = {LinkKind::Ethernet, "Ethernet", LinkBackend::Asks::Address, tcp_open, tcp_close};

int tcp_connect()
{
    if (app.link_open)
        return 0;
    LinkTarget target;
    target.address = ui().device_address();
    return link_open_through(tcp_backend, target);
}
