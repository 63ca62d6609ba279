#include "link/address_dialog_gtk.h"

#include <gtk/gtk.h>

#include <string>

#include "gui/handlers.h"
#include "gui/widgets.h"
#include "link/tcp_address.h"

namespace {

GtkWidget* hint_label() { return widget_by_id("DeviceAddressHint"); }
GtkWidget* address_entry() { return widget_by_id("DeviceAddress"); }

// Whatever the user changes may be the correction: the old hint no longer
// speaks of what the entry holds.
void DeviceAddressChanged(GtkEditable*, gpointer) { address_dialog_clear_hint(); }

}  // namespace

bool address_dialog_accepts()
{
    GtkWidget* entry = address_entry();
    const char* text = entry ? gtk_entry_get_text(GTK_ENTRY(entry)) : "";
    TcpAddress address;
    int parsed = parse_tcp_address(text, &address);
    if (parsed == 0)
        return true;
    if (GtkWidget* hint = hint_label()) {
        std::string lines = parsed == -2 ? std::string(kTcpAddressHint) + "\n" + kTcpAddressHintV6 : kTcpAddressHint;
        gchar* markup = g_markup_printf_escaped("<span fgcolor=\"#FF0000\">%s</span>", lines.c_str());
        gtk_label_set_markup(GTK_LABEL(hint), markup);
        g_free(markup);
        gtk_widget_show(hint);
    }
    if (entry) {
        gtk_widget_grab_focus(entry);
        gtk_editable_select_region(GTK_EDITABLE(entry), 0, -1);
    }
    return false;
}

void address_dialog_clear_hint()
{
    if (GtkWidget* hint = hint_label())
        gtk_widget_hide(hint);
}

void address_dialog_register_handlers() { register_handler("DeviceAddressChanged", G_CALLBACK(DeviceAddressChanged)); }
