#include "settings/file_gtk.h"

#include <gtk/gtk.h>

#include <ctime>
#include <string>

#include "app/gtk_ui.h"
#include "app/handlers.h"
#include "app/widgets.h"
#include "base/app_state.h"
#include "base/log.h"
#include "base/text_format.h"
#include "base/ui_hooks.h"
#include "settings/apply_plan.h"
#include "settings/page_gtk.h"
#include "settings/settings_file.h"
#include "settings/settings_store.h"
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

std::string now_text()
{
    char buf[32];
    std::time_t t = std::time(nullptr);
    std::tm tm{};
    localtime_r(&t, &tm);
    std::strftime(buf, sizeof buf, "%Y-%m-%d %H:%M:%S", &tm);
    return buf;
}

std::string escaped(const std::string& text)
{
    gchar* e = g_markup_escape_text(text.c_str(), -1);
    std::string s = e;
    g_free(e);
    return s;
}

bool page_ready()
{
    if (settings_page_loaded() && app.link_open)
        return true;
    show_message(GTK_MESSAGE_WARNING, "%s", "Настройки Контроллера еще не прочитаны: подключитесь к Контроллеру.");
    return false;
}

// A file name chosen in a chooser; empty when cancelled.
std::string choose_file(bool save, const std::string& proposed)
{
    GtkWidget* dialog = gtk_file_chooser_dialog_new(
        save ? "Сохранить настройки" : "Загрузить настройки", GTK_WINDOW(w.main_window),
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
    if (save) {
        gtk_file_chooser_set_do_overwrite_confirmation(GTK_FILE_CHOOSER(dialog), TRUE);
        gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(dialog), proposed.c_str());
    }
    std::string name;
    if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
        gchar* f = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog));
        name = f ? f : "";
        g_free(f);
    }
    gtk_widget_destroy(dialog);
    return name;
}

// `edited` becomes the edit copy of the page's layout and shows as edits.
void show_as_edits(const SettingsImage& edited)
{
    int layout = settings_page_layout();
    {
        std::lock_guard lock(app.settings_lock);
        settings_edit(layout) = edited;
    }
    settings_page_refill(false);
    if (!settings_changes(settings_device_copy(layout), edited).empty())
        settings_page_mark_edited();
}

} // namespace

extern "C" {

void SaveSettingsFile(GtkMenuItem*, gpointer)
{
    if (!page_ready())
        return;
    SettingsImage device = settings_device_copy(settings_page_layout());
    std::string date = now_text();
    std::string name = choose_file(true, settings_file_name(device, date));
    if (name.empty())
        return;
    std::string text = settings_file_text(device, status_identification_register(1), date);
    GError* error = nullptr;
    if (!g_file_set_contents(name.c_str(), text.data(), static_cast<gssize>(text.size()), &error)) {
        show_message(GTK_MESSAGE_ERROR, "Не удалось сохранить настройки в файл «%s»: %s", name.c_str(),
                     error ? error->message : "");
        if (error)
            g_error_free(error);
        return;
    }
    log_message(norm_text, "Настройки сохранены в файл %s\n", name.c_str());
}

void LoadSettingsFile(GtkMenuItem*, gpointer)
{
    if (!page_ready())
        return;
    std::string name = choose_file(false, "");
    if (name.empty())
        return;
    gchar* data = nullptr;
    gsize size = 0;
    GError* error = nullptr;
    if (!g_file_get_contents(name.c_str(), &data, &size, &error)) {
        show_message(GTK_MESSAGE_ERROR, "Не удалось прочитать файл «%s»: %s", name.c_str(), error ? error->message : "");
        if (error)
            g_error_free(error);
        return;
    }
    SettingsFile file;
    std::string message;
    int read = settings_file_read(data, size, file, message);
    g_free(data);
    if (read != 0) {
        show_message(GTK_MESSAGE_ERROR, "Файл «%s» не загружен.\n%s", name.c_str(), message.c_str());
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
                              file.header.serial, escaped(file.header.site).c_str(), serial) != GTK_RESPONSE_YES)
        return;
    SettingsFileLoad load;
    if (settings_file_load(file, settings_edit_copy(layout), other, load, message) != 0) {
        show_message(GTK_MESSAGE_ERROR, "Файл «%s» не загружен.\n%s", name.c_str(), message.c_str());
        return;
    }
    show_as_edits(load.image);
    log_message(norm_text, "Настройки загружены из файла %s\n", name.c_str());
    if (!load.missing.empty()) {
        std::string list;
        for (const std::string& key : load.missing)
            list += "\n" + key;
        show_message(GTK_MESSAGE_INFO, "Этих настроек файла нет у подключенного Контроллера, они не загружены:%s",
                     list.c_str());
    }
}

} // extern "C"

void settings_file_register_handlers()
{
    register_handler("SaveSettingsFile", G_CALLBACK(SaveSettingsFile));
    register_handler("LoadSettingsFile", G_CALLBACK(LoadSettingsFile));
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
    show_as_edits(settings_carry_edits(g_kept.base, g_kept.edited, device));
}

} // namespace

void settings_offer_kept_edits()
{
    // Asked later on the GUI thread: the page load runs under a worker's lock.
    if (g_kept.present)
        ui().post(offer_on_gui, nullptr);
}
