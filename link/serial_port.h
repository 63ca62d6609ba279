// Serial ports the Linux way: the list of ports from sysfs, and opening,
// configuring, reading and writing one with termios. The modem link runs on
// top of this.
#pragma once

#include <atomic>
#include <memory>
#include <string>
#include <vector>

#include "link/serial_params.h"

struct ComPort {
    std::string name;   // what the port combo shows: the path, and the USB maker and product where known
    std::string path;   // the device to open
};

// The serial devices of `sys_class_tty` that have a driver: ttyS* ports that
// really exist (a UART was found), USB adapters (ttyUSB*, ttyACM*) and any
// other tty a driver registered; consoles and pseudo-terminals have none. In
// natural order (ttyS2 before ttyS10). Paths are `dev_dir`/name.
// A device with a name under `dev_dir`/serial/by-id (a USB adapter) is listed
// by that name, with the device it points to: the name stays with the
// adapter when it comes back as another ttyUSB after re-plugging.
std::vector<ComPort> enumerate_com_ports(const std::string& sys_class_tty = "/sys/class/tty",
                                         const std::string& dev_dir = "/dev");

// The device a text of the port box means: the path of the row it names,
// else the text itself (a path typed in).
std::string com_port_path(const std::vector<ComPort>& ports, const std::string& text);
// The row of `ports` with device `path`, or -1.
int com_port_row(const std::vector<ComPort>& ports, const std::string& path);

// An open port. Reads and writes never block beyond their time-outs.
struct SerialPort {
    int fd = -1;
    std::string path;
    // The port can carry nothing more: the adapter was unplugged, the line
    // hung up, or the far end of a pseudo-terminal has gone.
    std::atomic<bool> dead{false};
    std::atomic<int> last_error{0};
    // Failures in a row that did not by themselves prove the port dead.
    std::atomic<int> failures{0};
    SerialPort() = default;
    SerialPort(const SerialPort&) = delete;
    SerialPort& operator=(const SerialPort&) = delete;
    ~SerialPort();
};

// Why serial_open gave no port.
enum class SerialOpenFailure {
    None,
    // The port cannot be opened or set up now (unplugged, busy, a failing
    // driver): trying again later may succeed.
    Transient,
    // The port will never take these settings (a speed or format its driver
    // refuses, a device that is no serial port): trying again cannot help.
    Unsupported,
};

// Opens `path` for this program alone and sets it up raw, with the speed and
// character format of `params`, no flow control, DTR and RTS on. Logs a dot
// per step ("." norm_text). On failure logs "ОШИБКА открытия порта '%s': %s\n",
// "ОШИБКА установки параметров: %s\n" or, for what the port does not
// support, "Порт не поддерживает скорость %d бит/с...\n" or "Порт не
// поддерживает формат ...\n", sets *failure and returns nullptr. A speed or
// format the system cannot set is refused, never replaced by another. Call
// without the GDK lock.
std::shared_ptr<SerialPort> serial_open(const std::string& path, const SerialParams& params,
                                        SerialOpenFailure* failure = nullptr);

// Reads up to `max` bytes, waiting at most `wait_ms` for the first. > 0 bytes
// read, 0 nothing arrived, -1 the read failed (last_error; a hang-up or I/O
// error marks the port dead).
int serial_read(SerialPort& port, uint8_t* buffer, int max, int wait_ms);
// Writes `length` bytes, giving up after 100 ms per byte plus 500 ms. Returns
// the number written (fewer on failure, last_error set).
int serial_write(SerialPort& port, const uint8_t* bytes, int length);
int serial_write(SerialPort& port, const std::string& text);

// Drops what has arrived and not been read yet.
void serial_discard_input(SerialPort& port);

// The modem status lines.
struct ModemLines {
    bool dsr, cts, rlsd;
};
// 0 with *lines filled; 1 the port has no modem lines to report (a
// pseudo-terminal, an adapter without them); -1 failed (last_error).
int serial_modem_lines(SerialPort& port, ModemLines* lines);

// The system's text for an error code, in UTF-8, with what to do about it
// where the system's words alone leave the user guessing (a port the user may
// not open, a device that is no serial port).
std::string serial_error_text(int code);
