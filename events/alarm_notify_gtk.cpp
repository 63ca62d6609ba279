#include "events/alarm_notify_gtk.h"

#include <gio/gio.h>
#include <gtk/gtk.h>

#include <map>
#include <memory>
#include <string>

#include "gui/widgets.h"
#include "base/text_format.h"

namespace {

struct Notice {
    std::string plant;
    std::string summary;
    std::string body;
};

// The id the service gave each plant's last notice, for the next to replace.
std::map<std::string, guint32> g_shown;

void notified(GObject* bus, GAsyncResult* result, gpointer data)
{
    std::unique_ptr<std::string> plant(static_cast<std::string*>(data));
    // No notification service on this desktop is no fault of the program's.
    if (GVariant* reply = g_dbus_connection_call_finish(G_DBUS_CONNECTION(bus), result, nullptr)) {
        guint32 id = 0;
        g_variant_get(reply, "(u)", &id);
        g_shown[*plant] = id;
        g_variant_unref(reply);
    }
}

void bus_ready(GObject*, GAsyncResult* result, gpointer data)
{
    auto* notice = static_cast<Notice*>(data);
    if (GDBusConnection* bus = g_bus_get_finish(result, nullptr)) {
        GVariantBuilder hints;
        g_variant_builder_init(&hints, G_VARIANT_TYPE("a{sv}"));
        g_variant_builder_add(&hints, "{sv}", "urgency", g_variant_new_byte(2));   // critical
        g_variant_builder_add(&hints, "{sv}", "desktop-entry", g_variant_new_string("rarur-service"));
        g_dbus_connection_call(bus, "org.freedesktop.Notifications", "/org/freedesktop/Notifications",
                               "org.freedesktop.Notifications", "Notify",
                               g_variant_new("(susssasa{sv}i)", "RARUR Service", g_shown[notice->plant], "dialog-error",
                                             notice->summary.c_str(), notice->body.c_str(), nullptr, &hints, -1),
                               G_VARIANT_TYPE("(u)"), G_DBUS_CALL_FLAGS_NONE, -1, nullptr, notified,
                               new std::string(notice->plant));
        g_object_unref(bus);
    }
    delete notice;
}

gboolean send(gpointer data)
{
    g_bus_get(G_BUS_TYPE_SESSION, nullptr, bus_ready, data);
    return G_SOURCE_REMOVE;
}

} // namespace

void notify_new_alarms(const std::string& plant, const std::vector<std::string>& texts)
{
    GtkWindow* window = main_window();
    if (texts.empty() || !window || gtk_window_is_active(window))
        return;
    // Without a session bus there is no desktop to tell; GIO would start a
    // bus of its own for the call, and leave it running.
    if (!g_getenv("DBUS_SESSION_BUS_ADDRESS"))
        return;
    auto* notice = new Notice;
    notice->plant = plant;
    notice->summary = texts.size() == 1 ? "Новая авария" : format("Новые аварии: %zu", texts.size());
    // The body may carry markup: only what would start a tag or an entity is
    // escaped, so a server that shows it as text shows the names as they are.
    for (const std::string& text : texts) {
        if (!notice->body.empty())
            notice->body += '\n';
        for (char c : text)
            notice->body += c == '&' ? "&amp;" : c == '<' ? "&lt;" : c == '>' ? "&gt;" : std::string(1, c);
    }
    // The call is started from the main loop, where its answer comes back.
    g_idle_add(send, notice);
}
