#include "status/display_gtk.h"

#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <gtk/gtk.h>

#include "gui/widgets.h"
#include "base/workers.h"
#include "registers/settings_image.h"
#include "status/display_hooks.h"

namespace {

void (*g_settings_page_fill)(int layout) = nullptr;

// Looked up once: the clock in the menu bar and the progress mark at the end
// of the status bar change every cycle.
GtkWidget* g_device_time = nullptr;   // DeviceTime
GtkWidget* g_status_label = nullptr;  // StatusLabel

// A label set to what it already shows is laid out and drawn again all the
// same; most values stand still from one cycle to the next.
void set_markup_if_changed(GtkLabel* label, const char* markup)
{
    if (!gtk_label_get_use_markup(label) || std::strcmp(gtk_label_get_label(label), markup) != 0)
        gtk_label_set_markup(label, markup);
}

void set_text_if_changed(GtkLabel* label, const char* text)
{
    if (gtk_label_get_use_markup(label) || std::strcmp(gtk_label_get_label(label), text) != 0)
        gtk_label_set_text(label, text);
}

void apply(const char* id, const WidgetView& view)
{
    GtkWidget* widget = widget_by_id(id);
    if (!widget)
        return;
    if (view.markup && GTK_IS_LABEL(widget))
        set_markup_if_changed(GTK_LABEL(widget), view.markup->c_str());
    if (view.visible) {
        if (*view.visible)
            gtk_widget_show(widget);
        else
            gtk_widget_hide(widget);
    }
}

void set_label(const char* id, const char* markup)
{
    if (GtkWidget* widget = widget_by_id(id); widget && GTK_IS_LABEL(widget))
        set_markup_if_changed(GTK_LABEL(widget), markup);
}

void set_text(const char* id, const char* text)
{
    if (GtkWidget* widget = widget_by_id(id); widget && GTK_IS_LABEL(widget))
        set_text_if_changed(GTK_LABEL(widget), text);
}

// Sets a string column only when it differs, so an unchanged row does not
// make the view redraw.
template <typename Store, typename Setter>
void set_string(Store* store, GtkTreeIter* iter, int column, const std::string& value, Setter set)
{
    gchar* current = nullptr;
    gtk_tree_model_get(GTK_TREE_MODEL(store), iter, column, &current, -1);
    if (!current || value != current)
        set(store, iter, column, value.c_str(), -1);
    g_free(current);
}

template <typename Store, typename Setter>
void set_bool(Store* store, GtkTreeIter* iter, int column, bool value, Setter set)
{
    gboolean current = FALSE;
    gtk_tree_model_get(GTK_TREE_MODEL(store), iter, column, &current, -1);
    if ((current != FALSE) != value)
        set(store, iter, column, value ? TRUE : FALSE, -1);
}

void set_automat_row(GtkListStore* store, GtkTreeIter* iter, const AutomatRow& row)
{
    set_string(store, iter, 0, row.status_icon, gtk_list_store_set);
    set_string(store, iter, 1, row.automat, gtk_list_store_set);
    set_string(store, iter, 2, row.status_name, gtk_list_store_set);
    set_string(store, iter, 3, row.name, gtk_list_store_set);
}

void apply_automats(const LoadPageView& view)
{
    if (!view.update_list)
        return;
    GObject* object = object_by_id("AutomatsListStore");
    if (!object || !GTK_IS_LIST_STORE(object))
        return;
    GtkListStore* store = GTK_LIST_STORE(object);
    GtkTreeModel* model = GTK_TREE_MODEL(store);
    bool rebuild = view.rebuild || gtk_tree_model_iter_n_children(model, nullptr) != static_cast<int>(view.rows.size());
    GtkTreeIter iter;
    if (rebuild) {
        gtk_list_store_clear(store);
        for (const AutomatRow& row : view.rows) {
            gtk_list_store_append(store, &iter);
            set_automat_row(store, &iter, row);
        }
        return;
    }
    bool valid = gtk_tree_model_get_iter_first(model, &iter);
    for (const AutomatRow& row : view.rows) {
        if (!valid)
            break;
        set_automat_row(store, &iter, row);
        valid = gtk_tree_model_iter_next(model, &iter);
    }
}

void set_battery_row(GtkTreeStore* store, GtkTreeIter* iter, const BatteryRow& row)
{
    set_string(store, iter, 0, row.status_icon, gtk_tree_store_set);
    set_string(store, iter, 1, row.element_name, gtk_tree_store_set);
    set_string(store, iter, 2, row.status, gtk_tree_store_set);
    set_string(store, iter, 3, row.voltage, gtk_tree_store_set);
    set_string(store, iter, 4, row.current_temp, gtk_tree_store_set);
    set_string(store, iter, 5, row.bga_icon, gtk_tree_store_set);
    set_bool(store, iter, 6, row.bga_icon_visible, gtk_tree_store_set);
    set_string(store, iter, 7, row.bga_status, gtk_tree_store_set);
    set_bool(store, iter, 8, row.bga_status_visible, gtk_tree_store_set);
}

// The rows in the store have the shape of the view: same groups, same number
// of blocks under each.
bool battery_tree_matches(GtkTreeModel* model, const BatteryPageView& view)
{
    if (gtk_tree_model_iter_n_children(model, nullptr) != static_cast<int>(view.groups.size()))
        return false;
    GtkTreeIter group;
    bool valid = gtk_tree_model_get_iter_first(model, &group);
    for (const BatteryGroupView& g : view.groups) {
        if (!valid || gtk_tree_model_iter_n_children(model, &group) != static_cast<int>(g.blocks.size()))
            return false;
        valid = gtk_tree_model_iter_next(model, &group);
    }
    return true;
}

void apply_battery_tree(const BatteryPageView& view)
{
    GObject* object = object_by_id("BatteryTreeStore");
    if (!object || !GTK_IS_TREE_STORE(object))
        return;
    GtkTreeStore* store = GTK_TREE_STORE(object);
    GtkTreeModel* model = GTK_TREE_MODEL(store);
    GtkTreeIter group, block;
    if (view.rebuild || !battery_tree_matches(model, view)) {
        gtk_tree_store_clear(store);
        for (const BatteryGroupView& g : view.groups) {
            gtk_tree_store_append(store, &group, nullptr);
            set_battery_row(store, &group, g.row);
            for (const BatteryRow& b : g.blocks) {
                gtk_tree_store_append(store, &block, &group);
                set_battery_row(store, &block, b);
            }
        }
        // New rows start collapsed; open the groups so the blocks show without a click.
        if (GtkWidget* tree = widget_by_id("BatteryTree"); tree && GTK_IS_TREE_VIEW(tree))
            gtk_tree_view_expand_all(GTK_TREE_VIEW(tree));
        return;
    }
    bool valid = gtk_tree_model_get_iter_first(model, &group);
    for (const BatteryGroupView& g : view.groups) {
        if (!valid)
            break;
        set_battery_row(store, &group, g.row);
        bool child = gtk_tree_model_iter_children(model, &block, &group);
        for (const BatteryRow& b : g.blocks) {
            if (!child)
                break;
            set_battery_row(store, &block, b);
            child = gtk_tree_model_iter_next(model, &block);
        }
        valid = gtk_tree_model_iter_next(model, &group);
    }
}

// The mains frame of the summary strip takes a share of a wide strip only
// while its energy-saving note shows: the note then shortens to "Эн…" on a
// small screen instead of pushing the alarm box off it, and without the note
// the frame stays as narrow as its values.
void set_mains_frame_expands(bool expands)
{
    GtkWidget* frame = widget_by_id("frame9");
    GtkWidget* strip = frame ? gtk_widget_get_parent(frame) : nullptr;
    if (!strip || !GTK_IS_BOX(strip))
        return;
    gboolean expand, fill;
    guint padding;
    GtkPackType pack;
    gtk_box_query_child_packing(GTK_BOX(strip), frame, &expand, &fill, &padding, &pack);
    if ((expand != FALSE) != expands)
        gtk_box_set_child_packing(GTK_BOX(strip), frame, expands, expands, padding, pack);
}

void apply_summary_mains(const CycleView& c)
{
    const SummaryMainsView& v = c.summary_mains;
    apply("GlobalMainsLabel", v.label);
    apply("GlobalMainsL1", v.phase[0]);
    apply("GlobalMainsL2", v.phase[1]);
    apply("GlobalMainsL3", v.phase[2]);
    apply("hboxEnergosafe", v.energosafe);
    if (v.energosafe.visible)
        set_mains_frame_expands(*v.energosafe.visible);
}

void apply_summary_load(const CycleView& c)
{
    const SummaryLoadView& v = c.summary_load;
    apply("GlobalLoadLabel", v.label);
    apply("GlobalTK", v.tk);
    apply("GlobalLoadVoltage", v.voltage);
    apply("GlobalLoadCurrent", v.current);
}

void apply_summary_battery(const CycleView& c)
{
    const SummaryBatteryView& v = c.summary_battery;
    apply("GlobalBatteryLabel", v.label);
    apply("GlobalBatteryStatus", v.status);
    // The mode shortens on a small screen; the whole of it is a hover away.
    if (GtkWidget* label = widget_by_id("GlobalBatteryStatus"); label && GTK_IS_LABEL(label)) {
        const char* text = gtk_label_get_text(GTK_LABEL(label));
        gchar* shown = gtk_widget_get_tooltip_text(label);
        if (g_strcmp0(shown, text) != 0)
            gtk_widget_set_tooltip_text(label, *text ? text : nullptr);
        g_free(shown);
    }
    apply("GlobalBatteryCurrent", v.current);
}

void apply_summary_alarms(const CycleView& c)
{
    const SummaryAlarmsView& v = c.summary_alarms;
    apply("GlobalAlarmLabel", v.label);
    apply("GlobalAlarm1Count", v.count1);
    apply("GlobalAlarm2Count", v.count2);
}

void apply_mains_page(const CycleView& c)
{
    static const char* const labels[3] = {"MainsL1Label", "MainsL2Label", "MainsL3Label"};
    static const char* const values[3] = {"MainsL1", "MainsL2", "MainsL3"};
    static const char* const states[3] = {"MainsL1Status", "MainsL2Status", "MainsL3Status"};
    const MainsPageView& v = c.mains_page;
    apply("MainsLightingLabel", v.lighting_label);
    apply("MainsLightingStatus", v.lighting_status);
    for (int i = 0; i < 3; ++i) {
        apply(labels[i], v.phase_label[i]);
        apply(values[i], v.phase_value[i]);
        apply(states[i], v.phase_status[i]);
    }
}

void apply_load_page(const CycleView& c)
{
    const LoadPageView& v = c.load_page;
    apply("LoadTK", v.tk);
    apply("LoadVoltage", v.voltage);
    apply("LoadCurrent", v.current);
    apply_automats(v);
}

void apply_battery_page(const CycleView& c)
{
    const BatteryPageView& v = c.battery_page;
    apply("BatteryStatus", v.status);
    apply("BatterySummaryCurrent", v.current);
    apply_battery_tree(v);
}

void apply_temperatures(const CycleView& c)
{
    const TemperaturesView& v = c.temperatures;
    apply("Temperature1", v.t1);
    apply("Temperature2Label", v.t2_label);
    apply("Temperature2", v.t2);
}

void apply_identification(const CycleView& c)
{
    if (g_device_time)
        gtk_menu_item_set_label(GTK_MENU_ITEM(g_device_time), c.device_time.c_str());
    set_text("DeviceCode", c.identification.device_code.c_str());
    set_text("ProtocolVersion", c.identification.protocol_version.c_str());
    set_text("SWVersion", c.identification.sw_version.c_str());
    set_text("SerialNumber", c.identification.serial_number.c_str());
    set_text("DeviceComment", c.device_comment.c_str());
    set_text("DeviceClock", c.device_time.c_str());
    set_text("JournalNewestRecord", c.identification.journal_record.c_str());
    set_text("NewestTestSlot", c.identification.newest_test_slot.c_str());
    set_text("NewestDischargeSlot", c.identification.newest_discharge_slot.c_str());
    set_text("IdentificationOther", c.identification.other_registers.c_str());
}

void show_progress_mark(const char* markup)
{
    if (g_status_label)
        set_markup_if_changed(GTK_LABEL(g_status_label), markup);
}

// The poll thread moves the progress mark some twenty times a cycle. Taking
// the GDK lock and laying the label out each time cost more than the rest of
// the cycle's display; the mark is left here and shown at the pace of the
// activity timer, for the link it was posted for only.
struct PendingProgress {
    std::mutex lock;
    std::string markup;
    LinkSession session = 0;
    bool pending = false;
};
PendingProgress g_pending_progress;

void post_progress_mark(const char* markup)
{
    LinkSession session = link_session_current();
    std::lock_guard g(g_pending_progress.lock);
    g_pending_progress.markup = markup;
    g_pending_progress.session = session;
    g_pending_progress.pending = true;
}

gboolean show_pending_progress(gpointer)
{
    std::string markup;
    LinkSession session;
    {
        std::lock_guard g(g_pending_progress.lock);
        if (!g_pending_progress.pending)
            return TRUE;
        g_pending_progress.pending = false;
        markup.swap(g_pending_progress.markup);
        session = g_pending_progress.session;
    }
    if (session != 0 && link_session_live(session))
        show_progress_mark(markup.c_str());
    return TRUE;
}

constexpr guint kProgressPeriodMs = 100;

void show_cycle_time(const char* text) { set_label("CycleTime", text); }

// Every label and box the cycle writes, with what the description shows
// before any Controller was seen: a link that ends takes the window back
// there, so nothing of the last Controller stays on screen as if live.
const char* const kDisplayedIds[] = {
    "GlobalMainsLabel", "GlobalMainsL1", "GlobalMainsL2", "GlobalMainsL3", "hboxEnergosafe", "GlobalLoadLabel",
    "GlobalTK", "GlobalLoadVoltage", "GlobalLoadCurrent", "GlobalBatteryLabel", "GlobalBatteryStatus",
    "GlobalBatteryCurrent", "GlobalAlarmLabel", "GlobalAlarm1Count", "GlobalAlarm2Count", "MainsLightingLabel",
    "MainsLightingStatus", "MainsL1Label", "MainsL2Label", "MainsL3Label", "MainsL1", "MainsL2", "MainsL3",
    "MainsL1Status", "MainsL2Status", "MainsL3Status", "LoadTK", "LoadVoltage", "LoadCurrent", "BatteryStatus",
    "BatterySummaryCurrent", "Temperature1", "Temperature2Label", "Temperature2", "DeviceCode", "ProtocolVersion",
    "SWVersion", "SerialNumber", "DeviceComment", "DeviceClock", "JournalNewestRecord", "NewestTestSlot",
    "NewestDischargeSlot", "IdentificationOther", "CycleTime",
};

// What turns grey while the data is stale: the values the cycle writes, never
// a control. The summary strip holds nothing but values; on the «События» and
// «Параметры» pages the live lists and tables of values do, while the journal
// (read once, searched and exported at any time) and every button, entry and
// scroll bar stay usable: a command still goes out and says what the
// Controller answered, a read can still be stopped.
const char* const kLiveAreas[] = {"MainStatus"};
constexpr int kValuePages[] = {0, 1};
const char* const kNotLive[] = {"JournalExpander"};
std::vector<GtkWidget*> g_stale_values;

bool is_not_live(GtkWidget* widget)
{
    const char* name = gtk_buildable_get_name(GTK_BUILDABLE(widget));
    for (const char* id : kNotLive)
        if (name && std::strcmp(name, id) == 0)
            return true;
    return false;
}

void collect_values(GtkWidget* widget, gpointer)
{
    if (is_not_live(widget))
        return;
    if (GTK_IS_TREE_VIEW(widget) || GTK_IS_TABLE(widget)) {
        g_stale_values.push_back(widget);
        return;
    }
    if (GTK_IS_CONTAINER(widget))
        gtk_container_forall(GTK_CONTAINER(widget), collect_values, nullptr);
}

void collect_stale_values()
{
    g_stale_values.clear();
    for (const char* id : kLiveAreas)
        if (GtkWidget* widget = widget_by_id(id))
            g_stale_values.push_back(widget);
    if (GtkWidget* notebook = widget_by_id("Categories"); notebook && GTK_IS_NOTEBOOK(notebook))
        for (int page : kValuePages)
            if (GtkWidget* child = gtk_notebook_get_nth_page(GTK_NOTEBOOK(notebook), page))
                collect_values(child, nullptr);
    if (g_device_time)
        g_stale_values.push_back(g_device_time);
}

struct InitialLook {
    std::string label;
    bool markup;
    bool visible;
};
std::map<std::string, InitialLook> g_initial;

void remember_initial_look()
{
    for (const char* id : kDisplayedIds) {
        GtkWidget* widget = widget_by_id(id);
        if (!widget)
            continue;
        InitialLook look{"", false, gtk_widget_get_visible(widget) != FALSE};
        if (GTK_IS_LABEL(widget)) {
            look.label = gtk_label_get_label(GTK_LABEL(widget));
            look.markup = gtk_label_get_use_markup(GTK_LABEL(widget)) != FALSE;
        }
        g_initial[id] = look;
    }
}

void set_values_sensitive(bool sensitive)
{
    for (GtkWidget* widget : g_stale_values)
        gtk_widget_set_sensitive(widget, sensitive);
}

void show_staleness(bool stale) { set_values_sensitive(!stale); }

void show_or_hide(const char* id, bool visible)
{
    if (GtkWidget* widget = widget_by_id(id))
        visible ? gtk_widget_show(widget) : gtk_widget_hide(widget);
}

void prepare_settings_page(int layout)
{
    show_or_hide("imageSettingsEdited", false);
    show_or_hide("S_Energosafe", layout_has_energy_saving(layout));
    show_or_hide("labelSEnergosafe", layout_has_energy_saving(layout));
    show_or_hide("S_ControlButtons", false);
    if (g_settings_page_fill)
        g_settings_page_fill(layout);
    if (GtkWidget* notebook = widget_by_id("Categories"); notebook && GTK_IS_NOTEBOOK(notebook))
        if (GtkWidget* page = gtk_notebook_get_nth_page(GTK_NOTEBOOK(notebook), kSettingsNotebookPage))
            gtk_widget_set_sensitive(page, TRUE);
}

} // namespace

void status_display_install()
{
    g_device_time = widget_by_id("DeviceTime");
    if (g_device_time && !GTK_IS_MENU_ITEM(g_device_time))
        g_device_time = nullptr;
    g_status_label = widget_by_id("StatusLabel");
    if (g_status_label && !GTK_IS_LABEL(g_status_label))
        g_status_label = nullptr;
    PollDisplayHooks& hooks = display_hooks();
    hooks.set_progress = post_progress_mark;
    gdk_threads_add_timeout(kProgressPeriodMs, show_pending_progress, nullptr);
    hooks.set_cycle_time = show_cycle_time;
    hooks.set_stale = show_staleness;
    hooks.load_settings_page = prepare_settings_page;
    display_set_applier(DisplayStep::Identification, apply_identification);
    display_set_applier(DisplayStep::SummaryMains, apply_summary_mains);
    display_set_applier(DisplayStep::SummaryLoad, apply_summary_load);
    display_set_applier(DisplayStep::SummaryBattery, apply_summary_battery);
    display_set_applier(DisplayStep::SummaryAlarms, apply_summary_alarms);
    display_set_applier(DisplayStep::MainsPage, apply_mains_page);
    display_set_applier(DisplayStep::LoadPage, apply_load_page);
    display_set_applier(DisplayStep::BatteryPage, apply_battery_page);
    display_set_applier(DisplayStep::Temperatures, apply_temperatures);
    remember_initial_look();
    collect_stale_values();
}

void status_display_reset()
{
    for (const auto& [id, look] : g_initial) {
        GtkWidget* widget = widget_by_id(id.c_str());
        if (!widget)
            continue;
        if (GTK_IS_LABEL(widget)) {
            gtk_label_set_use_markup(GTK_LABEL(widget), look.markup);
            gtk_label_set_label(GTK_LABEL(widget), look.label.c_str());
        }
        look.visible ? gtk_widget_show(widget) : gtk_widget_hide(widget);
    }
    if (g_device_time)
        gtk_menu_item_set_label(GTK_MENU_ITEM(g_device_time), "");
    {
        std::lock_guard g(g_pending_progress.lock);
        g_pending_progress.pending = false;
    }
    show_progress_mark("");
    set_values_sensitive(true);
    set_mains_frame_expands(false);
    LoadPageView no_breakers;
    no_breakers.update_list = no_breakers.rebuild = true;
    apply_automats(no_breakers);
    BatteryPageView no_groups;
    no_groups.rebuild = true;
    apply_battery_tree(no_groups);
}

void status_set_settings_page_fill(void (*fill)(int layout)) { g_settings_page_fill = fill; }
