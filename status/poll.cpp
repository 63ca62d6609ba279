#include "status/poll.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstring>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include <glib.h>

#include "base/app_state.h"
#include "base/log.h"
#include "base/text_format.h"
#include "base/ui_hooks.h"
#include "base/workers.h"
#include "link/connection.h"
#include "modbus/operations.h"
#include "registers/settings_store.h"
#include "status/cycle_view.h"
#include "status/display_hooks.h"

namespace {

// The marks of the progress shown in the status bar, "N из 20", in the order
// of the cycle. The battery groups take one step each, 5 to 12; the
// rectifier modules of layout 1 a second step for their second request.
enum PollStep : int {
    kStepIdentification = 1,
    kStepEvents = 2,
    kStepLoad = 3,
    kStepBattery = 4,
    kStepBatteryGroups = 5,
    kStepContactors = 13,
    kStepRectifiers = 14,
    kStepRectifiersRest = 15,
    kStepMains = 16,
    kStepTemperatures = 17,
    kStepDryContacts = 18,
    kStepExtensions = 19,
    kStepSettings = 20,
};
constexpr int kSteps = kStepSettings;
constexpr uint8_t kInputRegisters = 0x04;
constexpr uint8_t kHoldingRegisters = 0x03;
constexpr int kMaxInputRequest = 90;
constexpr int kMaxHoldingRequest = 100;
constexpr auto kAbandonPause = std::chrono::milliseconds(250);
constexpr auto kCyclePause = std::chrono::milliseconds(1000);

constexpr size_t kPollStack = 256000;

std::atomic<RegisterReader> g_reader{modbus_read_registers};
std::atomic<void (*)()> g_link_close{link_close};

struct PollState {
    StatusImage status;
    PreviousStatusImage previous;
    std::atomic<int> cycle_failed{0};
    std::atomic<int> settings_read{0};
    std::atomic<int> page_load_request{1};
    // Raised by status_data_reset; the poll thread zeroes its images itself,
    // so a reset on the GUI thread never races a cycle in progress.
    std::atomic<int> images_reset{0};
    // Raised by the window when it dropped a cycle's view: the lists on screen
    // are not the ones lists_built_from says, and are built afresh.
    std::atomic<int> view_dropped{0};
    // The poll thread's own: whether the values on screen are still live, and
    // the device copy the event lists on screen were built from.
    StaleWatch stale;
    SettingsImage lists_built_from;
    bool lists_built = false;
    std::array<std::atomic<uint16_t>, status_size::kIdentification> identification{};
    GTimer* timer = nullptr;
    std::atomic<double> last_cycle_time{0};
};

PollState& state()
{
    static PollState instance;
    return instance;
}

void take_pending_reset(PollState& p)
{
    if (p.view_dropped.exchange(0))
        p.lists_built = false;
    if (p.images_reset.exchange(0)) {
        p.status = StatusImage{};
        p.previous = PreviousStatusImage{};
        p.stale.reset();
        p.lists_built = false;
    }
}

std::string progress_markup(int step)
{
    return format("<b>%d из %d</b>", step, kSteps);
}

void show_progress(int step)
{
    // While the values are stale the mark says so until a cycle completes;
    // steps of cycles that may be given up again would hide it.
    if (state().stale.stale())
        return;
    std::string markup = progress_markup(step);
    if (display_hooks().set_progress)
        display_hooks().set_progress(markup.c_str());
}

// Reads into a scratch buffer and copies only a complete answer, so a failed
// request never leaves part of a reply in the image.
template <typename T>
ModbusResult read_block(uint16_t start, int count, T* destination, uint8_t function)
{
    uint8_t scratch[2 * kMaxHoldingRequest];
    ModbusResult result = g_reader.load()(start, static_cast<unsigned>(count), scratch, function);
    if (result == ModbusResult::Ok)
        std::memcpy(reinterpret_cast<uint8_t*>(destination), scratch, 2 * static_cast<size_t>(count));
    return result;
}

// Whether what the cycle shows still belongs to the link it was read over,
// asked on the GUI thread when the window takes the cycle: a link closed or
// replaced meanwhile has had its display reset there, and nothing of its
// values may come back.
bool cycle_may_show(LinkSession session) { return app.link_open && link_session_live(session); }

CycleResult abandon(PollState& p, LinkSession session)
{
    std::this_thread::sleep_for(kAbandonPause);
    p.cycle_failed = 1;
    if (p.stale.cycle_given_up())
        run_on_gui([session] {
            if (!cycle_may_show(session))
                return;
            display_set_stale(true);
            if (display_hooks().set_progress)
                display_hooks().set_progress("<b>нет данных</b>");
        });
    return CycleResult::Abandoned;
}

void request_failed(PollState& p)
{
    std::this_thread::sleep_for(kAbandonPause);
    p.cycle_failed = 1;
}

bool read_events_block(PollState& p, int layout)
{
    // A Controller may answer block 256 in a later layout's length than its
    // version says; the buffer of the layout that answered is the one filled.
    for (int buffer = layout; buffer <= 3; ++buffer) {
        show_progress(kStepEvents);
        if (read_block(status_address::kEvents, events_block_registers(buffer), p.status.events[buffer - 1].data(),
                       kInputRegisters) == ModbusResult::Ok) {
            convert_events(p.status, buffer);
            return true;
        }
    }
    return false;
}

bool read_rectifiers(PollState& p, int layout)
{
    uint16_t* buffer = p.status.rectifiers[layout - 1].data();
    int total = rectifier_registers(layout);
    for (int offset = 0; offset < total; offset += kMaxInputRequest) {
        show_progress(layout == 1 && offset > 0 ? kStepRectifiersRest : kStepRectifiers);
        int count = std::min(kMaxInputRequest, total - offset);
        if (read_block(static_cast<uint16_t>(status_address::kRectifiers + offset), count, buffer + offset,
                       kInputRegisters) != ModbusResult::Ok)
            return false;
    }
    convert_rectifiers(p.status, layout);
    return true;
}

// A battery group that does not answer costs the rest of the groups and
// the settings read of this cycle, not the cycle.
bool read_battery_groups(PollState& p, int)
{
    for (int group = 0; group < kBatteryGroupsRead && app.link_open && !p.cycle_failed; ++group) {
        show_progress(kStepBatteryGroups + group);
        if (read_block(static_cast<uint16_t>(status_address::kBatteryBlocks + 128 * group),
                       status_size::kBatteryBlocks, p.status.battery_blocks[group].data(),
                       kInputRegisters) != ModbusResult::Ok) {
            request_failed(p);
            break;
        }
        convert_battery_blocks(p.status, group);
    }
    return true;
}

// A status block read whole in one request and converted in place.
struct BlockRead {
    int step;
    uint16_t (*address)(int layout);
    int registers;
    uint16_t* (*buffer)(StatusImage& s);
    void (*convert)(StatusImage& s);
};

constexpr BlockRead kLoadBlock{kStepLoad, [](int) { return status_address::kLoad; }, status_size::kLoad,
                               [](StatusImage& s) { return s.load.data(); }, convert_load};
constexpr BlockRead kBatteryBlock{kStepBattery, [](int) { return status_address::kBattery; }, status_size::kBattery,
                                  [](StatusImage& s) { return s.battery.data(); }, convert_battery};
constexpr BlockRead kContactorBlock{kStepContactors, [](int) { return status_address::kContactors; },
                                    status_size::kContactors, [](StatusImage& s) { return s.contactors.data(); },
                                    convert_contactors};
constexpr BlockRead kMainsBlock{kStepMains, mains_block_address, status_size::kMains,
                                [](StatusImage& s) { return s.mains.data(); }, convert_mains};
constexpr BlockRead kTemperatureBlock{kStepTemperatures, temperature_block_address, status_size::kTemperatures,
                                      [](StatusImage& s) { return s.temperatures.data(); }, convert_temperatures};
constexpr BlockRead kDryContactBlock{kStepDryContacts, dry_contact_block_address, status_size::kDryContacts,
                                     [](StatusImage& s) { return s.dry_contacts.data(); }, convert_dry_contacts};
constexpr BlockRead kExtensionBlock{kStepExtensions, extension_block_address, status_size::kExtensions,
                                    [](StatusImage& s) { return s.extensions.data(); }, convert_extensions};

template <const BlockRead& Block>
bool read_status_block(PollState& p, int layout)
{
    show_progress(Block.step);
    if (read_block(Block.address(layout), Block.registers, Block.buffer(p.status), kInputRegisters) != ModbusResult::Ok)
        return false;
    Block.convert(p.status);
    return true;
}

// The status blocks after identification and block 256, in the order the
// cycle reads them; a step that fails abandons the cycle.
using StepRead = bool (*)(PollState& p, int layout);
constexpr StepRead kStatusReads[] = {
    read_status_block<kLoadBlock>,      read_status_block<kBatteryBlock>,     read_battery_groups,
    read_status_block<kContactorBlock>, read_rectifiers,                      read_status_block<kMainsBlock>,
    read_status_block<kTemperatureBlock>, read_status_block<kDryContactBlock>, read_status_block<kExtensionBlock>,
};

void read_settings(PollState& p, int layout)
{
    if (p.cycle_failed) {
        p.settings_read = 0;
        return;
    }
    SettingsImage image;
    image.layout = layout;
    p.settings_read = 1;
    settings_device_read_started();
    int total = settings_word_count(layout);
    for (int offset = 0; offset < total;) {
        int count = std::min(kMaxHoldingRequest, total - offset);
        show_progress(kStepSettings);
        if (g_reader.load()(static_cast<uint16_t>(offset), static_cast<unsigned>(count), image.data() + 2 * offset,
                            kHoldingRegisters) != ModbusResult::Ok) {
            request_failed(p);
            p.settings_read = 0;
            return;
        }
        offset += count;
    }
    settings_from_registers(layout, image.data());
    settings_store_device(image);
}

void refuse_protocol()
{
    log_message(err_text, "Версия протокола не поддерживается программой!\n");
    g_link_close.load()();
    std::this_thread::sleep_for(kAbandonPause);
}

// What the window takes of one complete cycle, in one step on the GUI thread.
struct CycleShown {
    CycleView view;
    int layout = 1;
    LinkSession session = 0;
    bool live_again = false;   // the first complete cycle after stale ones
    bool settings_read = false;
    std::string cycle_time;
};

void show_on_gui(const CycleShown& c)
{
    PollState& p = state();
    // A disconnect resets the display on this thread: a cycle overtaken by it
    // shows nothing.
    if (!cycle_may_show(c.session)) {
        p.view_dropped = 1;
        return;
    }
    PollDisplayHooks& hooks = display_hooks();
    if (c.live_again) {
        display_set_stale(false);
        if (hooks.set_progress)
            hooks.set_progress(progress_markup(kSteps).c_str());
    }
    display_apply(c.view);
    // The page is loaded once per connection, from the first cycle that read
    // the settings block; a cycle whose read failed leaves the request for
    // the next one.
    if (c.settings_read && p.page_load_request.exchange(0)) {
        app.settings_modified = 0;
        settings_device_to_edit(c.layout);
        if (hooks.load_settings_page)
            hooks.load_settings_page(c.layout);
    }
    if (hooks.set_cycle_time)
        hooks.set_cycle_time(c.cycle_time.c_str());
}

// The whole view is built here, on the poll thread; the window only copies it.
void show_cycle(PollState& p, int layout, LinkSession session, double seconds)
{
    SettingsImage device = settings_device_copy(layout);
    SettingsImage reference = settings_reference_copy(layout);
    auto shown = std::make_shared<CycleShown>();
    shown->view = build_cycle_view(p.status, p.previous, layout, device, reference,
                                   p.lists_built ? &p.lists_built_from : nullptr);
    shown->layout = layout;
    shown->session = session;
    shown->live_again = p.stale.cycle_complete();
    shown->settings_read = p.settings_read != 0;
    shown->cycle_time = format("%0.3f с", seconds);
    // The lists on screen are this device copy's from here on, unless the
    // window drops the view (it then says so).
    if (shown->view.event_lists.changed) {
        p.lists_built_from = device;
        p.lists_built = true;
    }
    run_on_gui([shown] { show_on_gui(*shown); });
}

} // namespace

void poll_set_register_reader(RegisterReader reader) { g_reader = reader ? reader : modbus_read_registers; }
void poll_set_link_close(void (*close)()) { g_link_close = close ? close : link_close; }

CycleResult poll_cycle()
{
    PollState& p = state();
    LinkSession session = link_session_current();
    take_pending_reset(p);
    p.cycle_failed = 0;
    if (!p.timer)
        p.timer = g_timer_new();
    double start = g_timer_elapsed(p.timer, nullptr);

    show_progress(kStepIdentification);
    if (read_block(status_address::kIdentification, status_size::kIdentification, p.status.identification.data(),
                   kInputRegisters) != ModbusResult::Ok)
        return abandon(p, session);
    convert_identification(p.status);
    for (int i = 0; i < status_size::kIdentification; ++i)
        p.identification[i] = p.status.identification[i];
    if (protocol_version(p.status) > kMaxProtocolVersion) {
        refuse_protocol();
        return CycleResult::Refused;
    }
    int layout = status_layout(p.status);

    if (!read_events_block(p, layout))
        return abandon(p, session);

    for (StepRead read : kStatusReads)
        if (!read(p, layout))
            return abandon(p, session);

    read_settings(p, layout);
    double end = g_timer_elapsed(p.timer, nullptr);

    if (app.link_open)
        show_cycle(p, layout, session, end - start);
    p.last_cycle_time = end - start;
    if (p.settings_read)
        settings_device_to_reference(layout);
    p.previous = p.status;
    return CycleResult::Complete;
}

int poll_thread_main(const WorkerContext& context)
{
    PollState& p = state();
    app.poll_running = 1;
    // The transport thread was started just before this one and is up within
    // microseconds: a millisecond's sleep here was most of a one-shot check.
    while (!app.transport_running && context.live())
        std::this_thread::sleep_for(std::chrono::microseconds(50));
    if (p.timer)
        g_timer_destroy(p.timer);
    p.timer = g_timer_new();
    p.cycle_failed = 0;
    p.settings_read = 0;

    while (context.live()) {
        // The pause ends early when the link ends, so a disconnect does not
        // wait for it.
        if (poll_cycle() == CycleResult::Complete)
            context.sleep_for(kCyclePause);
    }
    g_timer_destroy(p.timer);
    p.timer = nullptr;
    app.poll_running = 0;
    return 0;
}

int poll_thread_start()
{
    // One poll thread at a time: one started for a quick reconnect waits in
    // its lane until the last link's thread has seen that link end.
    return worker_start(kPollLane, link_session_current(), [](const WorkerContext& c) { poll_thread_main(c); },
                        kPollStack);
}

void status_data_reset()
{
    PollState& p = state();
    settings_copies_clear();
    for (auto& r : p.identification)
        r = 0;
    p.images_reset = 1;
    p.settings_read = 0;
    p.page_load_request = 1;
}

void status_connect_started() { state().settings_read = 0; }

void status_link_opened()
{
    if (poll_thread_start() == 0)
        return;
    // A link nobody reads would look connected and show nothing.
    log_message(err_text, "Не удается запустить опрос контроллера: система не дала создать поток\n");
    g_link_close.load()();
}

int status_layout_in_force() { return layout_for_version(state().identification[1]); }

uint16_t status_identification_register(int index)
{
    return index >= 0 && index < status_size::kIdentification ? state().identification[index].load() : 0;
}

double poll_last_cycle_time() { return state().last_cycle_time; }

const StatusImage& status_image() { return state().status; }
