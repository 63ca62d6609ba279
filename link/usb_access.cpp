#include "link/usb_access.h"

#include <dlfcn.h>

#include <cstdlib>
#include <mutex>
#include <string>

#include "base/log.h"

namespace {

std::mutex g_lock;
const UsbAccess* g_current = nullptr;

template <class Fn>
bool take(void* library, const char* name, Fn*& out, std::string& missing)
{
    out = reinterpret_cast<Fn*>(dlsym(library, name));
    if (!out)
        missing += std::string(missing.empty() ? "" : ", ") + name;
    return out != nullptr;
}

// A library that lacks one of the five calls cannot carry a link; it stays
// loaded, since nothing of it has been used, but is not used either. The
// calls it lacks are named: most often an older or another maker's library.
const UsbAccess* load(void* library, const char* path)
{
    auto* access = new UsbAccess{path, nullptr, nullptr, nullptr, nullptr, nullptr};
    std::string missing;
    bool all = take(library, "rarur_find", access->find, missing);
    all = take(library, "rarur_open", access->open, missing) && all;
    all = take(library, "rarur_read", access->read, missing) && all;
    all = take(library, "rarur_write", access->write, missing) && all;
    all = take(library, "rarur_close", access->close, missing) && all;
    if (all)
        return access;
    delete access;
    log_message(err_text, "Библиотека USB %s не содержит нужных функций (нет %s)\n",
                path, missing.c_str());
    return nullptr;
}

}  // namespace

const UsbAccess* usb_access()
{
    std::lock_guard<std::mutex> g(g_lock);
    if (g_current)
        return g_current;
    const char* named = std::getenv("RARUR_USB_LIBRARY");
    if (named && *named) {
        void* library = dlopen(named, RTLD_NOW | RTLD_LOCAL);
        if (!library) {
            log_message(err_text, "Не удается загрузить библиотеку USB %s: %s\n", named, dlerror());
            return nullptr;
        }
        g_current = load(library, named);
        return g_current;
    }
    // Without a vendor's library the program's own stands in.
    void* library = dlopen(kDefaultUsbLibrary, RTLD_NOW | RTLD_LOCAL);
    g_current = library ? load(library, kDefaultUsbLibrary) : &usb_socket_access();
    return g_current;
}

void usb_access_forget()
{
    std::lock_guard<std::mutex> g(g_lock);
    // Tables loaded earlier stay allocated: a link may still be using one.
    g_current = nullptr;
}
