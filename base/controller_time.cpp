#include "base/controller_time.h"

#include <ctime>

#include <glib.h>

int64_t controller_local_seconds(uint32_t seconds, int16_t zone_quarters, bool summer)
{
    int64_t t = static_cast<int64_t>(seconds) + 900 * static_cast<int64_t>(zone_quarters) + (summer ? 3600 : 0);
    return t < 0 ? 2147483647 : t;
}

std::string controller_time_text(uint32_t seconds, int16_t zone_quarters, bool summer)
{
    time_t t = static_cast<time_t>(controller_local_seconds(seconds, zone_quarters, summer));
    struct tm broken {};
    gmtime_r(&t, &broken);
    char date[50];
    size_t length = strftime(date, sizeof date, "%d %b %Y %X", &broken);
    // strftime writes in the locale's encoding; the window and the files want UTF-8.
    gchar* utf8 = g_locale_to_utf8(date, static_cast<gssize>(length), nullptr, nullptr, nullptr);
    std::string text = utf8 ? utf8 : "";
    g_free(utf8);
    return text;
}
