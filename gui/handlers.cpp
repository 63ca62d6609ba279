#include "gui/handlers.h"

#include <map>
#include <string>

namespace {
std::map<std::string, GCallback>& table()
{
    static std::map<std::string, GCallback> t;
    return t;
}
}  // namespace

void register_handler(const char* name, GCallback callback) { table()[name] = callback; }

GCallback find_handler(const char* name)
{
    auto it = table().find(name);
    return it == table().end() ? nullptr : it->second;
}
