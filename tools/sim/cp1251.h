// UTF-8 -> WINDOWS-1251 for the names the simulator stores in its settings.
// Only ASCII and the Russian alphabet are needed; anything else becomes '?'.
#pragma once
#include <string>

namespace sim {
std::string to_cp1251(const std::string& utf8);
}
