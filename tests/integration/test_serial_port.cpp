// Opening a serial port for real, on a pseudo-terminal pair made by socat
// (never one of the machine's own ports): the settings the port ends up with
// as stty reads them back, what termios cannot express, a port somebody else
// holds, and a far end that goes away.
#include <gtest/gtest.h>

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <string>
#include <thread>

#include "base/app_state.h"
#include "base/headless_ui.h"
#include "link/serial_port.h"
#include "link/serial_speed.h"

namespace {

class PtyPair {
public:
    PtyPair()
    {
        char tmpl[] = "/tmp/rarur-serial-XXXXXX";
        if (!mkdtemp(tmpl))
            return;
        dir_ = tmpl;
        pid_ = fork();
        if (pid_ == 0) {
            std::string a = "pty,raw,echo=0,link=" + a_path(), b = "pty,raw,echo=0,link=" + b_path();
            execlp("socat", "socat", a.c_str(), b.c_str(), static_cast<char*>(nullptr));
            _exit(127);
        }
        for (int i = 0; i < 500 && !ready(); ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    ~PtyPair()
    {
        stop();
        if (!dir_.empty() && std::system(("rm -rf '" + dir_ + "'").c_str()) != 0)
            ADD_FAILURE() << "could not remove " << dir_;
    }
    bool ready() const { return access(a_path().c_str(), F_OK) == 0 && access(b_path().c_str(), F_OK) == 0; }
    std::string a_path() const { return dir_ + "/a"; }
    std::string b_path() const { return dir_ + "/b"; }
    void stop()
    {
        if (pid_ > 0) {
            kill(pid_, SIGTERM);
            waitpid(pid_, nullptr, 0);
            pid_ = -1;
        }
    }

private:
    std::string dir_;
    pid_t pid_ = -1;
};

// What stty says about an open descriptor: it is handed the port as its
// standard input instead of opening it again.
std::string stty_of(int fd)
{
    int out[2];
    if (pipe(out) != 0)
        return "";
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fd, 0);
        dup2(out[1], 1);
        execlp("stty", "stty", "-a", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(out[1]);
    std::string text;
    char buffer[512];
    ssize_t n;
    while ((n = read(out[0], buffer, sizeof buffer)) > 0)
        text.append(buffer, size_t(n));
    close(out[0]);
    waitpid(pid, nullptr, 0);
    return " " + text + " ";   // so that every flag has a blank on each side
}

bool has(std::string settings, const std::string& flag)
{
    for (char& c : settings)
        if (c == '\n' || c == ';')
            c = ' ';
    return settings.find(" " + flag + " ") != std::string::npos;
}

class SerialPortOnPty : public testing::Test {
protected:
    void SetUp() override
    {
        if (std::system("command -v socat >/dev/null 2>&1") != 0)
            GTEST_SKIP() << "socat is not installed";
        headless_ui_install();
        headless_ui_clear();
        app_state_reset_start_values();
        ASSERT_TRUE(pair.ready());
    }
    PtyPair pair;
};

}  // namespace

TEST_F(SerialPortOnPty, OpensRawAtTheChosenSpeedAndFormatForThisProgramAlone)
{
    auto port = serial_open(pair.a_path(), SerialParams{});
    ASSERT_NE(port, nullptr) << headless_log();
    EXPECT_EQ(headless_log(), ".....");
    EXPECT_EQ(app.com_handle.load(), port->fd);
    std::string s = stty_of(port->fd);
    EXPECT_TRUE(s.find("speed 115200 baud") != std::string::npos) << s;
    for (const char* flag : {"cs8", "-parenb", "-cstopb", "-crtscts", "clocal", "cread", "-icanon", "-echo", "-isig",
                             "-ixon", "-ixoff", "-opost", "-icrnl", "-inpck"})
        EXPECT_TRUE(has(s, flag)) << flag << " in" << s;

    // Nobody else may talk to the modem meanwhile.
    headless_ui_clear();
    EXPECT_EQ(serial_open(pair.a_path(), SerialParams{}), nullptr);
    EXPECT_EQ(headless_log(), ".ОШИБКА открытия порта '" + pair.a_path() + "': Device or resource busy\n");

    port.reset();
    EXPECT_EQ(app.com_handle.load(), kInvalidHandle);
    // 9600 baud, 8 bits, 2 stop bits.
    port = serial_open(pair.a_path(), SerialParams{6, 3, 0, 2});
    ASSERT_NE(port, nullptr) << headless_log();
    s = stty_of(port->fd);
    EXPECT_TRUE(s.find("speed 9600 baud") != std::string::npos) << s;
    for (const char* flag : {"cs8", "-parenb", "cstopb", "-icanon"})
        EXPECT_TRUE(has(s, flag)) << flag << " in" << s;
    // Bytes pass both ways untouched by a line discipline.
    int peer = open(pair.b_path().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(peer, 0);
    const uint8_t frame[] = {0x04, 0x0D, 0x0A, 0x11, 0x13, 0x0D};
    ASSERT_EQ(serial_write(*port, frame, sizeof frame), int(sizeof frame));
    uint8_t got[16];
    int n = 0;
    for (int i = 0; i < 50 && n < int(sizeof frame); ++i) {
        pollfd p{peer, POLLIN, 0};
        if (poll(&p, 1, 100) > 0)
            n += int(read(peer, got + n, sizeof got - size_t(n)));
    }
    EXPECT_EQ(std::string(reinterpret_cast<char*>(got), size_t(n)), std::string(reinterpret_cast<const char*>(frame), sizeof frame));
    close(peer);
}

TEST_F(SerialPortOnPty, RefusesWhatThePortCannotSetInsteadOfSettingSomethingElse)
{
    // 14400 and 256000 baud have no constant of their own and 5 bits with
    // 1.5 stop bits are "two" stop bits to a UART: a driver takes them or
    // says it cannot, once and for good; a pseudo-terminal may do either.
    struct Case {
        SerialParams params;
        int speed;              // as the driver reports it (stty cannot show those without a constant)
        const char* flags[2];   // as stty shows them
        const char* refused;
    };
    for (Case c : {Case{{7, 3, 0, 0}, 14400, {"cs8", "-cstopb"}, "скорость 14400 бит/с: выберите другую скорость"},
                   Case{{14, 3, 0, 0}, 256000, {"cs8", "-cstopb"}, "скорость 256000 бит/с: выберите другую скорость"},
                   Case{{12, 0, 0, 1}, 115200, {"cs5", "cstopb"},
                        "формат 5 N 1.5: выберите другой в параметрах порта"}}) {
        SCOPED_TRACE(c.speed);
        headless_ui_clear();
        SerialOpenFailure failure = SerialOpenFailure::None;
        auto port = serial_open(pair.a_path(), c.params, &failure);
        if (port) {
            EXPECT_EQ(failure, SerialOpenFailure::None);
            EXPECT_EQ(headless_log(), ".....");
            int speed = 0;
            EXPECT_EQ(serial_actual_speed(port->fd, &speed), 0);
            EXPECT_EQ(speed, c.speed);
            std::string s = stty_of(port->fd);
            for (const char* flag : c.flags)
                EXPECT_TRUE(has(s, flag)) << flag << " in" << s;
        } else {
            EXPECT_EQ(failure, SerialOpenFailure::Unsupported);
            EXPECT_EQ(headless_log(), std::string(".....Порт не поддерживает ") + c.refused + "\n");
        }
    }
    // 1.5 stop bits with 8 data bits exist on no port.
    headless_ui_clear();
    SerialOpenFailure failure = SerialOpenFailure::None;
    EXPECT_EQ(serial_open(pair.a_path(), SerialParams{12, 3, 0, 1}, &failure), nullptr);
    EXPECT_EQ(failure, SerialOpenFailure::Unsupported);
    EXPECT_EQ(headless_log(), "....Порт не поддерживает формат 8 N 1.5: полтора стоповых бита бывают только при "
                              "размере байта 5 бит\n");
    // 7E2 is a termios setting, but a pseudo-terminal's driver turns it into
    // 8 bits without parity: that is refused too, not taken silently.
    headless_ui_clear();
    EXPECT_EQ(serial_open(pair.a_path(), SerialParams{6, 2, 1, 2}, &failure), nullptr);
    EXPECT_EQ(failure, SerialOpenFailure::Unsupported);
    EXPECT_EQ(headless_log(), ".....Порт не поддерживает формат 7 E 2: выберите другой в параметрах порта\n");
    // A device that is no serial port at all.
    headless_ui_clear();
    EXPECT_EQ(serial_open("/dev/null", SerialParams{}, &failure), nullptr);
    EXPECT_EQ(failure, SerialOpenFailure::Unsupported);
    EXPECT_EQ(headless_log(),
              "....ОШИБКА установки параметров: Inappropriate ioctl for device (это не последовательный порт)\n");
    // Each refusal let go of the port.
    EXPECT_NE(serial_open(pair.a_path(), SerialParams{3, 3, 0, 0}), nullptr);
}

TEST_F(SerialPortOnPty, AFarEndThatGoesAwayFailsTheReadsAndMarksThePortDead)
{
    auto port = serial_open(pair.a_path(), SerialParams{});
    ASSERT_NE(port, nullptr);
    uint8_t byte;
    EXPECT_EQ(serial_read(*port, &byte, 1, 20), 0) << "nothing there yet";
    pair.stop();
    EXPECT_EQ(serial_read(*port, &byte, 1, 600), -1);
    EXPECT_TRUE(port->dead.load());
    EXPECT_EQ(serial_read(*port, &byte, 1, 600), -1) << "and stays so, at once";
    EXPECT_LT(serial_write(*port, &byte, 1), 1);
    ModemLines lines;
    EXPECT_EQ(serial_modem_lines(*port, &lines), -1);
}
