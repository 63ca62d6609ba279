#include "events/journal_gtk.h"

#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "app/gtk_ui.h"
#include "app/handlers.h"
#include "app/widgets.h"
#include "base/app_state.h"
#include "base/log.h"
#include "events/journal_export.h"
#include "events/journal_read.h"
#include "events/spreadsheet_gtk.h"

namespace {

enum JournalColumn { kImage = 0, kDescriptor = 2, kDate = 3, kKind = 5, kCode = 6, kEvent = 7 };
constexpr guint kTickMs = 100;
guint g_tick = 0;

GtkListStore* journal_store()
{
    GObject* object = object_by_id("JournalListStore");
    return object && GTK_IS_LIST_STORE(object) ? GTK_LIST_STORE(object) : nullptr;
}

void set_visible(const char* id, bool visible)
{
    if (GtkWidget* widget = widget_by_id(id))
        visible ? gtk_widget_show(widget) : gtk_widget_hide(widget);
}

// Rows the thread has decoded since the last tick go in as one batch.
void append_new_rows()
{
    std::vector<JournalRow> rows = journal_take_rows();
    GtkListStore* store = journal_store();
    if (!store || rows.empty())
        return;
    GtkTreeIter iter;
    for (const JournalRow& row : rows)
        gtk_list_store_insert_with_values(store, &iter, G_MAXINT, kImage, row.icon, kDescriptor, row.descriptor, kDate,
                                          row.date.c_str(), kKind, row.kind_text, kCode, row.code, kEvent,
                                          row.event.c_str(), -1);
}

void set_progress(double fraction, const char* text)
{
    if (GtkWidget* bar = widget_by_id("JournalProgress")) {
        gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(bar), fraction);
        gtk_progress_bar_set_text(GTK_PROGRESS_BAR(bar), text);
    }
}

void set_sensitive(const char* id, bool sensitive)
{
    if (GtkWidget* widget = widget_by_id(id))
        gtk_widget_set_sensitive(widget, sensitive);
}

}  // namespace

void journal_controls_update() { set_sensitive("ReadJournal", app.link_open && !journal_busy()); }

namespace {

// Every 100 ms while a read is busy; the first tick after it has ended takes
// the last rows, hides the panel and ends the timer.
gboolean journal_progress_tick(gpointer)
{
    bool busy = journal_busy();
    append_new_rows();
    if (busy) {
        JournalProgressView p = journal_progress();
        set_progress(double(p.done) / kJournalReadCount, p.text.c_str());
        return TRUE;
    }
    set_progress(0, "");
    set_visible("JournalProgressPanel", false);
    g_tick = 0;
    journal_controls_update();
    return FALSE;
}

std::vector<JournalExportRow> rows_of_store(GtkListStore* store)
{
    std::vector<JournalExportRow> rows;
    GtkTreeModel* model = GTK_TREE_MODEL(store);
    GtkTreeIter iter;
    for (bool valid = gtk_tree_model_get_iter_first(model, &iter); valid;
         valid = gtk_tree_model_iter_next(model, &iter)) {
        guint descriptor = 0;
        gchar *kind = nullptr, *date = nullptr, *event = nullptr;
        gtk_tree_model_get(model, &iter, kDescriptor, &descriptor, kKind, &kind, kDate, &date, kEvent, &event, -1);
        rows.push_back({descriptor, kind ? kind : "", date ? date : "", event ? event : ""});
        g_free(kind);
        g_free(date);
        g_free(event);
    }
    return rows;
}

// The chosen file name in UTF-8, "" when the dialog was not accepted.
std::string ask_export_file(uint32_t identification_serial)
{
    GtkWidget* dialog = gtk_file_chooser_dialog_new(
        "Экспорт журнала событий", w.main_window ? GTK_WINDOW(w.main_window) : nullptr, GTK_FILE_CHOOSER_ACTION_SAVE,
        GTK_STOCK_CANCEL, GTK_RESPONSE_CANCEL, GTK_STOCK_SAVE, GTK_RESPONSE_ACCEPT, nullptr);
    set_accessible_id(dialog, "JournalExportDialog");
    gtk_file_chooser_set_do_overwrite_confirmation(GTK_FILE_CHOOSER(dialog), TRUE);
    gtk_file_chooser_set_current_folder(GTK_FILE_CHOOSER(dialog), ".");
    gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(dialog),
                                      journal_export_file_name(identification_serial).c_str());
    std::string name;
    if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
        if (gchar* file = gtk_file_chooser_get_filename(GTK_FILE_CHOOSER(dialog))) {
            gchar* utf8 = g_filename_to_utf8(file, -1, nullptr, nullptr, nullptr);
            name = utf8 ? utf8 : "";
            g_free(utf8);
            g_free(file);
        }
    }
    gtk_widget_destroy(dialog);
    return name;
}

}  // namespace

extern "C" {

void GetJournal_Button(GtkButton*, gpointer)
{
    if (journal_read_start() != 0)
        return;
    if (GtkListStore* store = journal_store())
        gtk_list_store_clear(store);
    set_progress(0, "");
    set_visible("JournalScroll", true);
    set_visible("JournalProgressPanel", true);
    if (!g_tick)
        g_tick = gdk_threads_add_timeout(kTickMs, journal_progress_tick, nullptr);
    journal_controls_update();
}

void StopReadJournal_Button(GtkButton*, gpointer) { journal_read_stop(); }

void JournalExport_Button(GtkButton*, gpointer)
{
    JournalSource source = journal_source();
    GtkListStore* store = journal_store();
    // Rows a finished read left for the next tick belong in the file too.
    if (!journal_busy())
        append_new_rows();
    // A read under way comes first: its rows are not all there yet.
    if (journal_busy()) {
        show_message(GTK_MESSAGE_INFO, "Дождитесь завершения чтения журнала событий");
        return;
    }
    if (!store || gtk_tree_model_iter_n_children(GTK_TREE_MODEL(store), nullptr) == 0) {
        show_message(GTK_MESSAGE_INFO, "%s",
                     journal_read_ended() ? "Журнал не содержит записей" : "Сначала необходимо прочитать журнал событий");
        return;
    }
    std::vector<JournalExportRow> rows = rows_of_store(store);
    std::string name = ask_export_file(source.identification_serial);
    if (name.empty())
        return;
    spreadsheet_save(
        name, [&](SpreadsheetWriter& writer) { journal_export_write(writer, source.site, source.serial, rows); },
        "Журнал событий сохранен в файл '%s'\n");
}

}  // extern "C"

void journal_register_handlers()
{
    register_handler("GetJournal_Button", G_CALLBACK(GetJournal_Button));
    register_handler("StopReadJournal_Button", G_CALLBACK(StopReadJournal_Button));
    register_handler("JournalExport_Button", G_CALLBACK(JournalExport_Button));
}
