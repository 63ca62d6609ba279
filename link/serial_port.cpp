#include "link/serial_port.h"

#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <glib.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <climits>
#include <cstdlib>
#include <fstream>

#include "base/app_state.h"
#include "base/log.h"
#include "base/text_format.h"
#include "link/serial_speed.h"

namespace {

// Failures in a row after which a port that never said it hung up is given up.
constexpr int kFailuresMax = 3;

bool exists(const std::string& path) { return ::access(path.c_str(), F_OK) == 0; }

std::string first_line(const std::string& path)
{
    std::ifstream in(path);
    std::string line;
    std::getline(in, line);
    while (!line.empty() && (line.back() == ' ' || line.back() == '\r'))
        line.pop_back();
    return line;
}

// The USB device a tty hangs from carries the maker and product strings; it
// is a few levels above the tty's own device (port, interface, device).
std::string usb_description(const std::string& device_link)
{
    char resolved[PATH_MAX];
    if (!::realpath(device_link.c_str(), resolved))
        return "";
    std::string dir = resolved;
    for (int level = 0; level < 4 && dir.size() > 1; ++level) {
        std::string maker = first_line(dir + "/manufacturer"), product = first_line(dir + "/product");
        if (!maker.empty() || !product.empty())
            return maker.empty() ? product : product.empty() ? maker : maker + " " + product;
        dir = dir.substr(0, dir.rfind('/'));
    }
    return "";
}

// ttyS2 before ttyS10: the letters, then the number.
bool natural_less(const std::string& a, const std::string& b)
{
    auto split = [](const std::string& s) {
        size_t digits = s.find_last_not_of("0123456789") + 1;
        long number = digits < s.size() ? std::atol(s.c_str() + digits) : -1;
        return std::pair{s.substr(0, digits), number};
    };
    return split(a) < split(b);
}

void say(LogTag tag, const std::string& text) { log_message(tag, "%s", text.c_str()); }

// The speeds with a constant of their own; the others are set by number.
bool speed_for(int baud, speed_t* speed)
{
    switch (baud) {
    case 110: *speed = B110; return true;
    case 300: *speed = B300; return true;
    case 600: *speed = B600; return true;
    case 1200: *speed = B1200; return true;
    case 2400: *speed = B2400; return true;
    case 4800: *speed = B4800; return true;
    case 9600: *speed = B9600; return true;
    case 19200: *speed = B19200; return true;
    case 38400: *speed = B38400; return true;
    case 57600: *speed = B57600; return true;
    case 115200: *speed = B115200; return true;
    case 230400: *speed = B230400; return true;
    default: return false;
    }
}

constexpr tcflag_t kFormatFlags = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;

// The terminal settings for `params` (which serial_format_refusal let
// through); *by_number when the speed has no constant and must be set apart.
void build_settings(const SerialParams& params, termios* t, bool* by_number)
{
    speed_t speed = B38400;
    *by_number = !speed_for(serial_baud(params), &speed);
    cfmakeraw(t);
    t->c_iflag &= ~tcflag_t(IXON | IXOFF | IXANY | INPCK | ISTRIP | IGNPAR | PARMRK);
    t->c_cflag &= ~kFormatFlags;
    t->c_cflag |= CREAD | CLOCAL | HUPCL;
    switch (serial_data_bits(params)) {
    case 5: t->c_cflag |= CS5; break;
    case 6: t->c_cflag |= CS6; break;
    case 7: t->c_cflag |= CS7; break;
    default: t->c_cflag |= CS8; break;
    }
    switch (serial_parity(params)) {
    case Parity::None: break;
    case Parity::Odd: t->c_cflag |= PARENB | PARODD; break;
    case Parity::Even: t->c_cflag |= PARENB; break;
    case Parity::Mark: t->c_cflag |= PARENB | CMSPAR | PARODD; break;
    case Parity::Space: t->c_cflag |= PARENB | CMSPAR; break;
    }
    if (serial_parity(params) != Parity::None)
        t->c_iflag |= INPCK;
    // With five data bits a UART sends "two" stop bits as one and a half.
    if (serial_stop_bits(params) != StopBits::One)
        t->c_cflag |= CSTOPB;
    // Reads wait through poll(), never inside the driver.
    t->c_cc[VMIN] = 0;
    t->c_cc[VTIME] = 0;
    cfsetispeed(t, speed);
    cfsetospeed(t, speed);
}

// A driver may take part of the settings and drop the rest silently.
bool format_took(int fd, const termios& wanted)
{
    termios now{};
    if (tcgetattr(fd, &now) != 0)
        return false;
    return (now.c_cflag & kFormatFlags) == (wanted.c_cflag & kFormatFlags) && (now.c_iflag & (IXON | IXOFF)) == 0;
}

// The driver runs at `baud`, give or take what a UART's divider makes of it.
bool speed_took(int fd, int baud)
{
    int actual = 0;
    if (serial_actual_speed(fd, &actual) != 0)
        return true;   // a driver that cannot say has taken what it was given
    return std::abs(actual - baud) * 50 <= baud;
}

// A failure that says the port is gone for good.
bool port_gone(int error) { return error == EIO || error == ENXIO || error == ENODEV || error == EBADF; }

void failed(SerialPort& port, int error)
{
    port.last_error = error;
    if (port_gone(error) || ++port.failures >= kFailuresMax)
        port.dead = true;
}

}  // namespace

std::vector<ComPort> enumerate_com_ports(const std::string& sys_class_tty, const std::string& dev_dir)
{
    std::vector<std::string> names;
    if (DIR* dir = ::opendir(sys_class_tty.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            std::string name = entry->d_name;
            if (name[0] == '.')
                continue;
            std::string base = sys_class_tty + "/" + name;
            if (!exists(base + "/device/driver"))
                continue;
            // The serial driver registers every ttyS it could have; only a
            // port with a UART behind it has a type other than 0.
            if (name.rfind("ttyS", 0) == 0 && first_line(base + "/type") == "0")
                continue;
            names.push_back(name);
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end(), natural_less);
    // The lasting names, by the device they point to (the first in order
    // where a device has several).
    std::vector<std::pair<std::string, std::string>> lasting;
    std::string by_id = dev_dir + "/serial/by-id";
    if (DIR* dir = ::opendir(by_id.c_str())) {
        while (dirent* entry = ::readdir(dir)) {
            char resolved[PATH_MAX];
            std::string link = by_id + "/" + entry->d_name;
            if (entry->d_name[0] != '.' && ::realpath(link.c_str(), resolved))
                lasting.emplace_back(resolved, link);
        }
        ::closedir(dir);
        std::sort(lasting.begin(), lasting.end());
    }
    std::vector<ComPort> ports;
    for (const std::string& name : names) {
        std::string path = dev_dir + "/" + name;
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved)) {
            auto found = std::find_if(lasting.begin(), lasting.end(), [&](const auto& l) { return l.first == resolved; });
            if (found != lasting.end()) {
                ports.push_back({found->second + " (" + path + ")", found->second});
                continue;
            }
        }
        std::string usb = usb_description(sys_class_tty + "/" + name + "/device");
        ports.push_back({usb.empty() ? path : path + " (" + usb + ")", path});
    }
    return ports;
}

std::string com_port_path(const std::vector<ComPort>& ports, const std::string& text)
{
    for (const ComPort& port : ports)
        if (port.name == text)
            return port.path;
    return text;
}

int com_port_row(const std::vector<ComPort>& ports, const std::string& path)
{
    for (size_t i = 0; i < ports.size(); ++i)
        if (ports[i].path == path)
            return int(i);
    return -1;
}

SerialPort::~SerialPort()
{
    if (fd < 0)
        return;
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
    int expected = fd;
    app.com_handle.compare_exchange_strong(expected, kInvalidHandle);
}

std::shared_ptr<SerialPort> serial_open(const std::string& path, const SerialParams& params,
                                        SerialOpenFailure* failure)
{
    SerialOpenFailure ignored;
    if (!failure)
        failure = &ignored;
    *failure = SerialOpenFailure::Transient;
    say(norm_text, ".");
    auto port = std::make_shared<SerialPort>();
    port->path = path;
    port->fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    int error = errno;
    // Two programs talking to one modem at once would garble both calls: the
    // lock keeps out every program that asks for it, TIOCEXCL every other
    // open but root's.
    if (port->fd >= 0 && ::flock(port->fd, LOCK_EX | LOCK_NB) != 0) {
        error = errno == EWOULDBLOCK ? EBUSY : errno;
        ::close(port->fd);
        port->fd = -1;
    }
    if (port->fd < 0) {
        say(err_text, format("ОШИБКА открытия порта '%s': %s\n", path.c_str(), serial_error_text(error).c_str()));
        return nullptr;
    }
    ::ioctl(port->fd, TIOCEXCL);

    // The kernel's own queues (4096 bytes) and time-outs through poll():
    // nothing to set for either.
    say(norm_text, ".");
    say(norm_text, ".");
    say(norm_text, ".");
    // Each refusal below is final: the same settings would be refused again.
    auto unsupported = [&](const std::string& text) {
        say(err_text, text + "\n");
        *failure = SerialOpenFailure::Unsupported;
        return nullptr;   // the destructor closes the port
    };
    std::string refusal = serial_format_refusal(params);
    if (!refusal.empty())
        return unsupported(refusal);
    termios t{};
    if (tcgetattr(port->fd, &t) != 0) {
        error = errno;
        say(err_text, format("ОШИБКА установки параметров: %s\n", serial_error_text(error).c_str()));
        if (error == ENOTTY)
            *failure = SerialOpenFailure::Unsupported;
        return nullptr;
    }
    bool by_number = false;
    build_settings(params, &t, &by_number);
    say(norm_text, ".");
    error = tcsetattr(port->fd, TCSANOW, &t) != 0 ? errno : 0;
    if (error == 0 && by_number)
        error = serial_set_any_speed(port->fd, serial_baud(params));
    if (error == EINVAL && by_number)
        return unsupported(format("Порт не поддерживает скорость %d бит/с: выберите другую скорость", serial_baud(params)));
    if (error != 0) {
        say(err_text, format("ОШИБКА установки параметров: %s\n", serial_error_text(error).c_str()));
        return nullptr;
    }
    if (!speed_took(port->fd, serial_baud(params)))
        return unsupported(format("Порт не поддерживает скорость %d бит/с: выберите другую скорость", serial_baud(params)));
    // A pseudo-terminal, for one, always carries 8 bits without parity.
    if (!format_took(port->fd, t))
        return unsupported(format("Порт не поддерживает формат %s: выберите другой в параметрах порта",
                                  serial_format_text(params).c_str()));
    // DTR and RTS on; a port without modem lines has nothing to raise.
    int lines = TIOCM_DTR | TIOCM_RTS;
    ::ioctl(port->fd, TIOCMBIS, &lines);
    tcflush(port->fd, TCIOFLUSH);
    app.com_handle = port->fd;
    *failure = SerialOpenFailure::None;
    return port;
}

int serial_read(SerialPort& port, uint8_t* buffer, int max, int wait_ms)
{
    if (port.fd < 0 || port.dead) {
        port.last_error = port.last_error ? port.last_error.load() : EBADF;
        return -1;
    }
    pollfd p{port.fd, POLLIN, 0};
    int ready = ::poll(&p, 1, std::max(0, wait_ms));
    if (ready < 0) {
        if (errno == EINTR)
            return 0;
        failed(port, errno);
        return -1;
    }
    if (ready == 0)
        return 0;
    ssize_t n = ::read(port.fd, buffer, size_t(max));
    if (n > 0) {
        port.failures = 0;
        return int(n);
    }
    if (n < 0 && (errno == EAGAIN || errno == EINTR))
        return 0;
    // Readable but nothing to read: the line hung up.
    failed(port, n == 0 ? EIO : errno);
    return -1;
}

int serial_write(SerialPort& port, const uint8_t* bytes, int length)
{
    if (port.fd < 0 || port.dead) {
        port.last_error = port.last_error ? port.last_error.load() : EBADF;
        return 0;
    }
    using Clock = std::chrono::steady_clock;
    auto deadline = Clock::now() + std::chrono::milliseconds(100 * int64_t(length) + 500);
    int written = 0;
    while (written < length) {
        ssize_t n = ::write(port.fd, bytes + written, size_t(length - written));
        if (n > 0) {
            written += int(n);
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR) {
            failed(port, errno);
            break;
        }
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            port.last_error = ETIMEDOUT;
            break;
        }
        pollfd p{port.fd, POLLOUT, 0};
        ::poll(&p, 1, int(left));
    }
    if (written == length)
        port.failures = 0;
    return written;
}

int serial_write(SerialPort& port, const std::string& text)
{
    return serial_write(port, reinterpret_cast<const uint8_t*>(text.data()), int(text.size()));
}

void serial_discard_input(SerialPort& port)
{
    if (port.fd >= 0)
        tcflush(port.fd, TCIFLUSH);
}

int serial_modem_lines(SerialPort& port, ModemLines* lines)
{
    if (port.fd < 0 || port.dead) {
        port.last_error = port.last_error ? port.last_error.load() : EBADF;
        return -1;
    }
    int status = 0;
    if (::ioctl(port.fd, TIOCMGET, &status) != 0) {
        int error = errno;
        if (error == ENOTTY || error == EINVAL)
            return 1;
        failed(port, error);
        return -1;
    }
    *lines = {(status & TIOCM_DSR) != 0, (status & TIOCM_CTS) != 0, (status & TIOCM_CAR) != 0};
    return 0;
}

std::string serial_error_text(int code)
{
    std::string text = g_strerror(code);
    switch (code) {
    case EACCES:
    case EPERM:
        // Serial devices belong to the group dialout; membership counts from
        // the next login.
        return text + " (добавьте пользователя в группу dialout и войдите в систему заново)";
    case ENOTTY:
        return text + " (это не последовательный порт)";
    default:
        return text;
    }
}
