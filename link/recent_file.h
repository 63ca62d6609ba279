// The recent connections of this user, kept in
// $XDG_CONFIG_HOME/rarur-service/recent. A folder that cannot be written
// costs the list, never the connection. GUI thread.
#pragma once

#include "link/recent.h"

// The lists, read from the file on first use.
const RecentConnections& recent_connections();
// Remembers a connection that succeeded and writes the file. 0 written; -1
// the file could not be written (logged once per session; the list in memory
// still has the item).
int recent_remember_address(const std::string& address);
int recent_remember_phone(const std::string& phone);
