// The catalogue of event codes: the Russian text of every code the Controller
// reports (active-event bits, journal records, mask bits) and whether the event
// applies to the plant as configured. Pure: no locks, no GTK.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

// The event code space, like the status and settings layouts, follows the
// Controller's protocol version: 1 below 400, 2 for 400-409, 3 from 410.
int event_layout_for_version(uint16_t protocol_version);

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

// Picks the counts and names out of a host-order settings image of the given
// layout (words as read from holding register 0; text fields keep their wire
// bytes). Returns 0, or -2 for an unknown layout or an image too short for it.
int catalogue_settings_from_image(int layout, std::span<const uint16_t> words, CatalogueSettings* out);

// A 10-byte name field as UTF-8: it ends at the first NUL or after 10 bytes.
// Empty when the field is empty or is not valid WINDOWS-1251.
std::string name_field_utf8(const uint8_t* field, size_t field_size = kNameFieldSize);

// Writes the text of `code` into buffer (always terminated, cut to size - 1
// bytes at a character boundary) and returns whether the event applies to the
// configured plant. Codes without an entry give "Неизвестный статус: <code>"
// and false. An unknown layout is treated as having no entries.
bool event_text(char* buffer, size_t size, uint16_t code, int layout, const CatalogueSettings& settings);
