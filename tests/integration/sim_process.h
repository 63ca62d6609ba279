// SimProcess: runs rarur-sim as a child process for a test.
//
//   SimProcess sim;                       // TCP on a free port, control socket, record file
//   ASSERT_TRUE(sim.running()) << sim.log();
//   modbus_new_tcp("127.0.0.1", sim.port());
//   sim.control("freeze on");             // -> "ok"
//   sim.record_lines();                   // "<time> fn=04 addr=0000 count=15", ...
//
// Everything lives in a fresh temporary directory that is removed, with the
// process stopped, when the object goes out of scope.
#pragma once
#include <chrono>
#include <string>
#include <thread>
#include <sys/types.h>
#include <vector>

struct SimOptions {
    std::vector<std::string> args;  // further command-line arguments, e.g. {"--fault", "silence on"}
    int protocol_version = 0;       // 0: the simulator's default (410)
    bool tcp = true;                // --listen 127.0.0.1:0
    int usb_id = -1;                // >= 0: --usb-dir <dir> --usb-id N
    bool modem = false;             // --modem-pty <dir>/modem
    int modem_guard_ms = 200;       // shorter than a real modem's, so hang-up tests stay quick
    bool freeze = false;            // --freeze
};

class SimProcess {
public:
    explicit SimProcess(const SimOptions& options = SimOptions());
    ~SimProcess();
    SimProcess(const SimProcess&) = delete;
    SimProcess& operator=(const SimProcess&) = delete;

    // True once the simulator has written its port file (all endpoints ready).
    bool running() const { return ready_; }
    int port() const { return port_; }
    pid_t pid() const { return pid_; }
    const std::string& dir() const { return dir_; }
    std::string control_path() const { return dir_ + "/control.sock"; }
    std::string record_path() const { return dir_ + "/record.log"; }
    std::string usb_socket_path() const;  // DIR/rarur-N.sock
    std::string modem_path() const { return dir_ + "/modem"; }
    // The simulator's stderr so far, for failure messages.
    std::string log() const;

    // Sends one control command and returns the reply line without its
    // newline ("ok", "ok ...", "error ..."); "" when the channel failed.
    std::string control(const std::string& command) const;
    std::vector<std::string> record_lines() const;
    // The recorded writes ("fn=10 addr=… count=… data=…"), without the time.
    std::vector<std::string> recorded_writes() const;
    // The value of `key` in the simulator's status line ("" when absent).
    std::string status_value(const std::string& key) const;
    void clear_record() const;
    // SIGTERM and wait; true when it exited with status 0.
    bool stop();

private:
    std::string dir_;
    pid_t pid_ = -1;
    int port_ = 0;
    int usb_id_ = -1;
    bool ready_ = false;
};

// Path of the simulator binary (the RARUR_SIM_PATH build definition, or the
// RARUR_SIM environment variable); "" when neither is set.
std::string rarur_sim_binary();

// A bare Modbus TCP client for requests libmodbus will not send (bad counts,
// function 0x14): each exchange sends header + PDU and returns the reply PDU,
// or an empty vector on time-out or a closed connection.
class RawModbusTcp {
public:
    explicit RawModbusTcp(int port);
    ~RawModbusTcp();
    RawModbusTcp(const RawModbusTcp&) = delete;
    RawModbusTcp& operator=(const RawModbusTcp&) = delete;
    bool connected() const { return fd_ >= 0; }
    std::vector<unsigned char> exchange(const std::vector<unsigned char>& pdu, int timeout_ms = 2000,
                                        unsigned transaction = 0, unsigned unit = 0xFF);
    // Header of the last reply (7 bytes), for transaction and unit checks.
    const std::vector<unsigned char>& last_header() const { return header_; }

private:
    int fd_ = -1;
    std::vector<unsigned char> header_;
};

// Polls `condition` every few milliseconds until it holds (true) or
// `milliseconds` have passed (false).
template <typename Condition>
bool wait_until(Condition condition, int milliseconds = 10000)
{
    auto end = std::chrono::steady_clock::now() + std::chrono::milliseconds(milliseconds);
    while (!condition()) {
        if (std::chrono::steady_clock::now() > end)
            return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return true;
}
