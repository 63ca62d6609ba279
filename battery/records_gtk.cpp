#include "battery/records_gtk.h"

#include <gtk/gtk.h>

#include "gui/handlers.h"
#include "gui/widgets.h"
#include "base/app_state.h"
#include "battery/records_read.h"
#include "registers/settings_store.h"
#include "status/poll.h"

GtkListStore* battery_records_store()
{
    GObject* object = object_by_id("TestsDischargesListStore");
    return object && GTK_IS_LIST_STORE(object) ? GTK_LIST_STORE(object) : nullptr;
}

void battery_records_progress(const std::string& text)
{
    GtkWidget* bar = widget_by_id("statusbar1");
    if (!bar || !GTK_IS_STATUSBAR(bar))
        return;
    guint context = gtk_statusbar_get_context_id(GTK_STATUSBAR(bar), "records");
    gtk_statusbar_pop(GTK_STATUSBAR(bar), context);
    if (!text.empty())
        gtk_statusbar_push(GTK_STATUSBAR(bar), context, text.c_str());
}

void battery_records_controls_update()
{
    bool can_read = app.link_open && !records_reading();
    for (const char* id : {"BatteryTestsRead", "BatteryDischargesRead"})
        if (GtkWidget* button = widget_by_id(id))
            gtk_widget_set_sensitive(button, can_read);
}

namespace {

void fill_list(const RecordListRead& result, LinkSession session)
{
    GtkListStore* store = battery_records_store();
    // A link that ended meanwhile has emptied the list already.
    if (!store || !link_session_live(session))
        return;
    gtk_list_store_clear(store);
    for (const RecordRow& row : result.rows) {
        GtkTreeIter iter;
        gtk_list_store_append(store, &iter);
        gtk_list_store_set(store, &iter, kName, row.name.c_str(), kDescr, row.descriptor, kDate, row.date.c_str(),
                           kLength, row.length.c_str(), kStatus, row.status.c_str(), kCapacity,
                           row.capacity.c_str(), kVoltage, row.voltage.c_str(), kTemperature,
                           row.temperature.c_str(), kIndex, row.file, kConn, row.groups, kMedCurrent,
                           row.mean_current.c_str(), kStart, guint(row.start), kPoints, row.points, -1);
    }
}

void read_list(RecordKind kind)
{
    int layout = status_layout_in_force();
    SettingsImage settings = settings_device_copy(layout);
    if (!app.link_open || records_reading())
        return;
    GtkListStore* store = battery_records_store();
    if (store)
        gtk_list_store_clear(store);
    if (GObject* column = object_by_id("TestTableLabel"); column && GTK_IS_TREE_VIEW_COLUMN(column))
        gtk_tree_view_column_set_title(GTK_TREE_VIEW_COLUMN(column), kind == RecordKind::Test ? "Тест" : "Разряд");
    int16_t zone = settings_s16(settings, SettingsField::Timezone);
    bool summer = settings_u16(settings, SettingsField::SummerTime) & settings_bits::kSummerTime;
    record_list_read_start(kind, zone, summer, {battery_records_progress, fill_list});
    battery_records_controls_update();
}

void BatteryReadTests(GtkButton*, gpointer) { read_list(RecordKind::Test); }
void BatteryReadDischarges(GtkButton*, gpointer) { read_list(RecordKind::Discharge); }

}  // namespace

void battery_records_register_handlers()
{
    register_handler("BatteryReadTests", G_CALLBACK(BatteryReadTests));
    register_handler("BatteryReadDischarges", G_CALLBACK(BatteryReadDischarges));
    records_on_idle(battery_records_controls_update);
}

void battery_records_reset()
{
    if (GtkListStore* store = battery_records_store())
        gtk_list_store_clear(store);
    battery_records_progress("");
    battery_records_controls_update();
}
