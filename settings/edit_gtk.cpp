#include "settings/edit_gtk.h"

#include <gtk/gtk.h>

#include <algorithm>
#include <cmath>
#include <mutex>
#include <string>

#include "gui/helpers.h"
#include "gui/widgets.h"
#include "base/app_state.h"
#include "base/text_format.h"
#include "registers/settings_store.h"
#include "settings/bindings.h"
#include "settings/masks_gtk.h"
#include "settings/page_gtk.h"
#include "settings/rules.h"

namespace {

using F = SettingsField;

// Status bar context of the notes that say why an entry was not taken as typed.
constexpr const char* kSettingsNote = "settings";

bool applies(const SettingsBinding& b) { return b.layouts >> (settings_page_layout() - 1) & 1; }

// Edits count only on a page loaded from this connection's Controller.
bool edits_count() { return app.link_open && settings_page_loaded(); }

void show_effects(uint16_t sections, MaskListsEffect masks)
{
    settings_page_refill_sections(sections);
    if (masks != MaskListsEffect::None)
        mask_lists_fill(settings_edit_copy(settings_page_layout()));
}

// Runs `rule` on the edit copy; a refused edit shows the stored value again.
template <typename Rule>
bool edit(const SettingsBinding& b, Rule rule)
{
    if (settings_page_busy())
        return false;
    EditResult result;
    if (edits_count() && applies(b)) {
        std::lock_guard lock(app.settings_lock);
        result = rule(settings_edit(settings_page_layout()));
    }
    if (result.accepted)
        settings_page_mark_edited();
    settings_page_show_stored(b);
    if (result.accepted)
        show_effects(result.refresh, result.masks);
    return result.accepted;
}

const SettingsBinding* spin_binding(GtkSpinButton* spin)
{
    for (const SettingsBinding& b : settings_bindings())
        if (b.kind == ControlKind::Spin && widget_by_id(b.id) == GTK_WIDGET(spin))
            return &b;
    return nullptr;
}

// At most 60 characters of what was typed, so a pasted page stays one line.
std::string quoted(const char* text)
{
    constexpr long kQuoted = 60;
    if (!g_utf8_validate(text, -1, nullptr))
        return "…";
    if (g_utf8_strlen(text, -1) <= kQuoted)
        return text;
    return std::string(text, g_utf8_offset_to_pointer(text, kQuoted) - text) + "…";
}

// A number typed with more decimals than its field holds: said once the spin
// has stored what it keeps of it.
struct Rounded {
    const SettingsBinding* binding = nullptr;
    std::string text;
};
Rounded g_rounded;

// Says why a spin's text was refused or changed; a text taken as typed
// clears the last such note.
void spin_text_checked(GtkSpinButton* spin, const char* text, const double* value)
{
    const SettingsBinding* b = spin_binding(spin);
    if (!b || settings_page_busy() || !edits_count())
        return;
    std::string shown = format("%.*f", b->digits, gtk_spin_button_get_value(spin));
    if (!value) {
        status_bar_note(kSettingsNote,
                        format("%s: «%s» — не число, оставлено %s", b->label, quoted(text).c_str(), shown.c_str()).c_str());
        return;
    }
    // Where the spin's own range and the rule's window would put the number.
    GtkAdjustment* adjustment = gtk_spin_button_get_adjustment(spin);
    double within = std::clamp(*value, gtk_adjustment_get_lower(adjustment), gtk_adjustment_get_upper(adjustment));
    SettingsImage image = settings_edit_copy(settings_page_layout());
    StoredRange range = settings_edit_range(*b, image);
    double stored = std::clamp(settings_stored_number(*b, within), range.min, std::max(range.min, range.max));
    double scale = b->scale ? b->scale : 1;
    double result = stored / scale;
    g_rounded = {};
    if (std::fabs(result - *value) * scale > 0.5)
        status_bar_note(kSettingsNote, format("%s: %s вне допустимых пределов, установлено %.*f", b->label,
                                              quoted(text).c_str(), b->digits, result).c_str());
    else if (std::fabs(std::round(*value * scale) - *value * scale) > 1e-6)
        g_rounded = {b, quoted(text)};
    else
        status_bar_note(kSettingsNote, "");
}

void spin_changed(GtkSpinButton* spin, gpointer data)
{
    const auto& b = *static_cast<const SettingsBinding*>(data);
    double value = gtk_spin_button_get_value(spin);
    // A minimum above its maximum is refused, naming both.
    std::string inverted;
    edit(b, [&](SettingsImage& image) {
        SettingsImage after = image;
        EditResult result = settings_edit_number(after, b, value);
        SettingsPair pair = settings_inverted_pair(after);
        if (pair.low && !settings_inverted_pair(image).low) {
            inverted = format("%s %.*f больше, чем %s %.*f: минимум не может превышать максимум, оставлено прежнее "
                              "значение",
                              pair.low->label, pair.low->digits, settings_control_value(*pair.low, after).number,
                              pair.high->label, pair.high->digits, settings_control_value(*pair.high, after).number);
            return EditResult{};
        }
        image = after;
        return result;
    });
    if (!inverted.empty()) {
        g_rounded = {};
        if (edits_count())
            status_bar_note(kSettingsNote, inverted.c_str());
        return;
    }
    if (g_rounded.binding == &b && edits_count()) {
        SettingsBinding stored = b;
        stored.shown_min = stored.shown_max = 0;
        double kept = settings_control_value(stored, settings_edit_copy(settings_page_layout())).number;
        static const char* const kHolds[] = {"целые числа", "один знак после запятой", "два знака после запятой",
                                             "три знака после запятой"};
        const char* holds = kHolds[std::min<size_t>(b.digits, std::size(kHolds) - 1)];
        status_bar_note(kSettingsNote, format("%s: %s — поле хранит %s, установлено %.*f", b.label,
                                              g_rounded.text.c_str(), holds, b.digits, kept)
                                           .c_str());
    }
    g_rounded = {};
    // A zero typed with a minus is still zero: the spin shows it without one.
    if (value == 0 && std::string(gtk_entry_get_text(GTK_ENTRY(spin))).rfind('-', 0) == 0) {
        gchar* zero = g_strdup_printf("%.*f", b.digits, 0.0);
        gtk_entry_set_text(GTK_ENTRY(spin), zero);
        g_free(zero);
    }
}

void combo_changed(GtkComboBox* combo, gpointer data)
{
    const auto& b = *static_cast<const SettingsBinding*>(data);
    int row = gtk_combo_box_get_active(combo);
    edit(b, [&](SettingsImage& image) { return settings_edit_row(image, b, row); });
}

void check_toggled(GtkToggleButton* button, gpointer data)
{
    const auto& b = *static_cast<const SettingsBinding*>(data);
    bool active = gtk_toggle_button_get_active(button);
    edit(b, [&](SettingsImage& image) { return settings_edit_check(image, b, active); });
}

// An entry is committed by Enter or by leaving it; leaving it unchanged is no edit.
void entry_commit(GtkEntry* entry, const SettingsBinding& b)
{
    if (settings_page_busy())
        return;
    std::string text = gtk_entry_get_text(entry);
    if (text == settings_control_value(b, settings_edit_copy(settings_page_layout())).text)
        return;
    bool taken = edit(b, [&](SettingsImage& image) { return settings_edit_text(image, b, text.c_str()); });
    // A refused text snaps back to the stored one: say why.
    if (edits_count())
        status_bar_note(kSettingsNote, taken ? "" : settings_refusal_reason(b, text.c_str()).c_str());
}

void entry_activate(GtkEntry* entry, gpointer data) { entry_commit(entry, *static_cast<const SettingsBinding*>(data)); }

gboolean entry_focus_out(GtkWidget* entry, GdkEventFocus*, gpointer data)
{
    entry_commit(GTK_ENTRY(entry), *static_cast<const SettingsBinding*>(data));
    return FALSE;
}

// ---------------------------------------------------------------- list cells

// Columns of the page's list stores, as the page fills them: the row's item
// index is always the last.
enum BreakerNameColumn { kBreakerNameLabel, kBreakerName, kBreakerNameIndex };
enum BlockMonitorColumn { kBlockMonitorLabel, kBlockMonitorAddress, kBlockMonitorChannel, kBlockMonitorIndex };
enum ContactorColumn { kContactorLabel, kContactorBySK, kContactorName, kContactorIndex };
enum DryContactColumn { kDryContactLabel, kDryContactName, kDryContactType, kDryContactIndex };
// Label, one toggle per option ("Нет", К1…К4), the kind of breaker, the index.
enum BreakerContactorColumn { kBreakerContactorLabel, kBreakerContactorKind = 6, kBreakerContactorIndex };

struct CellList {
    const char* store;
    int index_column;
};

bool cell_row(const CellList& list, const gchar* path, GtkListStore** store, GtkTreeIter* iter, int* index)
{
    GObject* object = object_by_id(list.store);
    if (!object || !GTK_IS_LIST_STORE(object))
        return false;
    *store = GTK_LIST_STORE(object);
    if (!gtk_tree_model_get_iter_from_string(GTK_TREE_MODEL(object), iter, path))
        return false;
    gtk_tree_model_get(GTK_TREE_MODEL(object), iter, list.index_column, index, -1);
    return true;
}

// One edit of a list cell: the rule on the edit copy, then the sections and
// lists that show it refilled from the edit copy.
template <typename Rule>
void cell_edit(uint16_t sections, bool masks, Rule rule, const char* refused = nullptr)
{
    if (settings_page_busy() || !edits_count())
        return;
    int result;
    {
        std::lock_guard lock(app.settings_lock);
        result = rule(settings_edit(settings_page_layout()));
    }
    if (refused)
        status_bar_note(kSettingsNote, result != 0 ? refused : "");
    if (result != 0)
        return;
    settings_page_mark_edited();
    show_effects(sections, masks ? MaskListsEffect::Refresh : MaskListsEffect::None);
}

struct NameCell {
    CellList list;
    F field;
    uint16_t sections;
};
const NameCell kNameCells[] = {
    {{"S_RelyNames", 2}, F::RelayNames, 0},
    {{"S_AtomatsNamesListStore", kBreakerNameIndex}, F::LoadBreakerNames, section_bit(SettingsSection::Load)},
    {{"S_ContactorsParametersListStore", kContactorIndex}, F::ContactorNames, section_bit(SettingsSection::Contactors)},
    {{"S_DCListStore", kDryContactIndex}, F::DryContactNames, section_bit(SettingsSection::DryContacts)},
};

void name_edited(GtkCellRendererText*, gchar* path, gchar* text, gpointer data)
{
    const auto& cell = *static_cast<const NameCell*>(data);
    GtkListStore* store;
    GtkTreeIter iter;
    int index = 0;
    if (!cell_row(cell.list, path, &store, &iter, &index))
        return;
    // Names appear in the event texts of the mask list too.
    cell_edit(
        cell.sections, true, [&](SettingsImage& image) { return settings_edit_name(image, cell.field, index, text); },
        "Название: есть знаки, которых нет в кодировке контроллера (WINDOWS-1251)");
}

const CellList kBlockMonitors{"S_BatterySetUPKBListStore", kBlockMonitorIndex};

void block_monitor_edited(GtkCellRendererText*, gchar* path, gchar* text, gpointer data)
{
    bool channel = GPOINTER_TO_INT(data) != 0;
    GtkListStore* store;
    GtkTreeIter iter;
    int index = 0;
    if (cell_row(kBlockMonitors, path, &store, &iter, &index))
        cell_edit(
            section_bit(SettingsSection::Battery), false,
            [&](SettingsImage& image) { return settings_edit_block_monitor(image, index, channel, text); },
            channel ? "Канал УПКБ: целое число от 1 до 8" : "Адрес УПКБ: целое число от 0 до 15");
}

// A check column of a list that toggles one bit of a word per row.
struct BitCell {
    CellList list;
    F field;
    uint16_t sections;
};
const BitCell kDryContactTypes{
    {"S_DCListStore", kDryContactIndex}, F::DryContactTypes, section_bit(SettingsSection::DryContacts)};
const BitCell kContactorsByDC{
    {"S_ContactorsParametersListStore", kContactorIndex}, F::ContactorBySK, section_bit(SettingsSection::Contactors)};

void bit_toggled(GtkCellRendererToggle*, gchar* path, gpointer data)
{
    const auto& cell = *static_cast<const BitCell*>(data);
    GtkListStore* store;
    GtkTreeIter iter;
    int index = 0;
    if (cell_row(cell.list, path, &store, &iter, &index))
        cell_edit(cell.sections, false,
                  [&](SettingsImage& image) { return settings_toggle_bit(image, cell.field, index); });
}

void breaker_contactor_toggled(GtkCellRendererToggle*, gchar* path, gpointer data)
{
    int option = GPOINTER_TO_INT(data);
    GtkListStore* store;
    GtkTreeIter iter;
    int index = 0;
    if (!cell_row({"S_ContactorsConfigurationListStore", kBreakerContactorIndex}, path, &store, &iter, &index))
        return;
    int kind = 0;
    gtk_tree_model_get(GTK_TREE_MODEL(store), &iter, kBreakerContactorKind, &kind, -1);
    cell_edit(section_bit(SettingsSection::Configuration), false,
              [&](SettingsImage& image) { return settings_set_breaker_contactor(image, kind, index, option); });
}

void connect_text_cell(const char* renderer, GCallback handler, gpointer data)
{
    GObject* object = object_by_id(renderer);
    if (!object || !GTK_IS_CELL_RENDERER_TEXT(object))
        return;
    g_object_set(object, "editable", TRUE, nullptr);
    g_signal_connect(object, "edited", handler, data);
}

void connect_toggle_cell(const char* renderer, GCallback handler, gpointer data)
{
    GObject* object = object_by_id(renderer);
    if (!object || !GTK_IS_CELL_RENDERER_TOGGLE(object))
        return;
    g_object_set(object, "activatable", TRUE, nullptr);
    g_signal_connect(object, "toggled", handler, data);
}

} // namespace

void settings_edit_install()
{
    for (const SettingsBinding& b : settings_bindings()) {
        GtkWidget* widget = widget_by_id(b.id);
        if (!widget)
            continue;
        gpointer data = const_cast<SettingsBinding*>(&b);
        switch (b.kind) {
        case ControlKind::Spin:
            if (GTK_IS_SPIN_BUTTON(widget)) {
                spin_button_take_any_separator(GTK_SPIN_BUTTON(widget), spin_text_checked);
                g_signal_connect(widget, "value-changed", G_CALLBACK(spin_changed), data);
            }
            break;
        case ControlKind::Combo:
            if (GTK_IS_COMBO_BOX(widget))
                g_signal_connect(widget, "changed", G_CALLBACK(combo_changed), data);
            break;
        case ControlKind::Check:
            if (GTK_IS_TOGGLE_BUTTON(widget))
                g_signal_connect(widget, "toggled", G_CALLBACK(check_toggled), data);
            break;
        case ControlKind::Entry:
        case ControlKind::AddressByte:
            if (GTK_IS_ENTRY(widget)) {
                g_signal_connect(widget, "activate", G_CALLBACK(entry_activate), data);
                g_signal_connect(widget, "focus-out-event", G_CALLBACK(entry_focus_out), data);
            }
            break;
        }
    }
    const char* const kNameRenderers[] = {"rely_name", "automat_name", "contactor_name", "dc_name"};
    for (size_t i = 0; i < std::size(kNameCells); ++i)
        connect_text_cell(kNameRenderers[i], G_CALLBACK(name_edited), const_cast<NameCell*>(&kNameCells[i]));
    connect_text_cell("upkb_address", G_CALLBACK(block_monitor_edited), GINT_TO_POINTER(0));
    connect_text_cell("upkb_channel", G_CALLBACK(block_monitor_edited), GINT_TO_POINTER(1));
    connect_toggle_cell("dc_type", G_CALLBACK(bit_toggled), const_cast<BitCell*>(&kDryContactTypes));
    connect_toggle_cell("contactor_by_dc", G_CALLBACK(bit_toggled), const_cast<BitCell*>(&kContactorsByDC));
    const char* const kOptions[] = {"config_none", "config_k1", "config_k2", "config_k3", "config_k4"};
    for (int option = 0; option < 5; ++option)
        connect_toggle_cell(kOptions[option], G_CALLBACK(breaker_contactor_toggled), GINT_TO_POINTER(option));
}

void settings_edit_commit_focus()
{
    GtkWindow* window = main_window();
    GtkWidget* focus = window ? gtk_window_get_focus(window) : nullptr;
    if (!focus)
        return;
    if (GTK_IS_SPIN_BUTTON(focus)) {
        gtk_spin_button_update(GTK_SPIN_BUTTON(focus));
        return;
    }
    if (!GTK_IS_ENTRY(focus))
        return;
    for (const SettingsBinding& b : settings_bindings())
        if (widget_by_id(b.id) == focus && (b.kind == ControlKind::Entry || b.kind == ControlKind::AddressByte))
            entry_commit(GTK_ENTRY(focus), b);
}

void settings_edit_clear_note() { status_bar_note(kSettingsNote, ""); }
