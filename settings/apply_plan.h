// What writing the settings back sends, and what it changes: the register
// segments of the body in their fixed order, the command block, the list of
// changes the user reviews before the write, and the image the Controller
// should hold afterwards (checked against the next settings read). Pure.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "registers/settings_image.h"

constexpr uint16_t kSettingsCommandAddress = 0x4000;
constexpr int kSettingsCommandRegisters = 6;
constexpr int kSettingsWriteRequest = 100; // registers per write request

struct SettingsSegment {
    int number;     // 1..9
    int offset;     // register 0x3000 + offset holds image word offset + 3
    int count;
};

// Registers of the body (words 3 on): 699, 747 or 748; the progress range.
constexpr int settings_body_registers(int layout) { return settings_word_count(layout) - 3; }

// The segments written for `wire` (the image in wire order, words from 0), in
// order, each with its condition met and a count above 0. The last segment
// runs from trap receiver 1 through the flags word, so trap addresses, trap
// enables and the phone and SMS active bits reach the Controller.
std::vector<SettingsSegment> settings_write_segments(int layout, const uint8_t* wire);
// Whether the segments carry a new monitoring password (segment 4).
bool settings_segments_set_monitoring_password(const std::vector<SettingsSegment>& segments);

// The command block: the two registers read from 0x4000 echoed, the
// monitoring password, command 1. 12 bytes in wire order.
std::vector<uint8_t> settings_command_block(const uint8_t echo[4], const uint8_t password[6]);

// The image the Controller holds after writing `edit` over `device` when it
// takes everything: the edit copy, except the words of segments left out
// (and the header words 0-2, never written), which stay the device's.
SettingsImage settings_expected_after_write(const SettingsImage& device, const SettingsImage& edit);

// One setting whose value differs, named as the page labels it.
struct SettingsChange {
    std::string name;
    std::string from;
    std::string to;
};
// Every setting that differs between two images of one layout, one row per
// setting, in the order of the page; header words are never compared. Words
// no control shows are listed by word number, so nothing differs unseen.
std::vector<SettingsChange> settings_changes(const SettingsImage& from, const SettingsImage& to);
