#include "status/equipment_gtk.h"

#include "gui/widgets.h"
#include "status/display_hooks.h"

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
        for (const auto& [column, text] : row.cells) {
            // Unchanged cells are left alone so the view does not redraw them.
            gchar* current = nullptr;
            gtk_tree_model_get(model, &iter, column, &current, -1);
            if (!current || text != current)
                gtk_list_store_set(store, &iter, column, text.c_str(), -1);
            g_free(current);
        }
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

namespace {

const char* const kEquipmentStores[] = {"ContactorListStore", "VUVListStore", "DCListStore", "UKDVListStore",
                                        "UPKBListStore"};

void apply_rectifiers(const CycleView& v)
{
    // No register reports fan speeds: their columns would stay empty, so they
    // are not shown at all.
    for (const char* id : {"VUVFanSpeed1Column", "VUVFanSpeed2Column"}) {
        GObject* column = object_by_id(id);
        if (column && GTK_IS_TREE_VIEW_COLUMN(column) && gtk_tree_view_column_get_visible(GTK_TREE_VIEW_COLUMN(column)))
            gtk_tree_view_column_set_visible(GTK_TREE_VIEW_COLUMN(column), FALSE);
    }
    apply_list_view("VUVListStore", v.rectifiers);
}

}  // namespace

void equipment_display_install()
{
    display_set_applier(DisplayStep::Contactors,
                        [](const CycleView& v) { apply_list_view("ContactorListStore", v.contactors); });
    display_set_applier(DisplayStep::Rectifiers, apply_rectifiers);
    display_set_applier(DisplayStep::DryContacts,
                        [](const CycleView& v) { apply_list_view("DCListStore", v.dry_contacts); });
    display_set_applier(DisplayStep::ExtensionUnits, [](const CycleView& v) {
        apply_list_view("UKDVListStore", v.ukdv);
        apply_list_view("UPKBListStore", v.upkb);
    });
}

void equipment_display_reset()
{
    ListView empty;
    empty.rebuild = true;
    for (const char* id : kEquipmentStores)
        apply_list_view(id, empty);
}
