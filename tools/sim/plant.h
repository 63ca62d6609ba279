// The simulated power plant: mains, rectifier modules, load bus and breakers,
// battery groups with block monitoring, contactors, temperatures, dry contacts,
// plus what the Controller keeps about it (active events, journal, battery
// records, clock) and the settings it runs by.
#pragma once
#include "layout.h"
#include "records.h"
#include "settings.h"

#include <array>
#include <bitset>
#include <cstdint>
#include <map>
#include <random>
#include <string>

namespace sim {

enum BatteryMode : uint16_t {
    mode_charging = 0, mode_float = 1, mode_fast = 2, mode_equalising = 3, mode_discharging = 4,
    mode_discharged = 5, mode_test = 6, mode_no_battery = 7
};

// A battery test or discharge being recorded into a record file.
struct Recording {
    bool active = false;
    bool discharge = false;
    int slot = 0;
    double started = 0, next_section = 0;
    double capacity_mah = 0;
    std::array<double, 8> group_mah{};
};

struct Plant {
    int protocol_version = 410;
    Layout layout;
    Settings settings;  // what the Controller runs by (holding registers 0..N-1)
    Settings staged;    // written to 0x3000+, taken on the settings command
    uint16_t device_code = 0x0052, sw_version = 215;
    uint16_t command_key[2] = {0x5A5A, 0x0001};  // holding registers 0x4000-0x4001
    double clock = 0;                            // device time, seconds since 1970 UTC
    bool frozen = false;
    std::mt19937 rng;

    // Measurements and states.
    std::array<double, 3> phase_v{};
    std::array<uint16_t, 3> phase_state{};
    uint16_t lightning = 0;
    double bus_v = 53.5, load_a = 45.0;
    uint16_t load_state = 0;
    std::array<uint16_t, 52> breaker{};
    uint16_t battery_mode = mode_float;
    double mode_until = 0;  // when a timed mode (charge after discharge, equalising) ends
    std::array<double, 8> group_v{}, group_a{};
    std::array<uint16_t, 8> group_conn{}, group_breaker{};
    std::array<std::array<double, 30>, 8> block_v{}, block_t{};
    std::array<std::array<uint16_t, 30>, 8> block_state{};
    std::array<bool, 4> contactor_closed{};
    std::array<uint16_t, 4> contactor_state{};
    std::array<double, 190> module_a{};
    std::array<uint16_t, 190> module_state{};
    double t1 = 24.5, t1b = 25.0, t2 = 22.0;
    uint16_t t1_state = 0, t2_state = 0;
    std::array<uint16_t, 16> dry{};
    uint16_t upkb_missing = 0, ukdv_missing = 0;
    bool controller_alarm = false, mains_out = false;

    // Events.
    std::bitset<448> events, journaled, forced_on, forced_off;
    std::map<std::string, double> auto_alarms;  // raised by the plant itself, cleared at the time given

    Journal journal;
    BatteryFiles files;
    Recording recording;
    uint32_t settings_applied = 0;
};

struct PlantOptions {
    int protocol_version = 410;
    uint32_t serial = 100123;
    uint32_t seed = 1;
    bool frozen = false;
    double start_time = 0;  // 0: now
};

void plant_init(Plant& p, const PlantOptions& o);
// Advance by dt seconds: drift, alarms that come and go, clock, recordings.
// Does nothing while frozen.
void plant_tick(Plant& p, double dt);
// Recompute active events from the states and journal what changed; called
// after every tick and after every command or control action.
void plant_update(Plant& p);
// Named alarm scenarios (case-insensitive): qhN, lN, mains, vuvN, ckN, kN,
// t2-high, t2-low, lightning, upkb, ukdv, block, controller, load-low.
// Returns 0, or -1 for an unknown name.
int plant_alarm(Plant& p, const std::string& name, bool raise);

// Service commands. Each returns 0 or a Modbus exception code.
int plant_battery_command(Plant& p, uint16_t command);  // 1/0 test start/stop, 3/2 equalising on/off
// A finished test or discharge of `points` sections (1-22), started now, in the
// next slot of its ring: the oldest record's slot is reused once the ring is
// full. -1 while that ring's record is being written.
int plant_add_record(Plant& p, bool discharge, int points);
void plant_sync_contactors(Plant& p);
void plant_set_clock(Plant& p, uint32_t t);
// Takes the staged settings (words 3 on) and journals the save.
void plant_apply_settings(Plant& p);

uint32_t plant_serial(const Plant& p);

}  // namespace sim
