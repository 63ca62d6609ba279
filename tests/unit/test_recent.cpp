// Recent connections: newest first, no repeats, ten at most; a configuration
// folder that cannot be written costs the file, not the list.
#include <gtest/gtest.h>

#include <glib.h>
#include <glib/gstdio.h>

#include <string>

#include "link/recent.h"
#include "link/recent_file.h"

namespace {

TEST(RecentConnections, KeepsTheLastTenNewestFirstWithoutRepeats)
{
    std::vector<std::string> list;
    for (int i = 0; i < 12; ++i)
        recent_add(list, "10.0.0." + std::to_string(i) + ":502");
    recent_add(list, " 10.0.0.5:502 ");
    recent_add(list, "  ");
    ASSERT_EQ(list.size(), kRecentMax);
    EXPECT_EQ(list[0], "10.0.0.5:502");
    EXPECT_EQ(list[1], "10.0.0.11:502");
    EXPECT_EQ(list[9], "10.0.0.2:502");

    RecentConnections recent{list, {"+79001234567", "8;495"}};
    std::string text = recent_to_text(recent);
    RecentConnections back = recent_from_text(text.data(), text.size());
    EXPECT_EQ(back.addresses, recent.addresses);
    EXPECT_EQ(back.phones, recent.phones);

    std::string junk = "[recent]\naddresses=" + std::string(30, 'a') + std::string(";b").append(20, ';') + "\n";
    EXPECT_LE(recent_from_text(junk.data(), junk.size()).addresses.size(), kRecentMax);
    EXPECT_TRUE(recent_from_text("\xff\xfe not a key file", 17).addresses.empty());
}

TEST(RecentConnections, ARememberedAddressStaysWhenTheFolderCannotBeWritten)
{
    // The configuration "folder" is a plain file: nothing can be made under it.
    gchar* dir = g_dir_make_tmp("rarur-recent-XXXXXX", nullptr);
    ASSERT_NE(dir, nullptr);
    std::string blocker = std::string(dir) + "/config";
    ASSERT_TRUE(g_file_set_contents(blocker.c_str(), "x", 1, nullptr));
    g_setenv("XDG_CONFIG_HOME", blocker.c_str(), TRUE);
    g_reload_user_special_dirs_cache();
    EXPECT_EQ(recent_remember_address("192.168.1.7:502"), -1);
    EXPECT_EQ(recent_remember_phone("+79001234567"), -1);
    EXPECT_EQ(recent_connections().addresses.front(), "192.168.1.7:502");
    EXPECT_EQ(recent_connections().phones.front(), "+79001234567");
    g_remove(blocker.c_str());
    g_rmdir(dir);
    g_free(dir);
}

} // namespace
