#include "status/register_view_gtk.h"

#include <gtk/gtk.h>

#include <memory>
#include <string>
#include <vector>

#include "gui/helpers.h"
#include "gui/handlers.h"
#include "gui/widgets.h"
#include "base/app_state.h"
#include "base/text_format.h"
#include "base/ui_hooks.h"
#include "base/workers.h"
#include "modbus/operations.h"
#include "status/register_view.h"

namespace {

// What a read brought back, handed from the worker to the GUI thread.
struct RegisterReadResult {
    RegisterQuery query;
    ModbusOutcome outcome;
    std::vector<uint8_t> wire;
};

void set_status(const char* text)
{
    if (GtkWidget* label = widget_by_id("RegistersStatus"))
        gtk_label_set_text(GTK_LABEL(label), text);
}

void set_reading(bool reading)
{
    if (GtkWidget* button = widget_by_id("RegistersRead"))
        gtk_widget_set_sensitive(button, !reading);
}

uint8_t chosen_function()
{
    GtkWidget* combo = widget_by_id("RegistersFunction");
    return combo && gtk_combo_box_get_active(GTK_COMBO_BOX(combo)) == 0 ? 3 : 4;
}

void show_result(const RegisterReadResult* r)
{
    set_reading(false);
    GtkListStore* store = GTK_LIST_STORE(object_by_id("RegistersStore"));
    if (!store)
        return;
    gtk_list_store_clear(store);
    if (!r->outcome.ok()) {
        // The exchange has logged the details (the request, the time-out).
        int code = r->outcome.exception_code;
        std::string text = r->outcome.failure == ModbusFailure::Exception
                               ? format("Контроллер ответил исключением %d: %s", code, exception_text(code))
                           : r->outcome.result() == ModbusResult::NoLink ? "Нет ответа: связь с Контроллером потеряна или он не ответил"
                                                               : "Ошибка чтения; подробности в журнале программы";
        set_status(text.c_str());
        return;
    }
    for (const RegisterRow& row : register_rows(r->query.start, r->wire.data(), r->query.count)) {
        GtkTreeIter it;
        gtk_list_store_append(store, &it);
        gtk_list_store_set(store, &it, 0, row.address.c_str(), 1, row.unsigned_value.c_str(), 2,
                           row.signed_value.c_str(), 3, row.hex_value.c_str(), -1);
    }
    set_status(format("Прочитано регистров: %u (функция %u, с адреса %u)", r->query.count,
                      unsigned(r->query.function), unsigned(r->query.start))
                   .c_str());
}

void registers_read_clicked(GtkButton*, gpointer)
{
    RegisterQuery q;
    q.function = chosen_function();
    q.start = static_cast<uint16_t>(spin_button_value("RegistersStart"));
    q.count = static_cast<unsigned>(spin_button_value("RegistersCount"));
    if (std::string problem = register_query_problem(q); !problem.empty()) {
        set_status(problem.c_str());
        return;
    }
    if (!app.link_open) {
        set_status("Нет подключения к Контроллеру");
        return;
    }
    set_reading(true);
    set_status("Чтение…");
    int started = worker_start(kRegistersLane, link_session_current(), [q](const WorkerContext&) {
        auto r = std::make_shared<RegisterReadResult>();
        r->query = q;
        r->wire.resize(2 * q.count);
        r->outcome = modbus_read_registers(q.start, q.count, r->wire.data(), q.function);
        run_on_gui([r] { show_result(r.get()); });
    });
    if (started != 0) {
        set_reading(false);
        set_status("Не удалось запустить чтение");
    }
}

// The count's upper bound follows the function, so a value the Controller
// would refuse cannot be asked for.
void registers_function_changed(GtkComboBox*, gpointer)
{
    GtkWidget* spin = widget_by_id("RegistersCount");
    if (!spin)
        return;
    gtk_spin_button_set_range(GTK_SPIN_BUTTON(spin), 1, register_view_max_count(chosen_function()));
}

void registers_dialog_response(GtkDialog* dialog, gint, gpointer) { gtk_widget_hide(GTK_WIDGET(dialog)); }

void show_register_viewer(GtkMenuItem*, gpointer)
{
    // The description's range is not the function's: set it before the first read.
    registers_function_changed(nullptr, nullptr);
    if (GtkWidget* dialog = widget_by_id("RegistersDialog"))
        gtk_window_present(GTK_WINDOW(dialog));
}

}  // namespace

void register_viewer_register_handlers()
{
    register_handler("show_register_viewer", G_CALLBACK(show_register_viewer));
    register_handler("registers_read_clicked", G_CALLBACK(registers_read_clicked));
    register_handler("registers_function_changed", G_CALLBACK(registers_function_changed));
    register_handler("registers_dialog_response", G_CALLBACK(registers_dialog_response));
    register_handler("gtk_widget_hide_on_delete", G_CALLBACK(gtk_widget_hide_on_delete));
}
