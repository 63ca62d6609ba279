// Loading a read settings file over the Controller's settings, step by step:
// the image to start from, the file's keys over it, every value that differs
// from the Controller's through the page's rules, and what the review and the
// log must say about it.
#include "settings/settings_file.h"

#include <glib.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "base/text_format.h"
#include "settings/apply_plan.h"
#include "settings/rules.h"
#include "settings/setting_units.h"
#include "settings/settings_file_keys.h"

using namespace settings_file_keys;

namespace {

using F = SettingsField;

struct Refusal {
    std::string why;
};

// Puts one value into `image` through the rule of its control. Empty `why`
// when the control took it (it may still be changed by a later value).
Refusal apply_value(SettingsImage& image, const SettingsBinding& b, const std::string& value, bool rows)
{
    switch (b.kind) {
    case ControlKind::Spin: {
        double number = 0;
        if (!parse_number(value, number))
            return {"не число"};
        settings_edit_number(image, b, number);
        return {};
    }
    case ControlKind::Combo: {
        int row = combo_row(b, value, rows);
        if (row < 0)
            return {rows ? format("нет такой строки списка (0–%d)", b.rows - 1) : "нет такого значения в списке"};
        settings_edit_row(image, b, row);
        return {};
    }
    case ControlKind::Check:
        if (value != "true" && value != "false")
            return {"ожидается true или false"};
        settings_edit_check(image, b, value == "true");
        return {};
    case ControlKind::AddressByte: {
        long octet = 0;
        if (!parse_integer(value, b.rule == TextRule::Hex ? 16 : 10, octet) || octet > 255)
            return {b.rule == TextRule::Hex ? "ожидается байт 00–FF" : "ожидается число 0–255"};
        settings_edit_text(image, b, format(b.rule == TextRule::Hex ? "%02lX" : "%ld", octet).c_str());
        return {};
    }
    case ControlKind::Entry:
        if (!settings_edit_text(image, b, value.c_str()).accepted && !value.empty())
            return {"текст не допускается"};
        return {};
    }
    return {};
}

std::string refused(const SettingsFileValue& v, const std::string& why)
{
    return format("Строка %d: «%s = %s» — %s.", v.line, settings_quoted_value(v.key).c_str(),
                  settings_quoted_value(v.value).c_str(), why.c_str());
}

std::string range_text(const SettingsBinding& b, const SettingsImage& image)
{
    StoredRange r = settings_edit_range(b, image);
    double scale = b.scale ? b.scale : 1;
    return format("значение вне допустимого диапазона %s–%s", number_text(r.min / scale, b.digits).c_str(),
                  number_text(r.max / scale, b.digits).c_str());
}

bool same_item(const SettingsImage& a, const SettingsImage& b, F field, int item)
{
    auto x = settings_item(a, field, item), y = settings_item(b, field, item);
    return x.size() == y.size() && std::equal(x.begin(), x.end(), y.begin());
}

bool first_byte_zero(const SettingsImage& image, F field, int item)
{
    auto bytes = settings_item(image, field, item);
    return bytes.empty() || bytes[0] == 0;
}

// The image after the control's value, as the image holds it, is entered on
// the page again. False when the rule refuses it.
bool entered_again(const SettingsImage& image, const SettingsBinding& b, SettingsImage& out)
{
    out = image;
    ControlValue v = settings_control_value(b, image);
    switch (b.kind) {
    case ControlKind::Spin: settings_edit_number(out, b, v.number); return true;
    case ControlKind::Combo:
        if (v.row < 0)
            // One word, two lists (the rectifier model, or class and type):
            // the value is the other list's to show.
            for (const SettingsBinding& other : settings_bindings())
                if (&other != &b && other.kind == ControlKind::Combo && other.field == b.field &&
                    settings_control_value(other, image).row >= 0)
                    return true;
        return settings_edit_row(out, b, v.row).accepted;
    case ControlKind::Entry:
        if (first_byte_zero(image, b.field, b.item))
            return true;
        if (v.text.empty() || !settings_edit_text(out, b, v.text.c_str()).accepted)
            return false;
        // Bytes after the end of a text mean nothing: the same text is the same value.
        if (settings_control_value(b, out).text == v.text)
            out = image;
        return true;
    case ControlKind::Check:
    case ControlKind::AddressByte: break;
    }
    return true;
}

// The list items no control shows as a spin or entry, with their names in
// the review.
struct ItemRule {
    F field;
    const char* name;
};
constexpr ItemRule kItemRules[] = {
    {F::RelayNames, "Название реле %d"},       {F::LoadBreakerNames, "Название QH%d"},
    {F::ContactorNames, "Название K%d"},       {F::DryContactNames, "Название СК%d"},
    {F::BatteryBreakerContactor, "Контактор QB%d"}, {F::LoadBreakerContactor, "Контактор QH%d"},
    {F::BlockMonitorAddress, "УПКБ группы %d"},
};

bool is_name(F field)
{
    return field == F::RelayNames || field == F::LoadBreakerNames || field == F::ContactorNames ||
           field == F::DryContactNames;
}

bool item_entered_again(const SettingsImage& image, F field, int item, SettingsImage& out)
{
    out = image;
    switch (field) {
    case F::BatteryBreakerContactor:
    case F::LoadBreakerContactor:
        // The page offers "Нет" and К1…К4 only; what else a word holds means no contactor.
        if (settings_u16(image, field, item) > 4)
            settings_set_u16(out, field, 0, item);
        return true;
    case F::BlockMonitorAddress:
        return settings_edit_block_monitor(out, item, false,
                                           std::to_string(settings_u16(image, field, item) / 8).c_str()) == 0;
    default: break;
    }
    if (first_byte_zero(image, field, item))
        return true;
    std::string text = device_string_to_utf8(settings_item(image, field, item));
    if (text.empty() || settings_edit_name(out, field, item, text.c_str()) != 0)
        return false;
    if (settings_name(out, field, item) == text)
        out = image;
    return true;
}

int word_of(F field, int item, int layout)
{
    return settings_word(field, layout) + static_cast<int>(settings_item_bytes(field, layout)) * item / 2;
}

// A key of the file with its control.
struct Value {
    const SettingsFileValue* v;
    const SettingsBinding* b;
    bool as_saved; // the file's value is the one its own raw words hold
};

// One load under way: what it starts from, what it has made so far.
struct Load {
    const SettingsFile& file;
    const SettingsImage& target;
    bool keep_serial;
    bool across;  // the file is of another layout
    // Settings copied from another Controller, or from another layout: what
    // the program saved there is brought into this one's range. From this
    // Controller's own file a [raw] value out of the rules was put there by hand.
    bool copied;
    bool rows;
    SettingsFileLoad& out;
    std::string& message;
    SettingsImage image;
    std::vector<Value> values;
    std::vector<const SettingsBinding*> limited;
    std::vector<std::pair<F, int>> limited_items;

    const Value* key_of(const SettingsBinding& b) const
    {
        for (const Value& value : values)
            if (same_setting(*value.b, b))
                return &value;
        return nullptr;
    }
    int refuse(std::string why)
    {
        message = std::move(why);
        return -1;
    }
};

// The file's image in the target's layout, with what stays the Controller's
// whatever the file says: the header words, the serial number of another
// Controller's file, the passwords a file saved without them.
void start_image(Load& l)
{
    if (l.across) {
        l.image = carried_image(l.file.raw, l.target, l.out.not_carried);
    } else {
        l.image = l.file.raw;
        // The header words are the Controller's own and never written.
        std::memcpy(l.image.data(), l.target.data(), 6);
    }
    if (l.keep_serial || l.across)
        settings_set_u32(l.image, F::SerialNumber, settings_u32(l.target, F::SerialNumber));
    for (F field : {F::Password, F::MonitoringPassword}) {
        bool keyed = std::any_of(l.file.values.begin(), l.file.values.end(), [&](const SettingsFileValue& v) {
            const SettingsBinding* b = binding_by_key(v.key);
            return b && b->field == field;
        });
        if (!keyed)
            std::copy_n(settings_item(l.target, field).begin(), settings_item(l.target, field).size(),
                        settings_item(l.image, field).begin());
    }
}

// The file's keys the target has, each with its control; what it lacks is
// listed. Of two keys for one setting, the one left as saved yields to the
// one changed by hand.
int gather_values(Load& l)
{
    std::vector<Value> values;
    for (const SettingsFileValue& v : l.file.values) {
        const SettingsBinding* b = binding_by_key(v.key);
        if (!b)
            continue; // settings_file_read refused it already
        if (l.keep_serial && b->field == F::SerialNumber)
            continue;
        bool as_saved = shown_as(*b, l.file.raw, v.value, l.rows);
        // A tab or line break typed into a text is no part of a name the page
        // would take; the Controller's own text, as saved, may hold one.
        if (b->kind == ControlKind::Entry && !as_saved &&
            std::any_of(v.value.begin(), v.value.end(), [](char c) { return c == '\t' || c == '\n' || c == '\r'; }))
            return l.refuse(
                format("Строка %d: «%s» — табуляция или перевод строки внутри текста.", v.line, v.key.c_str()));
        if (!in_layout(*b, l.target.layout)) {
            l.out.missing.push_back(v.key);
            if (!as_saved)
                l.out.not_carried.push_back(format("«%s = %s» (строка %d): у подключенного Контроллера такой "
                                                   "настройки нет",
                                                   v.key.c_str(), settings_quoted_value(v.value).c_str(), v.line));
            continue;
        }
        values.push_back({&v, b, as_saved});
    }
    for (const Value& value : values) {
        bool yields = value.as_saved && std::any_of(values.begin(), values.end(), [&](const Value& other) {
            return other.b != value.b && !other.as_saved && same_setting(*value.b, *other.b);
        });
        if (!yields)
            l.values.push_back(value);
    }
    return 0;
}

// Each key's value through its control. Twice: a limit that follows another
// setting (voltages after the cell count, the reserve after the module count)
// sees the file's value of it the second time, whatever the order of the file.
int enter_keys(Load& l)
{
    for (int pass = 0; pass < 2; ++pass)
        for (const Value& value : l.values)
            if (!shows(l.image, *value.b, value.v->value, l.rows)) {
                // The Controller's own value is taken as it is, even where the
                // page would cut it (a comment filling all ten bytes).
                if (value.b->kind == ControlKind::Entry && shows(l.target, *value.b, value.v->value, l.rows)) {
                    auto own = settings_item(l.target, value.b->field, value.b->item);
                    std::copy(own.begin(), own.end(), settings_item(l.image, value.b->field, value.b->item).begin());
                    continue;
                }
                if (Refusal r = apply_value(l.image, *value.b, value.v->value, l.rows); !r.why.empty())
                    return l.refuse(refused(*value.v, r.why));
            }
    return 0;
}

// Every key now shows its value, or was brought into range as saved: a hand
// edit the rules changed, or two keys of one setting that disagree, refuse.
int check_keys(Load& l)
{
    for (const Value& value : l.values) {
        const SettingsFileValue& v = *value.v;
        const SettingsBinding& b = *value.b;
        if (shows(l.image, b, v.value, l.rows))
            continue;
        auto twin = std::find_if(l.values.begin(), l.values.end(), [&](const Value& other) {
            return other.b != &b && same_setting(b, *other.b) && shows(l.image, *other.b, other.v->value, l.rows);
        });
        if (twin != l.values.end())
            return l.refuse(refused(
                v, format("строка %d («%s») задает эту же настройку иначе", twin->v->line, twin->v->key.c_str())));
        // A value the program saved, brought into range by the rules of the
        // settings it now sits among; only a hand edit out of range refuses.
        if (value.as_saved && b.kind == ControlKind::Spin) {
            l.limited.push_back(&b);
            continue;
        }
        return l.refuse(refused(v, b.kind == ControlKind::Spin    ? range_text(b, l.image)
                                   : b.kind == ControlKind::Entry ? "текст не помещается в поле"
                                                                  : "значение не принято"));
    }
    return 0;
}

int raw_refusal(Load& l, int word, const std::string& what, const std::string& why)
{
    return l.refuse(format("Слово %d группы [raw] (%s) — %s.", word, what.c_str(), why.c_str()));
}

// One round of the page's rules over the controls' values that differ from
// the Controller's; `moved` when a clamp changed the image.
int control_rules(Load& l, bool& moved)
{
    for (const SettingsBinding& b : settings_bindings()) {
        if (!in_layout(b, l.target.layout) || b.kind == ControlKind::Check || b.kind == ControlKind::AddressByte ||
            same_item(l.image, l.target, b.field, b.item))
            continue;
        SettingsImage again;
        bool taken = entered_again(l.image, b, again);
        if (taken && same_item(again, l.image, b.field, b.item))
            continue;
        const Value* key = l.key_of(b);
        if (key && !key->as_saved)
            return l.refuse(
                refused(*key->v, b.kind == ControlKind::Spin ? range_text(b, l.image) : "значение не принято"));
        if (!taken || (!l.copied && !key))
            return raw_refusal(l, word_of(b.field, b.item, l.image.layout),
                               format("%s, «%s» = %s", b.key, b.label,
                                      settings_quoted_value(value_text(b, l.image)).c_str()),
                               !taken                        ? "значение не допускается"
                               : b.kind == ControlKind::Spin ? range_text(b, l.image)
                                                             : "значение не допускается");
        // The clamp and whatever it moved along with it (voltages after
        // the cell count, the reserve after the module count).
        for (const SettingsBinding& other : settings_bindings())
            if (other.kind == ControlKind::Spin && !same_item(again, l.image, other.field, other.item))
                l.limited.push_back(&other);
        l.limited.push_back(&b);
        l.image = again;
        moved = true;
    }
    return 0;
}

// The same for the list items no control shows as a spin or an entry.
int item_rules(Load& l, bool& moved)
{
    for (const ItemRule& rule : kItemRules)
        for (int item = 0; item < settings_field_info(rule.field).items; ++item) {
            if (same_item(l.image, l.target, rule.field, item))
                continue;
            SettingsImage again;
            bool taken = item_entered_again(l.image, rule.field, item, again);
            if (taken && same_item(again, l.image, rule.field, item))
                continue;
            // A name cut to what the page keeps is a name as the page would
            // store it, whoever wrote the file; a number out of its rule is not.
            if (!taken || (!l.copied && !is_name(rule.field)))
                return raw_refusal(l, word_of(rule.field, item, l.image.layout), format(rule.name, item + 1),
                                   "значение не допускается правилами страницы");
            l.image = again;
            l.limited_items.push_back({rule.field, item});
            moved = true;
        }
    return 0;
}

// Every value that differs from the Controller's passes the page's rules,
// whether it came from a key or only from [raw]. Again while a clamp moves a
// limit another value follows (the cell count, the module count).
int page_rules(Load& l)
{
    for (int pass = 0; pass < 4; ++pass) {
        bool moved = false;
        if (control_rules(l, moved) != 0 || item_rules(l, moved) != 0)
            return -1;
        if (!moved)
            break;
    }
    // A minimum above its maximum is no setting a Controller can work with;
    // a Controller's own pair is its own business.
    if (SettingsPair pair = settings_inverted_pair(l.image);
        pair.low &&
        !(same_item(l.image, l.target, pair.low->field, 0) && same_item(l.image, l.target, pair.high->field, 0)))
        return l.refuse(format("«%s» (%s = %s) больше, чем «%s» (%s = %s): минимум не может превышать максимум.",
                               pair.low->label, pair.low->key, value_text(*pair.low, l.image).c_str(),
                               pair.high->label, pair.high->key, value_text(*pair.high, l.image).c_str()));
    return 0;
}

// What the review marks "(ограничено)" and the log lists, once each. A clamp
// that lands on the Controller's own value is said as any other: the file's
// value is not what is loaded.
void list_limited(Load& l)
{
    auto add = [&](std::string name, F field, int item) {
        auto bytes = settings_item(l.image, field, item);
        for (const SettingsLimited& x : l.out.limited)
            if (x.name == name)
                return;
        l.out.limited.push_back({std::move(name), field, item, std::vector<uint8_t>(bytes.begin(), bytes.end())});
    };
    for (const SettingsBinding* b : l.limited)
        add(b->label, b->field, b->item);
    for (auto [field, item] : l.limited_items)
        for (const ItemRule& rule : kItemRules)
            if (rule.field == field)
                add(format(rule.name, item + 1), field, item);
}

} // namespace

int settings_file_load(const SettingsFile& file, const SettingsImage& target, bool keep_serial, SettingsFileLoad& out,
                       std::string& message)
{
    out = SettingsFileLoad{};
    const bool across = file.header.layout != target.layout;
    Load l{file, target, keep_serial, across, across || keep_serial, file.header.combo_rows, out, message,
           target, {}, {}, {}};
    start_image(l);
    if (gather_values(l) != 0 || enter_keys(l) != 0 || check_keys(l) != 0 || page_rules(l) != 0)
        return -1;
    list_limited(l);
    // Bits no setting of the page owns stay the Controller's, said in the log.
    std::vector<std::string> unshown;
    settings_keep_unshown(l.image, target, &unshown);
    for (const std::string& line : unshown)
        out.not_carried.push_back("[raw] " + line);
    out.image = l.image;
    return 0;
}

void settings_mark_limited(std::vector<SettingsChange>& changes, const SettingsImage& edit,
                           const std::vector<SettingsLimited>& limited)
{
    for (const SettingsLimited& l : limited) {
        auto bytes = settings_item(edit, l.field, l.item);
        if (!std::equal(bytes.begin(), bytes.end(), l.bytes.begin(), l.bytes.end()))
            continue;
        for (SettingsChange& c : changes)
            if (c.name == l.name && c.to.find("(ограничено)") == std::string::npos)
                c.to += " (ограничено)";
    }
}
