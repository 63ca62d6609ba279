#include "settings/store_fill_gtk.h"

#include <gtk/gtk.h>

#include "gui/widgets.h"

void fill_store(const char* store_id, const std::vector<StoreRow>& rows)
{
    GObject* object = object_by_id(store_id);
    if (!object || !GTK_IS_LIST_STORE(object))
        return;
    GtkListStore* store = GTK_LIST_STORE(object);
    gtk_list_store_clear(store);
    for (const StoreRow& row : rows) {
        GtkTreeIter iter;
        gtk_list_store_append(store, &iter);
        for (size_t column = 0; column < row.size(); ++column) {
            GValue value = G_VALUE_INIT;
            if (const auto* text = std::get_if<std::string>(&row[column])) {
                g_value_init(&value, G_TYPE_STRING);
                g_value_set_string(&value, text->c_str());
            } else if (const bool* on = std::get_if<bool>(&row[column])) {
                g_value_init(&value, G_TYPE_BOOLEAN);
                g_value_set_boolean(&value, *on);
            } else {
                g_value_init(&value, G_TYPE_INT);
                g_value_set_int(&value, std::get<int>(row[column]));
            }
            gtk_list_store_set_value(store, &iter, static_cast<int>(column), &value);
            g_value_unset(&value);
        }
    }
}
