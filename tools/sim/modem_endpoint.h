// A Hayes modem on a pseudo-terminal: AT commands until a dial "connects",
// then modem frames (escaped PDU + CRC, ended by CR) until "+++" and "ath".
#pragma once
#include "loop.h"
#include "server.h"

#include <deque>
#include <string>

namespace sim {

class ModemEndpoint {
public:
    // `baud` > 0 paces the line: every byte takes 10 bits' time each way.
    ModemEndpoint(Sim& sim, int dial_result, int guard_ms, int baud = 0)
        : sim_(sim), dial_result_(dial_result), guard_ms_(guard_ms), byte_us_(baud > 0 ? 10000000 / baud : 0) {}
    ~ModemEndpoint();
    // Creates the pty and points `link_path` (a symlink) at its slave.
    int open(const std::string& link_path);
    void prepare(Loop& loop, int64_t now);

private:
    enum class State { command, online, online_command };
    void on_readable(int64_t now);
    void command_byte(uint8_t b);
    void command_line(const std::string& line);
    void data_byte(uint8_t b, int64_t now);
    void data_frame(int64_t now);
    void result(int code);
    void hang_up_line();  // the terminal side closed: like DTR dropping
    void drop_call(bool tell);
    void flush_paced(Loop& loop);

    struct Pending {
        int64_t due;
        std::vector<uint8_t> bytes;
        bool hang_up_after;
    };

    Sim& sim_;
    int dial_result_;
    int guard_ms_;
    int master_ = -1;
    std::string link_path_;
    State state_ = State::command;
    bool echo_ = true, verbose_ = true;
    std::string line_;
    std::vector<uint8_t> frame_, out_;
    std::deque<Pending> pending_;
    int64_t last_rx_ = 0;
    bool escape_armed_ = false;  // "+++" arrived after a guard time of silence
    int64_t retry_at_ = 0;       // while nobody has the slave open, look again then
    bool slave_closed_ = false;
    // Line pacing (byte_us_ 0: none). A byte from the terminal has arrived
    // once its time on the line is over (rx_free_us_); one to the terminal is
    // handed over when its own time is (tx_next_us_, while tx_sending_).
    int64_t byte_us_;
    int64_t rx_free_us_ = 0;
    int64_t tx_next_us_ = 0;
    bool tx_sending_ = false;
};

}  // namespace sim
