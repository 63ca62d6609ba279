#include "modbus/exchange.h"

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

#include "base/activity.h"
#include "base/log.h"

struct ExchangeSession {
    std::shared_ptr<LinkIo> io;
    LinkSession id = 0;
    std::mutex lock;                   // the queue lock: queue, closed, status of queued records
    std::condition_variable work;      // wakes the transport thread
    std::condition_variable finished;  // wakes the callers
    std::deque<std::shared_ptr<ModbusRequest>> queue;
    bool closed = false;
    std::atomic<bool> closing{false};  // the same, readable without the lock during I/O
    std::atomic<int> queued{0};        // queue.size(), readable without the lock

    // The transport thread's alone:
    uint16_t last_transaction = 0;     // of the last numbered request; 0 is never sent
    // Whether the Controller echoes the transaction identifier: unknown until
    // its first reply that can tell.
    enum class Numbering { Unknown, Echoed, Ignored } numbering = Numbering::Unknown;
    bool quiet_first = false;          // the last request went without its reply
};

namespace {

// The two halves of one exchange, run by the transport thread. Each failure
// sets one status bit of the request (see carry_out).
enum class SendResult : int {
    Sent = 0,
    NotUsable = -1,   // the link is closing or cannot carry an exchange now
    Failed = -2,      // the send failed (the link is closed), or nothing to send
};
enum class ReceiveResult : int {
    Complete = 0,
    NotUsable = -1,   // the link is closing or failed
    ShortReply = -2,  // some bytes, then silence
    NoReply = -3,
    Overrun = -4,     // a modem frame longer than the buffer
};
// Bytes left on the link by an earlier exchange are discarded first; after a
// request that went without its reply, the link must fall quiet first.
SendResult link_send(ExchangeSession& session, const uint8_t* frame, int length);
// `transaction`: the request's identifier, where its frames carry one.
ReceiveResult link_receive(ExchangeSession& session, uint8_t* buffer, int expected, uint16_t transaction,
                           int* received_out);

// Back-to-back requests (a poll cycle, a journal read) follow each other within
// microseconds. Each side first looks for the other for this long, giving the
// processor away in between, before it goes to sleep on its condition
// variable: two sleeps and wake-ups per exchange cost more than the exchange.
constexpr auto kSpinBeforeSleep = std::chrono::microseconds(100);

template <class Ready>
bool spin_until(Ready ready)
{
    auto until = std::chrono::steady_clock::now() + kSpinBeforeSleep;
    do {
        if (ready())
            return true;
        std::this_thread::yield();
    } while (std::chrono::steady_clock::now() < until);
    return ready();
}

std::mutex g_current_lock;   // leaf lock: guards g_current only
std::shared_ptr<ExchangeSession> g_current;
// Set once at start-up, read by every transport thread.
std::atomic<void (*)(LinkSession)> g_link_failed{nullptr};
std::atomic<void (*)(LinkSession)> g_link_ended{nullptr};

void close_session(ExchangeSession& s)
{
    link_session_end(s.id);
    {
        std::lock_guard<std::mutex> g(s.lock);
        s.closed = true;
        s.closing = true;
    }
    if (s.io && s.io->shutdown)
        s.io->shutdown();
    s.work.notify_all();
    s.finished.notify_all();
}

// Surplus bytes or a reply that came after its time-out must never be taken for
// the answer to the next request. A peer that streams without end gets no
// more than a few buffers' worth dropped, so the request still goes out (and
// its reply fails the checks). Returns -1 when the link has failed.
constexpr int kStaleBuffersMax = 8;

void drop_stale(const uint8_t* bytes, int n)
{
    app.bytes_received += uint64_t(n);
    if (app.log_frames)
        activity_frame(err_text, bytes, n);
}

int discard_stale_bytes(ExchangeSession& s)
{
    uint8_t stale[kResponseSize];
    for (int round = 0; round < kStaleBuffersMax; ++round) {
        int n = s.io->read_some(stale, sizeof stale, 0);
        if (n <= 0)
            return n < 0 ? -1 : 0;
        drop_stale(stale, n);
    }
    return 0;
}

// After a request went without its reply, that reply may still be on its way:
// the next request waits until the link has been quiet for the link's quiet
// time, dropping whatever comes. A peer that never falls silent holds the
// link no longer than a missing reply would. Returns -1 when the link has
// failed.
int await_quiet(ExchangeSession& s)
{
    using Clock = std::chrono::steady_clock;
    const auto quiet = std::chrono::milliseconds(std::max(s.io->quiet_ms, 0));
    const auto give_up = Clock::now() + std::chrono::milliseconds(int64_t(kEmptyReadBudget) *
                                                                  std::max(s.io->read_wait_ms, 1));
    auto quiet_until = Clock::now() + quiet;
    uint8_t stale[kResponseSize];
    for (;;) {
        auto now = Clock::now();
        if (now >= quiet_until || now >= give_up || s.closing)
            return 0;
        int wait = int(std::chrono::ceil<std::chrono::milliseconds>(quiet_until - now).count());
        int n = s.io->read_some(stale, sizeof stale, std::min(wait, std::max(s.io->read_wait_ms, 1)));
        if (n < 0)
            return -1;
        if (n > 0) {
            if (app.log_frames)
                log_message(err_text, "Запоздавший ответ отброшен (%d байт)\n", n);
            drop_stale(stale, n);
            quiet_until = Clock::now() + quiet;
        }
    }
}

// A failed send closes the link, unless it failed because the link was being
// closed anyway: then there is nothing to report. Links are closed under the
// link lock, so a link closed before the look is never reported here; the
// owner is told which session failed and leaves a link opened since alone.
void send_failed(ExchangeSession& s, const uint8_t* frame, int sent)
{
    int code = s.io->error_code ? s.io->error_code() : 0;
    {
        std::lock_guard<std::mutex> l(app.link_lock);
        if (s.closing)
            return;
        if (app.log_frames && sent > 0)
            log_hex_dump(err_text, frame, sent);
        if (s.io->send_error_text)
            log_message(err_text, "%s", s.io->send_error_text(code).c_str());
        else
            log_message(err_text, "Ошибка передачи\n");
    }
    // Whoever owns the link closes it; without an owner the session at least
    // ends here, so no caller waits on a dead link.
    if (auto failed = g_link_failed.load())
        failed(s.id);
    else
        close_session(s);
}

uint16_t status_bits(SendResult result)
{
    switch (result) {
    case SendResult::Sent: return 0;
    case SendResult::NotUsable: return REQ_LINK_CLOSED;
    case SendResult::Failed: return REQ_SEND_FAILED;
    }
    return REQ_SEND_FAILED;
}

uint16_t status_bits(ReceiveResult result)
{
    switch (result) {
    case ReceiveResult::Complete: return REQ_DONE;
    case ReceiveResult::NotUsable: return REQ_RECV_FAILED;
    case ReceiveResult::ShortReply: return REQ_SHORT_REPLY;
    case ReceiveResult::NoReply: return REQ_NO_REPLY;
    case ReceiveResult::Overrun: return REQ_OVERRUN;
    }
    return REQ_RECV_FAILED;
}


uint16_t next_transaction(ExchangeSession& s)
{
    if (++s.last_transaction == 0)   // 0 is what a Controller that ignores the numbers answers
        s.last_transaction = 1;
    return s.last_transaction;
}

// One exchange of the transport thread; returns the status bits to set.
uint16_t carry_out(ExchangeSession& s, ModbusRequest& r)
{
    const FrameFormat& format = *frame_format(s.io->kind);
    uint16_t transaction = 0;
    if (format.transaction_at >= 0 && r.request_length >= format.transaction_at + 2) {
        transaction = next_transaction(s);
        frame_set_transaction(format, r.request, transaction);
    }
    SendResult sent = link_send(s, r.request, r.request_length);
    if (sent != SendResult::Sent)
        return status_bits(sent);
    r.sent = true;
    int received = 0;
    ReceiveResult result = link_receive(s, r.response, r.expected_length, transaction, &received);
    r.received_length = uint16_t(received);
    s.quiet_first = result == ReceiveResult::NoReply || result == ReceiveResult::ShortReply ||
                    result == ReceiveResult::Overrun;
    return status_bits(result);
}

void announce_connected(const LinkIo& io)
{
    run_on_gui([title = io.title] { ui().set_title(title.c_str()); });
    if (!io.connected_text.empty())
        log_message(norm_text, "%s", io.connected_text.c_str());
}

void transport_thread(std::shared_ptr<ExchangeSession> s)
{
    app.transport_running = 1;
    announce_connected(*s->io);

    for (;;) {
        std::shared_ptr<ModbusRequest> r;
        spin_until([&] { return s->closing || s->queued > 0; });
        {
            std::unique_lock<std::mutex> g(s->lock);
            s->work.wait(g, [&] { return s->closed || !s->queue.empty(); });
            if (s->closed)
                break;
            r = std::move(s->queue.front());
            s->queue.pop_front();
            s->queued = int(s->queue.size());
        }
        // The link is used without the lock: callers may queue meanwhile.
        uint16_t bits = carry_out(*s, *r);
        {
            std::lock_guard<std::mutex> g(s->lock);
            r->status = bits;
        }
        s->finished.notify_all();
    }

    {
        std::lock_guard<std::mutex> g(s->lock);
        s->queue.clear();   // callers still waiting hold their own references
        s->queued = 0;
    }
    s->finished.notify_all();
    log_message(norm_text, "Отключен\n");
    run_on_gui([] { ui().set_title("RARUR Service"); });
    LinkSession id = s->id;
    s.reset();
    app.transport_running = 0;
    if (auto ended = g_link_ended.load())
        ended(id);
}

}  // namespace

int exchange_open(std::shared_ptr<LinkIo> io)
{
    auto s = std::make_shared<ExchangeSession>();
    s->io = std::move(io);
    std::shared_ptr<ExchangeSession> previous;
    {
        std::lock_guard<std::mutex> g(g_current_lock);
        previous = std::exchange(g_current, s);
    }
    if (previous)
        close_session(*previous);
    s->id = link_session_begin();
    app.link_open = 1;
    if (worker_start(kTransportLane, s->id, [s](const WorkerContext&) { transport_thread(s); }) != 0) {
        {
            std::lock_guard<std::mutex> c(g_current_lock);
            if (g_current == s)
                g_current.reset();
        }
        close_session(*s);
        app.link_open = 0;
        return -1;
    }
    return 0;
}

void exchange_set_events(const ExchangeEvents& events)
{
    g_link_failed = events.link_failed;
    g_link_ended = events.link_ended;
}

void exchange_close()
{
    std::shared_ptr<ExchangeSession> s;
    {
        std::lock_guard<std::mutex> g(g_current_lock);
        s = std::move(g_current);
        g_current.reset();
    }
    if (s)
        close_session(*s);
}

std::shared_ptr<ExchangeSession> exchange_current()
{
    std::lock_guard<std::mutex> g(g_current_lock);
    return g_current;
}

LinkKind exchange_link_kind(const ExchangeSession& session) { return session.io->kind; }

bool exchange_link_wanted(const ExchangeSession& session) { return !session.io->wanted || session.io->wanted(); }

SubmitResult exchange_submit(ExchangeSession& s, const std::shared_ptr<ModbusRequest>& request)
{
    {
        std::lock_guard<std::mutex> g(s.lock);
        if (s.closed)
            return SubmitResult::LinkClosed;
        s.queue.push_back(request);
        s.queued = int(s.queue.size());
    }
    s.work.notify_one();
    spin_until([&] { return s.closing || request->status != 0; });
    std::unique_lock<std::mutex> g(s.lock);
    s.finished.wait(g, [&] { return s.closed || request->status != 0; });
    return s.closed ? SubmitResult::LinkClosed : SubmitResult::Finished;
}

void exchange_wait_stopped() { workers_wait(kTransportLane); }

LinkSession exchange_session_id(const ExchangeSession& session) { return session.id; }

namespace {

bool link_usable(const ExchangeSession& s) { return !s.closing && (!s.io->usable || s.io->usable()); }

SendResult link_send(ExchangeSession& s, const uint8_t* frame, int length)
{
    if (!link_usable(s))
        return SendResult::NotUsable;
    if (length <= 0) {
        log_message(err_text, "Пустой буфер передачи\n");
        return SendResult::Failed;
    }
    int cleared = s.quiet_first ? await_quiet(s) : discard_stale_bytes(s);
    s.quiet_first = false;
    if (cleared < 0) {
        // The peer has gone: nothing can be sent.
        send_failed(s, frame, 0);
        return SendResult::Failed;
    }
    activity_dot(ActivityDot::Sending);
    if (app.log_frames)
        activity_frame(send_text, frame, length);
    int sent = s.io->write_all(frame, length);
    if (sent != length) {
        send_failed(s, frame, sent);
        return SendResult::Failed;
    }
    app.bytes_sent += uint64_t(length);
    return SendResult::Sent;
}

// Whether a reply numbered `got` answers the request numbered `sent`. A
// Controller that answers every request with 0 (never sent: see
// next_transaction) is told on its first reply and then taken at its word,
// reply by reply in order, with the quiet link after a missing reply as the
// only guard; once it has echoed a number, a 0 is as stale as any other.
bool answers_request(ExchangeSession& s, uint16_t sent, uint16_t got)
{
    using Numbering = ExchangeSession::Numbering;
    if (s.numbering == Numbering::Ignored)
        return true;
    if (got == sent) {
        s.numbering = Numbering::Echoed;
        return true;
    }
    if (got != 0 || s.numbering != Numbering::Unknown)
        return false;
    s.numbering = Numbering::Ignored;
    log_message(norm_text, "Контроллер не возвращает номер запроса (отвечает с номером 0): ответы принимаются "
                           "по порядку\n");
    return true;
}

// Largest frame a numbered link carries (Modbus TCP: 260 bytes); a stale
// frame claiming more is garbage and is dropped only this far.
constexpr int kStaleFrameMax = 262;

ReceiveResult link_receive(ExchangeSession& s, uint8_t* buffer, int expected, uint16_t transaction,
                           int* received_out)
{
    if (s.closing)
        return ReceiveResult::NotUsable;
    *received_out = 0;
    activity_dot(ActivityDot::Receiving);
    const FrameFormat& format = *frame_format(s.io->kind);
    const bool until_end = expected == 0;   // modem frames end with a CR
    const bool numbered = format.transaction_at >= 0 && !until_end;
    expected = std::min(expected, kReceiveLimit);
    int got = 0;
    int target = 0;
    bool target_known = false;
    auto begin_frame = [&] {
        got = 0;
        target = until_end ? kReceiveLimit : expected;
        target_known = format.length_prefix == 0;
    };
    begin_frame();
    int stale_left = 0;   // bytes of a stale frame still to drop
    int budget = kEmptyReadBudget;
    // The budget is also a time: a loaded machine stretches each short read,
    // and a missing reply must still be given up after about the same time.
    // Stale frames earn the request no more time.
    using Clock = std::chrono::steady_clock;
    const auto budget_time = std::chrono::milliseconds(int64_t(kEmptyReadBudget) * std::max(s.io->read_wait_ms, 0));
    auto give_up_at = Clock::now() + budget_time;
    auto give_up_before_frame = give_up_at;

    auto give_up = [&] {
        if (got > 0) {
            if (app.log_frames)
                log_hex_dump(err_text, buffer, got);
            *received_out = got;
            return ReceiveResult::ShortReply;
        }
        log_message(err_text, "Нет ответа контроллера: получено 0 из %d байт\n", expected);
        return ReceiveResult::NoReply;
    };

    for (;;) {
        if (!until_end && got >= target)
            break;
        if (until_end && got > kReceiveLimit - 1)
            return ReceiveResult::Overrun;   // a modem frame longer than the buffer
        // A peer that never falls silent but never answers this request.
        if (got == 0 && Clock::now() >= give_up_at)
            return give_up();
        if (s.io->usable && !s.io->usable()) {
            *received_out = got;
            return ReceiveResult::NotUsable;
        }
        uint8_t stale[kResponseSize];
        uint8_t* into = stale_left > 0 ? stale : buffer + got;
        int want = stale_left > 0   ? std::min(stale_left, int(sizeof stale))
                   : until_end      ? 1
                   : !target_known ? std::min(format.length_prefix, target) - got
                                   : target - got;
        int n = s.io->read_some(into, want, s.io->read_wait_ms);
        if (s.closing) {
            *received_out = 0;
            return ReceiveResult::NotUsable;
        }
        if (n < 0) {
            log_message(err_text, "Связь с контроллером прервалась во время ожидания ответа\n");
            *received_out = got;
            return ReceiveResult::NotUsable;
        }
        if (n > 0 && stale_left > 0) {
            drop_stale(stale, n);
            stale_left -= n;
            budget = kEmptyReadBudget;
            continue;
        }
        if (n > 0) {
            app.bytes_received += uint64_t(n);
            if (app.log_frames && until_end)
                activity_frame(recv_text, buffer + got, n);
            if (got == 0)
                give_up_before_frame = give_up_at;
            got += n;
            budget = kEmptyReadBudget;
            give_up_at = Clock::now() + budget_time;
            if (until_end && buffer[got - 1] == kFrameEnd) {
                buffer[--got] = 0;
                break;
            }
            if (!target_known && got >= format.length_prefix) {
                uint16_t number = numbered ? frame_transaction(format, buffer) : 0;
                if (numbered && !answers_request(s, transaction, number)) {
                    // A reply to a request given up earlier: dropped whole,
                    // and the wait for this request's own goes on.
                    stale_left = std::max(format.complete_length(buffer, got, kStaleFrameMax) - got, 0);
                    if (app.log_frames) {
                        log_message(err_text, "Отброшен ответ на запрос №%u: ожидается ответ на №%u\n",
                                    number, transaction);
                        activity_frame(err_text, buffer, got);
                    }
                    give_up_at = give_up_before_frame;
                    begin_frame();
                    continue;
                }
                target = format.complete_length(buffer, got, expected);
                target_known = true;
            }
            continue;
        }
        if (--budget >= 0 && Clock::now() < give_up_at)
            continue;
        return give_up();
    }
    if (app.log_frames)
        activity_frame(recv_text, buffer, got);
    *received_out = got;
    return ReceiveResult::Complete;
}

}  // namespace
