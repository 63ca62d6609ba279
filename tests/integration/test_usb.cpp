// The USB link: finding, choosing and opening Controllers through the
// program's own access library against rarur-sim's USB sockets, and through a
// library dropped in at run time.
#include <gtest/gtest.h>

#include <dlfcn.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <future>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "base/app_state.h"
#include "base/headless_ui.h"
#include "link/connection.h"
#include "link/usb.h"
#include "modbus/exchange.h"
#include "modbus/operations.h"
#include "sim_process.h"

namespace {

uint16_t be16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }

std::vector<uint32_t> g_offered;
int g_choice = -1;

int chooser(const std::vector<uint32_t>& ids)
{
    g_offered = ids;
    return g_choice;
}

class UsbLink : public testing::Test {
protected:
    void SetUp() override
    {
        headless_ui_install();
        connection_init();
        headless_ui_clear();
        app_state_reset_start_values();
        app.modem_wanted = 0;
        app.link_kind = LinkKind::Usb;
        unsetenv("RARUR_USB_LIBRARY");
        usb_access_forget();
        g_offered.clear();
        g_choice = -1;
    }
    void TearDown() override
    {
        {
            GdkLock g;
            link_close();
        }
        exchange_wait_stopped();
        unsetenv("RARUR_USB_LIBRARY");
        unsetenv("RARUR_USB_DIR");
        usb_access_forget();
    }
    static int connect()
    {
        GdkLock g;
        return usb_connect(chooser);
    }
    // Identification register 1 tells the simulators of a test apart.
    static int protocol_version()
    {
        uint8_t out[4];
        return modbus_read_registers(0, 2, out, 0x04) == ModbusResult::Ok ? be16(out + 2) : -1;
    }
    static bool contains(const std::string& haystack, const std::string& needle)
    {
        return haystack.find(needle) != std::string::npos;
    }
    // Runs one read on another thread; nothing when it was still waiting
    // after far longer than a missing reply may hold the link.
    static std::optional<ModbusResult> read_guarded(uint16_t start, unsigned count)
    {
        auto done = std::async(std::launch::async, [=] {
            uint8_t out[256];
            return modbus_read_registers(start, count, out, 0x04);
        });
        if (done.wait_for(std::chrono::seconds(20)) != std::future_status::ready) {
            GdkLock g;
            link_close();   // lets the stuck call go
            return std::nullopt;
        }
        return done.get();
    }
};

TEST_F(UsbLink, FindsNoneOneOrSeveralControllersAndOpensTheChosenOne)
{
    SimOptions first;
    first.tcp = false;
    first.usb_id = 5;
    SimProcess five(first);
    ASSERT_TRUE(five.running()) << five.log();

    setenv("RARUR_USB_DIR", (five.dir() + "/nothing-here").c_str(), 1);
    EXPECT_EQ(connect(), -1);
    EXPECT_EQ(headless_messages(), "Нет подключенных контроллеров RARUR\n");
    EXPECT_TRUE(contains(headless_log_tagged(), "[norm_text]Нет подключенных контроллеров RARUR\n"));
    EXPECT_EQ(app.link_open.load(), 0);

    // One: opened without asking.
    headless_ui_clear();
    setenv("RARUR_USB_DIR", five.dir().c_str(), 1);
    ASSERT_EQ(connect(), 0) << headless_log();
    EXPECT_TRUE(g_offered.empty());
    EXPECT_EQ(protocol_version(), 410);
    EXPECT_EQ(headless_title(), "RARUR Service - USB {5}");
    EXPECT_TRUE(contains(headless_log(), "Подключен через USB {5}\n"));
    EXPECT_EQ(headless_connect_controls(), 0);
    {
        GdkLock g;
        disconnect_from_device();
    }
    exchange_wait_stopped();
    EXPECT_EQ(headless_title(), "RARUR Service");

    // Two, in one folder: the user chooses.
    SimOptions second;
    second.tcp = false;
    second.protocol_version = 400;
    second.args = {"--usb-dir", five.dir(), "--usb-id", "9"};
    SimProcess nine(second);
    ASSERT_TRUE(nine.running()) << nine.log();
    headless_ui_clear();
    g_choice = -1;
    EXPECT_EQ(connect(), -1);
    EXPECT_EQ(g_offered, (std::vector<uint32_t>{5, 9}));
    EXPECT_EQ(app.link_open.load(), 0);
    EXPECT_EQ(headless_log(), "") << "declining opens nothing and says nothing";
    EXPECT_EQ(headless_messages(), "");

    g_choice = 1;
    ASSERT_EQ(connect(), 0) << headless_log();
    EXPECT_EQ(app.usb_device_id, 9u);
    EXPECT_EQ(protocol_version(), 400) << "the second Controller answers";
    EXPECT_EQ(headless_title(), "RARUR Service - USB {9}");

    // A Controller gone between the search and the open.
    {
        GdkLock g;
        link_close();
    }
    exchange_wait_stopped();
    nine.stop();
    headless_ui_clear();
    LinkTarget gone;
    gone.usb_id = 9;
    {
        GdkLock g;
        EXPECT_EQ(connect_target(gone), -1);
    }
    EXPECT_EQ(headless_messages(), "Ошибка подключения к контроллеру\n");
    EXPECT_TRUE(contains(headless_log_tagged(), "[err_text]Ошибка подключения к контроллеру\n"));
}

TEST_F(UsbLink, ExceptionsAndSilenceEndEachExchangeAndAHangUpEndsTheLink)
{
    SimOptions options;
    options.tcp = false;
    options.usb_id = 5;
    options.args = {"--fault", "exception fn=04 addr=0x100 code=2"};
    SimProcess sim(options);
    ASSERT_TRUE(sim.running()) << sim.log();
    setenv("RARUR_USB_DIR", sim.dir().c_str(), 1);
    ASSERT_EQ(connect(), 0) << headless_log();

    // The reply is three bytes by its own length byte: never taken for a
    // short reply waited out.
    EXPECT_EQ(read_guarded(0x100, 26), ModbusResult::Exception);
    EXPECT_TRUE(contains(headless_log(), "Команда: x04 Смещение: 0100 Количество: 26 Исключение: Неправильный адрес данных\n"))
        << headless_log();
    ASSERT_EQ(sim.control("fault silence on"), "ok");
    EXPECT_EQ(read_guarded(0x200, 56), ModbusResult::NoLink);
    EXPECT_TRUE(contains(headless_log(), "Нет ответа контроллера: получено 0 из 115 байт\n"));
    ASSERT_EQ(sim.control("fault clear"), "ok");
    EXPECT_EQ(protocol_version(), 410) << "the link stays usable";

    ASSERT_EQ(sim.control("fault close-after 0"), "ok");
    EXPECT_EQ(read_guarded(0, 2), ModbusResult::NoLink);
    EXPECT_EQ(read_guarded(0, 2), ModbusResult::NoLink);
    exchange_wait_stopped();
    std::string log = headless_log();
    EXPECT_TRUE(contains(log, "Ошибка передачи\nОтключен\n")) << log;
    EXPECT_EQ(app.link_open.load(), 0);
    EXPECT_EQ(headless_title(), "RARUR Service");
    EXPECT_EQ(headless_connect_controls(), 1);
}

// A Controller that stops taking connections (its process stopped, its queue
// of connections full) is not waited for: the search counts it as not
// attached and an open of it fails, each within moments.
TEST_F(UsbLink, AControllerThatTakesNoConnectionIsNotAttachedAndCannotBeOpened)
{
    SimOptions options;
    options.tcp = false;
    options.usb_id = 7;
    SimProcess sim(options);
    ASSERT_TRUE(sim.running()) << sim.log();
    setenv("RARUR_USB_DIR", sim.dir().c_str(), 1);
    ASSERT_EQ(connect(), 0) << headless_log();
    {
        GdkLock g;
        link_close();
    }
    exchange_wait_stopped();

    // Connections nobody accepts, until the queue is full; let go (and the
    // simulator continued) however the test ends.
    struct Stopped {
        pid_t pid;
        std::vector<int> queued;
        ~Stopped()
        {
            kill(pid, SIGCONT);
            for (int fd : queued)
                close(fd);
        }
    } stopped{sim.pid(), {}};
    std::vector<int>& queued = stopped.queued;
    ASSERT_EQ(kill(sim.pid(), SIGSTOP), 0);
    for (int i = 0; i < 64; ++i) {
        int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
        sockaddr_un to{};
        to.sun_family = AF_UNIX;
        std::snprintf(to.sun_path, sizeof to.sun_path, "%s", sim.usb_socket_path().c_str());
        if (::connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) != 0) {
            close(fd);
            break;
        }
        queued.push_back(fd);
    }
    ASSERT_LT(queued.size(), 64u);

    // Each call on a thread of its own; one still waiting after 20 s has hung
    // on the stopped Controller, and is let go by continuing it.
    auto bounded = [&sim](std::function<int()> call) {
        auto done = std::async(std::launch::async, call);
        if (done.wait_for(std::chrono::seconds(20)) == std::future_status::ready)
            return done.get();
        kill(sim.pid(), SIGCONT);
        done.get();
        return -100;
    };
    headless_ui_clear();
    LinkTarget seven;
    seven.usb_id = 7;
    EXPECT_EQ(bounded([&] {
                  GdkLock g;
                  return connect_target(seven);
              }),
              -1);
    EXPECT_EQ(headless_messages(), "Ошибка подключения к контроллеру\n");
    headless_ui_clear();
    EXPECT_EQ(bounded([] { return connect(); }), -1);
    EXPECT_EQ(headless_messages(), "Нет подключенных контроллеров RARUR\n");
    EXPECT_EQ(app.link_open.load(), 0);
}

#ifdef RARUR_USB_TEST_LIBRARY

TEST_F(UsbLink, ADroppedInLibraryCarriesTheLinkAndItsHandleOutlivesEveryCall)
{
    setenv("RARUR_USB_LIBRARY", RARUR_USB_TEST_LIBRARY, 1);
    usb_access_forget();
    void* library = dlopen(RARUR_USB_TEST_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    auto counter = [library](const char* name) { return reinterpret_cast<int (*)()>(dlsym(library, name))(); };

    g_choice = 1;
    ASSERT_EQ(connect(), 0) << headless_log();
    EXPECT_EQ(g_offered, (std::vector<uint32_t>{4242, 77}));
    uint8_t out[6];
    ASSERT_EQ(modbus_read_registers(10, 3, out, 0x04), ModbusResult::Ok);
    EXPECT_EQ(be16(out + 4), 12);
    EXPECT_EQ(headless_title(), "RARUR Service - USB {77}");

    // Closed while the transport thread waits inside a read of the library.
    std::thread caller([] {
        uint8_t unused[2];
        EXPECT_EQ(modbus_read_registers(0xDEAD, 1, unused, 0x04), ModbusResult::NoLink);
    });
    while (counter("rarur_test_reads_active") == 0)
        std::this_thread::yield();
    {
        GdkLock g;
        link_close();
    }
    caller.join();
    exchange_wait_stopped();
    EXPECT_EQ(counter("rarur_test_closes"), 1);
    EXPECT_EQ(counter("rarur_test_close_during_read"), 0);
    EXPECT_EQ(headless_messages(), "Ошибка отключения от контроллера\n") << "77 fails to close";

    // A read result of -7 is as much a failure as -1: the link ends.
    headless_ui_clear();
    g_choice = 0;
    ASSERT_EQ(connect(), 0) << headless_log();
    EXPECT_EQ(read_guarded(0xBAD0, 1), ModbusResult::NoLink);
    EXPECT_EQ(read_guarded(0, 1), ModbusResult::NoLink);
    exchange_wait_stopped();
    EXPECT_TRUE(contains(headless_log(), "Ошибка передачи\n")) << headless_log();
    EXPECT_EQ(app.link_open.load(), 0);
    EXPECT_EQ(counter("rarur_test_closes"), 2);
    EXPECT_EQ(headless_messages(), "");
    dlclose(library);
}

TEST_F(UsbLink, ALibraryThatCannotBeLoadedFailsTheSearch)
{
    setenv("RARUR_USB_LIBRARY", "/nonexistent/librarur.so", 1);
    usb_access_forget();
    EXPECT_EQ(connect(), -1);
    EXPECT_EQ(headless_messages(), "Ошибка получения списка подключенных контроллеров RARUR\n");
    EXPECT_TRUE(contains(headless_log(), "Не удается загрузить библиотеку USB /nonexistent/librarur.so: "));
    EXPECT_TRUE(contains(headless_log_tagged(), "[err_text]Ошибка получения списка подключенных контроллеров RARUR\n"));

    // A library that loads but is not the Controller's says which calls it lacks.
    headless_ui_clear();
    setenv("RARUR_USB_LIBRARY", "libz.so.1", 1);
    usb_access_forget();
    EXPECT_EQ(connect(), -1);
    EXPECT_TRUE(contains(headless_log(), "Библиотека USB libz.so.1 не содержит нужных функций (нет rarur_find, "
                                         "rarur_open, rarur_read, rarur_write, rarur_close)\n"))
        << headless_log();
}

#endif

}  // namespace
