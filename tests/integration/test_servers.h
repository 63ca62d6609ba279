// Modbus peers for the exchange tests, each listening on a free port of
// 127.0.0.1 chosen at run time, or (the USB stand-in) on a Unix socket in a
// folder of its own.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

using Bytes = std::vector<uint8_t>;

// A listening socket on 127.0.0.1, port 0, or on a Unix socket path.
struct Listener {
    int fd = -1;
    uint16_t port = 0;
    explicit Listener(const std::string& unix_path = "");
    ~Listener();
    // An accepted connection, or -1 when nothing came within `wait_ms`.
    int accept_one(int wait_ms) const;
};

#ifdef HAVE_LIBMODBUS
struct _modbus_mapping_t;
// libmodbus's own server, serving holding and input registers 0..99 (input
// register i holds 0x1000 + i, holding register i holds i); everything else
// it answers with its own exceptions.
class LibmodbusServer {
public:
    LibmodbusServer();
    ~LibmodbusServer();
    uint16_t port() const { return listener_.port; }
    uint16_t holding(int i);

private:
    void serve();
    Listener listener_;
    _modbus_mapping_t* map_;
    std::mutex map_lock_;
    std::atomic<bool> stop_{false};
    std::atomic<int> client_{-1};
    std::thread thread_;
};
#endif

// What the faulty server does with the next request.
enum class Fault {
    None,        // a correct reply
    Silent,      // no reply at all
    Truncate,    // the reply without its last 3 bytes
    Garble,      // a reply whose byte count does not match its data
    Close,       // closes the connection instead of replying
    Late,        // a correct reply, 2.5 s later (after the caller has given up)
    Surplus,     // a correct reply followed by 5 stray bytes
    Exception,   // exception code 2
};

// How the faulty server's frames travel: Modbus TCP on a port, or USB frames
// (length byte, PDU) on the socket DIR/rarur-1.sock that the program's own
// USB access library finds in RARUR_USB_DIR.
enum class Wire { Tcp, Usb };

// A Modbus peer that misbehaves on request. Replies carry data derived
// from the request (register i of a read holds start + i), so each caller can
// tell its own answer. Serves one connection at a time, in turn.
class FaultyServer {
public:
    explicit FaultyServer(Wire wire = Wire::Tcp);
    ~FaultyServer();
    uint16_t port() const { return listener_.port; }
    // The folder of the USB socket ("" for TCP).
    const std::string& dir() const { return dir_; }
    void push(Fault fault);
    // Every request frame received, in order.
    std::vector<Bytes> frames();
    // Requests that arrived while the previous one was still unanswered, and
    // frames that were not one well-formed request.
    int overlaps() const { return overlaps_; }
    int malformed() const { return malformed_; }
    // Waits until a late reply has reached the caller's socket.
    bool wait_late_sent(int wait_ms);

private:
    void serve();
    bool handle(int fd);
    bool read_request(int fd, Bytes& frame, Bytes& pdu);
    Bytes wrap(const Bytes& request, const Bytes& reply_pdu) const;
    Wire wire_;
    std::string dir_;
    Listener listener_;
    std::mutex lock_;
    std::condition_variable late_sent_cv_;
    bool late_sent_ = false;
    std::deque<Fault> faults_;
    std::vector<Bytes> frames_;
    std::atomic<int> overlaps_{0}, malformed_{0};
    std::atomic<bool> stop_{false};
    std::thread thread_;
};
