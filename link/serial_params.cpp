#include "link/serial_params.h"

#include "base/text_format.h"

const int kBaudRates[kBaudRows] = {110,   300,   600,   1200,  2400,  4800,   9600,  14400,
                                   19200, 38400, 56000, 57600, 115200, 128000, 256000};

const SerialChoice kDataBitsChoices[kDataBitsRows] = {
    {"5 бит", "5", 5},
    {"6 бит", "6", 6},
    {"7 бит", "7", 7},
    {"8 бит", "8", 8},
};

const SerialChoice kParityChoices[kParityRows] = {
    {"Нет [N]", "N", int(Parity::None)},
    {"Чет [E]", "E", int(Parity::Even)},
    {"Нечет [O]", "O", int(Parity::Odd)},
    {"Маркер [1]", "M", int(Parity::Mark)},
    {"Пробел [0]", "S", int(Parity::Space)},
};

const SerialChoice kStopBitsChoices[kStopBitsRows] = {
    {"1 бит", "1", int(StopBits::One)},
    {"1.5 бита", "1.5", int(StopBits::OneAndHalf)},
    {"2 бита", "2", int(StopBits::Two)},
};

bool serial_params_valid(const SerialParams& p)
{
    return p.baud_index >= 0 && p.baud_index < kBaudRows && p.data_bits_index >= 0 &&
           p.data_bits_index < kDataBitsRows && p.parity_index >= 0 && p.parity_index < kParityRows &&
           p.stop_bits_index >= 0 && p.stop_bits_index < kStopBitsRows;
}

int serial_baud(const SerialParams& p) { return kBaudRates[p.baud_index]; }
int serial_data_bits(const SerialParams& p) { return kDataBitsChoices[p.data_bits_index].value; }
Parity serial_parity(const SerialParams& p) { return Parity(kParityChoices[p.parity_index].value); }
StopBits serial_stop_bits(const SerialParams& p) { return StopBits(kStopBitsChoices[p.stop_bits_index].value); }

std::string serial_format_text(const SerialParams& p)
{
    if (!serial_params_valid(p))
        return "? ? ?";
    return format("%s %s %s", kDataBitsChoices[p.data_bits_index].short_label,
                  kParityChoices[p.parity_index].short_label, kStopBitsChoices[p.stop_bits_index].short_label);
}

std::string serial_format_markup(const SerialParams& p) { return "<b>" + serial_format_text(p) + "</b>"; }

std::string serial_format_refusal(const SerialParams& p)
{
    if (!serial_params_valid(p))
        return "Порт не поддерживает формат " + serial_format_text(p);
    if (serial_stop_bits(p) == StopBits::OneAndHalf && serial_data_bits(p) != 5)
        return format("Порт не поддерживает формат %s: полтора стоповых бита бывают только при размере байта 5 бит",
                      serial_format_text(p).c_str());
    return "";
}
