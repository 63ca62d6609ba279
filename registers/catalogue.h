// The catalogue of event codes: the Russian text of every code the Controller
// reports (active-event bits, journal records, mask bits) and whether the event
// applies to the plant as configured. Pure: no locks, no GTK.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "registers/settings_image.h"

constexpr size_t kNameFieldSize = 10;
constexpr int kMaxLoadBreakers = 52;
constexpr int kMaxContactors = 4;
constexpr int kMaxDryContacts = 16;

// The part of a settings image that event texts depend on. Name fields are the
// Controller's WINDOWS-1251 bytes, 10 per item, without a terminating NUL when
// all 10 are used.
struct CatalogueSettings {
    uint16_t load_breaker_count = 0;
    uint16_t battery_group_count = 0;
    uint16_t contactor_count = 0;
    uint16_t rectifier_count = 0;
    uint16_t phase_count = 0;
    uint16_t dry_contact_count = 0;
    std::array<uint8_t, kMaxLoadBreakers * kNameFieldSize> load_breaker_names{};
    std::array<uint8_t, kMaxContactors * kNameFieldSize> contactor_names{};
    std::array<uint8_t, kMaxDryContacts * kNameFieldSize> dry_contact_names{};
};

// The counts and names of a settings image, in the image's own layout.
CatalogueSettings catalogue_settings(const SettingsImage& image);

// Writes the text of `code` in the event layout (1, 2, 3) into buffer (always
// terminated, cut to size - 1 bytes at a character boundary) and returns
// whether the event applies to the configured plant. Codes without an entry
// give "Неизвестный статус: <code>" and false. An unknown layout has no entries.
bool event_text(char* buffer, size_t size, uint16_t code, int layout, const CatalogueSettings& settings);

// The code of the same event in another event layout (a rectifier's alarm
// moves with the code space, a fixed event may have another code); -1 when
// `code` has no entry in `from` or the event has no place in `to`.
int event_code_in_layout(uint16_t code, int from, int to);

// The same with a whole settings image, whose layout is the event layout.
bool event_text(char* buffer, size_t size, uint16_t code, const SettingsImage& settings);
