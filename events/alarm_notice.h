// What makes an alarm noticed beyond its list: the count in the window's
// title, since when each active event has been seen, and which first-degree
// alarms are new. Pure.
#pragma once

#include <array>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "status/active_lists.h"

// `base` followed by " — аварий: N" while N first-degree alarms are active.
std::string title_with_alarms(const std::string& base, unsigned alarm1_count);

// "с 14:02:11": when an event was first seen, by the Controller's clock in
// its own zone, as the menu bar's clock and the journal show it. `local_ms`
// is that clock's reading in its zone (milliseconds since 1970 as if UTC).
std::string since_text(int64_t local_ms);

// Since when the program has seen each event of the six lists. The
// Controller does not say when an event began: the time is that of the first
// cycle that showed it, and an event that goes away and comes back is new
// again. A link that drops and comes back to the same Controller goes on
// where it was: an event still active keeps its time, and an alarm that came
// up while the link was down is new.
class ActiveSince {
public:
    struct Update {
        std::array<std::vector<int64_t>, kActiveListCount> since;   // per list, in the order of its codes
        std::vector<uint16_t> new_alarms;   // first-degree alarms that appeared in this cycle
    };
    // The codes now in each list, and every active event. An alarm is new
    // when its event was not active at the last update: what was already
    // active at the first update after reset() was there when the link came
    // up, and an event that only enters the list because its mask changed
    // did not just happen.
    Update update(const std::array<std::vector<uint16_t>, kActiveListCount>& codes,
                  const std::vector<uint16_t>& active, int64_t now_ms);
    void reset();
    // The Controller the next updates come from (its type and serial
    // number): another one than before starts afresh, as reset() does.
    void follow(const std::string& controller);

private:
    std::string controller_;
    std::array<std::map<uint16_t, int64_t>, kActiveListCount> seen_;
    std::vector<uint16_t> active_;   // ascending
    bool primed_ = false;
};
