#include "link/modem.h"

#include <chrono>
#include <cstring>
#include <mutex>
#include <thread>

#include "base/app_state.h"
#include "base/log.h"
#include "base/text_format.h"
#include "base/workers.h"
#include "link/connection.h"
#include "modbus/exchange.h"

namespace {

using std::chrono::milliseconds;

constexpr size_t kModemStack = 256000;

// One byte of a reply line: 100 ms per byte asked for plus 500 ms.
constexpr int kByteWaitMs = 600;
// A port that fails every read at once: a pause between tries, and a limit.
constexpr auto kFailedReadPause = milliseconds(100);
constexpr int kFailedReadsMax = 5;

constexpr auto kResetWait = milliseconds(2000);
constexpr auto kEchoOffWait = milliseconds(500);
constexpr auto kNumericWait = milliseconds(100);
constexpr auto kRedialPause = milliseconds(5000);
constexpr auto kWatchStep = milliseconds(100);
constexpr int kWatchEvery = 10;   // steps between two looks at the modem lines
constexpr auto kGuardTime = milliseconds(1500);
constexpr auto kHangUpAnswerWait = milliseconds(1000);

constexpr int kReplyLine = 256;
constexpr int kResetLine = 127;

std::atomic<uint64_t> g_call{0};
std::atomic<int> g_reply_wait_ms{ModemWaits{}.reply_ms};
std::atomic<int> g_dial_wait_ms{ModemWaits{}.dial_ms};
std::atomic<int> g_call_read_wait_ms{ModemWaits{}.call_read_ms};

void say(LogTag tag, const char* text) { log_message(tag, "%s", text); }

void say(LogTag tag, const std::string& text) { say(tag, text.c_str()); }

// A set-up command met silence (a modem switched off, a cable in the wrong
// socket, another speed than the modem's): said once, so the user is not left
// with a row of dots.
void say_silent(const ModemCall& call)
{
    if (modem_call_wanted(call))
        say(err_text, "Модем не отвечает: проверьте питание модема, кабель и скорость порта\n");
}

// Waits `time`, ending early once the call is no longer wanted. False then.
bool pause_while_wanted(const ModemCall& call, milliseconds time)
{
    auto until = std::chrono::steady_clock::now() + time;
    while (modem_call_wanted(call)) {
        auto left = std::chrono::duration_cast<milliseconds>(until - std::chrono::steady_clock::now());
        if (left <= milliseconds(0))
            return true;
        std::this_thread::sleep_for(std::min(left, kWatchStep));
    }
    return false;
}

bool send(SerialPort& port, const std::string& command)
{
    return serial_write(port, command) == int(command.size());
}

// Lets the modem answer before the port closes, so the command is not lost
// with the line: at most a second, up to the end of its reply.
void await_answer(SerialPort& port)
{
    auto until = std::chrono::steady_clock::now() + kHangUpAnswerWait;
    uint8_t byte = 0;
    while (std::chrono::steady_clock::now() < until && byte != '\r') {
        if (serial_read(port, &byte, 1, 100) < 0)
            return;
    }
}

// What the transport thread learns on the line during a call.
struct CallWatch {
    CarrierWatch carrier;              // the transport thread's alone
    std::atomic<bool> lost{false};     // the modem said the call is gone
    std::atomic<bool> closed{false};   // the exchange has let go of the link
};

std::shared_ptr<LinkIo> modem_link_io(const ModemCall& call, std::shared_ptr<SerialPort> port,
                                      std::shared_ptr<ModemLineState> lines, std::shared_ptr<CallWatch> watch)
{
    auto io = std::make_shared<LinkIo>();
    io->kind = call.gsm ? LinkKind::Gsm : LinkKind::Pstn;
    io->read_wait_ms = g_call_read_wait_ms;
    io->wanted = [] { return app.modem_wanted != 0; };
    io->title = format("RARUR Service - %s [%s]", call.gsm ? "GSM" : "PSTN", call.phone.c_str());
    io->connected_text = format("Подключен к %s\n", call.phone.c_str());
    io->send_error_text = [](int) { return std::string("Ошибка передачи\n"); };
    io->write_all = [port, watch](const uint8_t* bytes, int length) {
        return watch->closed ? -1 : serial_write(*port, bytes, length);
    };
    io->read_some = [port, watch](uint8_t* buffer, int max, int wait_ms) {
        if (watch->closed)
            return -1;
        int n = serial_read(*port, buffer, max, wait_ms);
        if (n > 0 && !watch->lost && watch->carrier.feed(buffer, n)) {
            // The modem's own word that the call is gone, not a reply: the
            // link is lost from here on, so the request waiting for a reply
            // fails as one on a lost link (quietly), not as a reply of the
            // wrong size. Under the link lock a link opened since cannot be
            // taken for this one: opening it closed this one first.
            std::lock_guard<std::mutex> l(app.link_lock);
            watch->lost = true;
            if (!watch->closed) {
                log_message(err_text, "%s", modem_result_text(3).c_str());
                app.link_open = 0;
            }
        }
        return n;
    };
    // The reads and writes of a call end within their own time-outs; the
    // modem thread closes the port once the transport thread has ended.
    io->shutdown = [watch] { watch->closed = true; };
    io->error_code = [port] { return port->last_error.load(); };
    // Before each write and each read: a lost DSR or an unreadable status
    // fails the exchange; carrier and CTS are the modem thread's to judge.
    io->usable = [port, lines, watch] {
        return !watch->lost && !watch->closed && modem_lines_ok(*port, *lines, true, true, true, true) == 0;
    };
    return io;
}

// Ends the exchange over the call (the modem thread's own: no other link can
// be opened meanwhile) and waits until neither the poll thread nor the
// transport thread can touch the port or the window any more.
void end_link()
{
    {
        std::lock_guard<std::mutex> l(app.link_lock);
        app.link_open = 0;
        exchange_close();
    }
    workers_wait(kPollLane);
    exchange_wait_stopped();
}

void modem_thread(const ModemCall& call)
{
    auto lines = std::make_shared<ModemLineState>();
    std::shared_ptr<SerialPort> port;
    std::shared_ptr<CallWatch> watch;
    bool dialled = false;
    bool link_up = false;
    int i = 0;

    auto lost = [&](const std::string& why) {
        if (!why.empty())
            say(err_text, why);
        if (link_up)
            end_link();
        link_up = false;
        port.reset();
        dialled = false;
        i = 0;
        pause_while_wanted(call, kRedialPause);
    };

    while (modem_call_wanted(call)) {
        if (!dialled) {
            say(norm_text, "Подключение к контроллеру");
            SerialOpenFailure failure;
            port = serial_open(call.port, call.params, &failure);
            if (failure == SerialOpenFailure::Unsupported) {
                // A wrong setting is not a lost call: dialling again would
                // only repeat the refusal every few seconds.
                std::lock_guard<std::mutex> l(app.link_lock);
                if (g_call == call.number)
                    app.modem_wanted = 0;
                break;
            }
            bool configured = port && modem_configure(*port, call) == 0;
            DialResult dial = configured ? modem_dial(*port, call) : DialResult::NotConnected;
            if (dial == DialResult::ConnectedButCancelled) {
                dialled = true;
                break;
            }
            if (dial != DialResult::Connected) {
                port.reset();
                pause_while_wanted(call, kRedialPause);
                continue;
            }
            dialled = true;
        }
        if (!link_up) {
            if (!modem_call_wanted(call))
                break;
            watch = std::make_shared<CallWatch>();
            int opened;
            LinkSession session;
            {
                std::lock_guard<std::mutex> l(app.link_lock);
                opened = exchange_open(modem_link_io(call, port, lines, watch));
                session = link_session_current();
            }
            if (opened != 0) {
                say(err_text, "Не удается запустить обмен: система не дала создать поток\n");
                lost("");
                continue;
            }
            link_up = true;
            connection_link_opened(session);
        }
        if (port->dead) {
            lost(format("ОШИБКА: %s\n", serial_error_text(port->last_error).c_str()));
            continue;
        }
        if (watch->lost) {
            lost("");   // the transport thread has said so
            continue;
        }
        if (i > kWatchEvery) {
            if (modem_lines_ok(*port, *lines, true, true, true, false) != 0) {
                lost("");
                continue;
            }
            i = 1;
        } else {
            ++i;
        }
        std::this_thread::sleep_for(kWatchStep);
    }

    // Hang-up. The guard times are waited out even when the program is
    // closing: a modem left on line keeps the call (and its cost) going.
    say(norm_text, "Отключение...");
    // A link of this call ends with the transport thread's "Отключен"; a call
    // without one (never up, or lost and redialled when the user gave up)
    // needs its own word.
    const bool says_disconnected = link_up;
    if (link_up)
        end_link();
    if (dialled) {
        std::this_thread::sleep_for(kGuardTime);
        if (port)
            send(*port, "+++");
        std::this_thread::sleep_for(kGuardTime);
        if (port) {
            serial_discard_input(*port);   // the answer to "+++" is not the one awaited
            if (send(*port, "ath\r\n"))
                await_answer(*port);
        }
    }
    if (!says_disconnected)
        say(norm_text, "Отключено\n");
    port.reset();
    // Calls are started on the GUI thread: there a newer one is seen for sure.
    run_on_gui([number = call.number] {
        if (g_call == number)
            ui().set_connect_controls(1);
    });
}

int modem_open(bool gsm, const LinkTarget& target)
{
    ModemCall call;
    call.gsm = gsm;
    call.port = target.address;
    call.phone = target.phone;
    call.init = app.modem_init_string;
    call.tone = app.tone_dialling != 0;
    call.params = {app.baud_index, app.data_bits_index, app.parity_index, app.stop_bits_index};
    return modem_start(call);
}

int gsm_open(const LinkTarget& target, std::shared_ptr<LinkIo>*) { return modem_open(true, target); }
int pstn_open(const LinkTarget& target, std::shared_ptr<LinkIo>*) { return modem_open(false, target); }

// The modem thread notices and hangs up; it puts the menu right itself.
void modem_close() { app.modem_wanted = 0; }

}  // namespace

const LinkBackend gsm_backend = {
    .kind = LinkKind::Gsm,
    .name = "GSM",
    .menu_item = "menuitem9",
    .scheme = "gsm",
    .asks = LinkBackend::Asks::Modem,
    .open = gsm_open,
    .close = modem_close,
    .own_thread = true,
};
const LinkBackend pstn_backend = {
    .kind = LinkKind::Pstn,
    .name = "PSTN",
    .menu_item = "menuitem10",
    .scheme = "pstn",
    .asks = LinkBackend::Asks::PhoneLineModem,
    .open = pstn_open,
    .close = modem_close,
    .own_thread = true,
};

bool modem_call_wanted(const ModemCall& call) { return app.modem_wanted && g_call == call.number; }

void modem_set_waits(const ModemWaits& waits)
{
    g_reply_wait_ms = waits.reply_ms;
    g_dial_wait_ms = waits.dial_ms;
    g_call_read_wait_ms = waits.call_read_ms;
}

int modem_start(ModemCall call)
{
    {
        std::lock_guard<std::mutex> l(app.link_lock);
        call.number = ++g_call;
        app.modem_wanted = 1;
    }
    int started = worker_start(kModemLane, 0, [call](const WorkerContext&) { modem_thread(call); }, kModemStack);
    if (started != 0) {
        app.modem_wanted = 0;
        log_message(err_text, "Не удается запустить поток модема: система не дала создать поток\n");
    }
    return started;
}

int modem_read_line(SerialPort& port, const ModemCall& call, char* buffer, int size, int wait_ms)
{
    if (size <= 0)
        return 0;
    int length = 0;
    buffer[0] = 0;
    if (size < 2)
        return 0;
    using Clock = std::chrono::steady_clock;
    // The wait starts again with every character stored.
    auto until = Clock::now() + milliseconds(wait_ms);
    int failed = 0;
    while (modem_call_wanted(call)) {
        auto left = std::chrono::duration_cast<milliseconds>(until - Clock::now()).count();
        if (left <= 0) {
            buffer[length] = 0;
            if (length > 0)
                say(err_text, "ОШИБКА: таймаут\n");
            return -length;
        }
        uint8_t byte;
        int n = serial_read(port, &byte, 1, int(std::min<int64_t>(left, kByteWaitMs)));
        if (n < 0) {
            // A dead port fails every read at once: retried without a pause
            // it would keep a processor busy until the user hangs up.
            if (port.dead || ++failed >= kFailedReadsMax) {
                buffer[length] = 0;
                say(err_text, format("ОШИБКА: %s\n", serial_error_text(port.last_error).c_str()));
                return length > 0 ? -length : -1;
            }
            std::this_thread::sleep_for(kFailedReadPause);
            continue;
        }
        failed = 0;
        if (n == 0)
            continue;
        if (byte == '\r' || byte == '\n') {
            if (length == 0)
                continue;
            buffer[length] = 0;
            return length;
        }
        until = Clock::now() + milliseconds(wait_ms);
        buffer[length++] = char(byte);
        if (length >= size - 2) {
            buffer[length] = 0;
            return length;
        }
    }
    buffer[length] = 0;
    return 0;
}

int modem_reset(SerialPort& port, const ModemCall& call)
{
    const int wait = g_reply_wait_ms;
    char line[kResetLine];
    say(norm_text, ".");
    send(port, "atz\r\n");
    pause_while_wanted(call, kResetWait);
    int n = modem_read_line(port, call, line, sizeof line, wait);
    if (n > 0 && std::strstr(line, "atz"))
        n = modem_read_line(port, call, line, sizeof line, wait);
    if (n == 0)
        say_silent(call);
    if (n <= 0 || !modem_reply_ok(line))
        return -1;

    say(norm_text, ".");
    send(port, "ate0\r\n");
    pause_while_wanted(call, kEchoOffWait);
    n = modem_read_line(port, call, line, sizeof line, wait);
    if (n < 0)
        return -1;
    if (n > 0 && std::strstr(line, "ate0")) {
        if (modem_read_line(port, call, line, sizeof line, wait) < 0 || !modem_reply_ok(line))
            return -1;
    }

    say(norm_text, ".");
    send(port, "atv0\r\n");
    pause_while_wanted(call, kNumericWait);
    n = modem_read_line(port, call, line, sizeof line, wait);
    if (n <= 0)
        return 0;
    return std::strchr(line, '0') ? 0 : -1;
}

int modem_configure(SerialPort& port, const ModemCall& call)
{
    const int wait = g_reply_wait_ms;
    char line[kReplyLine];
    say(norm_text, ".");
    if (modem_reset(port, call) != 0) {
        if (modem_call_wanted(call))
            say(err_text, "ОШИБКА конфигурации модема\n");
        else
            say(norm_text, "Отменено\n");
        return -1;
    }
    for (int k = 0; k < kModemSetupCommands; ++k) {
        say(norm_text, ".");
        send(port, kModemSetup[k]);
        int n = modem_read_line(port, call, line, sizeof line, wait);
        if (!modem_call_wanted(call)) {
            say(norm_text, "Отменено\n");
            return -1;
        }
        if (n == 0)
            say_silent(call);
        if (n < 1)
            return -1;
        if (modem_reply_number(line) == 4) {
            if (k == kModemSetupCommands - 1) {
                say(err_text, "ОШИБКА x1 ");   // not every modem knows atx4; it dials without
            } else {
                say(err_text, "ОШИБКА\n");
                return -1;
            }
        }
    }
    if (call.gsm) {
        // Settings of GSM modules only; one that refuses them still dials.
        static const char* const kRefused[kGsmSetupCommands] = {".", "ОШИБКА NMP ", "."};
        for (int k = 0; k < kGsmSetupCommands; ++k) {
            say(norm_text, ".");
            send(port, kGsmSetup[k]);
            int n = modem_read_line(port, call, line, sizeof line, wait);
            if (n < 1) {
                if (n == 0 && modem_call_wanted(call))
                    say_silent(call);
                else if (k == kGsmSetupCommands - 1)
                    say(err_text, "\n");
                return -1;
            }
            if (modem_reply_number(line) == 4)
                say(err_text, kRefused[k]);
        }
    }
    if (call.init.empty())
        return 0;
    say(norm_text, ".");
    send(port, "at" + call.init + "\r\n");
    int n = modem_read_line(port, call, line, sizeof line, wait);
    if (!modem_call_wanted(call)) {
        say(norm_text, "Отменено\n");
        return -1;
    }
    if (n < 1) {
        if (n == 0)
            say_silent(call);
        else
            say(err_text, "\n");
        return -1;
    }
    if (modem_reply_number(line) == 4) {
        say(err_text, "ОШИБКА установки строки параметров\n");
        return -1;
    }
    return 0;
}

DialResult modem_dial(SerialPort& port, const ModemCall& call)
{
    if (call.phone.empty()) {
        say(err_text, "Не введен номер телефона\n");
        return DialResult::NotConnected;
    }
    say(norm_text, ".");
    send(port, modem_dial_command(call.gsm, call.tone, call.phone));
    char line[kReplyLine];
    int n = modem_read_line(port, call, line, sizeof line, g_dial_wait_ms);
    if (!modem_call_wanted(call)) {
        // The call was withdrawn while the modem dialled. Had it come up
        // meanwhile, it is on line now and must be hung up properly.
        say(norm_text, "Отменено\n");
        if (n > 0 && modem_result(modem_reply_number(line)).connected)
            return DialResult::ConnectedButCancelled;
        // Any character stops the dialling; the modem's answer says it has.
        if (send(port, "atdt\r\n"))
            await_answer(port);
        return DialResult::NotConnected;
    }
    if (n == 0) {
        // No result long after any modem gives up on its own: a failed dial,
        // redialled like a busy line. The modem may still be dialling.
        say(err_text, "ОШИБКА: таймаут\n");
        if (send(port, "atdt\r\n"))
            await_answer(port);
    }
    if (n <= 0)
        return DialResult::NotConnected;
    int code = modem_reply_number(line);
    ModemResult result = modem_result(code);
    say(result.error ? err_text : norm_text, modem_result_text(code));
    return result.connected ? DialResult::Connected : DialResult::NotConnected;
}

int modem_lines_ok(SerialPort& port, ModemLineState& state, bool check_dsr, bool check_cts, bool check_rlsd,
                   bool quiet)
{
    if (port.dead)
        return -1;
    ModemLines lines{};
    int read = serial_modem_lines(port, &lines);
    if (read == 1) {
        if (!state.no_lines_reported.exchange(true))
            say(norm_text, "Порт не сообщает состояние линий модема: обрыв связи будет определен по ответу "
                           "модема\n");
        return 0;
    }
    if (read < 0) {
        say(err_text, "ОШИБКА получения статуса\n");
        return -1;
    }
    if (check_dsr && !lines.dsr) {
        if (!quiet)
            say(err_text, "DSR отключен\n");
        return -1;
    }
    if (check_cts && !lines.cts) {
        if (quiet)
            return 0;
        say(err_text, "CTS отключен\n");
        return -1;
    }
    if (check_rlsd && !lines.rlsd) {
        if (quiet)
            return 0;
        say(err_text, "RLSD отключен\n");
        return -1;
    }
    return 0;
}
