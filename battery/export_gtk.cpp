#include "battery/export_gtk.h"

#include <cerrno>

#include <gtk/gtk.h>

#include "app/gtk_ui.h"
#include "app/handlers.h"
#include "app/widgets.h"
#include "base/app_state.h"
#include "base/log.h"
#include "battery/records_gtk.h"
#include "battery/records_read.h"
#include "battery/workbook.h"
#include "settings/settings_store.h"
#include "status/poll.h"

namespace {

void save(const RecordFile& record, const RecordSettings& settings)
{
    bool test = record_kind_of_file(record.file) == RecordKind::Test;
    // The record was there when the list was read; the Controller may have
    // reused its slot since.
    if (record.sections == 0) {
        show_message(GTK_MESSAGE_INFO, "%s",
                     test ? "Контроллер больше не хранит этот батарейный тест: сохранять нечего.\n"
                            "Прочитайте список тестов еще раз."
                          : "Контроллер больше не хранит этот разряд: сохранять нечего.\n"
                            "Прочитайте список разрядов еще раз.");
        return;
    }
    GtkWidget* dialog = gtk_file_chooser_dialog_new(test ? "Сохранить батарейный тест" : "Сохранить разряд",
                                                    GTK_WINDOW(w.main_window), GTK_FILE_CHOOSER_ACTION_SAVE,
                                                    GTK_STOCK_CANCEL, GTK_RESPONSE_CANCEL, GTK_STOCK_SAVE,
                                                    GTK_RESPONSE_ACCEPT, nullptr);
    gtk_file_chooser_set_do_overwrite_confirmation(GTK_FILE_CHOOSER(dialog), TRUE);
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dialog), ".");
    gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(dialog), record_export_name(record).c_str());
    if (gtk_dialog_run(GTK_DIALOG(dialog)) != GTK_RESPONSE_ACCEPT) {
        gtk_widget_destroy(dialog);
        return;
    }
    gchar* chosen = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog));
    gtk_widget_destroy(dialog);
    if (!chosen)
        return;
    gchar* name = g_filename_to_utf8(chosen, -1, nullptr, nullptr, nullptr);
    std::string shown = name ? name : chosen;
    g_free(name);
    g_free(chosen);

    SpreadsheetFile file;
    if (int e = spreadsheet_create(shown.c_str(), file)) {
        log_message(err_text, "Ошибка открытия файла '%s': %s\n", shown.c_str(), g_strerror(e));
        return;
    }
    record_workbook_write(file.writer, record, settings);
    if (int e = spreadsheet_close(file))
        log_message(err_text, "Ошибка записи файла '%s': %s\n", shown.c_str(), g_strerror(e));
}

void TestRowActive(GtkTreeView*, GtkTreePath* path, GtkTreeViewColumn*, gpointer)
{
    GtkListStore* store = battery_records_store();
    GtkTreeIter iter;
    if (!store || !gtk_tree_model_get_iter(GTK_TREE_MODEL(store), &iter, path))
        return;
    gint file = 0;
    gtk_tree_model_get(GTK_TREE_MODEL(store), &iter, kIndex, &file, -1);
    // The settings as they are at the double click describe the record.
    RecordSettings settings = record_settings_from(settings_device_copy(status_layout_in_force()));
    if (!app.link_open || records_reading())
        return;
    record_file_read_start(file, {battery_records_progress,
                                  [settings](const RecordFile& record, int result, LinkSession session) {
                                      if (result == 0 && link_session_live(session))
                                          save(record, settings);
                                  }});
}

}  // namespace

void battery_export_register_handlers() { register_handler("TestRowActive", G_CALLBACK(TestRowActive)); }
