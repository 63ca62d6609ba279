#include "battery/export_gtk.h"

#include <gtk/gtk.h>

#include "gui/helpers.h"
#include "gui/handlers.h"
#include "gui/widgets.h"
#include "base/app_state.h"
#include "base/log.h"
#include "battery/record_export.h"
#include "battery/records_gtk.h"
#include "battery/records_read.h"
#include "battery/workbook.h"

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
    RecordKind kind = record_kind_of_file(record.file);
    bool test = kind == RecordKind::Test;
    // The record was there when the list was read; the Controller may have
    // emptied its slot since, or reused it for a new record.
    RecordExportState state = record_export_state(record, listed.descriptor, listed.start);
    if (state != RecordExportState::Ready) {
        show_message(GTK_MESSAGE_INFO, "%s", record_export_state_text(state, kind).c_str());
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

    std::string error;
    if (record_export_save(shown, record, settings, &error) != 0) {
        log_message(err_text, "%s\n", error.c_str());
        show_message(GTK_MESSAGE_ERROR, "%s\nФайл не сохранен.", error.c_str());
        return;
    }
    log_message(norm_text, "%s\n", record_export_saved_text(kind, shown).c_str());
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
    RecordSettings settings = record_settings_now();
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
