#include "link/usb_gtk.h"

#include <gtk/gtk.h>

#include "gui/helpers.h"
#include "gui/widgets.h"
#include "base/text_format.h"
#include "link/usb.h"

namespace {

int choose_controller(const std::vector<uint32_t>& ids)
{
    GtkWidget* dialog = gtk_dialog_new_with_buttons(
        "Выбор контроллера RARUR", main_window(),
        GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT), GTK_STOCK_CANCEL, GTK_RESPONSE_REJECT,
        GTK_STOCK_OK, GTK_RESPONSE_ACCEPT, nullptr);
    set_accessible_id(dialog, "UsbChooserDialog");
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    GtkWidget* combo = gtk_combo_box_new_text();
    set_accessible_id(combo, "UsbControllerCombo");
    for (uint32_t id : ids)
        gtk_combo_box_append_text(GTK_COMBO_BOX(combo), format("%lu", static_cast<unsigned long>(id)).c_str());
    gtk_combo_box_set_active(GTK_COMBO_BOX(combo), 0);
    gtk_container_set_border_width(GTK_CONTAINER(GTK_DIALOG(dialog)->vbox), 8);
    gtk_box_pack_start(GTK_BOX(GTK_DIALOG(dialog)->vbox), combo, TRUE, TRUE, 0);
    // Wide enough for the whole title.
    gtk_widget_set_size_request(dialog, 320, -1);
    gtk_widget_show_all(dialog);

    int chosen = -1;
    if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT)
        chosen = gtk_combo_box_get_active(GTK_COMBO_BOX(combo));
    gtk_widget_destroy(dialog);
    return chosen;
}

}  // namespace

void usb_connect_device() { usb_connect(choose_controller); }
