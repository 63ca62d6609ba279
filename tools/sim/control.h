// The control channel: text commands, one per line, each answered with one
// line, "ok ..." or "error <why>".
#pragma once
#include "loop.h"
#include "server.h"

#include <list>
#include <memory>
#include <string>

namespace sim {

// Runs one command line against the simulator. `have_modem` says whether a
// modem endpoint exists (for drop-carrier).
std::string control_command(Sim& sim, const std::string& line, bool have_modem);

class ControlEndpoint {
public:
    ControlEndpoint(Sim& sim, bool have_modem) : sim_(sim), have_modem_(have_modem) {}
    ~ControlEndpoint();
    int listen(const std::string& path);
    void prepare(Loop& loop);

private:
    struct Conn {
        int fd = -1;
        std::string in;
        std::vector<uint8_t> out;
        bool dead = false, overlong = false;
    };
    void on_readable(Conn& c);
    void close_conn(Conn& c) { drop_peer(c.fd, c.dead); }
    Sim& sim_;
    bool have_modem_;
    int listen_fd_ = -1;
    std::string path_;
    std::list<std::unique_ptr<Conn>> conns_;
};

}  // namespace sim
