#include "link/recent_file.h"

#include <glib.h>
#include <glib/gstdio.h>

#include "base/log.h"

namespace {

RecentConnections g_recent;
bool g_read = false;
bool g_warned = false;

std::string folder() { return std::string(g_get_user_config_dir()) + "/rarur-service"; }
std::string path() { return folder() + "/recent"; }

RecentConnections& recent()
{
    if (!g_read) {
        g_read = true;
        gchar* data = nullptr;
        gsize size = 0;
        if (g_file_get_contents(path().c_str(), &data, &size, nullptr))
            g_recent = recent_from_text(data, size);
        g_free(data);
    }
    return g_recent;
}

int save()
{
    std::string text = recent_to_text(recent());
    GError* error = nullptr;
    if (g_mkdir_with_parents(folder().c_str(), 0700) == 0 &&
        g_file_set_contents(path().c_str(), text.data(), static_cast<gssize>(text.size()), &error))
        return 0;
    if (!g_warned) {
        g_warned = true;
        log_message(err_text, "Список последних подключений не сохранен: %s\n",
                    error ? error->message : path().c_str());
    }
    if (error)
        g_error_free(error);
    return -1;
}

} // namespace

const RecentConnections& recent_connections() { return recent(); }

int recent_remember_address(const std::string& address)
{
    recent_add(recent().addresses, address);
    return save();
}

int recent_remember_phone(const std::string& phone)
{
    recent_add(recent().phones, phone);
    return save();
}
