#include "status/commands_gtk.h"

#include <ctime>

#include <gtk/gtk.h>

#include "app/gtk_ui.h"
#include "app/handlers.h"
#include "app/widgets.h"
#include "link/connection_gtk.h"
#include "status/commands_run.h"

namespace {

void send(ServiceCommand command)
{
    if (ask_monitoring_password())
        service_command_start(command);
}

void SyncContactors_Button(GtkButton*, gpointer) { send(ServiceCommand::SyncContactors); }
void BatTestOn_Button(GtkButton*, gpointer) { send(ServiceCommand::BatteryTestOn); }
void BatTestOff_Button(GtkButton*, gpointer) { send(ServiceCommand::BatteryTestOff); }
void EqChargeOn_Button(GtkButton*, gpointer) { send(ServiceCommand::EqChargeOn); }
void EqChargeOff_Button(GtkButton*, gpointer) { send(ServiceCommand::EqChargeOff); }

int spin_value(const char* id)
{
    GtkWidget* spin = widget_by_id(id);
    if (!spin || !GTK_IS_SPIN_BUTTON(spin))
        return 0;
    // A value typed but not yet confirmed with Enter counts too.
    gtk_spin_button_update(GTK_SPIN_BUTTON(spin));
    return gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(spin));
}

void SetTime_Button(GtkButton*, gpointer)
{
    GtkWidget* calendar = widget_by_id("ToolsCalendar");
    if (!calendar)
        return;
    guint year = 0, month = 0, day = 0;
    gtk_calendar_get_date(GTK_CALENDAR(calendar), &year, &month, &day);
    std::optional<uint32_t> seconds =
        clock_seconds_from_local(int(year), int(month), int(day), spin_value("ToolsTimeHours"),
                                 spin_value("ToolsTimeMinutes"), spin_value("ToolsTimeSeconds"));
    // The Controller counts unsigned 32-bit seconds from 1970: a date it cannot
    // hold would be sent as some other date.
    if (!seconds) {
        show_message(GTK_MESSAGE_INFO, "%s",
                     "Часы контроллера не могут показать это время.\n"
                     "Выберите дату от 1 января 1970 года до 7 февраля 2106 года.");
        return;
    }
    if (ask_monitoring_password())
        clock_command_start(*seconds);
}

void GetComputerTime_Button(GtkButton*, gpointer)
{
    time_t now = time(nullptr);
    struct tm local {};
    localtime_r(&now, &local);
    const struct {
        const char* id;
        int value;
    } spins[] = {{"ToolsTimeHours", local.tm_hour}, {"ToolsTimeMinutes", local.tm_min}, {"ToolsTimeSeconds", local.tm_sec}};
    for (const auto& s : spins)
        if (GtkWidget* spin = widget_by_id(s.id); spin && GTK_IS_SPIN_BUTTON(spin))
            gtk_spin_button_set_value(GTK_SPIN_BUTTON(spin), s.value);
    if (GtkWidget* calendar = widget_by_id("ToolsCalendar"); calendar && GTK_IS_CALENDAR(calendar)) {
        gtk_calendar_select_day(GTK_CALENDAR(calendar), guint(local.tm_mday));
        gtk_calendar_select_month(GTK_CALENDAR(calendar), guint(local.tm_mon), guint(local.tm_year + 1900));
    }
}

}  // namespace

void service_commands_register_handlers()
{
    register_handler("SyncContactors_Button", G_CALLBACK(SyncContactors_Button));
    register_handler("BatTestOn_Button", G_CALLBACK(BatTestOn_Button));
    register_handler("BatTestOff_Button", G_CALLBACK(BatTestOff_Button));
    register_handler("EqChargeOn_Button", G_CALLBACK(EqChargeOn_Button));
    register_handler("EqChargeOff_Button", G_CALLBACK(EqChargeOff_Button));
    register_handler("SetTime_Button", G_CALLBACK(SetTime_Button));
    register_handler("GetComputerTime_Button", G_CALLBACK(GetComputerTime_Button));
}
