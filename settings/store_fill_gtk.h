// Rebuilds a list store of the interface description from rows of typed
// cells: cell i goes into column i (text, boolean or integer columns).
#pragma once

#include <string>
#include <variant>
#include <vector>

using StoreCell = std::variant<std::string, bool, int>;
using StoreRow = std::vector<StoreCell>;

// Clears the store with this id and appends the rows; nothing when the
// description has no such list store.
void fill_store(const char* store_id, const std::vector<StoreRow>& rows);
