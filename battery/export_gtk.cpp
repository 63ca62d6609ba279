#include "battery/export_gtk.h"

#include <cerrno>

#include <gtk/gtk.h>

#include "gui/helpers.h"
#include "gui/handlers.h"
#include "gui/widgets.h"
#include "base/app_state.h"
#include "base/log.h"
#include "battery/records_gtk.h"
#include "battery/records_read.h"
#include "battery/workbook.h"
#include "events/spreadsheet_gtk.h"
#include "registers/settings_store.h"
#include "status/poll.h"

namespace {

// The record the user double-clicked.
struct ListedRecord {
    int file = 0;
    uint16_t descriptor = 0;
    uint32_t start = 0;
    int points = 0;
};

void save(const RecordFile& record, const ListedRecord& listed, const RecordSettings& settings)
{
    bool test = record_kind_of_file(record.file) == RecordKind::Test;
    // The record was there when the list was read; the Controller may have
    // emptied its slot since, or reused it for a new record.
    if (record.sections == 0) {
        show_message(GTK_MESSAGE_INFO, "%s",
                     test ? "Контроллер больше не хранит этот батарейный тест: сохранять нечего.\n"
                            "Прочитайте список тестов еще раз."
                          : "Контроллер больше не хранит этот разряд: сохранять нечего.\n"
                            "Прочитайте список разрядов еще раз.");
        return;
    }
    if (!record_is_listed(record, listed.descriptor, listed.start)) {
        show_message(GTK_MESSAGE_INFO, "%s", "Контроллер заменил эту запись; прочитайте список еще раз");
        return;
    }
    GtkWidget* dialog = gtk_file_chooser_dialog_new(test ? "Сохранить батарейный тест" : "Сохранить разряд",
                                                    main_window(), GTK_FILE_CHOOSER_ACTION_SAVE,
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

    spreadsheet_save(
        shown, [&](SpreadsheetWriter& writer) { record_workbook_write(writer, record, settings); },
        test ? "Батарейный тест сохранен в файл '%s'\n" : "Разряд сохранен в файл '%s'\n");
}

void TestRowActive(GtkTreeView*, GtkTreePath* path, GtkTreeViewColumn*, gpointer)
{
    GtkListStore* store = battery_records_store();
    GtkTreeIter iter;
    if (!store || !gtk_tree_model_get_iter(GTK_TREE_MODEL(store), &iter, path))
        return;
    gint file = 0, descriptor = 0, points = 0;
    guint start = 0;
    gtk_tree_model_get(GTK_TREE_MODEL(store), &iter, kIndex, &file, kDescr, &descriptor, kStart, &start, kPoints,
                       &points, -1);
    ListedRecord listed{file, uint16_t(descriptor), start, points};
    // The settings as they are at the double click describe the record.
    RecordSettings settings = record_settings_from(settings_device_copy(status_layout_in_force()));
    // A read in progress shows its progress in the status line meanwhile.
    if (!app.link_open || records_reading())
        return;
    record_file_read_start(file, points,
                           {battery_records_progress,
                            [settings, listed](const RecordFile& record, int result, LinkSession session) {
                                if (result == 0 && link_session_live(session))
                                    save(record, listed, settings);
                            }});
    battery_records_controls_update();
}

}  // namespace

void battery_export_register_handlers() { register_handler("TestRowActive", G_CALLBACK(TestRowActive)); }
