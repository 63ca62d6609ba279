// Stream endpoints: Modbus TCP (7-byte header + PDU) on a TCP port, and the
// USB stand-in (length byte + PDU) on a Unix stream socket.
#pragma once
#include "loop.h"
#include "server.h"

#include <deque>
#include <list>
#include <memory>
#include <string>

namespace sim {

enum class Framing { tcp, usb };

class StreamEndpoint {
public:
    StreamEndpoint(Sim& sim, Framing framing) : sim_(sim), framing_(framing) {}
    ~StreamEndpoint();
    // "HOST:PORT"; port 0 picks a free one. Returns 0 or -1 (message on stderr).
    int listen_tcp(const std::string& host_port);
    int listen_unix(const std::string& path);
    int port() const { return port_; }
    void prepare(Loop& loop, int64_t now);

private:
    struct Pending {
        int64_t due;
        std::vector<uint8_t> bytes;
        bool send;
        bool close_after;
    };
    struct Conn {
        int fd = -1;
        std::vector<uint8_t> in, out;
        std::deque<Pending> pending;
        bool dead = false, close_when_flushed = false;
    };
    void accept_all();
    void on_readable(Conn& c);
    void process_frames(Conn& c, int64_t now);
    bool next_frame(Conn& c, std::vector<uint8_t>& pdu, std::vector<uint8_t>& header);
    void close_conn(Conn& c) { drop_peer(c.fd, c.dead); }

    Sim& sim_;
    Framing framing_;
    int listen_fd_ = -1;
    int port_ = 0;
    std::string unix_path_;
    std::list<std::unique_ptr<Conn>> conns_;
};

}  // namespace sim
