// Line speeds the classic terminal settings have no constant for (14400,
// 56000, 128000, 256000 baud), set and read back as plain numbers.
#pragma once

// Sets the speed of the open port `fd` to `baud` both ways, leaving every
// other setting as it is. 0, or the errno of the refusal.
int serial_set_any_speed(int fd, int baud);
// The speed the port's driver says it runs at (its own rounding of what was
// asked for). 0, or the errno of the failure.
int serial_actual_speed(int fd, int* baud);
