#include "registers/catalogue.h"

#include <glib.h>

#include <algorithm>
#include <cstring>
#include <string_view>

#include "base/text_format.h"

namespace {

enum class Count : uint8_t { None, LoadBreakers, BatteryGroups, Contactors, Rectifiers, Phases, DryContacts };
enum class Names : uint8_t { None, LoadBreakers, Contactors, DryContacts };

constexpr int16_t kNone = -1;

// One row per event; the code columns are per layout (kNone: the layout has no
// such event). A numbered entry covers first..last and its item number counts
// from 1 at `first`. Numbered texts take the item number for every %d, named
// texts take (name, number).
struct Entry {
    int16_t first[3];
    int16_t last[3];
    Count count;
    Names names;
    const char* text;
    const char* named;
};

#define FIXED(c1, c2, c3, text) {{c1, c2, c3}, {c1, c2, c3}, Count::None, Names::None, text, nullptr}

constexpr Entry kCatalogue[] = {
    FIXED(0, 0, 0, "Авария контроллера RARUR"),
    FIXED(32, 32, 32, "Напряжение на нагрузке понижено"),
    FIXED(33, 33, 33, "Напряжение на нагрузке повышено"),
    FIXED(34, 34, 34, "Термокомпенсация активна"),
    {{35, 35, 35}, {86, 86, 86}, Count::LoadBreakers, Names::LoadBreakers,
     "Отключен аппарат защиты нагрузки QH%d", "Отключен аппарат защиты нагрузки '%s' (QH%d)"},
    FIXED(87, 87, 87, "Авария УКДВ"),
    FIXED(96, 96, 96, "Разряд АБ"),
    FIXED(97, 97, 97, "Глубокий разряд АБ"),
    FIXED(98, 98, 98, "Заряд АБ"),
    FIXED(99, 99, 99, "Ускоренный заряд АБ"),
    FIXED(100, 100, 100, "АБ в содержании"),
    FIXED(101, 101, 101, "Выравнивающий заряд АБ"),
    FIXED(102, 102, 102, "Тест АБ"),
    {{103, 103, 103}, {110, 110, 110}, Count::BatteryGroups, Names::None,
     "Отключен аппарат защиты группы %d АБ QB%d", nullptr},
    {{111, 111, 111}, {118, 118, 118}, Count::BatteryGroups, Names::None,
     "Блок / элемент группы %d АБ не в норме", nullptr},
    FIXED(119, 119, 119, "Авария УПКБ"),
    {{128, 128, 128}, {131, 131, 131}, Count::Contactors, Names::Contactors,
     "Отключен контактор К%d", "Отключен контактор '%s' (К%d)"},
    {{132, 132, 132}, {135, 135, 135}, Count::Contactors, Names::Contactors,
     "Авария контактора К%d", "Авария контактора '%s' (К%d)"},
    {{160, 161, 160}, {219, 350, 339}, Count::Rectifiers, Names::None,
     "Авария выпрямительного блока VUV%d", nullptr},
    FIXED(220, 160, 340, "Нет резерва выпрямительных блоков VUV"),
    FIXED(kNone, kNone, 341, "Режим энергоэффективности"),
    {{224, 352, 352}, {226, 354, 354}, Count::Phases, Names::None, "Авария фазы Ф%d сети", nullptr},
    FIXED(227, 355, 355, "Авария датчика контроля сети"),
    FIXED(228, 356, 356, "Авария модуля грозозащиты"),
    FIXED(256, 384, 384, "Температура Т2 ниже минимума"),
    FIXED(257, 385, 385, "Температура Т2 выше максимума"),
    FIXED(258, 386, 386, "Авария датчика контроля температуры"),
    {{288, 416, 416}, {303, 431, 431}, Count::DryContacts, Names::DryContacts,
     "Авария сухого контакта СК%d", "Авария сухого контакта '%s' (СК%d)"},
    // Service events: journal records only, outside every bit field.
    FIXED(512, 512, 512, "Включение RARUR"),
    FIXED(513, 513, 513, "Сохранение настроек"),
    FIXED(514, 514, 514, "Установка часов"),
    FIXED(515, 515, 515, "Запуск теста АБ"),
    FIXED(516, 516, 516, "Запуск выравнивающего заряда АБ"),
};

#undef FIXED

constexpr const char kUnknownStatus[] = "Неизвестный статус: %d";

const Entry* find_entry(int layout, uint16_t code)
{
    if (layout < 1 || layout > 3)
        return nullptr;
    int column = layout - 1;
    for (const Entry& e : kCatalogue) {
        if (e.first[column] != kNone && code >= e.first[column] && code <= e.last[column])
            return &e;
    }
    return nullptr;
}

uint16_t count_of(const CatalogueSettings& s, Count count)
{
    switch (count) {
    case Count::None: return 0;
    case Count::LoadBreakers: return s.load_breaker_count;
    case Count::BatteryGroups: return s.battery_group_count;
    case Count::Contactors: return s.contactor_count;
    case Count::Rectifiers: return s.rectifier_count;
    case Count::Phases: return s.phase_count;
    case Count::DryContacts: return s.dry_contact_count;
    }
    return 0;
}

const uint8_t* name_of(const CatalogueSettings& s, Names names, int n)
{
    size_t offset = static_cast<size_t>(n - 1) * kNameFieldSize;
    switch (names) {
    case Names::None: return nullptr;
    case Names::LoadBreakers: return n <= kMaxLoadBreakers ? s.load_breaker_names.data() + offset : nullptr;
    case Names::Contactors: return n <= kMaxContactors ? s.contactor_names.data() + offset : nullptr;
    case Names::DryContacts: return n <= kMaxDryContacts ? s.dry_contact_names.data() + offset : nullptr;
    }
    return nullptr;
}

// Copies text into buffer, cut to size - 1 bytes. A cut never leaves half a
// UTF-8 character behind: list stores and the journal export need valid UTF-8.
void put_text(char* buffer, size_t size, std::string_view text)
{
    if (!buffer || size == 0)
        return;
    size_t n = std::min(text.size(), size - 1);
    if (n < text.size()) {
        while (n > 0 && (static_cast<unsigned char>(text[n]) & 0xC0) == 0x80)
            --n;
    }
    std::memcpy(buffer, text.data(), n);
    buffer[n] = '\0';
}

}  // namespace

int event_code_in_layout(uint16_t code, int from, int to)
{
    const Entry* e = find_entry(from, code);
    if (!e || to < 1 || to > 3 || e->first[to - 1] == kNone)
        return -1;
    int moved = e->first[to - 1] + (code - e->first[from - 1]);
    return moved <= e->last[to - 1] ? moved : -1;
}

CatalogueSettings catalogue_settings(const SettingsImage& image)
{
    CatalogueSettings s;
    s.load_breaker_count = settings_u16(image, SettingsField::LoadBreakerCount);
    s.battery_group_count = settings_u16(image, SettingsField::BatteryGroupCount);
    s.contactor_count = settings_u16(image, SettingsField::ContactorCount);
    s.rectifier_count = settings_u16(image, SettingsField::RectifierCount);
    s.phase_count = settings_u16(image, SettingsField::MainsPhaseCount);
    s.dry_contact_count = settings_u16(image, SettingsField::DryContactCount);
    auto copy_names = [&](SettingsField field, std::span<uint8_t> out) {
        for (size_t item = 0; item * kNameFieldSize < out.size(); ++item) {
            auto name = settings_item(image, field, static_cast<int>(item));
            std::memcpy(out.data() + item * kNameFieldSize, name.data(), std::min(name.size(), kNameFieldSize));
        }
    };
    copy_names(SettingsField::LoadBreakerNames, s.load_breaker_names);
    copy_names(SettingsField::ContactorNames, s.contactor_names);
    copy_names(SettingsField::DryContactNames, s.dry_contact_names);
    return s;
}

bool event_text(char* buffer, size_t size, uint16_t code, int layout, const CatalogueSettings& settings)
{
    const Entry* e = find_entry(layout, code);
    if (!e) {
        put_text(buffer, size, format(kUnknownStatus, static_cast<int>(code)));
        return false;
    }
    if (e->count == Count::None) {
        put_text(buffer, size, e->text);
        return true;
    }
    int n = code - e->first[layout - 1] + 1;
    std::string name;
    if (e->named)
        if (const uint8_t* field = name_of(settings, e->names, n))
            name = device_string_to_utf8({field, kNameFieldSize});
    if (!name.empty())
        put_text(buffer, size, format(e->named, name.c_str(), n));
    else
        put_text(buffer, size, format(e->text, n, n));
    return n <= count_of(settings, e->count);
}

bool event_text(char* buffer, size_t size, uint16_t code, const SettingsImage& settings)
{
    return event_text(buffer, size, code, settings.layout, catalogue_settings(settings));
}
