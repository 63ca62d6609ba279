#include "settings/page_gtk.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "gui/handlers.h"
#include "gui/widgets.h"
#include "base/app_state.h"
#include "base/text_format.h"
#include "base/ui_hooks.h"
#include "registers/settings_store.h"
#include "settings/apply_gtk.h"
#include "settings/bindings.h"
#include "settings/edit_gtk.h"
#include "settings/apply.h"
#include "settings/apply_plan.h"
#include "settings/masks_gtk.h"
#include "settings/page_view.h"
#include "settings/setting_units.h"
#include "settings/store_fill_gtk.h"
#include "status/display_gtk.h"
#include "status/poll.h"

namespace {

int g_layout = 1;
// The program itself is setting the page's controls: for the first load of a
// connection (asked by the poll thread), for the page's own refill or for one
// control shown again. Change handlers ignore what they see meanwhile. Only
// touched where the controls are (GUI thread or GDK lock held); a depth, as
// a load refills.
int g_filling = 0;
struct Filling {
    Filling() { ++g_filling; }
    ~Filling() { --g_filling; }
    Filling(const Filling&) = delete;
    Filling& operator=(const Filling&) = delete;
};
void (*g_after_load)() = nullptr;
// The Controller's settings the edit copy was made against, and the settings
// the page changed that the Controller changed too since then.
SettingsImage g_base;
std::vector<SettingsConflict> g_conflicts;
std::vector<const char*> g_conflict_widgets;

void show_widget(const char* id, bool on)
{
    if (GtkWidget* widget = widget_by_id(id))
        on ? gtk_widget_show(widget) : gtk_widget_hide(widget);
}

void apply_binding(const SettingsBinding& b, const SettingsImage& image)
{
    GtkWidget* widget = widget_by_id(b.id);
    if (!widget)
        return;
    ControlValue value = settings_control_value(b, image);
    switch (b.kind) {
    case ControlKind::Spin:
        if (GTK_IS_SPIN_BUTTON(widget))
            gtk_spin_button_set_value(GTK_SPIN_BUTTON(widget), value.number);
        break;
    case ControlKind::Combo:
        if (GTK_IS_COMBO_BOX(widget))
            gtk_combo_box_set_active(GTK_COMBO_BOX(widget), value.row);
        break;
    case ControlKind::Check:
        if (GTK_IS_TOGGLE_BUTTON(widget))
            gtk_toggle_button_set_active(GTK_TOGGLE_BUTTON(widget), value.active);
        break;
    case ControlKind::Entry:
    case ControlKind::AddressByte:
        // An empty field empties the entry: the previous Controller's text
        // must not stay on show.
        if (GTK_IS_ENTRY(widget))
            gtk_entry_set_text(GTK_ENTRY(widget), value.text.c_str());
        break;
    }
}

template <typename Row, typename Convert>
void fill_list(const char* store_id, const std::optional<std::vector<Row>>& rows, Convert convert)
{
    if (!rows)
        return;
    std::vector<StoreRow> store_rows;
    for (const Row& row : *rows)
        store_rows.push_back(convert(row));
    fill_store(store_id, store_rows);
}

void apply_view(const SettingsPageView& view)
{
    for (const WidgetFlag& f : view.visible)
        show_widget(f.id, f.on);
    for (const WidgetFlag& f : view.sensitive)
        if (GtkWidget* widget = widget_by_id(f.id))
            gtk_widget_set_sensitive(widget, f.on);
    for (const WidgetText& t : view.markup)
        if (GtkWidget* widget = widget_by_id(t.id); widget && GTK_IS_LABEL(widget))
            gtk_label_set_markup(GTK_LABEL(widget), t.text.c_str());
    for (const WidgetText& t : view.text)
        if (GtkWidget* widget = widget_by_id(t.id); widget && GTK_IS_LABEL(widget))
            gtk_label_set_text(GTK_LABEL(widget), t.text.c_str());
    for (const WidgetText& t : view.tooltip)
        if (GtkWidget* widget = widget_by_id(t.id))
            gtk_widget_set_tooltip_markup(widget, t.text.empty() ? nullptr : t.text.c_str());
    for (const auto& [id, row] : view.combo_rows)
        if (GtkWidget* widget = widget_by_id(id); widget && GTK_IS_COMBO_BOX(widget))
            gtk_combo_box_set_active(GTK_COMBO_BOX(widget), row);

    fill_list("S_AtomatsNamesListStore", view.breaker_names,
              [](const BreakerNameRow& r) { return StoreRow{r.label, r.name, r.index}; });
    fill_list("S_BatterySetUPKBListStore", view.block_monitors,
              [](const BlockMonitorRow& r) { return StoreRow{r.label, r.address, r.channel, r.index}; });
    fill_list("S_ContactorsParametersListStore", view.contactors,
              [](const ContactorRow& r) { return StoreRow{r.label, r.by_dry_contact, r.name, r.index}; });
    fill_list("S_DCListStore", view.dry_contacts,
              [](const DryContactRow& r) { return StoreRow{r.label, r.name, r.contact_type, r.index}; });
    fill_list("S_ContactorsConfigurationListStore", view.breaker_contactors, [](const BreakerContactorRow& r) {
        StoreRow row{r.label};
        for (int option = 0; option <= 4; ++option)
            row.emplace_back(option == r.option);
        row.emplace_back(r.kind);
        row.emplace_back(r.index);
        return row;
    });
}

constexpr uint16_t kAllSections = 0xFFFF;

// The sections in `sections` in the order of the page, each from its bindings
// and its view; the energy-saving requirements last, as they look across
// sections.
void fill(const SettingsImage& image, int protocol_version, uint16_t sections = kAllSections)
{
    Filling filling;
    for (int s = 0; s < static_cast<int>(SettingsSection::Count_); ++s) {
        auto section = static_cast<SettingsSection>(s);
        if (!(sections & section_bit(section)))
            continue;
        for (const SettingsBinding& b : settings_bindings())
            if (b.section == section && (b.layouts >> (image.layout - 1) & 1))
                apply_binding(b, image);
        if (section == SettingsSection::Events)
            mask_lists_fill(image);
        SettingsPageView view;
        present_settings_section(section, image, protocol_version, view);
        apply_view(view);
    }
    SettingsPageView energy_saving;
    present_energy_saving(image, energy_saving);
    apply_view(energy_saving);
}

// The page holds no edits from here on.
void drop_edit_marks()
{
    app.settings_modified = 0;
    g_conflicts.clear();
    settings_edit_clear_note();
    show_widget("S_ControlButtons", false);
    show_widget("imageSettingsEdited", false);
}

bool on_settings_page()
{
    GtkWidget* categories = widget_by_id("Categories");
    return categories && gtk_notebook_get_current_page(GTK_NOTEBOOK(categories)) == kSettingsNotebookPage;
}

// A control whose setting is in conflict says both values in its tooltip;
// its own tooltip comes back once the conflict is over.
void show_conflicts()
{
    for (const char* id : g_conflict_widgets)
        if (GtkWidget* widget = widget_by_id(id)) {
            auto* own = static_cast<const char*>(g_object_get_data(G_OBJECT(widget), "own-tooltip"));
            gtk_widget_set_tooltip_markup(widget, own && *own ? own : nullptr);
            g_object_set_data(G_OBJECT(widget), "own-tooltip", nullptr);
        }
    g_conflict_widgets.clear();
    const std::vector<SettingsUnit>& units = settings_units(g_layout);
    for (const SettingsConflict& c : g_conflicts) {
        const SettingsBinding* b = c.unit < units.size() ? units[c.unit].binding : nullptr;
        GtkWidget* widget = b ? widget_by_id(b->id) : nullptr;
        if (!widget)
            continue;
        if (!g_object_get_data(G_OBJECT(widget), "own-tooltip")) {
            gchar* own = gtk_widget_get_tooltip_markup(widget);
            g_object_set_data_full(G_OBJECT(widget), "own-tooltip", g_strdup(own ? own : ""), g_free);
            g_free(own);
        }
        gtk_widget_set_tooltip_markup(
            widget, format("<b>Изменено и на странице, и в Контроллере</b>\nв Контроллере: %s\nна странице: %s",
                           settings_markup_escaped(c.controller).c_str(), settings_markup_escaped(c.page).c_str())
                        .c_str());
        g_conflict_widgets.push_back(b->id);
    }
}

// The poll has read settings that differ from those the page was made
// against (another client, the Controller's own panel): the page shows them
// at once in every field the user has not edited; an edited field keeps the
// user's value and is marked when the Controller's changed too.
gboolean follow_device(gpointer)
{
    // Not while a dialog is open over the page (a review, a question, a file
    // chooser): what it was opened for was made of the page as it stood.
    if (!gtk_grab_get_current())
        settings_page_follow_device();
    return TRUE;
}

} // namespace

void settings_page_follow_device()
{
    if (!settings_page_loaded() || settings_apply_running() || g_filling || !app.link_open)
        return;
    SettingsImage device = settings_device_copy(g_layout);
    // The header words are not settings.
    if (device.layout != g_base.layout ||
        std::memcmp(device.data() + 6, g_base.data() + 6, device.word_count() * 2 - 6) == 0)
        return;
    if (!app.settings_modified) {
        settings_page_refill(true);
        return;
    }
    // A value being typed is the user's edit.
    settings_edit_commit_focus();
    SettingsCarried carried = settings_carry_edits(g_base, settings_edit_copy(g_layout), device);
    std::vector<SettingsConflict> conflicts = settings_conflicts_open(g_conflicts, carried.image, device);
    for (const SettingsConflict& c : carried.conflicts)
        if (std::none_of(conflicts.begin(), conflicts.end(),
                         [&](const SettingsConflict& o) { return o.unit == c.unit; }))
            conflicts.push_back(c);
    {
        std::lock_guard lock(app.settings_lock);
        settings_edit(g_layout) = carried.image;
    }
    g_base = device;
    g_conflicts = std::move(conflicts);
    fill(carried.image, status_identification_register(1));
    if (settings_changes(device, carried.image).empty())
        drop_edit_marks();
    show_conflicts();
}

namespace {

// The poll thread's load after the first good settings read of a connection:
// it has copied the device copy into the edit copy of `layout` already.
void load_page(int layout)
{
    Filling filling;
    g_layout = layout;
    g_base = settings_device_copy(layout);
    settings_page_refill(false);
    settings_page_set_loaded(true);
    show_widget("buttonRefreshSettings", on_settings_page());
    if (g_after_load)
        g_after_load();
}

} // namespace

extern "C" {

void Categories_switch_page_cb(GtkNotebook*, gpointer, guint page, gpointer)
{
    bool settings = page == kSettingsNotebookPage && settings_page_loaded();
    show_widget("buttonRefreshSettings", settings);
    // A write fills the page itself once its check has read the settings back.
    if (settings && !app.settings_modified && !settings_apply_running())
        settings_page_refill(true);
}

void buttonRefreshSettings_clicked_cb(GtkButton*, gpointer)
{
    if (!settings_page_loaded() || settings_apply_running())
        return;
    if (app.settings_modified && !ui().ask_question("<b>Внесенные Вами изменения не применены!\n"
                                                    "После обновления все измения будут потеряны!</b>\n"
                                                    "Вы действительно хотите обновить?"))
        return;
    settings_page_refill(true);
}

void S_ButtonCancel_clicked_cb(GtkButton*, gpointer)
{
    if (settings_page_loaded() && !settings_apply_running())
        settings_page_refill(true);
}

} // extern "C"

void settings_page_register_handlers()
{
    register_handler("Categories_switch_page_cb", G_CALLBACK(Categories_switch_page_cb));
    register_handler("buttonRefreshSettings_clicked_cb", G_CALLBACK(buttonRefreshSettings_clicked_cb));
    register_handler("S_ButtonCancel_clicked_cb", G_CALLBACK(S_ButtonCancel_clicked_cb));
}

void settings_page_install()
{
    gdk_threads_add_timeout(500, follow_device, nullptr);
    status_set_settings_page_fill(load_page);
    settings_edit_install();
    settings_apply_install();
}

void settings_page_on_load(void (*after)()) { g_after_load = after; }

void settings_page_refill(bool copy_device)
{
    drop_edit_marks();
    if (copy_device) {
        g_layout = status_layout_in_force();
        settings_device_to_edit(g_layout);
        g_base = settings_edit_copy(g_layout);
    }
    fill(settings_edit_copy(g_layout), status_identification_register(1));
    show_conflicts();
}

void settings_page_reset()
{
    settings_page_set_loaded(false);
    drop_edit_marks();
    show_widget("buttonRefreshSettings", false);
    g_layout = status_layout_in_force();
    SettingsImage empty;
    empty.layout = g_layout;
    g_base = empty;
    fill(empty, 0);
    show_conflicts();
}

void settings_page_set_edits(const SettingsImage& base, const SettingsImage& edited,
                             std::vector<SettingsConflict> conflicts)
{
    {
        std::lock_guard lock(app.settings_lock);
        settings_edit(g_layout) = edited;
    }
    settings_page_refill(false);
    g_base = base;
    g_conflicts = std::move(conflicts);
    show_conflicts();
    if (!settings_changes(base, edited).empty())
        settings_page_mark_edited();
}

bool settings_page_settle_conflicts(SettingsImage& edit, const SettingsImage& device)
{
    std::vector<SettingsConflict> open = settings_conflicts_open(g_conflicts, edit, device);
    if (open.empty())
        return false;
    int answer = ui().ask_question(
        format("<b>Эти настройки изменены и на странице, и в Контроллере (другим клиентом):</b>\n%s\n\n"
               "Оставить значения страницы? «Нет» — взять значения Контроллера.",
               settings_markup_escaped(settings_conflicts_text(open)).c_str())
            .c_str());
    if (!answer)
        for (const SettingsConflict& c : open)
            settings_take_controller_value(edit, device, c);
    {
        std::lock_guard lock(app.settings_lock);
        settings_edit(g_layout) = edit;
    }
    g_conflicts.clear();
    fill(edit, status_identification_register(1));
    if (settings_changes(device, edit).empty())
        drop_edit_marks();
    show_conflicts();
    return true;
}

void settings_page_mark_edited()
{
    app.settings_modified = 1;
    // A result of the last write no longer describes the page.
    if (GtkWidget* bar = widget_by_id("S_SaveProgress"); bar && GTK_IS_PROGRESS_BAR(bar) && !settings_apply_running()) {
        gtk_progress_bar_set_text(GTK_PROGRESS_BAR(bar), "");
        gtk_progress_bar_set_fraction(GTK_PROGRESS_BAR(bar), 0);
        for (const char* id : {"S_ButtonApply", "S_ButtonCancel"})
            if (GtkWidget* button = widget_by_id(id))
                gtk_widget_set_sensitive(button, TRUE);
    }
    show_widget("S_ControlButtons", true);
    show_widget("imageSettingsEdited", true);
}

bool settings_page_busy() { return g_filling > 0; }

void settings_page_refill_sections(uint16_t sections)
{
    fill(settings_edit_copy(g_layout), status_identification_register(1), sections);
}

void settings_page_show_stored(const SettingsBinding& binding)
{
    Filling filling;
    apply_binding(binding, settings_edit_copy(g_layout));
}

void settings_page_lock(bool locked)
{
    static const char* const kSections[] = {
        "S_MainExpander",    "S_EventsExpander",      "S_LoadExpander",          "S_BatteryExpander",
        "S_ContactorsExpander", "S_VUVExpander",      "S_MainsExpander",         "S_TemperatureExpander",
        "S_DCExpander",      "S_EPUExpander",         "S_ConfigurationExpander", "S_MonitoringExpander",
        "S_RS485Expander",   "buttonRefreshSettings", "S_ButtonApply",           "S_ButtonCancel"};
    for (const char* id : kSections)
        if (GtkWidget* widget = widget_by_id(id))
            gtk_widget_set_sensitive(widget, !locked);
}

int settings_page_layout() { return g_layout; }

std::string settings_markup_escaped(const std::string& text)
{
    gchar* e = g_markup_escape_text(text.c_str(), -1);
    std::string s = e;
    g_free(e);
    return s;
}
