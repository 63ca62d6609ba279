#include "plant.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <ctime>
#include <string>
#include <vector>

namespace sim {

namespace {

constexpr double section_period = 10.0;  // seconds between recorded points of a test or discharge
constexpr int test_sections = 20;        // a test ends by itself after this many points

double uniform(Plant& p, double lo, double hi) { return std::uniform_real_distribution<double>(lo, hi)(p.rng); }
int pick(Plant& p, int lo, int hi) { return std::uniform_int_distribution<int>(lo, hi)(p.rng); }

// Random walk bounded to [lo, hi].
void walk(Plant& p, double& v, double step, double lo, double hi)
{
    v = std::clamp(v + uniform(p, -step, step), lo, hi);
}

double float_voltage(const Plant& p) { return p.settings.word(sw::float_voltage) / 10.0; }

// ---- history seeded at start ------------------------------------------------

void fill_group_point(Plant& p, GroupPoint& g, double volts_per_block, double capacity, int blocks)
{
    g.present = true;
    g.capacity_mah = uint32_t(capacity);
    g.block_mv.fill(0xFFFF);
    g.block_temp.fill(0x7FFF);
    for (int b = 0; b < blocks; ++b) {
        g.block_mv[b] = uint16_t((volts_per_block + uniform(p, -0.08, 0.08)) * 1000);
        g.block_temp[b] = int16_t(std::lround(uniform(p, 19.0, 27.0) * 10));
    }
}

// A finished test or discharge of `points` sections ending with `code`.
RecordFile make_record(Plant& p, uint32_t start, int points, uint16_t code, uint16_t descriptor)
{
    RecordFile rf;
    int groups = p.settings.group_count();
    int blocks = p.settings.blocks_per_group();
    double cap = 0;
    double current = uniform(p, 18, 30);  // A, the whole battery
    for (int s = 0; s < points; ++s) {
        Section sec;
        sec.descriptor = descriptor;
        sec.start = start;
        sec.duration = uint32_t((s + 1) * 600 + pick(p, 0, 59));
        sec.completion = s + 1 == points ? code : uint16_t(in_progress);
        sec.group_mask = uint16_t((1u << groups) - 1);
        cap = current * sec.duration / 3.6;  // mA*h
        sec.capacity_mah = uint32_t(cap);
        double v = 51.5 - 0.35 * s;
        sec.voltage = uint16_t(v * 100);
        sec.temperature = int16_t(std::lround(uniform(p, 20, 26) * 10));
        for (int g = 0; g < groups; ++g)
            fill_group_point(p, sec.groups[g], v / std::max(blocks, 1), cap / groups, blocks);
        if (groups > 1 && s == 0)
            sec.groups[1].capacity_mah = 0xFFFFFFFF;  // the monitor had no value yet
        rf.sections.push_back(sec);
    }
    return rf;
}

void seed_battery_history(Plant& p)
{
    uint32_t now = uint32_t(p.clock);
    const uint32_t day = 86400;
    // Tests: newest in slot 2; slots 3 and 4 never used.
    p.files.newest_test = 2;
    p.files.tests[2] = make_record(p, now - 3 * day, 5, completed_ok, 41);
    p.files.tests[1] = make_record(p, now - 33 * day, 3, stopped_by_hand, 40);
    p.files.tests[0] = make_record(p, now - 63 * day, 7, timed_out, 39);
    p.files.tests[5] = make_record(p, now - 93 * day, 2, low_current, 38);
    // Discharges: newest in slot 4.
    p.files.newest_discharge = 4;
    p.files.discharges[4] = make_record(p, now - 2 * day, 5, went_to_charge, 17);
    p.files.discharges[3] = make_record(p, now - 12 * day, 4, completed_ok, 16);
    p.files.discharges[2] = make_record(p, now - 20 * day, 2, batteries_off, 15);
    p.files.discharges[1] = make_record(p, now - 41 * day, 6, adc_error, 14);
    p.files.discharges[0] = make_record(p, now - 55 * day, max_sections, in_progress, 13);
}

void seed_journal(Plant& p)
{
    const Layout& l = p.layout;
    // Start near the end of the ring so the history wraps past record 0.
    p.journal.newest = journal_size - 301;
    p.journal.next_descriptor = 5000;
    const int codes[] = {35 + 2, 35 + 8, l.code_phase_base + 2, l.code_phase_base + 1, l.code_dry_base + 1,
                         l.code_module_base + 4, l.code_t2_high, 96, 98, 101, 129, 119};
    uint32_t t = uint32_t(p.clock) - 60u * 86400u;
    p.journal.add(t, 2, 512);
    for (int i = 0; i < 280; ++i) {
        t += uint32_t(pick(p, 600, 14400));
        if (i % 37 == 5) {
            p.journal.add(t, 2, uint16_t(pick(p, 512, 516)));
            continue;
        }
        uint16_t code = uint16_t(codes[pick(p, 0, int(std::size(codes)) - 1)]);
        p.journal.add(t, 1, code);
        t += uint32_t(pick(p, 5, 900));
        p.journal.add(t, 0, code);
    }
    // A few erased slots inside the written part of the ring.
    for (int k : {17, 18, 140, 333})
        p.journal.ring[(p.journal.newest - k + journal_size) % journal_size].present = false;
    p.journal.add(uint32_t(p.clock) - 5, 2, 512);
}

// ---- recordings of tests and discharges -------------------------------------

RecordFile& recording_file(Plant& p)
{
    return p.recording.discharge ? p.files.discharges[p.recording.slot] : p.files.tests[p.recording.slot];
}

void record_section(Plant& p, uint16_t completion)
{
    Recording& r = p.recording;
    RecordFile& rf = recording_file(p);
    if (int(rf.sections.size()) >= max_sections)
        return;
    int groups = p.settings.group_count();
    int blocks = p.settings.blocks_per_group();
    Section sec;
    sec.descriptor = uint16_t(p.journal.next_descriptor);
    sec.start = uint32_t(r.started);
    sec.duration = uint32_t(std::max(0.0, p.clock - r.started));
    sec.completion = completion;
    sec.group_mask = uint16_t((1u << groups) - 1);
    sec.capacity_mah = uint32_t(r.capacity_mah);
    sec.voltage = uint16_t(std::lround(p.bus_v * 100));
    sec.temperature = int16_t(std::lround(p.t1 * 10));
    for (int g = 0; g < groups; ++g) {
        GroupPoint& gp = sec.groups[g];
        gp.present = true;
        gp.capacity_mah = uint32_t(r.group_mah[g]);
        gp.block_mv.fill(0xFFFF);
        gp.block_temp.fill(0x7FFF);
        for (int b = 0; b < blocks; ++b) {
            gp.block_mv[b] = uint16_t(std::lround(p.block_v[g][b] * 1000));
            gp.block_temp[b] = int16_t(std::lround(p.block_t[g][b] * 10));
        }
    }
    rf.sections.push_back(sec);
}

void start_recording(Plant& p, bool discharge)
{
    Recording& r = p.recording;
    r = Recording{};
    r.active = true;
    r.discharge = discharge;
    int& newest = discharge ? p.files.newest_discharge : p.files.newest_test;
    newest = (newest + 1) % battery_slots;
    r.slot = newest;
    r.started = p.clock;
    r.next_section = p.clock + section_period;
    recording_file(p).sections.clear();
}

void end_recording(Plant& p, uint16_t completion)
{
    if (!p.recording.active)
        return;
    record_section(p, completion);
    p.recording.active = false;
}

// ---- the plant's physics, roughly --------------------------------------------

void spread_load(Plant& p)
{
    int modules = p.settings.module_count();
    int working = 0;
    for (int m = 0; m < modules; ++m)
        working += p.module_state[m] == 0;
    double battery_in = 0;
    for (int g = 0; g < p.settings.group_count(); ++g)
        battery_in += p.group_a[g];
    double total = p.load_a + std::max(0.0, battery_in);
    for (int m = 0; m < p.layout.module_slots; ++m) {
        bool on = m < modules && p.module_state[m] == 0 && !p.mains_out && p.battery_mode != mode_test;
        p.module_a[m] = on && working ? total / working + uniform(p, -0.3, 0.3) : 0;
        if (p.module_a[m] < 0)
            p.module_a[m] = 0;
    }
}

void update_battery(Plant& p, double dt)
{
    int groups = p.settings.group_count();
    int blocks = std::max(p.settings.blocks_per_group(), 1);
    bool supplying = p.battery_mode == mode_discharging || p.battery_mode == mode_test;
    double target_bus = float_voltage(p);
    if (p.battery_mode == mode_equalising)
        target_bus = p.settings.word(sw::equalise_voltage) / 10.0;
    else if (p.battery_mode == mode_charging)
        target_bus = p.settings.word(sw::fast_voltage) / 10.0 - 1.0;
    if (supplying) {
        double elapsed = p.clock - p.recording.started;
        target_bus = std::max(46.0, 51.5 - elapsed / 120.0);
    }
    p.bus_v += (target_bus - p.bus_v) * std::min(1.0, dt / 3.0) + uniform(p, -0.01, 0.01);
    for (int g = 0; g < 8; ++g) {
        if (g >= groups) {
            p.group_v[g] = 0;
            p.group_a[g] = 0;
            continue;
        }
        p.group_v[g] = p.bus_v - 0.02 * g;
        if (supplying)
            p.group_a[g] = -p.load_a / groups + uniform(p, -0.2, 0.2);
        else if (p.battery_mode == mode_charging || p.battery_mode == mode_equalising)
            p.group_a[g] = 6.0 + uniform(p, -0.3, 0.3);
        else
            p.group_a[g] = 0.25 + uniform(p, -0.05, 0.05);
        for (int b = 0; b < blocks && b < 30; ++b) {
            if (p.block_state[g][b] == 1)  // a weak block held low by a scenario
                p.block_v[g][b] = p.settings.word(sw::block_low) / 100.0 - 0.4;
            else
                p.block_v[g][b] = p.group_v[g] / blocks + uniform(p, -0.03, 0.03);
            walk(p, p.block_t[g][b], 0.05, 18.0, 30.0);
        }
        if (supplying && p.recording.active)
            p.recording.group_mah[g] += -p.group_a[g] * dt / 3.6;
    }
    if (supplying && p.recording.active) {
        p.recording.capacity_mah = 0;
        for (int g = 0; g < groups; ++g)
            p.recording.capacity_mah += p.recording.group_mah[g];
    }
}

void advance_recording(Plant& p)
{
    Recording& r = p.recording;
    if (!r.active || p.clock < r.next_section)
        return;
    r.next_section += section_period;
    int done = int(recording_file(p).sections.size());
    if (!r.discharge && done + 1 >= test_sections) {
        end_recording(p, completed_ok);
        p.battery_mode = mode_charging;
        p.mode_until = p.clock + 60;
        return;
    }
    if (done + 1 >= max_sections) {
        end_recording(p, timed_out);
        return;
    }
    record_section(p, in_progress);
}

void timed_modes(Plant& p)
{
    if (p.mode_until == 0 || p.clock < p.mode_until)
        return;
    p.mode_until = 0;
    if (p.battery_mode == mode_charging || p.battery_mode == mode_equalising)
        p.battery_mode = mode_float;
}

const char* const random_scenarios[] = {"qh3", "l2", "vuv4", "ck1", "t2-high", "qh9", "k2", "block"};

void random_alarms(Plant& p)
{
    // plant_alarm forgets the scenario itself, so the names due are taken out
    // of the map before any of them is cleared.
    std::vector<std::string> due;
    for (const auto& [name, until] : p.auto_alarms)
        if (p.clock >= until)
            due.push_back(name);
    for (const std::string& name : due)
        plant_alarm(p, name, false);
    if (pick(p, 0, 89) != 0)
        return;
    std::string name = random_scenarios[pick(p, 0, int(std::size(random_scenarios)) - 1)];
    if (p.auto_alarms.count(name))
        return;
    plant_alarm(p, name, true);
    p.auto_alarms[name] = p.clock + uniform(p, 15, 45);
}

std::bitset<448> derive_events(const Plant& p)
{
    const Layout& l = p.layout;
    const Settings& s = p.settings;
    std::bitset<448> e;
    auto set = [&](int code) {
        if (code >= 0 && code < l.event_bits)
            e.set(code);
    };
    if (p.controller_alarm)
        set(0);
    if (p.load_state == 2)
        set(32);
    if (p.load_state == 3)
        set(33);
    if (p.load_state == 1)
        set(34);
    for (int n = 1; n <= s.breaker_count(); ++n)
        if (p.breaker[n - 1] == 1 || p.breaker[n - 1] == 3)
            set(34 + n);
    if (p.ukdv_missing)
        set(87);
    switch (p.battery_mode) {
    case mode_discharging: set(96); break;
    case mode_discharged: set(97); break;
    case mode_charging: set(98); break;
    case mode_fast: set(99); break;
    case mode_float: set(100); break;
    case mode_equalising: set(101); break;
    case mode_test: set(102); break;
    default: break;
    }
    int blocks = s.blocks_per_group();
    for (int g = 0; g < s.group_count(); ++g) {
        if (p.group_breaker[g] == 1)
            set(103 + g);
        for (int b = 0; b < blocks; ++b)
            if (p.block_state[g][b] != 0) {
                set(111 + g);
                break;
            }
    }
    if (p.upkb_missing)
        set(119);
    for (int k = 0; k < s.contactor_count(); ++k) {
        if (!p.contactor_closed[k])
            set(128 + k);
        if (p.contactor_state[k] != 0)
            set(132 + k);
    }
    int failed = 0;
    for (int m = 0; m < s.module_count(); ++m)
        if (p.module_state[m] != 0 && p.module_state[m] != 7) {
            set(l.code_module_base + m + 1);
            ++failed;
        }
    if (failed > s.word(sw::module_reserve))
        set(l.code_no_reserve);
    if (l.number == 3 && (s.regs[energy_saving_word_l3] & 1))
        set(341);
    bool sensor = false;
    for (int n = 0; n < s.phase_count(); ++n) {
        if (p.phase_state[n] == 1 || p.phase_state[n] == 2)
            set(l.code_phase_base + n + 1);
        sensor |= p.phase_state[n] == 3;
    }
    if (sensor)
        set(l.code_mains_sensor);
    if (p.lightning != 0 && p.lightning != 2)
        set(l.code_lightning);
    if (p.t2_state == 1)
        set(l.code_t2_low);
    if (p.t2_state == 2)
        set(l.code_t2_high);
    if (p.t2_state == 3 || p.t1_state == 1)
        set(l.code_temp_sensor);
    for (int n = 0; n < s.dry_count(); ++n)
        if (p.dry[n] != 0)
            set(l.code_dry_base + n + 1);
    return e;
}

bool parse_index(const std::string& name, const char* prefix, int max, int& n)
{
    size_t len = std::char_traits<char>::length(prefix);
    if (name.size() <= len || name.compare(0, len, prefix) != 0)
        return false;
    n = 0;
    for (size_t i = len; i < name.size(); ++i) {
        if (!std::isdigit(static_cast<unsigned char>(name[i])) || n > 1000)
            return false;
        n = n * 10 + (name[i] - '0');
    }
    return n >= 1 && n <= max;
}

void set_mains(Plant& p, bool out)
{
    p.mains_out = out;
    for (int n = 0; n < 3; ++n) {
        p.phase_v[n] = out ? 0 : 228;
        p.phase_state[n] = out ? 1 : 0;
    }
    for (int m = 0; m < p.settings.module_count(); ++m)
        if (p.module_state[m] == 0 || p.module_state[m] == 2)
            p.module_state[m] = out ? 2 : 0;
    if (out) {
        if (p.recording.active && !p.recording.discharge)
            end_recording(p, went_to_charge);
        p.battery_mode = mode_discharging;
        start_recording(p, true);
        record_section(p, in_progress);
    } else {
        if (p.recording.active && p.recording.discharge)
            end_recording(p, went_to_charge);
        p.battery_mode = mode_charging;
        p.mode_until = p.clock + 60;
    }
}

}  // namespace

uint32_t plant_serial(const Plant& p) { return p.settings.u32(sw::serial); }

void plant_init(Plant& p, const PlantOptions& o)
{
    p.protocol_version = o.protocol_version;
    p.layout = layout_for_version(o.protocol_version);
    p.settings = default_settings(p.layout, o.serial);
    p.staged = p.settings;
    p.rng.seed(o.seed);
    p.frozen = o.frozen;
    p.clock = o.start_time > 0 ? o.start_time : double(std::time(nullptr));
    p.phase_v = {226, 229, 224};
    p.bus_v = float_voltage(p);
    p.contactor_closed = {true, true, false, false};
    for (auto& group : p.block_t)
        for (int b = 0; b < 30; ++b)
            group[b] = 23.0 + 0.3 * b;
    seed_journal(p);
    seed_battery_history(p);
    update_battery(p, 0);
    spread_load(p);
    p.events = derive_events(p);
    p.journaled = p.events;
}

void plant_tick(Plant& p, double dt)
{
    if (p.frozen || dt <= 0)
        return;
    p.clock += dt;
    for (int n = 0; n < 3; ++n)
        if (p.phase_state[n] == 0 && !p.mains_out)
            walk(p, p.phase_v[n], 0.8, 220, 235);
    walk(p, p.load_a, 0.6, 35, 60);
    walk(p, p.t1, 0.05, 18, 32);
    p.t1b = p.t1 + 0.5;
    if (p.t2_state == 0)
        walk(p, p.t2, 0.05, 15, 30);
    update_battery(p, dt);
    spread_load(p);
    advance_recording(p);
    timed_modes(p);
    random_alarms(p);
    plant_update(p);
}

void plant_update(Plant& p)
{
    std::bitset<448> e = derive_events(p);
    e |= p.forced_on;
    e &= ~p.forced_off;
    p.events = e;
    uint32_t now = uint32_t(p.clock);
    for (int c = 0; c < p.layout.event_bits; ++c) {
        if (e[c] == p.journaled[c])
            continue;
        p.journal.add(now, e[c] ? 1 : 0, uint16_t(c));
        p.journaled[c] = e[c];
    }
}

int plant_alarm(Plant& p, const std::string& raw, bool raise)
{
    std::string name;
    for (char c : raw)
        name.push_back(char(std::tolower(static_cast<unsigned char>(c))));
    int n = 0;
    if (parse_index(name, "qh", 52, n)) {
        p.breaker[n - 1] = raise ? 1 : 0;
    } else if (parse_index(name, "l", 3, n) || parse_index(name, "phase", 3, n)) {
        p.phase_state[n - 1] = raise ? 1 : 0;
        p.phase_v[n - 1] = raise ? 172 : 227;
    } else if (name == "mains") {
        if (raise != p.mains_out)
            set_mains(p, raise);
    } else if (parse_index(name, "vuv", p.layout.module_slots, n)) {
        p.module_state[n - 1] = raise ? 1 : 0;
    } else if (parse_index(name, "ck", 16, n)) {
        p.dry[n - 1] = raise ? 1 : 0;
    } else if (parse_index(name, "k", 4, n)) {
        p.contactor_state[n - 1] = raise ? 1 : 0;
        p.contactor_closed[n - 1] = !raise;
    } else if (parse_index(name, "qb", 8, n)) {
        p.group_breaker[n - 1] = raise ? 1 : 0;
    } else if (name == "t2-high") {
        p.t2_state = raise ? 2 : 0;
        p.t2 = raise ? 45.5 : 24.0;
    } else if (name == "t2-low") {
        p.t2_state = raise ? 1 : 0;
        p.t2 = raise ? 2.5 : 24.0;
    } else if (name == "lightning") {
        p.lightning = raise ? 1 : 0;
    } else if (name == "upkb") {
        p.upkb_missing = raise ? 0x0002 : 0;
    } else if (name == "ukdv") {
        p.ukdv_missing = raise ? 0x0001 : 0;
    } else if (name == "block") {
        p.block_state[0][1] = raise ? 1 : 0;
    } else if (name == "controller") {
        p.controller_alarm = raise;
    } else if (name == "load-low") {
        p.load_state = raise ? 2 : 0;
        p.bus_v = raise ? 46.8 : float_voltage(p);
    } else {
        return -1;
    }
    p.auto_alarms.erase(name);
    update_battery(p, 0);
    spread_load(p);
    plant_update(p);
    return 0;
}

int plant_battery_command(Plant& p, uint16_t command)
{
    switch (command) {
    case 1:  // start a test
        if (p.mains_out || p.settings.group_count() == 0)
            return 4;
        if (p.recording.active)
            return 0;
        p.journal.add(uint32_t(p.clock), 2, 515);
        p.battery_mode = mode_test;
        p.mode_until = 0;
        start_recording(p, false);
        record_section(p, in_progress);
        break;
    case 0:  // stop the test
        if (p.recording.active && !p.recording.discharge) {
            end_recording(p, stopped_by_hand);
            p.battery_mode = mode_charging;
            p.mode_until = p.clock + 60;
        }
        break;
    case 3:  // equalising charge on
        if (p.battery_mode == mode_test || p.battery_mode == mode_discharging)
            return 4;
        p.journal.add(uint32_t(p.clock), 2, 516);
        p.battery_mode = mode_equalising;
        p.mode_until = p.clock + 600;
        break;
    case 2:  // equalising charge off
        if (p.battery_mode == mode_equalising) {
            p.battery_mode = mode_float;
            p.mode_until = 0;
        }
        break;
    default:
        return 3;
    }
    update_battery(p, 0);
    spread_load(p);
    plant_update(p);
    return 0;
}

int plant_add_record(Plant& p, bool discharge, int points)
{
    if (p.recording.active && p.recording.discharge == discharge)
        return -1;
    int& newest = discharge ? p.files.newest_discharge : p.files.newest_test;
    newest = (newest + 1) % battery_slots;
    // The descriptor comes from the same count as the journal's.
    uint16_t descriptor = p.journal.next_descriptor++;
    (discharge ? p.files.discharges : p.files.tests)[newest] =
        make_record(p, uint32_t(p.clock), points, discharge ? went_to_charge : completed_ok, descriptor);
    return 0;
}

void plant_sync_contactors(Plant& p)
{
    for (int k = 0; k < p.settings.contactor_count(); ++k) {
        p.contactor_closed[k] = true;
        p.contactor_state[k] = 0;
    }
    plant_update(p);
}

void plant_set_clock(Plant& p, uint32_t t)
{
    p.clock = t;
    p.journal.add(t, 2, 514);
}

void plant_apply_settings(Plant& p)
{
    for (size_t w = 3; w < p.settings.regs.size(); ++w)
        p.settings.regs[w] = p.staged.regs[w];
    ++p.settings_applied;
    p.settings.set_u32(1, p.settings_applied);  // header: not interpreted by the program
    p.staged = p.settings;
    p.command_key[1] = uint16_t(p.command_key[1] + 1);
    p.journal.add(uint32_t(p.clock), 2, 513);
    update_battery(p, 0);
    spread_load(p);
    plant_update(p);
}

}  // namespace sim
