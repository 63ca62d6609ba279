#include "settings/file_gtk.h"

#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "gui/helpers.h"
#include "gui/handlers.h"
#include "gui/widgets.h"
#include "base/app_state.h"
#include "base/log.h"
#include "base/text_format.h"
#include "base/ui_hooks.h"
#include "registers/settings_store.h"
#include "settings/apply.h"
#include "settings/apply_plan.h"
#include "settings/edit_gtk.h"
#include "settings/file_io.h"
#include "settings/page_gtk.h"
#include "settings/settings_file.h"
#include "settings/setting_units.h"
#include "status/poll.h"

namespace {

// Edits lost with a link, for this session only.
struct KeptEdits {
    bool present = false;
    uint32_t serial = 0;
    SettingsImage base;   // the device copy they were made against
    SettingsImage edited;
};
KeptEdits g_kept;
// Values the last file load brought into range, marked in the review of
// the Controller (serial number, layout) it was loaded onto.
struct Limited {
    uint32_t serial = 0;
    int layout = 0;
    std::vector<SettingsLimited> values;
};
Limited g_limited;

constexpr const char* kApplyRunning =
    "Идет запись настроек в Контроллер. Дождитесь ее окончания, затем повторите.";

// A file saved or loaded while settings are written would show or keep
// values the Controller may not hold: neither starts then.
bool page_ready()
{
    if (settings_apply_running()) {
        show_message(GTK_MESSAGE_WARNING, "%s", kApplyRunning);
        return false;
    }
    if (settings_page_loaded() && app.link_open)
        return true;
    show_message(GTK_MESSAGE_WARNING, "%s", "Настройки Контроллера еще не прочитаны: подключитесь к Контроллеру.");
    return false;
}

// The two menu items follow the write: insensitive while it runs. Checked
// on a light timer and again whenever the «Файл» menu opens.
void sync_menu_items()
{
    bool free = !settings_apply_running();
    for (const char* id : {"menuSaveSettings", "menuLoadSettings"})
        if (GtkWidget* item = widget_by_id(id); item && bool(gtk_widget_get_sensitive(item)) != free)
            gtk_widget_set_sensitive(item, free);
}

gboolean sync_menu(gpointer)
{
    static bool on_open = false;
    if (GtkWidget* file_menu = widget_by_id("menuitem1"); file_menu && !on_open) {
        g_signal_connect(file_menu, "activate", G_CALLBACK(+[](GtkMenuItem*, gpointer) { sync_menu_items(); }),
                         nullptr);
        on_open = true;
    }
    sync_menu_items();
    return TRUE;
}

// A file name chosen in a chooser; empty when cancelled. `passwords`, when
// given, is the state of the save dialog's «Сохранять пароли» (off at first).
std::string choose_file(bool save, const std::string& proposed, bool* passwords = nullptr)
{
    GtkWidget* dialog = gtk_file_chooser_dialog_new(
        save ? "Сохранить настройки" : "Загрузить настройки", main_window(),
        save ? GTK_FILE_CHOOSER_ACTION_SAVE : GTK_FILE_CHOOSER_ACTION_OPEN, GTK_STOCK_CANCEL, GTK_RESPONSE_CANCEL,
        save ? GTK_STOCK_SAVE : GTK_STOCK_OPEN, GTK_RESPONSE_ACCEPT, nullptr);
    GtkFileFilter* filter = gtk_file_filter_new();
    gtk_file_filter_set_name(filter, "Настройки RARUR (*.rarur)");
    gtk_file_filter_add_pattern(filter, "*.rarur");
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(dialog), filter);
    GtkFileFilter* all = gtk_file_filter_new();
    gtk_file_filter_set_name(all, "Все файлы");
    gtk_file_filter_add_pattern(all, "*");
    gtk_file_chooser_add_filter(GTK_FILE_CHOOSER(dialog), all);
    GtkWidget* keep_passwords = nullptr;
    if (save) {
        gtk_file_chooser_set_do_overwrite_confirmation(GTK_FILE_CHOOSER(dialog), TRUE);
        gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(dialog), proposed.c_str());
        if (passwords) {
            keep_passwords = gtk_check_button_new_with_label("Сохранять пароли");
            set_accessible_id(keep_passwords, "SettingsFilePasswords");
            gtk_widget_set_tooltip_text(keep_passwords, "Пароль настроек и пароль мониторинга будут записаны в файл "
                                                        "открытым текстом");
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(keep_passwords), FALSE);
            gtk_file_chooser_set_extra_widget(GTK_FILE_CHOOSER(dialog), keep_passwords);
        }
    }
    std::string name;
    if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
        gchar* f = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog));
        name = f ? f : "";
        g_free(f);
        if (keep_passwords)
            *passwords = gtk_toggle_button_get_active(GTK_TOGGLE_BUTTON(keep_passwords));
    }
    gtk_widget_destroy(dialog);
    return name;
}

} // namespace

extern "C" {

void SaveSettingsFile(GtkMenuItem*, gpointer)
{
    if (!page_ready())
        return;
    // A value typed and not yet committed belongs to the page's edits.
    settings_edit_commit_focus();
    int layout = settings_page_layout();
    SettingsFileOptions options;
    if (app.settings_modified) {
        GtkWidget* dialog = gtk_message_dialog_new(main_window(), GTK_DIALOG_MODAL, GTK_MESSAGE_QUESTION,
                                                   GTK_BUTTONS_NONE, "%s",
                                                   "Изменения настроек не применены. Какие настройки сохранить в "
                                                   "файл?");
        gtk_window_set_title(GTK_WINDOW(dialog), "RARUR Service");
        set_accessible_id(dialog, "QuestionDialog");
        gtk_dialog_add_buttons(GTK_DIALOG(dialog), "Отмена", GTK_RESPONSE_CANCEL, "Настройки Контроллера",
                               GTK_RESPONSE_NO, "С изменениями страницы", GTK_RESPONSE_YES, nullptr);
        gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_CANCEL);
        int answer = gtk_dialog_run(GTK_DIALOG(dialog));
        gtk_widget_destroy(dialog);
        if (answer != GTK_RESPONSE_YES && answer != GTK_RESPONSE_NO)
            return;
        options.with_edits = answer == GTK_RESPONSE_YES;
    }
    std::string date = settings_file_now();
    std::string name = choose_file(true, settings_file_name(settings_device_copy(layout), date), &options.passwords);
    if (name.empty())
        return;
    if (settings_apply_running()) {
        show_message(GTK_MESSAGE_WARNING, "%s", kApplyRunning);
        return;
    }
    // Taken as the user presses «Сохранить»: a read or an edit that came in
    // while the chooser was open belongs to the file.
    settings_page_follow_device();
    SettingsImage image = options.with_edits ? settings_edit_copy(layout) : settings_device_copy(layout);
    std::string text = settings_file_text(image, status_identification_register(1), date, options);
    std::string message;
    if (!settings_file_save(name, text, message)) {
        show_message(GTK_MESSAGE_ERROR, "%s", message.c_str());
        return;
    }
    log_message(norm_text, options.with_edits ? "Настройки с неприменёнными изменениями сохранены в файл %s\n"
                                              : "Настройки сохранены в файл %s\n",
                name.c_str());
}

void LoadSettingsFile(GtkMenuItem*, gpointer)
{
    if (!page_ready())
        return;
    // A value typed and not yet committed is an edit the question below counts.
    settings_edit_commit_focus();
    std::string name = choose_file(false, "");
    if (name.empty() || !page_ready())
        return;
    SettingsFile file;
    std::string message;
    if (!settings_file_open(name, file, message)) {
        show_message(GTK_MESSAGE_ERROR, "%s", message.c_str());
        return;
    }
    int layout = settings_page_layout();
    SettingsImage device = settings_device_copy(layout);
    uint32_t serial = settings_u32(device, SettingsField::SerialNumber);
    bool other = file.header.serial != serial;
    if (other && ask_question(GTK_MESSAGE_QUESTION, GTK_BUTTONS_YES_NO,
                              "<b>Файл сохранен с другого Контроллера</b> (серийный номер %u, %s).\n"
                              "Подключен Контроллер с серийным номером %u.\n"
                              "Загрузить настройки из файла? Серийный номер останется прежним.",
                              file.header.serial,
                              settings_markup_escaped(settings_quoted_value(file.header.site)).c_str(),
                              serial) != GTK_RESPONSE_YES)
        return;
    if (app.settings_modified &&
        ask_question(GTK_MESSAGE_QUESTION, GTK_BUTTONS_YES_NO, "%s",
                     "Изменения настроек не применены. Заменить их настройками из файла?") != GTK_RESPONSE_YES)
        return;
    // The questions ran the main loop: a write may have started, or the link ended.
    if (!page_ready())
        return;
    // Over the Controller's settings, not the page's edits: the file replaces them.
    device = settings_device_copy(layout);
    SettingsFileLoad load;
    if (settings_file_load(file, device, other, load, message) != 0) {
        show_message(GTK_MESSAGE_ERROR, "Файл «%s» не загружен.\n%s", name.c_str(), message.c_str());
        return;
    }
    settings_page_set_edits(device, load.image);
    g_limited = {serial, layout, load.limited};
    settings_file_log_load(name, file, load);
}

} // extern "C"

void settings_file_register_handlers()
{
    register_handler("SaveSettingsFile", G_CALLBACK(SaveSettingsFile));
    register_handler("LoadSettingsFile", G_CALLBACK(LoadSettingsFile));
    gdk_threads_add_timeout(200, sync_menu, nullptr);
}

void settings_file_mark_review(std::vector<SettingsChange>& changes, const SettingsImage& edit)
{
    if (edit.layout == g_limited.layout && settings_u32(edit, SettingsField::SerialNumber) == g_limited.serial)
        settings_mark_limited(changes, edit, g_limited.values);
}

void settings_keep_lost_edits()
{
    int layout = settings_page_layout();
    g_kept.base = settings_device_copy(layout);
    g_kept.edited = settings_edit_copy(layout);
    g_kept.serial = settings_u32(g_kept.base, SettingsField::SerialNumber);
    g_kept.present = true;
}

namespace {

void offer_on_gui(void*)
{
    int layout = settings_page_layout();
    if (!g_kept.present || !settings_page_loaded() || app.settings_modified || g_kept.base.layout != layout)
        return;
    SettingsImage device = settings_device_copy(layout);
    if (settings_u32(device, SettingsField::SerialNumber) != g_kept.serial)
        return;
    g_kept.present = false;
    if (!ui().ask_question("Восстановить несохраненные изменения настроек?"))
        return;
    // Setting by setting: where another client changed a setting the user
    // had edited too, the user says which value stays.
    SettingsCarried carried = settings_carry_edits(g_kept.base, g_kept.edited, device);
    settings_page_set_edits(device, carried.image, carried.conflicts);
    SettingsImage edit = carried.image;
    settings_page_settle_conflicts(edit, device);
}

} // namespace

void settings_offer_kept_edits()
{
    // Asked later on the GUI thread: the page load runs under a worker's lock.
    if (g_kept.present)
        ui().post(offer_on_gui, nullptr);
}
