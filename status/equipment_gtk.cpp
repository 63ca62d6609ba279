#include "status/equipment_gtk.h"

#include "app/widgets.h"
#include "settings/settings_store.h"
#include "status/equipment_lists.h"
#include "status/status_image.h"

void apply_list_view(GtkListStore* store, const ListView& view)
{
    if (!store)
        return;
    GtkTreeModel* model = GTK_TREE_MODEL(store);
    if (view.rebuild)
        gtk_list_store_clear(store);
    GtkTreeIter iter;
    bool have = gtk_tree_model_get_iter_first(model, &iter);
    for (const ListRow& row : view.rows) {
        if (!have)
            gtk_list_store_append(store, &iter);
        for (const auto& [column, text] : row.cells)
            gtk_list_store_set(store, &iter, column, text.c_str(), -1);
        have = gtk_tree_model_iter_next(model, &iter);
    }
    while (have)
        have = gtk_list_store_remove(store, &iter);
}

void apply_list_view(const char* store_id, const ListView& view)
{
    GObject* object = object_by_id(store_id);
    if (object && GTK_IS_LIST_STORE(object))
        apply_list_view(GTK_LIST_STORE(object), view);
}

void update_contactor_list(const StatusImage& status)
{
    apply_list_view("ContactorListStore", current_contactor_list(status));
}

void update_rectifier_list(const StatusImage& status)
{
    // No register reports fan speeds: their columns stay empty, so they are
    // not shown at all.
    for (const char* id : {"VUVFanSpeed1Column", "VUVFanSpeed2Column"}) {
        GObject* column = object_by_id(id);
        if (column && GTK_IS_TREE_VIEW_COLUMN(column) && gtk_tree_view_column_get_visible(GTK_TREE_VIEW_COLUMN(column)))
            gtk_tree_view_column_set_visible(GTK_TREE_VIEW_COLUMN(column), FALSE);
    }
    apply_list_view("VUVListStore", current_rectifier_list(status));
}

void update_dry_contact_list(const StatusImage& status)
{
    apply_list_view("DCListStore", current_dry_contact_list(status));
}

void update_extension_unit_lists(const StatusImage& status)
{
    apply_list_view("UKDVListStore", current_ukdv_list(status));
    apply_list_view("UPKBListStore", current_upkb_list(status));
}
