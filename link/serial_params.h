// The choices a serial port is opened with: baud rate, byte size, parity and
// stop bits. Each row carries the label of the combo boxes, the short label of
// the summary button and the setting itself.
#pragma once

#include <string>

struct SerialChoice {
    const char* label;         // combo box row
    const char* short_label;   // summary button
    int value;                 // data bits; parity 0 none, 1 odd, 2 even, 3 mark, 4 space; stop bits 0 one, 1 one and a half, 2 two
};

constexpr int kBaudRows = 15;
constexpr int kDataBitsRows = 4;
constexpr int kParityRows = 5;
constexpr int kStopBitsRows = 3;

extern const int kBaudRates[kBaudRows];
extern const SerialChoice kDataBitsChoices[kDataBitsRows];
extern const SerialChoice kParityChoices[kParityRows];
extern const SerialChoice kStopBitsChoices[kStopBitsRows];

enum class Parity { None = 0, Odd = 1, Even = 2, Mark = 3, Space = 4 };
enum class StopBits { One = 0, OneAndHalf = 1, Two = 2 };

// Rows of the four tables; the defaults are 115200 baud, 8 N 1.
struct SerialParams {
    int baud_index = 12;
    int data_bits_index = 3;
    int parity_index = 0;
    int stop_bits_index = 0;
};

// Every row inside its table.
bool serial_params_valid(const SerialParams& params);
int serial_baud(const SerialParams& params);
int serial_data_bits(const SerialParams& params);
Parity serial_parity(const SerialParams& params);
StopBits serial_stop_bits(const SerialParams& params);

// Label of the summary button: "<b>8 N 1</b>".
std::string serial_format_markup(const SerialParams& params);
// The same without markup: "8 N 1".
std::string serial_format_text(const SerialParams& params);

// What a port can be asked for at all: a UART makes one and a half stop bits
// only of "two" with five data bits, so with more data bits there is nothing
// to ask for. The reason to show when not ("" when it can be asked for).
std::string serial_format_refusal(const SerialParams& params);
