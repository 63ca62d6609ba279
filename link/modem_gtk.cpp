#include "link/modem_gtk.h"

#include <gtk/gtk.h>

#include <cstring>
#include <string>
#include <vector>

#include "gui/helpers.h"
#include "gui/widgets.h"
#include "base/app_state.h"
#include "link/modem_protocol.h"
#include "link/recent_file.h"
#include "link/serial_params.h"
#include "link/serial_port.h"

namespace {

// The device of the port last confirmed, never the row's label: the list may
// have changed since (an adapter re-plugged).
std::string g_port_path;

std::string trimmed(const char* text)
{
    std::string t = text ? text : "";
    t.erase(0, t.find_first_not_of(" \t"));
    t.erase(t.find_last_not_of(" \t") + 1);
    return t;
}

// OK only with a port and a number: without either the modem thread could
// only fail and try again every few seconds.
struct ModemDialogFields {
    GtkWidget* dialog;
    GtkWidget* port;
    GtkWidget* phone;
};

void update_accept(GtkEditable*, gpointer data)
{
    auto* f = static_cast<ModemDialogFields*>(data);
    bool filled = !trimmed(gtk_entry_get_text(GTK_ENTRY(f->port))).empty() &&
                  !trimmed(gtk_entry_get_text(GTK_ENTRY(f->phone))).empty();
    gtk_dialog_set_response_sensitive(GTK_DIALOG(f->dialog), GTK_RESPONSE_ACCEPT, filled ? TRUE : FALSE);
}

GtkWidget* bold_label(const char* markup)
{
    GtkWidget* label = gtk_label_new(nullptr);
    gtk_label_set_markup(GTK_LABEL(label), markup);
    gtk_misc_set_alignment(GTK_MISC(label), 1.0f, 0.5f);
    return label;
}

GtkWidget* choice_combo(const SerialChoice* rows, int count, int active, const char* id)
{
    GtkWidget* combo = gtk_combo_box_new_text();
    for (int i = 0; i < count; ++i)
        gtk_combo_box_append_text(GTK_COMBO_BOX(combo), rows[i].label);
    gtk_combo_box_set_active(GTK_COMBO_BOX(combo), active);
    set_accessible_id(combo, id);
    return combo;
}

SerialParams current_params()
{
    return {app.baud_index, app.data_bits_index, app.parity_index, app.stop_bits_index};
}

void set_format_label(GtkWidget* button)
{
    GtkWidget* label = gtk_bin_get_child(GTK_BIN(button));
    gtk_label_set_markup(GTK_LABEL(label), serial_format_markup(current_params()).c_str());
}

GtkWidget* new_dialog(const char* title, GtkWidget* parent)
{
    GtkWidget* dialog = gtk_dialog_new_with_buttons(
        title, parent ? GTK_WINDOW(parent) : nullptr, GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT),
        GTK_STOCK_OK, GTK_RESPONSE_ACCEPT, GTK_STOCK_CANCEL, GTK_RESPONSE_REJECT, nullptr);
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_ACCEPT);
    return dialog;
}

GtkWidget* new_table(int rows)
{
    GtkWidget* table = gtk_table_new(guint(rows), 2, FALSE);
    gtk_container_set_border_width(GTK_CONTAINER(table), 2);
    gtk_table_set_row_spacings(GTK_TABLE(table), 2);
    gtk_table_set_col_spacings(GTK_TABLE(table), 2);
    return table;
}

void attach_row(GtkWidget* table, int row, GtkWidget* label, GtkWidget* field)
{
    gtk_table_attach(GTK_TABLE(table), label, 0, 1, guint(row), guint(row + 1), GTK_FILL, GTK_FILL, 0, 0);
    gtk_table_attach(GTK_TABLE(table), field, 1, 2, guint(row), guint(row + 1),
                     GtkAttachOptions(GTK_EXPAND | GTK_FILL), GTK_FILL, 0, 0);
}

// "Параметры порта": byte size, parity and stop bits.
void port_parameters_clicked(GtkButton* button, gpointer data)
{
    GtkWidget* dialog = new_dialog("Параметры порта", GTK_WIDGET(data));
    set_accessible_id(dialog, "PortParametersDialog");
    GtkWidget* table = new_table(3);
    GtkWidget* data_bits = choice_combo(kDataBitsChoices, kDataBitsRows, app.data_bits_index, "PortDataBits");
    GtkWidget* parity = choice_combo(kParityChoices, kParityRows, app.parity_index, "PortParity");
    GtkWidget* stop_bits = choice_combo(kStopBitsChoices, kStopBitsRows, app.stop_bits_index, "PortStopBits");
    attach_row(table, 0, bold_label("<b>Размер байта:</b>"), data_bits);
    attach_row(table, 1, bold_label("<b>Четность:</b>"), parity);
    attach_row(table, 2, bold_label("<b>Стоповые биты:</b>"), stop_bits);
    gtk_box_pack_start(GTK_BOX(GTK_DIALOG(dialog)->vbox), table, TRUE, TRUE, 0);
    gtk_widget_show_all(dialog);
    if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
        app.data_bits_index = gtk_combo_box_get_active(GTK_COMBO_BOX(data_bits));
        app.parity_index = gtk_combo_box_get_active(GTK_COMBO_BOX(parity));
        app.stop_bits_index = gtk_combo_box_get_active(GTK_COMBO_BOX(stop_bits));
        set_format_label(GTK_WIDGET(button));
    }
    gtk_widget_destroy(dialog);
}

void tone_toggled(GtkToggleButton* toggle, gpointer)
{
    GtkWidget* label = gtk_bin_get_child(GTK_BIN(toggle));
    gtk_label_set_markup(GTK_LABEL(label),
                         gtk_toggle_button_get_active(toggle) ? "<b>Тоновый набор</b>" : "Тоновый набор");
}

GtkWidget* text_entry(const char* text, const char* id)
{
    GtkWidget* entry = gtk_entry_new();
    gtk_entry_set_text(GTK_ENTRY(entry), text);
    gtk_entry_set_activates_default(GTK_ENTRY(entry), TRUE);
    set_accessible_id(entry, id);
    return entry;
}

// Copies `text` into a buffer of `size` bytes: as many whole characters as fit
// before the terminating NUL.
void copy_cut(char* out, size_t size, const char* text)
{
    size_t length = utf8_prefix_length(text, size - 1);
    std::memcpy(out, text, length);
    std::memset(out + length, 0, size - length);
}

}  // namespace

bool run_modem_dialog(bool pstn, LinkTarget* target)
{
    std::vector<ComPort> ports = enumerate_com_ports();
    GtkWidget* dialog = new_dialog("Параметры подключения модема", GTK_WIDGET(main_window()));
    set_accessible_id(dialog, "ModemDialog");
    GtkWidget* table = new_table(pstn ? 4 : 3);

    // The list shows what sysfs knows; any other device (a by-id link, a
    // pseudo-terminal) can be typed in.
    GtkWidget* port = gtk_combo_box_text_new_with_entry();
    set_accessible_id(port, "ModemPort");
    for (const ComPort& p : ports)
        gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(port), p.name.c_str());
    GtkWidget* port_entry = gtk_bin_get_child(GTK_BIN(port));
    gtk_entry_set_activates_default(GTK_ENTRY(port_entry), TRUE);
    if (!g_port_path.empty()) {
        int row = com_port_row(ports, g_port_path);
        if (row >= 0)
            gtk_combo_box_set_active(GTK_COMBO_BOX(port), row);
        else
            gtk_entry_set_text(GTK_ENTRY(port_entry), g_port_path.c_str());
    } else if (!ports.empty())
        gtk_combo_box_set_active(GTK_COMBO_BOX(port), app.com_port_index < int(ports.size()) && app.com_port_index >= 0
                                                          ? app.com_port_index
                                                          : 0);
    GtkWidget* baud = gtk_combo_box_new_text();
    set_accessible_id(baud, "ModemBaud");
    for (int i = 0; i < kBaudRows; ++i)
        gtk_combo_box_append_text(GTK_COMBO_BOX(baud), (std::to_string(kBaudRates[i]) + " бит/с").c_str());
    gtk_combo_box_set_active(GTK_COMBO_BOX(baud), app.baud_index);
    GtkWidget* format_button = gtk_button_new_with_label("");
    set_accessible_id(format_button, "ModemPortFormat");
    set_format_label(format_button);
    g_signal_connect(format_button, "clicked", G_CALLBACK(port_parameters_clicked), dialog);
    GtkWidget* box = gtk_hbox_new(TRUE, 2);
    gtk_box_pack_start(GTK_BOX(box), port, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(box), baud, TRUE, TRUE, 0);
    gtk_box_pack_start(GTK_BOX(box), format_button, TRUE, TRUE, 0);
    attach_row(table, 0, bold_label("<b>Параметры подключения модема:</b>"), box);

    GtkWidget* init = text_entry(app.modem_init_string, "ModemInitString");
    attach_row(table, 1, bold_label("<b>Строка инициализации модема:</b>"), init);
    // The number typed, with the last ten numbers dialled under it.
    GtkWidget* phone_combo = gtk_combo_box_text_new_with_entry();
    for (const std::string& number : recent_connections().phones)
        gtk_combo_box_text_append_text(GTK_COMBO_BOX_TEXT(phone_combo), number.c_str());
    GtkWidget* phone = gtk_bin_get_child(GTK_BIN(phone_combo));
    gtk_entry_set_text(GTK_ENTRY(phone), app.modem_phone);
    gtk_entry_set_activates_default(GTK_ENTRY(phone), TRUE);
    set_accessible_id(phone, "ModemPhone");
    attach_row(table, 2, bold_label("<b>Номер модема контроллера:</b>"), phone_combo);
    GtkWidget* tone = nullptr;
    if (pstn) {
        tone = gtk_toggle_button_new_with_label("");
        set_accessible_id(tone, "ModemToneDialling");
        gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(tone), app.tone_dialling ? TRUE : FALSE);
        tone_toggled(GTK_TOGGLE_BUTTON(tone), nullptr);
        g_signal_connect(tone, "toggled", G_CALLBACK(tone_toggled), nullptr);
        gtk_table_attach(GTK_TABLE(table), tone, 1, 2, 3, 4, GtkAttachOptions(GTK_EXPAND | GTK_FILL), GTK_FILL, 0,
                         0);
    }
    gtk_box_pack_start(GTK_BOX(GTK_DIALOG(dialog)->vbox), table, TRUE, TRUE, 0);
    ModemDialogFields fields{dialog, port_entry, phone};
    g_signal_connect(port_entry, "changed", G_CALLBACK(update_accept), &fields);
    g_signal_connect(phone, "changed", G_CALLBACK(update_accept), &fields);
    update_accept(nullptr, &fields);
    gtk_widget_show_all(dialog);

    // An OK that is not the button's (a script, an accessibility tool) is
    // held to the same rule.
    int response;
    do
        response = gtk_dialog_run(GTK_DIALOG(dialog));
    while (response == GTK_RESPONSE_ACCEPT &&
           (trimmed(gtk_entry_get_text(GTK_ENTRY(port_entry))).empty() ||
            trimmed(gtk_entry_get_text(GTK_ENTRY(phone))).empty()));
    bool accepted = response == GTK_RESPONSE_ACCEPT;
    if (accepted) {
        g_port_path = com_port_path(ports, trimmed(gtk_entry_get_text(GTK_ENTRY(port_entry))));
        app.com_port_index = com_port_row(ports, g_port_path);
        target->address = g_port_path;
        app.baud_index = gtk_combo_box_get_active(GTK_COMBO_BOX(baud));
        copy_cut(app.modem_init_string, sizeof app.modem_init_string, gtk_entry_get_text(GTK_ENTRY(init)));
        copy_cut(app.modem_phone, sizeof app.modem_phone, gtk_entry_get_text(GTK_ENTRY(phone)));
        if (tone)
            app.tone_dialling = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(tone)) ? 1 : 0;
        target->phone = app.modem_phone;
        recent_remember_phone(target->phone);
    }
    gtk_widget_destroy(dialog);
    return accepted;
}
