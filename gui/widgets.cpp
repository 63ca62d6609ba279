#include "gui/widgets.h"

#include <string>
#include <unordered_map>

namespace {

// Every object of the interface description by its id. The builder itself is
// released after start-up; the objects live as long as the program.
std::unordered_map<std::string, GObject*> g_objects;
GtkBuilder* g_builder = nullptr;

}  // namespace

GObject* object_by_id(const char* id)
{
    if (!id)
        return nullptr;
    auto it = g_objects.find(id);
    if (it != g_objects.end())
        return it->second;
    return g_builder ? gtk_builder_get_object(g_builder, id) : nullptr;
}

void add_object_id(const char* id, GObject* object)
{
    if (!id || !object)
        return;
    GObject*& slot = g_objects[id];
    g_object_ref(object);
    if (slot)
        g_object_unref(slot);
    slot = object;
}

GtkWidget* widget_by_id(const char* id)
{
    GObject* o = object_by_id(id);
    return o && GTK_IS_WIDGET(o) ? GTK_WIDGET(o) : nullptr;
}

GtkWindow* main_window()
{
    GtkWidget* window = widget_by_id("MainWindow");
    return window && GTK_IS_WINDOW(window) ? GTK_WINDOW(window) : nullptr;
}

void widgets_adopt(GtkBuilder* builder)
{
    GSList* objects = gtk_builder_get_objects(builder);
    for (GSList* l = objects; l; l = l->next) {
        GObject* object = G_OBJECT(l->data);
        if (!GTK_IS_BUILDABLE(object))
            continue;
        if (const char* id = gtk_buildable_get_name(GTK_BUILDABLE(object)))
            add_object_id(id, object);
    }
    g_slist_free(objects);
    g_builder = builder;
}

void widgets_release_builder() { g_builder = nullptr; }

void widgets_for_each(void (*visit)(const char* id, GObject* object))
{
    for (auto& [id, object] : g_objects)
        visit(id.c_str(), object);
}
