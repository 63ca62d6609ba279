#include "events/alarm_notice.h"

#include <algorithm>

#include <glib.h>

#include "base/text_format.h"

std::string title_with_alarms(const std::string& base, unsigned alarm1_count)
{
    return alarm1_count ? base + format(" — аварий: %u", alarm1_count) : base;
}

std::string since_text(int64_t local_ms)
{
    GDateTime* t = g_date_time_new_from_unix_utc(local_ms / 1000);
    if (!t)
        return "";
    gchar* text = g_date_time_format(t, "с %H:%M:%S");
    std::string result = text ? text : "";
    g_free(text);
    g_date_time_unref(t);
    return result;
}

ActiveSince::Update ActiveSince::update(const std::array<std::vector<uint16_t>, kActiveListCount>& codes,
                                        const std::vector<uint16_t>& active, int64_t now_ms)
{
    Update out;
    for (int k = 0; k < kActiveListCount; ++k) {
        std::map<uint16_t, int64_t> seen;
        for (uint16_t code : codes[k]) {
            auto before = seen_[k].find(code);
            bool known = before != seen_[k].end();
            int64_t since = known ? before->second : now_ms;
            seen[code] = since;
            out.since[k].push_back(since);
            if (k == 0 && primed_ && !std::binary_search(active_.begin(), active_.end(), code))
                out.new_alarms.push_back(code);
        }
        seen_[k] = std::move(seen);
    }
    active_ = active;
    std::sort(active_.begin(), active_.end());
    primed_ = true;
    return out;
}

void ActiveSince::follow(const std::string& controller)
{
    if (controller == controller_)
        return;
    reset();
    controller_ = controller;
}

void ActiveSince::reset()
{
    for (auto& seen : seen_)
        seen.clear();
    active_.clear();
    primed_ = false;
}
