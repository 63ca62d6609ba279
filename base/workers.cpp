#include "base/workers.h"

#include <pthread.h>

#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <string>

namespace {

struct Lane {
    uint64_t next_ticket = 0;   // the ticket the next worker of the lane draws
    uint64_t serving = 0;       // the ticket whose worker may run
    int running = 0;            // started and not yet ended
};

struct Registry {
    std::mutex lock;
    std::condition_variable changed;   // a worker ended, a turn passed or a session ended
    std::map<std::string, Lane> lanes;
    LinkSession current = 0;
    LinkSession last = 0;
    uint64_t exits = 0;   // how often the program told every worker to stop
};

// Never destroyed: a detached worker may still be finishing while the
// process tears its statics down.
Registry& registry()
{
    static Registry* instance = new Registry;
    return *instance;
}

struct Start {
    std::string lane;
    uint64_t ticket;
    WorkerContext context;
    WorkerBody body;
};

void* worker_entry(void* data)
{
    std::unique_ptr<Start> start(static_cast<Start*>(data));
    Registry& r = registry();
    {
        std::unique_lock g(r.lock);
        Lane& lane = r.lanes[start->lane];
        r.changed.wait(g, [&] { return lane.serving == start->ticket; });
    }
    {
        start->body(start->context);
        start->body = nullptr;   // what the body captured goes before the count drops
    }
    // The last thing the worker does: once the count drops, a waiter may let
    // the process end.
    std::lock_guard g(r.lock);
    Lane& lane = r.lanes[start->lane];
    ++lane.serving;
    --lane.running;
    r.changed.notify_all();
    return nullptr;
}

}  // namespace

LinkSession link_session_begin()
{
    Registry& r = registry();
    std::lock_guard g(r.lock);
    r.current = ++r.last;
    r.changed.notify_all();
    return r.current;
}

void link_session_end(LinkSession session)
{
    Registry& r = registry();
    std::lock_guard g(r.lock);
    if (session != 0 && r.current == session) {
        r.current = 0;
        r.changed.notify_all();
    }
}

LinkSession link_session_current()
{
    Registry& r = registry();
    std::lock_guard g(r.lock);
    return r.current;
}

bool link_session_live(LinkSession session)
{
    Registry& r = registry();
    std::lock_guard g(r.lock);
    return session == 0 || session == r.current;
}

namespace {
uint64_t exits_so_far()
{
    Registry& r = registry();
    std::lock_guard g(r.lock);
    return r.exits;
}
}  // namespace

WorkerContext::WorkerContext(LinkSession session) : session_(session), exits_(exits_so_far()) {}

bool WorkerContext::live() const
{
    Registry& r = registry();
    std::lock_guard g(r.lock);
    return r.exits == exits_ && (session_ == 0 || session_ == r.current);
}

bool WorkerContext::sleep_for(std::chrono::milliseconds time) const
{
    Registry& r = registry();
    std::unique_lock g(r.lock);
    auto dead = [&] { return r.exits != exits_ || (session_ != 0 && session_ != r.current); };
    return !r.changed.wait_for(g, time, dead);
}

int worker_start(const char* lane_name, LinkSession session, WorkerBody body, size_t stack_size)
{
    Registry& r = registry();
    pthread_attr_t attributes;
    pthread_attr_init(&attributes);
    pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    if (stack_size)
        pthread_attr_setstacksize(&attributes, stack_size);
    // The ticket is drawn and the thread created under one lock, so a thread
    // that cannot be created gives its ticket back before anyone waits on it.
    std::lock_guard g(r.lock);
    Lane& lane = r.lanes[lane_name];
    auto* start = new Start{lane_name, lane.next_ticket, WorkerContext(session, r.exits), std::move(body)};
    pthread_t thread;
    int result = pthread_create(&thread, &attributes, worker_entry, start);
    pthread_attr_destroy(&attributes);
    if (result != 0) {
        delete start;
        return -1;
    }
    ++lane.next_ticket;
    ++lane.running;
    return 0;
}

int workers_running(const char* lane)
{
    Registry& r = registry();
    std::lock_guard g(r.lock);
    if (lane) {
        auto it = r.lanes.find(lane);
        return it == r.lanes.end() ? 0 : it->second.running;
    }
    int total = 0;
    for (auto& [name, l] : r.lanes)
        total += l.running;
    return total;
}

void workers_wait(const char* lane)
{
    Registry& r = registry();
    std::unique_lock g(r.lock);
    r.changed.wait(g, [&] {
        if (lane) {
            auto it = r.lanes.find(lane);
            return it == r.lanes.end() || it->second.running == 0;
        }
        for (auto& [name, l] : r.lanes)
            if (l.running)
                return false;
        return true;
    });
}

void workers_stop_all()
{
    Registry& r = registry();
    std::lock_guard g(r.lock);
    ++r.exits;
    r.changed.notify_all();
}
