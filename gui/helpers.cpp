#include "gui/helpers.h"

#include <cstdarg>
#include <string>

#include "base/text_format.h"
#include "gui/widgets.h"

void show_message(GtkMessageType kind, const char* fmt, ...)
{
    va_list args;
    va_start(args, fmt);
    std::string text = vformat(fmt, args);
    va_end(args);
    GtkWidget* dialog = gtk_message_dialog_new(main_window(), GTK_DIALOG_DESTROY_WITH_PARENT, kind, GTK_BUTTONS_OK,
                                               "%s", text.c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), "RARUR Service");
    set_accessible_id(dialog, "MessageDialog");
    gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
}

int ask_question(GtkMessageType kind, GtkButtonsType buttons, const char* markup_format, ...)
{
    va_list args;
    va_start(args, markup_format);
    std::string markup = vformat(markup_format, args);
    va_end(args);
    GtkWidget* dialog = gtk_message_dialog_new(main_window(), GTK_DIALOG_MODAL, kind, buttons, nullptr);
    gtk_message_dialog_set_markup(GTK_MESSAGE_DIALOG(dialog), markup.c_str());
    gtk_window_set_title(GTK_WINDOW(dialog), "RARUR Service");
    set_accessible_id(dialog, "QuestionDialog");
    int response = gtk_dialog_run(GTK_DIALOG(dialog));
    gtk_widget_destroy(dialog);
    return response;
}

void set_accessible_id(GtkWidget* widget, const char* id)
{
    if (!widget || !id)
        return;
    AtkObject* acc = gtk_widget_get_accessible(widget);
    if (acc)
        atk_object_set_accessible_id(acc, id);
    // Also kept on the widget itself, so that the test driver finds widgets made
    // in code (dialogs, the status label) by the same id.
    g_object_set_data_full(G_OBJECT(widget), "rarur-id", g_strdup(id), g_free);
}

void status_bar_note(const char* context, const char* text)
{
    GtkWidget* bar = widget_by_id("statusbar1");
    if (!bar || !GTK_IS_STATUSBAR(bar))
        return;
    guint id = gtk_statusbar_get_context_id(GTK_STATUSBAR(bar), context);
    gtk_statusbar_pop(GTK_STATUSBAR(bar), id);
    if (text && *text)
        gtk_statusbar_push(GTK_STATUSBAR(bar), id, text);
}

namespace {

// The folder of the file chosen last in any of the program's choosers.
std::string g_last_folder;

}  // namespace

void file_chooser_start_in_last_folder(GtkFileChooser* chooser)
{
    const char* folder = g_last_folder.c_str();
    if (g_last_folder.empty() || !g_file_test(folder, G_FILE_TEST_IS_DIR))
        folder = g_get_user_special_dir(G_USER_DIRECTORY_DOCUMENTS);
    if (!folder || !g_file_test(folder, G_FILE_TEST_IS_DIR))
        folder = g_get_home_dir();
    gtk_file_chooser_set_current_folder(chooser, folder);
}

void file_chooser_remember_folder(GtkFileChooser* chooser)
{
    if (gchar* file = gtk_file_chooser_get_filename(chooser)) {
        gchar* folder = g_path_get_dirname(file);
        g_last_folder = folder;
        g_free(folder);
        g_free(file);
    }
}

namespace {

// GTK's own "numeric" spins filter keystrokes by the locale's separator: the
// other one vanishes ("54.0" becomes 540 on a Russian desktop) and a pasted
// text with it is dropped whole, leaving an empty field read as 0. Here the
// whole text is read once it is committed.
gint spin_input(GtkSpinButton* spin, gdouble* new_value, gpointer data)
{
    auto check = reinterpret_cast<SpinTextCheck>(data);
    const char* text = gtk_entry_get_text(GTK_ENTRY(spin));
    double value = 0;
    if (parse_decimal(text, &value)) {
        if (check)
            check(spin, text, &value);
        *new_value = value;
        return TRUE;
    }
    if (check)
        check(spin, text, nullptr);
    // The value stays; GTK writes it back into the field.
    *new_value = gtk_adjustment_get_value(gtk_spin_button_get_adjustment(spin));
    return GTK_INPUT_ERROR;
}

}  // namespace

void spin_button_take_any_separator(GtkSpinButton* spin, SpinTextCheck check)
{
    gtk_spin_button_set_numeric(spin, FALSE);
    g_signal_connect(spin, "input", G_CALLBACK(spin_input), reinterpret_cast<gpointer>(check));
}

int spin_button_value(const char* id)
{
    GtkWidget* spin = widget_by_id(id);
    if (!spin || !GTK_IS_SPIN_BUTTON(spin))
        return 0;
    gtk_spin_button_update(GTK_SPIN_BUTTON(spin));
    return gtk_spin_button_get_value_as_int(GTK_SPIN_BUTTON(spin));
}
