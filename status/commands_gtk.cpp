#include "status/commands_gtk.h"

#include <ctime>
#include <string>

#include <gtk/gtk.h>

#include "gui/helpers.h"
#include "gui/handlers.h"
#include "gui/widgets.h"
#include "base/app_state.h"
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

std::optional<uint32_t> chosen_seconds()
{
    GtkWidget* calendar = widget_by_id("ToolsCalendar");
    if (!calendar)
        return std::nullopt;
    guint year = 0, month = 0, day = 0;
    gtk_calendar_get_date(GTK_CALENDAR(calendar), &year, &month, &day);
    return clock_seconds_from_local(int(year), int(month), int(day), spin_button_value("ToolsTimeHours"),
                                    spin_button_value("ToolsTimeMinutes"), spin_button_value("ToolsTimeSeconds"));
}

bool following_computer_clock();
void fill_computer_time();

void SetTime_Button(GtkButton*, gpointer)
{
    std::optional<uint32_t> seconds = chosen_seconds();
    // The Controller counts unsigned 32-bit seconds from 1970: a date it cannot
    // hold would be sent as some other date.
    if (!seconds) {
        show_message(GTK_MESSAGE_INFO, "%s",
                     "Часы контроллера не могут показать это время.\n"
                     "Выберите дату от 1 января 1970 года до 7 февраля 2106 года.");
        return;
    }
    if (!ask_monitoring_password())
        return;
    // Fields that follow the computer's clock mean "now", also after the
    // seconds the password took.
    if (following_computer_clock()) {
        fill_computer_time();
        seconds = chosen_seconds();
    }
    if (seconds)
        clock_command_start(*seconds);
}

// The clock fields follow the computer's clock from the moment the page is
// shown (or «Время компьютера» is pressed) until the user changes one: a
// click on «Установить часы» then sets the time the user sees, never a time
// left standing from long ago.
constexpr guint kClockTickMs = 200;
bool g_filling = false;   // the fields are being set by the program, not the user
guint g_clock_tick = 0;
time_t g_shown = 0;

void fill_computer_time()
{
    time_t now = time(nullptr);
    g_shown = now;
    struct tm local {};
    localtime_r(&now, &local);
    g_filling = true;
    const struct {
        const char* id;
        int value;
    } spins[] = {{"ToolsTimeHours", local.tm_hour}, {"ToolsTimeMinutes", local.tm_min}, {"ToolsTimeSeconds", local.tm_sec}};
    for (const auto& s : spins)
        if (GtkWidget* spin = widget_by_id(s.id); spin && GTK_IS_SPIN_BUTTON(spin))
            gtk_spin_button_set_value(GTK_SPIN_BUTTON(spin), s.value);
    if (GtkWidget* calendar = widget_by_id("ToolsCalendar"); calendar && GTK_IS_CALENDAR(calendar)) {
        guint year = 0, month = 0, day = 0;
        gtk_calendar_get_date(GTK_CALENDAR(calendar), &year, &month, &day);
        if (day != guint(local.tm_mday))
            gtk_calendar_select_day(GTK_CALENDAR(calendar), guint(local.tm_mday));
        if (month != guint(local.tm_mon) || year != guint(local.tm_year + 1900))
            gtk_calendar_select_month(GTK_CALENDAR(calendar), guint(local.tm_mon), guint(local.tm_year + 1900));
    }
    g_filling = false;
}

gboolean clock_tick(gpointer)
{
    if (time(nullptr) != g_shown)
        fill_computer_time();
    return TRUE;
}

bool following_computer_clock() { return g_clock_tick != 0; }

void stop_following()
{
    if (g_clock_tick)
        g_source_remove(g_clock_tick);
    g_clock_tick = 0;
}

void follow_computer_clock()
{
    fill_computer_time();
    if (!g_clock_tick)
        g_clock_tick = gdk_threads_add_timeout(kClockTickMs, clock_tick, nullptr);
}

void GetComputerTime_Button(GtkButton*, gpointer) { follow_computer_clock(); }
void ToolsClock_map(GtkWidget*, gpointer) { follow_computer_clock(); }
void ToolsClock_unmap(GtkWidget*, gpointer) { stop_following(); }

void ToolsClock_edited(GtkWidget*, gpointer)
{
    if (!g_filling)
        stop_following();
}

// A value the user set by the arrows, the mouse wheel, the Up and Down keys
// or an assistive technology reaches the spin button's value, not its typed
// text; its output handler below then rewrites the text as the program's own
// filling, so it is the value that tells the user's change.
void ToolsClock_value_changed(GtkSpinButton*, gpointer)
{
    if (!g_filling)
        stop_following();
}

// "20:20:03": each field with two digits.
gboolean ToolsClock_output(GtkSpinButton* spin, gpointer)
{
    std::string text = clock_field_text(gtk_spin_button_get_value_as_int(spin));
    if (text != gtk_entry_get_text(GTK_ENTRY(spin))) {
        bool filling = g_filling;
        g_filling = true;
        gtk_entry_set_text(GTK_ENTRY(spin), text.c_str());
        g_filling = filling;
    }
    return TRUE;
}

}  // namespace

void service_commands_controls_update()
{
    for (const char* id : {"ContactorsSynchronize", "BatteryTestStart", "BatteryTestStop", "BatteryVZStart",
                           "BatteryVZStop", "ToolsSetTime"})
        if (GtkWidget* button = widget_by_id(id))
            gtk_widget_set_sensitive(button, app.link_open != 0);
}

void service_commands_register_handlers()
{
    register_handler("SyncContactors_Button", G_CALLBACK(SyncContactors_Button));
    register_handler("BatTestOn_Button", G_CALLBACK(BatTestOn_Button));
    register_handler("BatTestOff_Button", G_CALLBACK(BatTestOff_Button));
    register_handler("EqChargeOn_Button", G_CALLBACK(EqChargeOn_Button));
    register_handler("EqChargeOff_Button", G_CALLBACK(EqChargeOff_Button));
    register_handler("SetTime_Button", G_CALLBACK(SetTime_Button));
    register_handler("GetComputerTime_Button", G_CALLBACK(GetComputerTime_Button));
    register_handler("ToolsClock_map", G_CALLBACK(ToolsClock_map));
    register_handler("ToolsClock_unmap", G_CALLBACK(ToolsClock_unmap));
    register_handler("ToolsClock_edited", G_CALLBACK(ToolsClock_edited));
    register_handler("ToolsClock_value_changed", G_CALLBACK(ToolsClock_value_changed));
    register_handler("ToolsClock_output", G_CALLBACK(ToolsClock_output));
}
