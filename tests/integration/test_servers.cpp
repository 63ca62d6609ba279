#include "test_servers.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <linux/sockios.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <algorithm>
#include <cstring>
#include <filesystem>

#ifdef HAVE_LIBMODBUS
#include <modbus.h>
#endif

namespace {

bool read_exactly(int fd, uint8_t* out, size_t n)
{
    size_t got = 0;
    while (got < n) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 100) == 0)
            continue;
        ssize_t r = ::recv(fd, out + got, n - got, 0);
        if (r <= 0)
            return false;
        got += size_t(r);
    }
    return true;
}

void send_all(int fd, const Bytes& bytes)
{
    if (!bytes.empty())
        ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
}

std::string make_temp_dir()
{
    char tmpl[] = "/tmp/rarur-usb-test.XXXXXX";
    return mkdtemp(tmpl) ? tmpl : "";
}

}  // namespace

Listener::Listener(const std::string& unix_path)
{
    if (!unix_path.empty()) {
        fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_un a{};
        a.sun_family = AF_UNIX;
        std::snprintf(a.sun_path, sizeof a.sun_path, "%s", unix_path.c_str());
        ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
        ::listen(fd, 8);
        return;
    }
    fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = 0;
    ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(fd, 8);
    socklen_t size = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &size);
    port = ntohs(a.sin_port);
}

Listener::~Listener() { ::close(fd); }

int Listener::accept_one(int wait_ms) const
{
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, wait_ms) <= 0)
        return -1;
    return ::accept4(fd, nullptr, nullptr, SOCK_CLOEXEC);
}

#ifdef HAVE_LIBMODBUS

LibmodbusServer::LibmodbusServer()
{
    map_ = modbus_mapping_new_start_address(0, 0, 0, 0, 0, 100, 0, 100);
    for (int i = 0; i < 100; ++i) {
        map_->tab_registers[i] = uint16_t(i);
        map_->tab_input_registers[i] = uint16_t(0x1000 + i);
    }
    thread_ = std::thread([this] { serve(); });
}

LibmodbusServer::~LibmodbusServer()
{
    stop_ = true;
    int c = client_.load();
    if (c >= 0)
        ::shutdown(c, SHUT_RDWR);
    thread_.join();
    modbus_mapping_free(map_);
}

uint16_t LibmodbusServer::holding(int i)
{
    std::lock_guard<std::mutex> g(map_lock_);
    return map_->tab_registers[i];
}

void LibmodbusServer::serve()
{
    while (!stop_) {
        int fd = listener_.accept_one(50);
        if (fd < 0)
            continue;
        client_ = fd;
        if (stop_) {
            ::shutdown(fd, SHUT_RDWR);
        }
        modbus_t* ctx = modbus_new_tcp("127.0.0.1", listener_.port);
        modbus_set_socket(ctx, fd);
        uint8_t query[MODBUS_TCP_MAX_ADU_LENGTH];
        for (;;) {
            int n = modbus_receive(ctx, query);
            if (n < 0)
                break;
            if (n == 0)
                continue;
            std::lock_guard<std::mutex> g(map_lock_);
            modbus_reply(ctx, query, n, map_);
        }
        client_ = -1;
        modbus_close(ctx);
        modbus_free(ctx);
    }
}

#endif

FaultyServer::FaultyServer(Wire wire)
    : wire_(wire), dir_(wire == Wire::Usb ? make_temp_dir() : ""),
      listener_(dir_.empty() ? std::string() : dir_ + "/rarur-1.sock")
{
    thread_ = std::thread([this] { serve(); });
}

FaultyServer::~FaultyServer()
{
    stop_ = true;
    thread_.join();
    if (!dir_.empty()) {
        std::error_code ignored;
        std::filesystem::remove_all(dir_, ignored);
    }
}

void FaultyServer::push(Fault fault)
{
    std::lock_guard<std::mutex> g(lock_);
    faults_.push_back(fault);
}

std::vector<Bytes> FaultyServer::frames()
{
    std::lock_guard<std::mutex> g(lock_);
    return frames_;
}

bool FaultyServer::wait_late_sent(int wait_ms)
{
    std::unique_lock<std::mutex> g(lock_);
    return late_sent_cv_.wait_for(g, std::chrono::milliseconds(wait_ms), [this] { return late_sent_; });
}

void FaultyServer::serve()
{
    while (!stop_) {
        int fd = listener_.accept_one(50);
        if (fd < 0)
            continue;
        while (!stop_ && handle(fd)) {
        }
        ::close(fd);
    }
}

// One request and its (mis)reply; false when the connection is over.
bool FaultyServer::handle(int fd)
{
    pollfd p{fd, POLLIN, 0};
    if (::poll(&p, 1, 50) == 0)
        return true;
    Bytes frame, request_pdu;
    if (!read_request(fd, frame, request_pdu))
        return false;
    int length = int(request_pdu.size()) + 1;   // as the TCP header counts: unit + PDU
    // A request that arrives before this one is answered means the client
    // has overlapped two exchanges.
    pollfd q{fd, POLLIN, 0};
    if (::poll(&q, 1, 0) > 0)
        ++overlaps_;

    Fault fault = Fault::None;
    {
        std::lock_guard<std::mutex> g(lock_);
        frames_.push_back(frame);
        if (!faults_.empty()) {
            fault = faults_.front();
            faults_.pop_front();
        }
    }
    const uint8_t* pdu = request_pdu.data();
    uint8_t fn = pdu[0];
    Bytes reply_pdu;
    if (fn == 0x03 || fn == 0x04) {
        int start = pdu[1] << 8 | pdu[2], count = pdu[3] << 8 | pdu[4];
        if (length != 6 || count < 1 || count > 125)
            ++malformed_;
        reply_pdu = {fn, uint8_t(2 * count)};
        for (int i = 0; i < count; ++i) {
            uint16_t v = uint16_t(start + i);
            reply_pdu.push_back(uint8_t(v >> 8));
            reply_pdu.push_back(uint8_t(v));
        }
    } else if (fn == 0x10) {
        if (length != 7 + pdu[5])
            ++malformed_;
        reply_pdu.assign(pdu, pdu + 5);
    } else if (fn == 0x14) {
        int record_length = pdu[7] << 8 | pdu[8];
        reply_pdu = {0x14, uint8_t(2 * record_length + 2), uint8_t(2 * record_length + 1), 6};
        for (int i = 0; i < 2 * record_length; ++i)
            reply_pdu.push_back(uint8_t(i));
    } else {
        reply_pdu = {uint8_t(fn | 0x80), 0x01};
    }
    if (fault == Fault::Exception)
        reply_pdu = {uint8_t(fn | 0x80), 0x02};
    if (fault == Fault::Garble)
        reply_pdu[1] ^= 0x02;

    Bytes reply = wrap(frame, reply_pdu);

    switch (fault) {
    case Fault::Silent:
        return true;
    case Fault::Close:
        return false;
    case Fault::Truncate:
        reply.resize(reply.size() - 3);
        break;
    case Fault::Surplus:
        for (uint8_t b : {0xDE, 0xAD, 0xBE, 0xEF, 0x00})
            reply.push_back(b);
        break;
    case Fault::Late:
        for (int i = 0; i < 50 && !stop_; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
        send_all(fd, reply);
        // Sent is not yet there: over TCP the reply has reached the caller's
        // socket once the caller's end has acknowledged it. (A Unix socket
        // hands the bytes over within send.)
        if (wire_ == Wire::Tcp) {
            auto end = std::chrono::steady_clock::now() + std::chrono::seconds(5);
            int unacknowledged = 0;
            while (!stop_ && ::ioctl(fd, SIOCOUTQ, &unacknowledged) == 0 && unacknowledged > 0 &&
                   std::chrono::steady_clock::now() < end)
                std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        {
            std::lock_guard<std::mutex> g(lock_);
            late_sent_ = true;
        }
        late_sent_cv_.notify_all();
        return true;
    default:
        break;
    }
    send_all(fd, reply);
    return true;
}

// One request: the whole frame and its PDU; false when the connection is over
// or the frame is not a request of this wire.
bool FaultyServer::read_request(int fd, Bytes& frame, Bytes& pdu)
{
    if (wire_ == Wire::Usb) {
        uint8_t length;
        if (!read_exactly(fd, &length, 1))
            return false;
        if (length < 3) {
            ++malformed_;
            return false;
        }
        frame.assign(length, 0);
        frame[0] = length;
        if (!read_exactly(fd, frame.data() + 1, size_t(length - 1)))
            return false;
        pdu.assign(frame.begin() + 1, frame.end());
        return true;
    }
    uint8_t header[7];
    if (!read_exactly(fd, header, 7))
        return false;
    int length = header[4] << 8 | header[5];
    frame.assign(header, header + 7);
    if (length < 2 || length > 300) {
        ++malformed_;
        return false;
    }
    frame.resize(size_t(6 + length));
    if (!read_exactly(fd, frame.data() + 7, size_t(length - 1)))
        return false;
    if (frame[2] != 0 || frame[3] != 0 || frame[6] != 0xFF)
        ++malformed_;
    pdu.assign(frame.begin() + 7, frame.end());
    return true;
}

Bytes FaultyServer::wrap(const Bytes& request, const Bytes& reply_pdu) const
{
    if (wire_ == Wire::Usb) {
        Bytes reply{uint8_t(reply_pdu.size() + 1)};
        reply.insert(reply.end(), reply_pdu.begin(), reply_pdu.end());
        return reply;
    }
    Bytes reply(7 + reply_pdu.size());
    reply[0] = request[0];
    reply[1] = request[1];
    reply[4] = uint8_t((reply_pdu.size() + 1) >> 8);
    reply[5] = uint8_t(reply_pdu.size() + 1);
    reply[6] = 0xFF;
    std::copy(reply_pdu.begin(), reply_pdu.end(), reply.begin() + 7);
    return reply;
}
