#include "link/recent.h"

#include <glib.h>

#include <algorithm>

#include "base/text_format.h"

namespace {

constexpr const char* kGroup = "recent";

std::vector<std::string> read_list(GKeyFile* file, const char* key)
{
    std::vector<std::string> list;
    gsize count = 0;
    gchar** items = g_key_file_get_string_list(file, kGroup, key, &count, nullptr);
    for (gsize i = count; items && i > 0; --i)
        recent_add(list, items[i - 1]);
    g_strfreev(items);
    return list;
}

void write_list(GKeyFile* file, const char* key, const std::vector<std::string>& list)
{
    std::vector<const gchar*> items;
    for (const std::string& item : list)
        items.push_back(item.c_str());
    g_key_file_set_string_list(file, kGroup, key, items.data(), items.size());
}

} // namespace

void recent_add(std::vector<std::string>& list, const std::string& item)
{
    size_t first = item.find_first_not_of(" \t");
    if (first == std::string::npos)
        return;
    std::string trimmed = item.substr(first, item.find_last_not_of(" \t") - first + 1);
    std::erase(list, trimmed);
    list.insert(list.begin(), trimmed);
    if (list.size() > kRecentMax)
        list.resize(kRecentMax);
}

RecentConnections recent_from_text(const char* text, size_t size)
{
    RecentConnections recent;
    GKeyFile* file = g_key_file_new();
    if (text && g_key_file_load_from_data(file, text, size, G_KEY_FILE_NONE, nullptr)) {
        recent.addresses = read_list(file, "addresses");
        recent.phones = read_list(file, "phones");
    }
    g_key_file_free(file);
    return recent;
}

std::string recent_to_text(const RecentConnections& recent)
{
    GKeyFile* file = g_key_file_new();
    write_list(file, "addresses", recent.addresses);
    write_list(file, "phones", recent.phones);
    return key_file_text_and_free(file);
}
