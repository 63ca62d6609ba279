// Battery test and discharge records: the Controller keeps the last six of
// each kind in two rings of record files (tests 16-21, discharges 24-29).
// Decoding, the texts of the list, and the reading of a list or a whole file
// through a reader the caller provides. Pure: no link, no window, no threads.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "modbus/result.h"

enum class RecordKind { Test, Discharge };

constexpr int kRecordSlots = 6;
constexpr int kRecordSections = 22;
constexpr int kGroupRecords = 8;
constexpr int kRecordBlocks = 30;
constexpr unsigned kSummaryRegisters = 12;
constexpr unsigned kGroupRegisters = 63;
constexpr int kListedRecords = 4;
constexpr uint16_t kInProgress = 1;   // completion code of every section before the last

constexpr int record_file_base(RecordKind kind) { return kind == RecordKind::Test ? 16 : 24; }
constexpr RecordKind record_kind_of_file(int file) { return file < 24 ? RecordKind::Test : RecordKind::Discharge; }
// Identification register naming the newest slot of the ring.
constexpr int record_newest_register(RecordKind kind) { return kind == RecordKind::Test ? 10 : 12; }

// The file of the ordinal-th newest record (1 = newest). The newest-slot
// register comes from the Controller: any value names some slot.
int record_file(RecordKind kind, unsigned newest_register, int ordinal);

struct BatteryRecord {
    bool present = false;
    uint16_t descriptor = 0;
    uint32_t start = 0;
    uint32_t duration = 0;
    uint16_t completion = 0;
    uint16_t group_mask = 0;
    uint32_t capacity = 0;     // mA·h
    uint16_t voltage = 0;      // V x 100
    int16_t temperature = 0;   // °C x 10
};
BatteryRecord battery_record_decode(std::span<const uint8_t, kSummaryRegisters * 2> bytes);

constexpr uint32_t kNoCapacity = 0xFFFFFFFF;
constexpr uint16_t kNoVoltage = 0xFFFF;
constexpr int16_t kNoTemperature = 0x7FFF;

struct GroupRecord {
    bool present = false;              // false also for a record that was never read
    uint32_t capacity = kNoCapacity;   // mA·h
    std::array<uint16_t, kRecordBlocks> mv{};
    std::array<int16_t, kRecordBlocks> temperature{};
};
GroupRecord group_record_decode(std::span<const uint8_t, kGroupRegisters * 2> bytes);

const char* completion_text(unsigned code);
// "%01d:%02d:%02d", hours without bound.
std::string record_duration_text(uint32_t seconds);
// "%0.3fА" of the mean current; "-" for a record without duration.
std::string record_mean_current_text(uint32_t capacity_mah, uint32_t seconds);

// One row of TestsDischargesListStore.
struct RecordRow {
    std::string name;        // 0 number of the row as listed, 1 = newest shown
    int descriptor = 0;      // 1
    std::string date;        // 2
    std::string length;      // 3
    std::string status;      // 4
    std::string capacity;    // 5
    std::string voltage;     // 6
    std::string temperature; // 7
    int file = 0;            // 8
    unsigned groups = 0;     // 9
    std::string mean_current;// 10
    uint32_t start = 0;      // 11 raw start time: with the descriptor, which record the row is
    int points = 0;          // 12 sections the record had when listed
};
RecordRow present_record_row(int number, int file, const BatteryRecord& summary, int16_t zone_quarters, bool summer);

// How the readers reach the Controller: `read` is a file-record read, `live`
// tells whether the link is still there, and `progress` hears which request
// of how many is being read (a list: the record, 1-4; a file: the section, 1-22).
struct RecordReadControl {
    std::function<ModbusResult(uint16_t file, uint16_t record, unsigned length, uint8_t* out)> read;
    std::function<bool()> live;
    std::function<void(int done, int total)> progress;
    // A slot of the list (1-6) is left out after its last attempt failed.
    std::function<void(int slot)> slot_failed;
};
// A failed request is tried this often in all before its record is given up.
constexpr int kRecordReadAttempts = 3;

struct RecordListRead {
    std::vector<RecordRow> rows;       // newest first
    std::vector<int> failed_slots;     // 1-6, slots left out after failed reads
    bool link_lost = false;            // the link closed before the end
};
// The summaries of the four newest records of `kind`: each slot's last
// section (completion code not 1, or section 21), numbered 1, 2, 3 … in the
// order listed, whichever slots gave no row.
RecordListRead read_record_list(RecordKind kind, unsigned newest_register, int16_t zone_quarters, bool summer,
                                const RecordReadControl& control);

// A whole record file: its present sections with their group records.
struct RecordFile {
    int file = 0;
    int sections = 0;
    std::array<BatteryRecord, kRecordSections> summaries{};
    std::array<std::array<GroupRecord, kGroupRecords>, kRecordSections> groups{};
};
// 0 read (sections may be 0: the record is gone); -1 a request failed every
// attempt; -2 the link closed. Progress counts sections of `expected_points`
// (the record's points as listed), or of more once the record has grown.
int read_record_file(int file, const RecordReadControl& control, RecordFile& out,
                     int expected_points = kRecordSections);

// Whether `record` is still the one a row of the list showed: the Controller
// reuses a slot for a new test or discharge, and the file number alone would
// then export a record the user never chose.
bool record_is_listed(const RecordFile& record, uint16_t descriptor, uint32_t start);

// What the log and the status line say of a read.
// "Ошибка чтения теста №N" and why the slot is left out, two lines.
std::string record_slot_failed_text(RecordKind kind, int slot);
// The end of a list read: tag true (err_text) when any slot failed.
struct RecordListEnd {
    std::string text;
    bool error = false;
};
RecordListEnd record_list_end(RecordKind kind, const RecordListRead& read);
// "Чтение батарейного теста: точка N из M".
std::string record_file_progress_text(int file, int done, int total);
