// What the modem link reads and says: result codes, the summary of the port
// format, limits cut on a character boundary, the watch
// for a lost call in the data stream, and the port list from sysfs.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <cerrno>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "link/modem_protocol.h"
#include "link/serial_params.h"
#include "link/serial_port.h"

namespace {

bool watch_sees_loss(const std::vector<uint8_t>& bytes)
{
    CarrierWatch watch;
    return watch.feed(bytes.data(), int(bytes.size()));
}

}  // namespace

TEST(ModemResults, KeepTheirDoubleBlanksAndTakeUnknownCodesAsConnected)
{
    EXPECT_EQ(modem_result_text(5), "Подключено на  1200 бит/с\n");
    EXPECT_FALSE(modem_result(9).connected);
    EXPECT_EQ(modem_result_text(22), "Неизвестный ответ модема [22]\n");
    EXPECT_TRUE(modem_result(22).connected);
    EXPECT_TRUE(modem_result(22).error);
    EXPECT_EQ(modem_reply_number("CONNECT"), 0) << "a reply that is not a number counts as 0";
    EXPECT_FALSE(modem_reply_ok(""));
}

TEST(TextLimits, AreCutInBytesOnACharacterBoundary)
{
    // "Ж" is two bytes: 255 bytes hold 127 of them, never half of the 128th.
    std::string text;
    for (int i = 0; i < 200; ++i)
        text += "Ж";
    EXPECT_EQ(utf8_prefix_length(text.c_str(), 255), 254u);
    EXPECT_EQ(utf8_prefix_length(("1" + text).c_str(), 255), 255u);
    EXPECT_EQ(utf8_prefix_length("8495", 255), 4u);
    // A three-byte character that does not fit is left out whole.
    EXPECT_EQ(utf8_prefix_length("ab€", 4), 2u);
}

TEST(SerialFormat, SummaryShowsTheShortLabelsOfTheRows)
{
    EXPECT_EQ(serial_format_markup(SerialParams{}), "<b>8 N 1</b>");
    EXPECT_EQ(serial_format_markup({12, 0, 3, 1}), "<b>5 M 1.5</b>");
    EXPECT_EQ(serial_parity({12, 3, 1, 0}), Parity::Even) << "row 1 is even, row 2 odd";
    EXPECT_FALSE(serial_params_valid({15, 3, 0, 0}));
}

TEST(SerialTexts, SayWhatToDoWhereTheSystemsWordsDoNot)
{
    EXPECT_EQ(serial_error_text(EACCES),
              "Permission denied (добавьте пользователя в группу dialout и войдите в систему заново)");
    EXPECT_EQ(serial_error_text(ENOTTY), "Inappropriate ioctl for device (это не последовательный порт)");
    EXPECT_EQ(serial_error_text(EBUSY), "Device or resource busy");
    // One and a half stop bits are only asked for with five data bits.
    EXPECT_EQ(serial_format_refusal({12, 0, 0, 1}), "");
    EXPECT_EQ(serial_format_refusal({12, 2, 1, 1}),
              "Порт не поддерживает формат 7 E 1.5: полтора стоповых бита бывают только при размере байта 5 бит");
    EXPECT_EQ(serial_format_refusal({12, 3, 0, 2}), "");
}

TEST(CarrierWatch, SeesTheModemsReportButNeverAReply)
{
    // Numeric report after a reply frame, verbose report, and the report
    // split over two reads.
    EXPECT_TRUE(watch_sees_loss({0x04, 0x02, 0x00, 0x01, 0x78, 0xF0, 0x0D, '3', 0x0D}));
    EXPECT_TRUE(watch_sees_loss({0x0D, 0x0A, 'N', 'O', ' ', 'C', 'A', 'R', 'R', 'I', 'E', 'R', 0x0D, 0x0A}));
    CarrierWatch split;
    const uint8_t first[] = {'3'}, second[] = {0x0D};
    EXPECT_FALSE(split.feed(first, 1));
    EXPECT_TRUE(split.feed(second, 1));
    EXPECT_TRUE(split.lost());
    // Replies whose bytes end in "3" (LF and '3' are never stuffed), and a
    // reply as long as the watch's line.
    EXPECT_FALSE(watch_sees_loss({0x04, 0x02, 0x0A, '3', 0x0D}));
    EXPECT_FALSE(watch_sees_loss({0x03, 0x02, 0x00, '3', 0x0D}));
    std::vector<uint8_t> longer(40, '3');
    longer.push_back(0x0D);
    EXPECT_FALSE(watch_sees_loss(longer));
}

TEST(ComPorts, ListTtysWithADriverInNaturalOrderWithTheirUsbNames)
{
    char tmpl[] = "/tmp/rarur-sysfs-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    std::string root = tmpl;
    auto mkdirs = [](const std::string& path) { ASSERT_EQ(std::system(("mkdir -p '" + path + "'").c_str()), 0); };
    auto write = [](const std::string& path, const std::string& text) { std::ofstream(path) << text << "\n"; };
    std::string devices = root + "/devices", tty = root + "/class/tty";
    mkdirs(devices + "/drivers/serial");
    // A USB adapter: tty -> port device -> interface -> USB device with the strings.
    std::string usb = devices + "/usb1/1-1";
    mkdirs(usb + "/1-1:1.0/ttyUSB0/tty/ttyUSB0");
    write(usb + "/manufacturer", "FTDI");
    write(usb + "/product", "FT232R USB UART");
    // A modem class device: only its product string.
    std::string acm = devices + "/usb1/1-2";
    mkdirs(acm + "/1-2:1.0/tty/ttyACM0");
    write(acm + "/product", "GSM Modem");
    for (const char* uart : {"ttyS0", "ttyS1", "ttyS10", "ttyS2"})
        mkdirs(devices + "/platform/serial8250/" + uart);
    mkdirs(tty);
    auto add = [&](const std::string& name, const std::string& device, const char* type) {
        std::string dir = tty + "/" + name;
        mkdirs(dir);
        if (!device.empty()) {
            ASSERT_EQ(symlink(device.c_str(), (dir + "/device").c_str()), 0);
            ASSERT_EQ(symlink((devices + "/drivers/serial").c_str(), (device + "/driver").c_str()), 0);
        }
        if (type)
            write(dir + "/type", type);
    };
    add("ttyUSB0", usb + "/1-1:1.0/ttyUSB0", nullptr);
    add("ttyACM0", acm + "/1-2:1.0", nullptr);
    add("ttyS0", devices + "/platform/serial8250/ttyS0", "4");
    add("ttyS1", devices + "/platform/serial8250/ttyS1", "0");   // no UART behind it
    add("ttyS10", devices + "/platform/serial8250/ttyS10", "4");
    add("ttyS2", devices + "/platform/serial8250/ttyS2", "4");
    add("tty0", "", nullptr);                                      // a console: no driver

    std::vector<ComPort> ports = enumerate_com_ports(tty, "/dev");
    std::vector<std::string> names, paths;
    for (const ComPort& p : ports) {
        names.push_back(p.name);
        paths.push_back(p.path);
    }
    EXPECT_EQ(names, (std::vector<std::string>{"/dev/ttyACM0 (GSM Modem)", "/dev/ttyS0", "/dev/ttyS2", "/dev/ttyS10",
                                               "/dev/ttyUSB0 (FTDI FT232R USB UART)"}));
    EXPECT_EQ(paths.back(), "/dev/ttyUSB0");
    EXPECT_TRUE(enumerate_com_ports(root + "/missing").empty());

    // The adapter has a lasting name: it is listed by it, with its device,
    // and a port remembered by that name is found again after re-plugging.
    std::string dev = root + "/dev";
    mkdirs(dev + "/serial/by-id");
    for (const char* node : {"ttyUSB0", "ttyUSB1", "ttyACM0"})
        write(dev + "/" + node, "");
    std::string by_id = dev + "/serial/by-id/usb-FTDI_FT232R_USB_UART_A9X1-if00-port0";
    ASSERT_EQ(symlink("../../ttyUSB0", by_id.c_str()), 0);
    ports = enumerate_com_ports(tty, dev);
    ASSERT_EQ(ports.size(), 5u);
    EXPECT_EQ(ports[0].name, dev + "/ttyACM0 (GSM Modem)");
    EXPECT_EQ(ports[4].name, by_id + " (" + dev + "/ttyUSB0)");
    EXPECT_EQ(ports[4].path, by_id);
    EXPECT_EQ(com_port_path(ports, ports[4].name), by_id);
    EXPECT_EQ(com_port_path(ports, "/tmp/modem"), "/tmp/modem") << "a path typed in";
    // Re-plugged, the adapter comes back as ttyUSB1 (sysfs names it so too).
    ASSERT_EQ(unlink(by_id.c_str()), 0);
    ASSERT_EQ(symlink("../../ttyUSB1", by_id.c_str()), 0);
    ASSERT_EQ(rename((tty + "/ttyUSB0").c_str(), (tty + "/ttyUSB1").c_str()), 0);
    ports = enumerate_com_ports(tty, dev);
    ASSERT_EQ(ports.size(), 5u);
    EXPECT_EQ(com_port_row(ports, by_id), 4);
    EXPECT_EQ(ports[4].name, by_id + " (" + dev + "/ttyUSB1)");
    EXPECT_EQ(com_port_row(ports, dev + "/ttyUSB0"), -1);
    EXPECT_EQ(std::system(("rm -rf '" + root + "'").c_str()), 0);
}
