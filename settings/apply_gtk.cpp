#include "settings/apply_gtk.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <string>

#include "gui/helpers.h"
#include "gui/widgets.h"
#include "base/app_state.h"
#include "link/connection_gtk.h"
#include "registers/settings_store.h"
#include "settings/apply.h"
#include "settings/apply_plan.h"
#include "settings/edit_gtk.h"
#include "settings/file_gtk.h"
#include "settings/file_io.h"
#include "settings/page_gtk.h"
#include "settings/setting_units.h"

namespace {

guint g_timer = 0;

GtkProgressBar* progress_bar()
{
    GtkWidget* widget = widget_by_id("S_SaveProgress");
    return widget && GTK_IS_PROGRESS_BAR(widget) ? GTK_PROGRESS_BAR(widget) : nullptr;
}

void set_buttons_sensitive(bool on)
{
    for (const char* id : {"S_ButtonApply", "S_ButtonCancel"})
        if (GtkWidget* widget = widget_by_id(id))
            gtk_widget_set_sensitive(widget, on);
}

// The worker counts registers in atomics; the bar follows them here until the
// worker's finish sets it for the result.
gboolean progress_tick(gpointer)
{
    if (!settings_apply_running()) {
        g_timer = 0;
        return FALSE;
    }
    int value = 0, range = 0;
    settings_apply_progress(&value, &range);
    if (GtkProgressBar* bar = progress_bar())
        gtk_progress_bar_set_fraction(bar, range > 0 ? std::min(1.0, double(value) / range) : 0.0);
    return TRUE;
}

enum class TextStyle { Normal, Warning, Error };

// The result of a write is read at a glance: a warning in amber, a failure in
// red, the bar's fill and the text over the empty part alike.
void set_text_style(TextStyle style)
{
    GtkProgressBar* bar = progress_bar();
    if (!bar)
        return;
    GtkWidget* widget = GTK_WIDGET(bar);
    GdkColor fill, text, over_fill;
    bool colored = style != TextStyle::Normal &&
                   gdk_color_parse(style == TextStyle::Warning ? "#E8A33A" : "#CC2020", &fill) &&
                   gdk_color_parse(style == TextStyle::Warning ? "#8A4B00" : "#CC0000", &text) &&
                   gdk_color_parse(style == TextStyle::Warning ? "#000000" : "#FFFFFF", &over_fill);
    // The fill is drawn in the prelight state, and so is the text over it.
    gtk_widget_modify_bg(widget, GTK_STATE_PRELIGHT, colored ? &fill : nullptr);
    gtk_widget_modify_fg(widget, GTK_STATE_PRELIGHT, colored ? &over_fill : nullptr);
    gtk_widget_modify_fg(widget, GTK_STATE_NORMAL, colored ? &text : nullptr);
}

void hook_begin()
{
    settings_page_lock(true);
    set_text_style(TextStyle::Normal);
    if (GtkProgressBar* bar = progress_bar())
        gtk_progress_bar_set_fraction(bar, 0);
}

void hook_set_text(const char* text)
{
    if (GtkProgressBar* bar = progress_bar())
        gtk_progress_bar_set_text(bar, text);
}

// The Controller took the command block: nothing is left unapplied, so
// closing or losing the link no longer speaks of lost edits. The page keeps
// showing what was written, locked, until the check has read it back.
void hook_written()
{
    app.settings_modified = 0;
    if (GtkWidget* mark = widget_by_id("imageSettingsEdited"))
        gtk_widget_hide(mark);
}

// The control area stays on show with the result; Apply and Cancel are
// sensitive exactly when the page holds edits.
void show_result_area(bool edits)
{
    // Everything was written, whatever the check found.
    if (GtkProgressBar* bar = progress_bar())
        gtk_progress_bar_set_fraction(bar, 1.0);
    if (GtkWidget* buttons = widget_by_id("S_ControlButtons"))
        gtk_widget_show(buttons);
    set_buttons_sensitive(edits);
}

void hook_finish(int result)
{
    settings_page_lock(false);
    switch (result) {
    case kApplyTransferError:
    case kApplyCommandRefused:
    case kApplyCommandUnanswered:
    case kApplyDeviceChanged:
        // The edits stay as they were, to be written again.
        set_text_style(TextStyle::Error);
        if (GtkProgressBar* bar = progress_bar())
            gtk_progress_bar_set_fraction(bar, 0);
        set_buttons_sensitive(true);
        return;
    case kApplyLinkLost:
        // The end of the link resets the page; nothing here may fill it.
        set_text_style(TextStyle::Warning);
        return;
    case kApplyUnverified: {
        // Nothing read since the write says what the Controller holds: what
        // was written stays on the page as edits over the last settings read.
        set_text_style(TextStyle::Warning);
        int layout = settings_page_layout();
        if (settings_changes(settings_device_copy(layout), settings_edit_copy(layout)).empty()) {
            settings_page_refill(true);
            show_result_area(false);
        } else {
            // Marking the edits clears a result; this one is still the page's.
            GtkProgressBar* bar = progress_bar();
            std::string text = bar && gtk_progress_bar_get_text(bar) ? gtk_progress_bar_get_text(bar) : "";
            settings_page_mark_edited();
            if (bar)
                gtk_progress_bar_set_text(bar, text.c_str());
            show_result_area(true);
        }
        return;
    }
    default: break;
    }
    set_text_style(result == kApplyVerified ? TextStyle::Normal : TextStyle::Error);
    if (app.settings_modified) {
        // An edit that reached the page all the same is never dropped unasked.
        show_result_area(true);
        return;
    }
    // The page was locked through the check, so it holds no edit of its own:
    // it shows the settings as read back, refused values included.
    settings_page_refill(true);
    show_result_area(false);
}

enum ReviewColumn { kName, kFrom, kTo, kColumns };

// Width and height the review needs to show every row whole, from the texts
// measured in the view's font; the name column alone may give way to the
// screen, so the values are never cut.
void size_review(GtkWidget* dialog, GtkWidget* view, const std::vector<SettingsChange>& changes,
                 const char* const titles[kColumns])
{
    PangoLayout* layout = gtk_widget_create_pango_layout(view, nullptr);
    int widths[kColumns] = {};
    int row_height = 0;
    auto measure = [&](int column, const std::string& text) {
        int w = 0, h = 0;
        pango_layout_set_text(layout, text.c_str(), -1);
        pango_layout_get_pixel_size(layout, &w, &h);
        widths[column] = std::max(widths[column], w);
        row_height = std::max(row_height, h);
    };
    for (int column = 0; column < kColumns; ++column)
        measure(column, titles[column]);
    // Rows past the first few hundred lie below the screen's height anyway;
    // measuring them all would hold up the window.
    constexpr size_t kMeasuredRows = 300;
    for (size_t row = 0; row < std::min(changes.size(), kMeasuredRows); ++row) {
        const SettingsChange& c = changes[row];
        measure(kName, c.name);
        measure(kFrom, c.from);
        measure(kTo, c.to);
    }
    g_object_unref(layout);

    // Cell padding, column separators, the scroll bar and the dialog's borders.
    constexpr int kColumnExtra = 16, kWidthExtra = 56, kRowExtra = 6, kHeightExtra = 140;
    int width = kWidthExtra;
    for (int w : widths)
        width += w + kColumnExtra;
    int height = kHeightExtra + (static_cast<int>(changes.size()) + 1) * (row_height + kRowExtra);
    GdkScreen* screen = gtk_widget_get_screen(dialog);
    int max_width = gdk_screen_get_width(screen) - 48, max_height = gdk_screen_get_height(screen) - 96;
    gtk_window_set_default_size(GTK_WINDOW(dialog), std::clamp(width, 360, std::max(360, max_width)),
                                std::clamp(height, 200, std::max(200, max_height)));
}

// "Изменения настроек": what will change, written only on "Записать".
bool review_changes(const std::vector<SettingsChange>& changes)
{
    GtkWidget* dialog = gtk_dialog_new_with_buttons(
        "Изменения настроек", main_window(),
        GtkDialogFlags(GTK_DIALOG_MODAL | GTK_DIALOG_DESTROY_WITH_PARENT), nullptr, nullptr);
    set_accessible_id(dialog, "SettingsReviewDialog");
    GtkWidget* cancel = gtk_dialog_add_button(GTK_DIALOG(dialog), "Отмена", GTK_RESPONSE_REJECT);
    GtkWidget* write = gtk_dialog_add_button(GTK_DIALOG(dialog), "Записать", GTK_RESPONSE_ACCEPT);
    set_accessible_id(cancel, "SettingsReviewCancel");
    set_accessible_id(write, "SettingsReviewWrite");
    gtk_dialog_set_default_response(GTK_DIALOG(dialog), GTK_RESPONSE_REJECT);

    GtkListStore* store = gtk_list_store_new(kColumns, G_TYPE_STRING, G_TYPE_STRING, G_TYPE_STRING);
    for (const SettingsChange& c : changes) {
        GtkTreeIter iter;
        gtk_list_store_append(store, &iter);
        gtk_list_store_set(store, &iter, kName, c.name.c_str(), kFrom, c.from.c_str(), kTo, c.to.c_str(), -1);
    }
    GtkWidget* view = gtk_tree_view_new_with_model(GTK_TREE_MODEL(store));
    g_object_unref(store);
    set_accessible_id(view, "SettingsReviewList");
    const char* const titles[kColumns] = {"Настройка", "В контроллере", "Новое значение"};
    for (int column = 0; column < kColumns; ++column) {
        GtkCellRenderer* renderer = gtk_cell_renderer_text_new();
        GtkTreeViewColumn* c =
            gtk_tree_view_column_new_with_attributes(titles[column], renderer, "text", column, nullptr);
        if (column == kName) {
            // A long event text of a mask row gives way; the values never do.
            g_object_set(renderer, "ellipsize", PANGO_ELLIPSIZE_END, nullptr);
            gtk_tree_view_column_set_expand(c, TRUE);
            gtk_tree_view_column_set_resizable(c, TRUE);
        } else {
            gtk_tree_view_column_set_sizing(c, GTK_TREE_VIEW_COLUMN_AUTOSIZE);
        }
        gtk_tree_view_append_column(GTK_TREE_VIEW(view), c);
    }
    GtkWidget* scroll = gtk_scrolled_window_new(nullptr, nullptr);
    gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroll), GTK_POLICY_AUTOMATIC, GTK_POLICY_AUTOMATIC);
    gtk_container_add(GTK_CONTAINER(scroll), view);
    GtkWidget* label = gtk_label_new("В контроллер будут записаны изменения:");
    gtk_misc_set_alignment(GTK_MISC(label), 0, 0.5);
    GtkWidget* box = GTK_DIALOG(dialog)->vbox;
    gtk_box_pack_start(GTK_BOX(box), label, FALSE, FALSE, 4);
    gtk_box_pack_start(GTK_BOX(box), scroll, TRUE, TRUE, 0);
    size_review(dialog, view, changes, titles);
    gtk_widget_show_all(dialog);
    bool write_them = gtk_dialog_run(GTK_DIALOG(dialog)) == GTK_RESPONSE_ACCEPT;
    gtk_widget_destroy(dialog);
    return write_them;
}

extern "C" void S_ButtonApply_clicked_cb(GtkButton*, gpointer)
{
    // A value typed and not yet committed belongs to what the user applies.
    settings_edit_commit_focus();
    if (!app.link_open || !settings_page_loaded() || settings_apply_running())
        return;
    // A read the timer has not yet shown must not make the edits look older
    // than the Controller's values.
    settings_page_follow_device();
    int layout = settings_page_layout();
    // The write is refused, writing nothing, when a read begun after the
    // user's "Записать" finds the settings changed since this review: the
    // whole body is written, so another client's change would be undone unseen.
    ApplyRequest request{settings_edit_copy(layout), settings_device_copy(layout), {}, true};
    settings_page_settle_conflicts(request.edit, request.device);
    // Whatever the page does not show is written as the Controller holds it.
    settings_keep_unshown(request.edit, request.device);
    std::vector<SettingsChange> changes = settings_review(request.device, request.edit);
    settings_file_mark_review(changes, request.edit);
    if (changes.empty()) {
        show_message(GTK_MESSAGE_INFO, "%s", "Настройки не отличаются от настроек контроллера.");
        return;
    }
    if (!review_changes(changes) || !ask_monitoring_password())
        return;
    std::copy(app.monitoring_password, app.monitoring_password + 6, request.password);
    if (settings_apply_start(request) != 0) {
        show_message(GTK_MESSAGE_ERROR, "%s", "Не удается запустить запись настроек: система не дала создать поток");
        return;
    }
    if (!g_timer)
        g_timer = gdk_threads_add_timeout(100, progress_tick, nullptr);
}

} // namespace

void settings_apply_install()
{
    settings_apply_set_hooks({hook_begin, hook_set_text, hook_finish, hook_written});
    if (GtkWidget* apply = widget_by_id("S_ButtonApply"))
        g_signal_connect(apply, "clicked", G_CALLBACK(S_ButtonApply_clicked_cb), nullptr);
}
