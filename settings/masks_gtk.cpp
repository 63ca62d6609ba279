#include "settings/masks_gtk.h"

#include <gtk/gtk.h>

#include <mutex>

#include "gui/handlers.h"
#include "gui/widgets.h"
#include "base/app_state.h"
#include "registers/settings_store.h"
#include "settings/masks.h"
#include "settings/page_gtk.h"
#include "settings/store_fill_gtk.h"

namespace {

constexpr const char* kMaskStore = "S_EventsMaskListStore";
constexpr int kCodeColumn = 7;
constexpr const char* kRelayColumns[kRelays] = {"cl_1r", "cl_2r", "cl_3r", "cl_4r"};

// Mask k (1..6) of the row at `path`: the opposite of what the row shows
// goes into the edit copy and the row. Only edits of a page loaded from this
// connection's Controller count; a fill in progress is no edit at all.
void mask_toggled(int k, const gchar* path)
{
    if (settings_page_busy() || !app.link_open || !settings_page_loaded())
        return;
    GObject* object = object_by_id(kMaskStore);
    if (!object || !GTK_IS_LIST_STORE(object))
        return;
    GtkTreeModel* model = GTK_TREE_MODEL(object);
    GtkTreeIter iter;
    if (!gtk_tree_model_get_iter_from_string(model, &iter, path))
        return;
    gint code = 0;
    gboolean shown = FALSE;
    gtk_tree_model_get(model, &iter, kCodeColumn, &code, k, &shown, -1);
    bool value = !shown;
    {
        std::lock_guard lock(app.settings_lock);
        if (set_mask_bit(settings_edit(settings_page_layout()), code, k, value) != 0)
            return;
    }
    settings_page_mark_edited();
    gtk_list_store_set(GTK_LIST_STORE(object), &iter, k, value, -1);
}

} // namespace

extern "C" {
void S_MaskListSCh_changed1_cb(GtkCellRendererToggle*, gchar* path, gpointer) { mask_toggled(1, path); }
void S_MaskListSCh_changed2_cb(GtkCellRendererToggle*, gchar* path, gpointer) { mask_toggled(2, path); }
void S_MaskListSCh_changed3_cb(GtkCellRendererToggle*, gchar* path, gpointer) { mask_toggled(3, path); }
void S_MaskListSCh_changed4_cb(GtkCellRendererToggle*, gchar* path, gpointer) { mask_toggled(4, path); }
void S_MaskListSCh_changed5_cb(GtkCellRendererToggle*, gchar* path, gpointer) { mask_toggled(5, path); }
void S_MaskListSCh_changed6_cb(GtkCellRendererToggle*, gchar* path, gpointer) { mask_toggled(6, path); }
}

void mask_lists_fill(const SettingsImage& image)
{
    MaskListsView view = present_mask_lists(image);
    std::vector<StoreRow> relays;
    for (const RelayNameRow& r : view.relays)
        relays.push_back({r.label, r.name, r.number});
    fill_store("S_RelyNames", relays);
    for (int i = 0; i < kRelays; ++i)
        if (GObject* column = object_by_id(kRelayColumns[i]); column && GTK_IS_TREE_VIEW_COLUMN(column))
            gtk_tree_view_column_set_visible(GTK_TREE_VIEW_COLUMN(column), view.relay_columns[i]);
    std::vector<StoreRow> rows;
    for (const MaskRow& r : view.rows) {
        StoreRow row{r.text};
        for (bool bit : r.bits)
            row.emplace_back(bit);
        row.emplace_back(r.code);
        rows.push_back(std::move(row));
    }
    fill_store(kMaskStore, rows);
}

void mask_lists_register_handlers()
{
    register_handler("S_MaskListSCh_changed1_cb", G_CALLBACK(S_MaskListSCh_changed1_cb));
    register_handler("S_MaskListSCh_changed2_cb", G_CALLBACK(S_MaskListSCh_changed2_cb));
    register_handler("S_MaskListSCh_changed3_cb", G_CALLBACK(S_MaskListSCh_changed3_cb));
    register_handler("S_MaskListSCh_changed4_cb", G_CALLBACK(S_MaskListSCh_changed4_cb));
    register_handler("S_MaskListSCh_changed5_cb", G_CALLBACK(S_MaskListSCh_changed5_cb));
    register_handler("S_MaskListSCh_changed6_cb", G_CALLBACK(S_MaskListSCh_changed6_cb));
}
