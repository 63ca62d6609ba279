#include "events/journal_gtk.h"

#include <gtk/gtk.h>

#include <string>
#include <vector>

#include "gui/helpers.h"
#include "gui/handlers.h"
#include "gui/widgets.h"
#include "base/app_state.h"
#include "base/log.h"
#include "events/journal_export.h"
#include "events/journal_filter.h"
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

// What the view shows of the store: the rows the search box and the kind
// leave in view. The store keeps every row read.
GtkTreeModelFilter* journal_filter_model()
{
    GObject* object = object_by_id("JournalFilter");
    return object && GTK_IS_TREE_MODEL_FILTER(object) ? GTK_TREE_MODEL_FILTER(object) : nullptr;
}

// The search key of each row of the store, by position: rows only ever come
// in at the end and leave all at once, so a row's position is its key's.
std::vector<JournalSearchKey> g_keys;
JournalFilter g_filter;
// The decoded rows the store shows, in its order: what the export writes.
std::vector<JournalRow> g_rows;

JournalSearchKey key_of_row(GtkTreeModel* model, GtkTreeIter* iter)
{
    gchar *kind = nullptr, *date = nullptr, *event = nullptr;
    gtk_tree_model_get(model, iter, kKind, &kind, kDate, &date, kEvent, &event, -1);
    JournalSearchKey key = journal_search_key(kind ? kind : "", date ? date : "", event ? event : "");
    g_free(kind);
    g_free(date);
    g_free(event);
    return key;
}

gboolean journal_row_visible(GtkTreeModel* model, GtkTreeIter* iter, gpointer)
{
    if (!g_filter.active())
        return TRUE;
    GtkTreePath* path = gtk_tree_model_get_path(model, iter);
    int index = path && gtk_tree_path_get_depth(path) == 1 ? gtk_tree_path_get_indices(path)[0] : -1;
    gtk_tree_path_free(path);
    if (index >= 0 && size_t(index) < g_keys.size())
        return journal_filter_matches(g_filter, g_keys[index]);
    return journal_filter_matches(g_filter, key_of_row(model, iter));
}

int count_rows(GtkTreeModel* model) { return model ? gtk_tree_model_iter_n_children(model, nullptr) : 0; }

void show_filter_count()
{
    GtkTreeModelFilter* filter = journal_filter_model();
    GtkListStore* store = journal_store();
    if (GtkWidget* label = widget_by_id("JournalShown"))
        gtk_label_set_text(GTK_LABEL(label),
                           journal_filter_count_text(g_filter, count_rows(filter ? GTK_TREE_MODEL(filter) : nullptr),
                                                     count_rows(store ? GTK_TREE_MODEL(store) : nullptr))
                               .c_str());
}

void clear_rows()
{
    if (GtkListStore* store = journal_store())
        gtk_list_store_clear(store);
    g_keys.clear();
    g_rows.clear();
    show_filter_count();
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
    for (const JournalRow& row : rows) {
        // The key first: the filter asks for it as the row goes in.
        g_keys.push_back(journal_search_key(row.kind_text, row.date, row.event));
        gtk_list_store_insert_with_values(store, &iter, G_MAXINT, kImage, row.icon, kDescriptor, row.descriptor, kDate,
                                          row.date.c_str(), kKind, row.kind_text, kCode, row.code, kEvent,
                                          row.event.c_str(), -1);
    }
    g_rows.insert(g_rows.end(), std::make_move_iterator(rows.begin()), std::make_move_iterator(rows.end()));
    show_filter_count();
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
        set_progress(p.total > 0 ? double(p.done) / p.total : 0, p.text.c_str());
        return TRUE;
    }
    set_progress(0, "");
    set_visible("JournalProgressPanel", false);
    g_tick = 0;
    journal_controls_update();
    return FALSE;
}

// The chosen file name in UTF-8, "" when the dialog was not accepted.
std::string ask_export_file(uint32_t identification_serial)
{
    GtkWidget* dialog = gtk_file_chooser_dialog_new(
        "Экспорт журнала событий", main_window(), GTK_FILE_CHOOSER_ACTION_SAVE,
        GTK_STOCK_CANCEL, GTK_RESPONSE_CANCEL, GTK_STOCK_SAVE, GTK_RESPONSE_ACCEPT, nullptr);
    set_accessible_id(dialog, "JournalExportDialog");
    gtk_file_chooser_set_do_overwrite_confirmation(GTK_FILE_CHOOSER(dialog), TRUE);
    file_chooser_start_in_last_folder(GTK_FILE_CHOOSER(dialog));
    gtk_file_chooser_set_current_name(GTK_FILE_CHOOSER(dialog),
                                      journal_export_file_name(identification_serial).c_str());
    std::string name;
    if (gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT) {
        file_chooser_remember_folder(GTK_FILE_CHOOSER(dialog));
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

// The search box and the kind: the view follows at each keystroke.
void journal_filter_update()
{
    GtkWidget* entry = widget_by_id("JournalSearch");
    GtkWidget* kind = widget_by_id("JournalKind");
    const char* typed = entry && GTK_IS_ENTRY(entry) ? gtk_entry_get_text(GTK_ENTRY(entry)) : "";
    int chosen = kind && GTK_IS_COMBO_BOX(kind) ? gtk_combo_box_get_active(GTK_COMBO_BOX(kind)) : 0;
    if (chosen < 0 || chosen > int(JournalKind::Service))
        chosen = int(JournalKind::All);
    JournalFilter filter = journal_filter(typed, JournalKind(chosen));
    if (filter.words == g_filter.words && filter.kind == g_filter.kind)
        return;
    g_filter = std::move(filter);
    if (GtkTreeModelFilter* model = journal_filter_model())
        gtk_tree_model_filter_refilter(model);
    show_filter_count();
}

}  // namespace

extern "C" {

void GetJournal_Button(GtkButton*, gpointer)
{
    if (journal_read_start() != 0)
        return;
    clear_rows();
    set_progress(0, "");
    set_visible("JournalFilterPanel", true);
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
    // A read that has said its last word has published every row, even if its
    // thread is a moment away from being counted out: the user who saw the
    // end line in the log is not told to wait.
    bool reading = journal_busy() && !journal_read_ended();
    // Rows a finished read left for the next tick belong in the file too.
    if (!reading)
        append_new_rows();
    // A read under way comes first: its rows are not all there yet.
    if (reading) {
        show_message(GTK_MESSAGE_INFO, "Дождитесь завершения чтения журнала событий");
        return;
    }
    if (!store || gtk_tree_model_iter_n_children(GTK_TREE_MODEL(store), nullptr) == 0) {
        show_message(GTK_MESSAGE_INFO, "%s",
                     journal_read_ended() ? "Журнал не содержит записей" : "Сначала необходимо прочитать журнал событий");
        return;
    }
    std::vector<JournalExportRow> rows = journal_export_rows(g_rows);
    std::string name = ask_export_file(source.identification_serial);
    if (name.empty())
        return;
    bool saved = spreadsheet_save(
        name, [&](SpreadsheetWriter& writer) { journal_export_write(writer, source.site, source.serial, rows); },
        "Журнал событий сохранен в файл '%s'\n");
    if (GtkTreeModelFilter* filter = journal_filter_model(); saved && filter && g_filter.active())
        log_message(norm_text, "%s",
                    journal_export_filter_text(int(rows.size()), count_rows(GTK_TREE_MODEL(filter))).c_str());
}

void JournalSearch_changed_cb(GtkEditable*, gpointer) { journal_filter_update(); }

void JournalSearch_icon_press_cb(GtkEntry* entry, GtkEntryIconPosition position, GdkEvent*, gpointer)
{
    if (position == GTK_ENTRY_ICON_SECONDARY)
        gtk_entry_set_text(entry, "");
}

void JournalKind_changed_cb(GtkComboBox*, gpointer) { journal_filter_update(); }

}  // extern "C"

void journal_register_handlers()
{
    register_handler("GetJournal_Button", G_CALLBACK(GetJournal_Button));
    register_handler("StopReadJournal_Button", G_CALLBACK(StopReadJournal_Button));
    register_handler("JournalExport_Button", G_CALLBACK(JournalExport_Button));
    register_handler("JournalSearch_changed_cb", G_CALLBACK(JournalSearch_changed_cb));
    register_handler("JournalSearch_icon_press_cb", G_CALLBACK(JournalSearch_icon_press_cb));
    register_handler("JournalKind_changed_cb", G_CALLBACK(JournalKind_changed_cb));
}

void journal_install()
{
    GtkListStore* store = journal_store();
    GtkWidget* view = widget_by_id("JournalTreeView");
    if (!store || !view || !GTK_IS_TREE_VIEW(view))
        return;
    // The view shows the store through the filter; the store itself, which
    // the export reads, always holds every row.
    GtkTreeModel* filter = gtk_tree_model_filter_new(GTK_TREE_MODEL(store), nullptr);
    gtk_tree_model_filter_set_visible_func(GTK_TREE_MODEL_FILTER(filter), journal_row_visible, nullptr, nullptr);
    gtk_tree_view_set_model(GTK_TREE_VIEW(view), filter);
    add_object_id("JournalFilter", G_OBJECT(filter));
    g_object_unref(filter);
}
