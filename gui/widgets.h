// The main window's widgets and objects by their ids in the interface
// description: how the GTK layer of every subsystem reaches a widget it did
// not make itself. GUI thread only.
#pragma once

#include <gtk/gtk.h>

// The settings page's place in the notebook "Categories" of the interface
// description.
constexpr int kSettingsNotebookPage = 3;

// Widget by builder id; nullptr when the description has no such id.
GtkWidget* widget_by_id(const char* id);
GObject* object_by_id(const char* id);
// An object made in code, found by id like those of the description from
// then on (a model that the description cannot declare). Holds a reference.
void add_object_id(const char* id, GObject* object);

// The main window, which dialogs belong to; nullptr while there is none
// (before start-up, in tools and tests).
GtkWindow* main_window();

// Start-up: every named object of `builder` is found by its id from now on,
// for as long as the program runs; while start-up lasts, objects the builder
// holds without a name of their own are asked of it.
void widgets_adopt(GtkBuilder* builder);
// Start-up is over: the builder is about to go.
void widgets_release_builder();
// Each object known by id, with its id.
void widgets_for_each(void (*visit)(const char* id, GObject* object));
