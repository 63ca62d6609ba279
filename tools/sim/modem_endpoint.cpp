#include "modem_endpoint.h"

#include "wire.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace sim {

namespace {

constexpr size_t max_line = 256;
constexpr size_t max_frame = 1100;    // escaped 511-byte frame plus slack
constexpr size_t max_output = 65536;  // a terminal that reads nothing loses what is beyond this

bool connects(int code)
{
    switch (code) {
    case 0: case 2: case 3: case 4: case 6: case 7: case 8: case 9:
        return false;
    default:
        return true;
    }
}

const char* verbose_text(int code)
{
    switch (code) {
    case 0: return "OK";
    case 1: return "CONNECT";
    case 2: return "RING";
    case 3: return "NO CARRIER";
    case 4: return "ERROR";
    case 6: return "NO DIALTONE";
    case 7: return "BUSY";
    case 8: return "NO ANSWER";
    default: return nullptr;
    }
}

int64_t now_us()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

}  // namespace

ModemEndpoint::~ModemEndpoint()
{
    if (master_ >= 0)
        close(master_);
    if (!link_path_.empty())
        unlink(link_path_.c_str());
}

int ModemEndpoint::open(const std::string& link_path)
{
    master_ = posix_openpt(O_RDWR | O_NOCTTY);
    if (master_ < 0 || grantpt(master_) < 0 || unlockpt(master_) < 0) {
        std::fprintf(stderr, "rarur-sim: cannot create a pty: %s\n", std::strerror(errno));
        return -1;
    }
    const char* slave = ptsname(master_);
    // Raw slave, so the line discipline neither echoes nor rewrites CR/LF.
    int s = ::open(slave, O_RDWR | O_NOCTTY);
    if (s >= 0) {
        termios t{};
        tcgetattr(s, &t);
        cfmakeraw(&t);
        tcsetattr(s, TCSANOW, &t);
        close(s);
    }
    unlink(link_path.c_str());
    if (symlink(slave, link_path.c_str()) < 0) {
        std::fprintf(stderr, "rarur-sim: cannot link %s -> %s: %s\n", link_path.c_str(), slave, std::strerror(errno));
        return -1;
    }
    link_path_ = link_path;
    set_nonblocking(master_);
    return 0;
}

void ModemEndpoint::result(int code)
{
    std::string text;
    if (verbose_) {
        const char* v = verbose_text(code);
        text = "\r\n" + (v ? std::string(v) : "CONNECT " + std::to_string(code)) + "\r\n";
    } else {
        text = std::to_string(code) + "\r";
    }
    if (out_.size() >= max_output)
        return;
    out_.insert(out_.end(), text.begin(), text.end());
}

void ModemEndpoint::drop_call(bool tell)
{
    bool was_up = state_ != State::command;
    state_ = State::command;
    frame_.clear();
    pending_.clear();
    escape_armed_ = false;
    if (tell && was_up)
        result(3);  // NO CARRIER
}

void ModemEndpoint::hang_up_line()
{
    // Nobody holds the terminal: the modem resets, as on a dropped DTR.
    drop_call(false);
    echo_ = verbose_ = true;
    line_.clear();
    out_.clear();
    slave_closed_ = true;
}

void ModemEndpoint::command_line(const std::string& raw)
{
    std::string cmd;
    for (char c : raw)
        if (c != ' ')
            cmd.push_back(char(std::toupper(static_cast<unsigned char>(c))));
    if (cmd.empty())
        return;
    if (cmd.compare(0, 2, "AT") != 0) {
        result(4);
        return;
    }
    cmd.erase(0, 2);
    if (!cmd.empty() && cmd[0] == 'D') {
        if (state_ != State::command) {
            result(4);
            return;
        }
        if (cmd.size() == 1 || cmd == "DT" || cmd == "DP") {  // "atdt" alone: stop dialling
            result(0);
            return;
        }
        result(dial_result_);
        if (connects(dial_result_)) {
            state_ = State::online;
            frame_.clear();
            last_rx_ = now_ms();
        }
        return;
    }
    if (cmd == "H" || cmd == "H0") {
        drop_call(false);
        result(0);
        return;
    }
    if (cmd == "O" || cmd == "O0") {
        if (state_ != State::online_command) {
            result(4);
            return;
        }
        state_ = State::online;
        result(1);
        return;
    }
    if (cmd == "Z" || cmd == "Z0") {
        drop_call(false);
        echo_ = verbose_ = true;
        result(0);
        return;
    }
    // Everything else is set-up the simulator accepts; it keeps only echo and
    // result-code format.
    for (size_t i = 0; i + 1 < cmd.size(); ++i) {
        if (cmd[i] == 'E' && (cmd[i + 1] == '0' || cmd[i + 1] == '1'))
            echo_ = cmd[i + 1] == '1';
        if (cmd[i] == 'V' && (cmd[i + 1] == '0' || cmd[i + 1] == '1'))
            verbose_ = cmd[i + 1] == '1';
    }
    result(0);
}

void ModemEndpoint::command_byte(uint8_t b)
{
    if (echo_ && out_.size() < max_output)
        out_.push_back(b);
    if (b == '\r' || b == '\n') {
        std::string line;
        line.swap(line_);
        command_line(line);
        return;
    }
    if (line_.size() < max_line)
        line_.push_back(char(b));
}

void ModemEndpoint::data_frame(int64_t now)
{
    std::vector<uint8_t> bytes = modem_unescape(frame_.data(), frame_.size());
    frame_.clear();
    // A frame that fails its checksum is ignored, as on a noisy line.
    if (bytes.size() < 3 || crc16_modbus(bytes.data(), bytes.size()) != 0)
        return;
    std::vector<uint8_t> reply = serve_request(sim_, bytes.data(), bytes.size() - 2);
    CloseAction close = fault_count_request(sim_.faults);
    if (close == CloseAction::close_now) {
        drop_call(true);
        return;
    }
    if (reply.empty())
        return;
    uint16_t crc = crc16_modbus(reply.data(), reply.size());
    if (sim_.faults.badcrc)
        crc ^= 0x5A5A;
    reply.push_back(uint8_t(crc & 0xFF));
    reply.push_back(uint8_t(crc >> 8));
    std::vector<uint8_t> wire = modem_escape(reply);
    if (sim_.faults.truncate)
        wire.resize(wire.size() / 2);
    else
        wire.push_back(0x0D);
    if (sim_.faults.silence)
        wire.clear();
    // On a paced line the request is only there once its last byte is.
    int64_t arrived = byte_us_ ? std::max(now, (rx_free_us_ + 999) / 1000) : now;
    pending_.push_back(
        {arrived + sim_.faults.delay_ms + sim_.hold_ms, std::move(wire), close == CloseAction::after_reply});
}

void ModemEndpoint::data_byte(uint8_t b, int64_t now)
{
    bool quiet_before = now - last_rx_ >= guard_ms_;
    if (b == '+' && frame_.empty() && quiet_before)
        escape_armed_ = true;
    else if (b != '+' || frame_.size() >= 3)
        escape_armed_ = false;
    if (b == 0x0D) {
        data_frame(now);
        return;
    }
    // The LF that ends a dial command arrives after the call is up; no frame
    // starts with 0x0A (not a function code), so it is dropped there.
    if (b == 0x0A && frame_.empty())
        return;
    if (frame_.size() >= max_frame)
        frame_.clear();  // no CR in sight: throw the garbage away
    frame_.push_back(b);
}

void ModemEndpoint::on_readable(int64_t now)
{
    uint8_t buf[1024];
    ssize_t n = read(master_, buf, sizeof buf);
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return;
    if (n <= 0) {
        hang_up_line();
        retry_at_ = now + 100;
        return;
    }
    slave_closed_ = false;
    int64_t t_us = byte_us_ ? now_us() : 0;
    for (ssize_t i = 0; i < n; ++i) {
        if (byte_us_)
            rx_free_us_ = std::max(rx_free_us_, t_us) + byte_us_;
        if (state_ == State::online)
            data_byte(buf[i], now);
        else
            command_byte(buf[i]);
        if (state_ == State::online)
            last_rx_ = now;
    }
    if (state_ != State::online)
        last_rx_ = now;
}

void ModemEndpoint::prepare(Loop& loop, int64_t now)
{
    if (master_ < 0)
        return;
    if (sim_.faults.drop_carrier) {
        sim_.faults.drop_carrier = false;
        drop_call(true);
    }
    // "+++" followed by a guard time of silence: back to commands, call kept.
    if (state_ == State::online && escape_armed_ && frame_.size() == 3) {
        if (now - last_rx_ >= guard_ms_) {
            frame_.clear();
            escape_armed_ = false;
            state_ = State::online_command;
            result(0);
        } else {
            loop.wake_at(last_rx_ + guard_ms_);
        }
    }
    while (!pending_.empty() && pending_.front().due <= now) {
        Pending& p = pending_.front();
        if (out_.size() < max_output)
            out_.insert(out_.end(), p.bytes.begin(), p.bytes.end());
        bool hang = p.hang_up_after;
        pending_.pop_front();
        if (hang)
            drop_call(true);
    }
    if (!pending_.empty())
        loop.wake_at(pending_.front().due);
    if (slave_closed_ && now < retry_at_) {
        loop.wake_at(retry_at_);
        return;
    }
    if (byte_us_ && !slave_closed_) {
        flush_paced(loop);
    } else if (!out_.empty() && !slave_closed_) {
        flush_some(master_, out_);
    }
    short events = POLLIN;
    if (!out_.empty() && !byte_us_)
        events |= POLLOUT;
    loop.watch(master_, events, [this](short revents) {
        int64_t t = now_ms();
        if (revents & POLLIN) {
            on_readable(t);
        } else if (revents & (POLLHUP | POLLERR)) {
            hang_up_line();
            retry_at_ = t + 100;
        }
        if (!slave_closed_ && (revents & POLLOUT))
            flush_some(master_, out_);
    });
}

void ModemEndpoint::flush_paced(Loop& loop)
{
    if (out_.empty()) {
        tx_sending_ = false;
        return;
    }
    int64_t t = now_us();
    if (!tx_sending_) {
        tx_sending_ = true;
        tx_next_us_ = t + byte_us_;
    }
    size_t due = 0;
    while (due < out_.size() && tx_next_us_ <= t) {
        ++due;
        tx_next_us_ += byte_us_;
    }
    if (due > 0) {
        ssize_t n = write(master_, out_.data(), due);
        if (n > 0)
            out_.erase(out_.begin(), out_.begin() + n);
    }
    if (out_.empty())
        tx_sending_ = false;
    else
        loop.wake_at((tx_next_us_ + 999) / 1000);
}

}  // namespace sim
