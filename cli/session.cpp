#include "cli/session.h"

#include <signal.h>
#include <unistd.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <thread>
#include <vector>

#include "base/app_state.h"
#include "base/headless_ui.h"
#include "base/log.h"
#include "base/workers.h"
#include "link/connection.h"
#include "link/usb.h"
#include "status/display_hooks.h"
#include "status/poll.h"

namespace {

CliLinkOptions g_options;
CliAddress g_address;

volatile sig_atomic_t g_signal = 0;
std::atomic<int> g_links_opened{0};
std::atomic<int> g_links_ended{0};

std::mutex g_view_lock;   // the captured view, written on the window's thread
CycleView g_view;
std::atomic<int> g_cycles{0};
std::atomic<int> g_settings_loads{0};

// What cli_wait waits on changed: a worker's thread says so at once, so that
// a command goes on when its cycle is complete, not at the next look.
std::mutex g_wake_lock;
std::condition_variable g_wake;
unsigned g_wakes = 0;  // under g_wake_lock

std::mutex g_said_lock;
std::string g_last_message;   // a message box's text, logged right after it as well

void on_signal(int signal) { g_signal = signal; }

std::string without_newline(const char* text)
{
    std::string s = text ? text : "";
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
        s.pop_back();
    return s;
}

// The log pane's lines: the errors always (in the window's words), the rest
// with --verbose, frame dumps with --frames.
void cli_append_log(LogTag tag, const char* text)
{
    std::string line = without_newline(text);
    if (line.empty())
        return;
    bool frame = tag == send_text || tag == recv_text;
    if (frame ? !g_options.frames : (tag != err_text && !g_options.verbose))
        return;
    {
        std::lock_guard<std::mutex> g(g_said_lock);
        if (line == g_last_message) {
            g_last_message.clear();
            return;
        }
    }
    std::fprintf(stderr, "%s\n", line.c_str());
}

void cli_show_message(MessageKind, const char* text)
{
    std::string line = without_newline(text);
    {
        std::lock_guard<std::mutex> g(g_said_lock);
        g_last_message = line;
    }
    // Whatever the window would put in a box is said: "no Controller
    // attached" is an information box, and the only word of a failed connect.
    std::fprintf(stderr, "rarur-cli: %s\n", line.c_str());
}

// No worker asks; what the window's handlers would ask, the commands decide
// themselves before they call them.
int cli_ask_question(const char*) { return 0; }
const char* cli_device_address() { return g_address.target.address.c_str(); }

void capture_view(const CycleView& view)
{
    {
        std::lock_guard<std::mutex> g(g_view_lock);
        // A cycle that left the event lists alone leaves them as the window
        // does: as the last cycle that changed them built them.
        ActiveListsView lists = std::move(g_view.event_lists);
        g_view = view;
        if (!view.event_lists.changed)
            g_view.event_lists = std::move(lists);
    }
    g_cycles++;
    cli_wake();
}
void settings_loaded(int)
{
    g_settings_loads++;
    cli_wake();
}

void link_opened()
{
    g_links_opened++;
    cli_wake();
}
void link_ended()
{
    g_links_ended++;
    cli_wake();
}

unsigned wakes()
{
    std::lock_guard<std::mutex> g(g_wake_lock);
    return g_wakes;
}

}  // namespace

CliLinkOptions& cli_link_options() { return g_options; }

const GOptionEntry* cli_link_option_entries()
{
    static const GOptionEntry entries[] = {
        {"timeout", 't', 0, G_OPTION_ARG_INT, &g_options.timeout_s,
         "Ждать ответа контроллера не дольше СЕК секунд (по умолчанию 10)", "СЕК"},
        {"baud", 0, 0, G_OPTION_ARG_INT, &g_options.baud, "Модем: скорость порта, бод (по умолчанию 115200)", "БОД"},
        {"init", 0, 0, G_OPTION_ARG_STRING, &g_options.init, "Модем: строка инициализации", "СТРОКА"},
        {"pulse", 0, 0, G_OPTION_ARG_NONE, &g_options.pulse, "Модем PSTN: импульсный набор номера", nullptr},
        {"verbose", 'v', 0, G_OPTION_ARG_NONE, &g_options.verbose, "Выводить в stderr весь журнал программы", nullptr},
        {"frames", 'L', 0, G_OPTION_ARG_NONE, &g_options.frames, "Выводить в stderr каждый кадр обмена (HEX)", nullptr},
        {}};
    return entries;
}

bool cli_parse_options(int* argc, char*** argv, const char* parameters, const char* summary,
                       const GOptionEntry* entries, bool with_link, const char* description)
{
    GOptionContext* context = g_option_context_new(parameters);
    g_option_context_set_summary(context, summary);
    if (description)
        g_option_context_set_description(context, description);
    if (entries)
        g_option_context_add_main_entries(context, entries, nullptr);
    if (with_link)
        g_option_context_add_main_entries(context, cli_link_option_entries(), nullptr);
    GError* error = nullptr;
    bool ok = g_option_context_parse(context, argc, argv, &error);
    if (!ok) {
        cli_usage_error(error->message);
        g_error_free(error);
    } else if (with_link) {
        // The options are known only now: the runtime started before them.
        app.log_frames = g_options.frames ? 1 : 0;
    }
    if (ok && with_link && g_options.timeout_s <= 0) {
        cli_usage_error("--timeout: нужно число секунд больше нуля");
        ok = false;
    }
    g_option_context_free(context);
    return ok;
}

int cli_usage_error(const std::string& text)
{
    // A command's own option error points at that command's help.
    std::fprintf(stderr, "rarur-cli: %s\nПодробнее: %s --help\n", text.c_str(), g_get_prgname());
    return kExitUsage;
}

int cli_run_subcommand(const char* name, int argc, char** argv, int (*run)(int argc, char** argv))
{
    std::string prgname = std::string(argv[0]) + " " + name;
    g_set_prgname(prgname.c_str());
    std::vector<char*> args;
    args.push_back(prgname.data());
    for (int i = 2; i < argc; ++i)
        args.push_back(argv[i]);
    args.push_back(nullptr);
    return run(static_cast<int>(args.size()) - 1, args.data());
}

void cli_error(const std::string& text) { std::fprintf(stderr, "rarur-cli: %s\n", text.c_str()); }

void cli_runtime_start()
{
    headless_ui_install();
    UiHooks hooks = ui();
    hooks.append_log = cli_append_log;
    hooks.show_message = cli_show_message;
    hooks.ask_question = cli_ask_question;
    hooks.device_address = cli_device_address;
    ui_install(hooks);

    app_state_reset_start_values();
    app.log_frames = g_options.frames ? 1 : 0;

    display_hooks_headless();
    PollDisplayHooks& display = display_hooks();
    display = PollDisplayHooks{};
    display.load_settings_page = settings_loaded;
    display.appliers[static_cast<int>(DisplayStep::Identification)] = capture_view;
    status_data_reset();

    connection_unsubscribe_all();
    connection_init();
    connection_subscribe(ConnectionEvent::LinkOpened, status_link_opened);
    connection_subscribe(ConnectionEvent::ConnectStarted, status_connect_started);
    connection_subscribe(ConnectionEvent::LinkOpened, link_opened);
    connection_subscribe(ConnectionEvent::LinkEnded, link_ended);

    // No SA_RESTART: a wait in progress returns and the loops see the flag.
    struct sigaction action {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
    // A closed pipe (| head) ends the output, not the process in mid-write.
    signal(SIGPIPE, SIG_IGN);
}

bool cli_interrupted() { return g_signal != 0; }

void cli_pump_log()
{
    GdkLock lock;
    log_drain();
}

bool cli_wait(const std::function<bool()>& done, std::chrono::milliseconds timeout)
{
    auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        // Taken before the look, so that a change during it is not slept over.
        unsigned seen = wakes();
        cli_pump_log();
        if (done())
            return true;
        auto now = std::chrono::steady_clock::now();
        if (cli_interrupted() || now >= deadline)
            return false;
        // Ctrl-C and what nobody wakes for (the log) are seen within 20 ms.
        std::unique_lock<std::mutex> lock(g_wake_lock);
        g_wake.wait_until(lock, std::min(now + std::chrono::milliseconds(20), deadline),
                          [&] { return g_wakes != seen; });
    }
}

void cli_wake()
{
    {
        std::lock_guard<std::mutex> g(g_wake_lock);
        ++g_wakes;
    }
    g_wake.notify_all();
}

bool cli_link_up() { return app.link_open && g_links_ended.load() < g_links_opened.load(); }

CycleView cli_last_view()
{
    std::lock_guard<std::mutex> g(g_view_lock);
    return g_view;
}
bool cli_settings_loaded() { return g_settings_loads > 0; }

int cli_wait_settings(std::chrono::milliseconds timeout)
{
    if (cli_wait([] { return cli_settings_loaded() || !cli_link_up(); }, timeout) && cli_settings_loaded())
        return kExitOk;
    if (cli_interrupted())
        return kExitInterrupted;
    cli_error("Настройки контроллера " + g_address.text + " не прочитаны за " + std::to_string(g_options.timeout_s) +
              " с");
    return kExitNoController;
}

int cli_wait_settings() { return cli_wait_settings(std::chrono::seconds(g_options.timeout_s)); }

int cli_connect(const std::string& address_text)
{
    std::string error;
    if (cli_parse_address(address_text, &g_address, &error) != 0)
        return cli_usage_error(error);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(g_options.timeout_s);
    const LinkBackend& backend = *g_address.backend;
    bool modem = backend.asks == LinkBackend::Asks::Modem || backend.asks == LinkBackend::Asks::PhoneLineModem;
    if (modem) {
        if (g_options.baud != 0) {
            int index = cli_baud_index(g_options.baud);
            if (index < 0)
                return cli_usage_error("--baud: скорость " + std::to_string(g_options.baud) + " бод не поддерживается");
            app.baud_index = index;
        }
        std::string init = g_options.init ? g_options.init : "";
        if (init.size() >= sizeof app.modem_init_string)
            return cli_usage_error("--init: слишком длинная строка инициализации");
        std::memset(app.modem_init_string, 0, sizeof app.modem_init_string);
        std::memcpy(app.modem_init_string, init.data(), init.size());
        if (g_address.target.phone.size() >= sizeof app.modem_phone)
            return cli_usage_error("Слишком длинный номер телефона");
        std::memset(app.modem_phone, 0, sizeof app.modem_phone);
        std::memcpy(app.modem_phone, g_address.target.phone.data(), g_address.target.phone.size());
        app.tone_dialling = g_options.pulse ? 0 : 1;
    } else if (g_options.pulse || g_options.init || g_options.baud) {
        return cli_usage_error("--baud, --init и --pulse относятся только к модему (gsm:, pstn:)");
    }
    if (g_options.pulse && backend.asks != LinkBackend::Asks::PhoneLineModem)
        return cli_usage_error("--pulse относится только к телефонной линии (pstn:)");

    app.link_kind = backend.kind;
    int opened_before = g_links_opened;
    int result = cli_as_window([&] {
        connect_to_device();
        if (g_address.any_usb) {
            std::vector<uint32_t> ids;
            if (usb_find_controllers(&ids) != 0)
                return -1;
            if (ids.size() > 1) {
                std::string list;
                for (uint32_t id : ids)
                    list += (list.empty() ? "" : ", ") + std::to_string(id);
                cli_error("Подключено несколько контроллеров USB (" + list + "): укажите usb:ИДЕНТИФИКАТОР");
                return -1;
            }
            g_address.target.usb_id = ids[0];
        }
        return connect_target(g_address.target);
    });
    cli_pump_log();
    if (result != 0)
        return kExitNoController;
    auto left = [&] {
        return std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    };
    // A modem's link opens when its thread has the call up.
    bool opened = cli_wait([&] { return g_links_opened > opened_before; }, left());
    if (!opened) {
        if (cli_interrupted()) {
            cli_error("Прервано: подключение не завершено");
            return kExitInterrupted;
        }
        cli_error("Нет связи с контроллером " + g_address.text);
        return kExitNoController;
    }
    if (!cli_wait([&] { return g_cycles > 0 || !cli_link_up(); }, left()) || g_cycles == 0) {
        if (cli_interrupted()) {
            cli_error("Прервано: подключение не завершено");
            return kExitInterrupted;
        }
        cli_error("Контроллер " + g_address.text + " не ответил за " + std::to_string(g_options.timeout_s) + " с");
        return kExitNoController;
    }
    return kExitOk;
}

void cli_disconnect()
{
    cli_as_window([] {
        link_close();
        return 0;
    });
    // A modem hangs up before its thread ends; everything else ends at once.
    workers_wait();
    cli_pump_log();
}
