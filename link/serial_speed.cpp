// Linux's second terminal settings record carries the speed as a number. Its
// header defines `struct termios` anew, so it never meets <termios.h>: this
// file alone includes it, and declares ioctl itself for the same reason.
#include "link/serial_speed.h"

#include <asm/ioctls.h>
#include <asm/termbits.h>

#include <cerrno>

extern "C" int ioctl(int fd, unsigned long request, ...);

int serial_set_any_speed(int fd, int baud)
{
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return errno;
    t.c_cflag &= ~tcflag_t(CBAUD | (CBAUD << IBSHIFT));
    t.c_cflag |= BOTHER | (BOTHER << IBSHIFT);
    t.c_ispeed = speed_t(baud);
    t.c_ospeed = speed_t(baud);
    if (ioctl(fd, TCSETS2, &t) != 0)
        return errno;
    return 0;
}

int serial_actual_speed(int fd, int* baud)
{
    termios2 t{};
    if (ioctl(fd, TCGETS2, &t) != 0)
        return errno;
    *baud = int(t.c_ospeed);
    return 0;
}
