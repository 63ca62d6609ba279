// rarur-sim: a RARUR Controller with a live plant, for the demo and the tests.
#include "control.h"
#include "modem_endpoint.h"
#include "server.h"
#include "stream_endpoint.h"

#include <glib.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

using namespace sim;

namespace {

volatile std::sig_atomic_t stop_requested = 0;

void on_signal(int) { stop_requested = 1; }

struct Options {
    std::string listen, port_file, usb_dir, modem_pty, record, control;
    std::vector<int> usb_ids;
    std::vector<std::string> faults;
    int protocol_version = 410;
    uint32_t serial = 100123;
    int modem_result = 1;
    int modem_guard_ms = 1000;
    int modem_baud = 0;
    uint32_t seed = 1;
    bool freeze = false;
};

// Reads a whole number within [lo, hi] into `out`; false leaves `out` alone.
template <typename T>
bool set_int(const char* text, long long lo, long long hi, T& out)
{
    char* end = nullptr;
    errno = 0;
    long long v = std::strtoll(text, &end, 10);
    if (!*text || *end || errno == ERANGE || v < lo || v > hi)
        return false;
    out = T(v);
    return true;
}

// A numeric option: where its value goes and the range it must lie in.
struct NumberOption {
    const char* name;
    long long lo, hi;
    void (*store)(Options& o, long long v);
};

const NumberOption kNumberOptions[] = {
    {"--modem-result", 0, 255, [](Options& o, long long v) { o.modem_result = int(v); }},
    {"--modem-guard", 0, 10000, [](Options& o, long long v) { o.modem_guard_ms = int(v); }},
    {"--modem-baud", 0, 1000000, [](Options& o, long long v) { o.modem_baud = int(v); }},
    {"--protocol-version", 0, 65535, [](Options& o, long long v) { o.protocol_version = int(v); }},
    {"--serial", 0, 999999, [](Options& o, long long v) { o.serial = uint32_t(v); }},
    {"--seed", 0, 0xFFFFFFFFLL, [](Options& o, long long v) { o.seed = uint32_t(v); }},
};

constexpr long long kUsbIdMax = 1000000;

std::string range_error(const char* name, const char* value, long long lo, long long hi)
{
    return std::string(name) + ": «" + value + "» — нужно целое число от " + std::to_string(lo) + " до " +
           std::to_string(hi);
}

gboolean number_option(const gchar* name, const gchar* value, gpointer data, GError** error)
{
    Options& o = *static_cast<Options*>(data);
    for (const NumberOption& option : kNumberOptions) {
        if (std::strcmp(name, option.name) != 0)
            continue;
        long long v = 0;
        if (set_int(value, option.lo, option.hi, v)) {
            option.store(o, v);
            return TRUE;
        }
        g_set_error_literal(error, G_OPTION_ERROR, G_OPTION_ERROR_BAD_VALUE,
                            range_error(name, value, option.lo, option.hi).c_str());
        return FALSE;
    }
    g_set_error(error, G_OPTION_ERROR, G_OPTION_ERROR_UNKNOWN_OPTION, "неизвестный параметр %s", name);
    return FALSE;
}

int usage_error(const std::string& text)
{
    std::fprintf(stderr, "rarur-sim: %s\nПодробнее: rarur-sim --help\n", text.c_str());
    return 2;
}

// Fills `o` from the command line. Returns the exit status when the program
// ends here (2 after a usage error said on stderr) and sets `answered` after
// --version; --help exits 0 from inside.
int parse_options(int argc, char** argv, Options& o, bool& answered)
{
    gchar *listen = nullptr, *port_file = nullptr, *usb_dir = nullptr, *modem_pty = nullptr, *record = nullptr,
          *control = nullptr;
    gchar **usb_ids = nullptr, **faults = nullptr;
    gboolean freeze = FALSE, version = FALSE;
    auto number = reinterpret_cast<gpointer>(number_option);
    const GOptionEntry entries[] = {
        {"listen", 0, 0, G_OPTION_ARG_STRING, &listen,
         "Принимать Modbus TCP на этом адресе (ПОРТ 0 — любой свободный; IPv6 в скобках: [::1]:1502)", "УЗЕЛ:ПОРТ"},
        {"port-file", 0, 0, G_OPTION_ARG_FILENAME, &port_file,
         "Записать в ФАЙЛ занятый порт TCP, когда все точки подключения готовы", "ФАЙЛ"},
        {"usb-dir", 0, 0, G_OPTION_ARG_FILENAME, &usb_dir, "Папка сокетов USB: КАТАЛОГ/rarur-N.sock", "КАТАЛОГ"},
        {"usb-id", 0, 0, G_OPTION_ARG_STRING_ARRAY, &usb_ids,
         "Номер контроллера на USB (можно несколько раз; по умолчанию 1)", "N"},
        {"modem-pty", 0, 0, G_OPTION_ARG_FILENAME, &modem_pty,
         "Модем Hayes на псевдотерминале; ПУТЬ станет ссылкой на него", "ПУТЬ"},
        {"modem-result", 0, 0, G_OPTION_ARG_CALLBACK, number,
         "Код результата в ответ на набор номера (по умолчанию 1, CONNECT)", "N"},
        {"modem-guard", 0, 0, G_OPTION_ARG_CALLBACK, number,
         "Защитная пауза вокруг «+++», мс (по умолчанию 1000)", "МС"},
        {"modem-baud", 0, 0, G_OPTION_ARG_CALLBACK, number,
         "Скорость линии модема, бод, 10 бит на байт (по умолчанию без ограничения)", "N"},
        {"protocol-version", 0, 0, G_OPTION_ARG_CALLBACK, number,
         "Версия протокола и по ней раскладка регистров (по умолчанию 410)", "V"},
        {"serial", 0, 0, G_OPTION_ARG_CALLBACK, number, "Заводской номер контроллера (по умолчанию 100123)", "N"},
        {"record", 0, 0, G_OPTION_ARG_FILENAME, &record, "Дописывать в ФАЙЛ строку о каждом запросе", "ФАЙЛ"},
        {"control", 0, 0, G_OPTION_ARG_FILENAME, &control, "Сокет Unix для команд управления", "ПУТЬ"},
        {"fault", 0, 0, G_OPTION_ARG_STRING_ARRAY, &faults,
         "Неисправность, как в команде управления «fault ПРАВИЛО» (можно несколько раз)", "ПРАВИЛО"},
        {"seed", 0, 0, G_OPTION_ARG_CALLBACK, number, "Начальное число случайностей ЭПУ (по умолчанию 1)", "N"},
        {"freeze", 0, 0, G_OPTION_ARG_NONE, &freeze, "Начать с остановленной ЭПУ", nullptr},
        {"version", 0, 0, G_OPTION_ARG_NONE, &version, "Показать версию и выйти", nullptr},
        {}};
    GOptionContext* context = g_option_context_new(nullptr);
    g_option_context_set_summary(context, "Имитатор контроллера RARUR с живой ЭПУ: для демонстрации и для тестов.");
    GOptionGroup* group = g_option_group_new("rarur-sim", "", "", &o, nullptr);
    g_option_group_add_entries(group, entries);
    g_option_context_set_main_group(context, group);
    GError* error = nullptr;
    int status = 0;
    if (!g_option_context_parse(context, &argc, &argv, &error)) {
        status = usage_error(error->message);
        g_error_free(error);
    } else if (argc > 1) {
        status = usage_error(std::string("лишний аргумент «") + argv[1] + "»");
    } else if (version) {
        std::fputs("rarur-sim (RARUR Service) " RARUR_VERSION "\n", stdout);
    }
    g_option_context_free(context);

    auto take = [](gchar* from, std::string& to) {
        if (from)
            to = from;
        g_free(from);
    };
    take(listen, o.listen);
    take(port_file, o.port_file);
    take(usb_dir, o.usb_dir);
    take(modem_pty, o.modem_pty);
    take(record, o.record);
    take(control, o.control);
    o.freeze = freeze;
    for (gchar** id = usb_ids; id && *id; ++id) {
        int n = 0;
        if (status == 0 && !set_int(*id, 0, kUsbIdMax, n))
            status = usage_error(range_error("--usb-id", *id, 0, kUsbIdMax));
        o.usb_ids.push_back(n);
    }
    for (gchar** rule = faults; rule && *rule; ++rule)
        o.faults.push_back(*rule);
    g_strfreev(usb_ids);
    g_strfreev(faults);
    answered = version;
    if (status != 0 || version)
        return status;

    if (!o.usb_ids.empty() && o.usb_dir.empty())
        return usage_error("--usb-id: нужен и --usb-dir");
    if (!o.usb_dir.empty() && o.usb_ids.empty())
        o.usb_ids.push_back(1);
    return 0;
}

int write_port_file(const std::string& path, int port)
{
    std::string tmp = path + ".tmp";
    std::FILE* f = std::fopen(tmp.c_str(), "w");
    if (!f)
        return -1;
    std::fprintf(f, "%d\n", port);
    if (std::fclose(f) != 0)
        return -1;
    return std::rename(tmp.c_str(), path.c_str());
}

}  // namespace

int main(int argc, char** argv)
{
    // GLib's own messages (a wrong option) in the user's language; numbers
    // in the control channel and the record stay as they are.
    std::setlocale(LC_CTYPE, "");
    std::setlocale(LC_MESSAGES, "");
    Options o;
    bool answered = false;
    if (int status = parse_options(argc, argv, o, answered); status != 0 || answered)
        return status;
    struct sigaction sa{};
    sa.sa_handler = on_signal;
    sigaction(SIGINT, &sa, nullptr);
    sigaction(SIGTERM, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);

    auto simulator = std::make_unique<Sim>();
    Sim& sim = *simulator;
    PlantOptions po;
    po.protocol_version = o.protocol_version;
    po.serial = o.serial;
    po.seed = o.seed;
    po.frozen = o.freeze;
    plant_init(sim.plant, po);
    for (const std::string& rule : o.faults) {
        std::string error;
        if (fault_command(sim.faults, rule, error) < 0) {
            std::fprintf(stderr, "rarur-sim: --fault \"%s\": %s\n", rule.c_str(), error.c_str());
            return 2;
        }
    }
    if (!o.record.empty() && !sim.recorder.open(o.record)) {
        std::fprintf(stderr, "rarur-sim: cannot open %s: %s\n", o.record.c_str(), std::strerror(errno));
        return 1;
    }

    std::unique_ptr<StreamEndpoint> tcp;
    std::vector<std::unique_ptr<StreamEndpoint>> usb;
    std::unique_ptr<ModemEndpoint> modem;
    std::unique_ptr<ControlEndpoint> control;
    if (!o.listen.empty()) {
        tcp = std::make_unique<StreamEndpoint>(sim, Framing::tcp);
        if (tcp->listen_tcp(o.listen) < 0)
            return 1;
    }
    for (int id : o.usb_ids) {
        auto ep = std::make_unique<StreamEndpoint>(sim, Framing::usb);
        if (ep->listen_unix(o.usb_dir + "/rarur-" + std::to_string(id) + ".sock") < 0)
            return 1;
        usb.push_back(std::move(ep));
    }
    if (!o.modem_pty.empty()) {
        modem = std::make_unique<ModemEndpoint>(sim, o.modem_result, o.modem_guard_ms, o.modem_baud);
        if (modem->open(o.modem_pty) < 0)
            return 1;
    }
    if (!o.control.empty()) {
        control = std::make_unique<ControlEndpoint>(sim, modem != nullptr);
        if (control->listen(o.control) < 0)
            return 1;
    }
    if (!o.port_file.empty() && write_port_file(o.port_file, tcp ? tcp->port() : 0) < 0) {
        std::fprintf(stderr, "rarur-sim: cannot write %s\n", o.port_file.c_str());
        return 1;
    }
    if (tcp)
        std::fprintf(stderr, "rarur-sim: protocol %d (layout %d), Modbus TCP on port %d\n", o.protocol_version,
                     sim.plant.layout.number, tcp->port());

    int64_t last_tick = now_ms();
    while (!stop_requested) {
        int64_t now = now_ms();
        if (now - last_tick >= 1000) {
            plant_tick(sim.plant, double(now - last_tick) / 1000.0);
            last_tick = now;
        }
        Loop loop;
        loop.wake_at(last_tick + 1000);
        if (tcp)
            tcp->prepare(loop, now);
        for (auto& ep : usb)
            ep->prepare(loop, now);
        if (modem)
            modem->prepare(loop, now);
        if (control)
            control->prepare(loop);
        loop.run_once();
    }
    return 0;
}
