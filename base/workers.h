// The worker registry. Every thread that talks to a Controller (transport,
// poll, journal, command, apply, record reads, modem) is started here, bound
// to the link session it works for: it is counted from its creation on, told
// to stop when that link ends, and the program can wait for all of them before
// it exits. Workers never wait for the window (they take none of its locks),
// so the window may wait for them.
//
// Workers of one lane ("transport", "poll", …) run one at a time, in the order
// they were started: a new poll thread for a quick reconnect waits until the
// previous one has seen its link end, so two never share the poll state.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>

// A link session: one open link, numbered from 1. 0 is "no link".
using LinkSession = uint64_t;

// A new link has opened: its session becomes the current one (ending any other).
LinkSession link_session_begin();
// The link of `session` has ended; workers bound to it are told to stop. A
// session that is no longer current is left alone.
void link_session_end(LinkSession session);
LinkSession link_session_current();
bool link_session_live(LinkSession session);

// What a running worker knows of itself.
class WorkerContext {
public:
    // A context for the calling thread itself (tests, tools).
    explicit WorkerContext(LinkSession session);
    WorkerContext(LinkSession session, uint64_t exits) : session_(session), exits_(exits) {}
    LinkSession session() const { return session_; }
    // The worker's link is still open and the program is not exiting.
    bool live() const;
    // Sleeps up to `time`, waking at once when the worker must stop. True when
    // the whole time passed with the worker still live.
    bool sleep_for(std::chrono::milliseconds time) const;

private:
    LinkSession session_;
    uint64_t exits_;   // workers_stop_all calls before this worker started
};

using WorkerBody = std::function<void(const WorkerContext&)>;

// The lanes, named once for a lane's workers and for whoever waits for them
// (the modem waits for the poll thread before it closes the port).
// Transport threads take turns in the order their links were opened, so at
// most one owns a link at any time.
inline constexpr const char* kTransportLane = "transport";
inline constexpr const char* kPollLane = "poll";
inline constexpr const char* kModemLane = "modem";
inline constexpr const char* kJournalLane = "journal";
inline constexpr const char* kCommandLane = "command";
inline constexpr const char* kRecordsLane = "records";
inline constexpr const char* kApplyLane = "apply";
inline constexpr const char* kRegistersLane = "registers";
inline constexpr const char* kBlockingCallLane = "blocking-call";

// Starts a detached worker in `lane` bound to `session` (0: bound to no link,
// it stops only when the program exits). `stack_size` 0 keeps the default.
// 0 started, -1 the thread could not be created (nothing is left counted).
int worker_start(const char* lane, LinkSession session, WorkerBody body, size_t stack_size = 0);

// Workers started and not yet ended: in one lane, or in all (nullptr).
int workers_running(const char* lane = nullptr);
// Waits until no worker of `lane` (nullptr: of any lane) is left. Any thread;
// never hold app.link_lock or a lock a worker takes while waiting here.
void workers_wait(const char* lane = nullptr);
// The program is exiting: every worker started so far is told to stop
// (workers started later are not: tests open links again afterwards).
void workers_stop_all();
