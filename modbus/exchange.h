// The exchange: one queue of requests and one transport thread that owns the
// open link. Any number of threads may queue requests; the link sees strictly
// one exchange at a time, in queue order.
//
// Waiting is done on condition variables: a queued request wakes the
// transport thread, a finished exchange wakes its caller, and closing the link
// wakes everyone. Each open link is one session; callers and the transport
// thread share it (and each request record) by shared_ptr, so a caller still
// waiting when the link closes never touches freed memory.
//
// Locks: the session lock (the queue lock) is only ever held for a few
// instructions and nothing else is taken while holding it; in particular it
// is never held while bytes move on the link. The exchange takes no lock of
// the window's: it logs through the log's queue and hands the window its title
// as a value.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>

#include <string>

#include "base/app_state.h"
#include "base/workers.h"
#include "modbus/frame.h"

constexpr int kLinkQuietMs = 500;

// The byte stream under a link: two calls with a written contract, so tests
// can put a fake under the exchange.
struct LinkIo {
    LinkKind kind = kDefaultLinkKind;   // the frame format the link carries
    // What the window title and the log say once the transport thread owns
    // the link; set by the link's backend when it opens the link.
    std::string title = "RARUR Service";
    std::string connected_text;
    // The log line of a failed send, given error_code() (a backend without
    // codes leaves the plain text).
    std::function<std::string(int code)> send_error_text;
    // Writes all `length` bytes. Returns `length`, or fewer (possibly < 0) on
    // failure; error_code() then says why.
    std::function<int(const uint8_t* bytes, int length)> write_all;
    // Reads up to `max` bytes, waiting at most `wait_ms` milliseconds for the
    // first (0: only what has already arrived). Returns > 0 bytes read, 0 when
    // nothing arrived in time, < 0 when the link has failed (peer gone).
    std::function<int(uint8_t* buffer, int max, int wait_ms)> read_some;
    // Wakes a blocked call and makes every later one fail. Any thread.
    std::function<void()> shutdown;
    // Whether the link can carry an exchange now, asked before each write and
    // each read (the modem's quiet look at its status lines). nullptr: always.
    std::function<bool()> usable;
    // Code of the last failure (for Ethernet the socket error code of wsa_error_text).
    std::function<int()> error_code;
    // How long one read waits: with the budget of empty reads it bounds a
    // missing or short reply.
    int read_wait_ms = 2;
    // After a request went without its reply, the link must have been quiet
    // this long before the next request goes out: what arrives meanwhile is
    // the late reply (or the rest of a cut one) and is dropped, so it is never
    // taken for the next request's answer. A reply a slow GPRS or VPN route
    // holds back past the give-up comes a few hundred milliseconds after it
    // (the 2.3 s reply of a 2 s link: 0.3 s), and a modem passes a reply on in
    // bursts whose pauses are far shorter; the wait only follows a failure.
    int quiet_ms = kLinkQuietMs;
    // Whether the user still wants the link (the modem's call). Once not, a
    // garbled reply is the line going down and not worth a log line.
    // nullptr: always.
    std::function<bool()> wanted;
};

// Status bits of a request.
constexpr uint16_t REQ_DONE = 0x0001;
constexpr uint16_t REQ_RECV_FAILED = 0x0002;
constexpr uint16_t REQ_SHORT_REPLY = 0x0004;
constexpr uint16_t REQ_NO_REPLY = 0x0008;
constexpr uint16_t REQ_OVERRUN = 0x0010;   // a modem frame longer than the buffer
constexpr uint16_t REQ_LINK_CLOSED = 0x0200;
constexpr uint16_t REQ_SEND_FAILED = 0x0400;
constexpr uint16_t REQ_CONSUMED = 0x8000;
constexpr uint16_t REQ_FAILED_MASK =
    REQ_SEND_FAILED | REQ_LINK_CLOSED | REQ_NO_REPLY | REQ_RECV_FAILED | REQ_OVERRUN;

// Empty reads in a row after which a reply is given up; also, whichever comes
// first, that many read waits of time without a byte.
constexpr int kEmptyReadBudget = 1000;

struct ModbusRequest {
    // Written by the transport thread once, when the exchange is over; the
    // caller may look at it without the lock while it waits.
    std::atomic<uint16_t> status{0};
    uint8_t request[kRequestSize] = {};
    uint16_t request_length = 0;
    uint8_t response[kResponseSize] = {};
    uint16_t expected_length = 0;   // 0: read up to the frame end (modem)
    uint16_t received_length = 0;
    // Set by the transport thread once the whole request is on the link: a
    // caller whose link closed while it waited learns whether the
    // Controller may have it.
    std::atomic<bool> sent{false};
};

struct ExchangeSession;

// Opens an exchange over `io`: begins a link session, sets link_open and
// starts the transport thread (a worker of lane "transport"), which first waits
// for the threads of earlier links to finish. -1 when the thread could not be
// created (the link is shut and link_open clear again). The caller holds
// app.link_lock.
int exchange_open(std::shared_ptr<LinkIo> io);
// Closes the current session, if any: ends its link session (its workers are
// told to stop), wakes the transport thread and every waiting caller and shuts
// the link down. Any thread. Does not touch link_open or the window
// (link_close does, under app.link_lock).
void exchange_close();

// Who hears of the link's fate. Both may be left null.
struct ExchangeEvents {
    // A send failed on the link of `session`, which nobody was closing: that
    // link must be closed (a newer one left alone). Called by the transport
    // thread without any lock.
    void (*link_failed)(LinkSession session);
    // The transport thread of `session` has let go of its link, for whatever
    // reason. Called by that thread without any lock, just before it ends.
    void (*link_ended)(LinkSession session);
};
void exchange_set_events(const ExchangeEvents& events);
// The session of the open link, or nullptr.
std::shared_ptr<ExchangeSession> exchange_current();
LinkKind exchange_link_kind(const ExchangeSession& session);
LinkSession exchange_session_id(const ExchangeSession& session);
// Whether the user still wants the link of `session` (LinkIo::wanted).
bool exchange_link_wanted(const ExchangeSession& session);
enum class SubmitResult : int {
    Finished = 0,      // see the request's status
    LinkClosed = -3,   // before or while waiting
};
// Queues `request` and waits until the transport thread has finished it.
SubmitResult exchange_submit(ExchangeSession& session, const std::shared_ptr<ModbusRequest>& request);
// Waits until every transport thread started so far has ended, including one
// not yet scheduled (tests, shutdown): the worker registry counts it. The
// ending thread never waits for the window, so any thread may wait here.
void exchange_wait_stopped();
