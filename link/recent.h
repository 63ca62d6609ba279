// Recent connections: the last Ethernet addresses and modem numbers, newest
// first, offered again in the connect dialogs. The list and its key-file text
// are pure; recent_file.h keeps them in the user's configuration folder.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

constexpr size_t kRecentMax = 10;

struct RecentConnections {
    std::vector<std::string> addresses; // Ethernet, "host:port"
    std::vector<std::string> phones;    // modem numbers
};

// Puts `item` first, dropping an earlier copy of it and anything past
// kRecentMax. Empty or blank items are ignored.
void recent_add(std::vector<std::string>& list, const std::string& item);

// The key file: [recent] addresses=…;… phones=…;… Unreadable text or
// values give empty lists; every list is cut to kRecentMax.
RecentConnections recent_from_text(const char* text, size_t size);
std::string recent_to_text(const RecentConnections& recent);
