#include "link/modem_protocol.h"

#include <cstring>

#include "base/text_format.h"

namespace {

struct ResultRow {
    int code;
    ModemResult result;
};

// Several texts have two blanks after "на": the modem's log has always shown
// them so.
const ResultRow kResults[] = {
    {0, {"OK\n", false, false}},
    {1, {"Подключено на 300 бит/с\n", false, true}},
    {2, {"ВЫЗОВ\n", false, false}},
    {3, {"НЕТ НЕСУЩЕЙ\n", true, false}},
    {4, {"ОШИБКА\n", true, false}},
    {5, {"Подключено на  1200 бит/с\n", false, true}},
    {6, {"НЕТ СИГНАЛА\n", true, false}},
    {7, {"ЗАНЯТО\n", true, false}},
    {8, {"НЕТ ОТВЕТА\n", true, false}},
    {9, {"ВЫЗОВ\n", false, false}},
    {10, {"Подключено на  300 бит/с\n", false, true}},
    {11, {"Подключено на 1200 бит/с\n", false, true}},
    {12, {"Подключено на 1200/75 бит/с\n", false, true}},
    {13, {"Подключено на 2400 бит/с\n", false, true}},
    {14, {"Подключено на 4800 бит/с\n", false, true}},
    {15, {"Подключено на 9600 бит/с\n", false, true}},
    {16, {"Подключено на 14400 бит/с\n", false, true}},
    {17, {"Подключено на  14400 бит/с\n", false, true}},
    {18, {"Подключено на  16800 бит/с\n", false, true}},
    {19, {"Подключено на  38400 бит/с\n", false, true}},
    {20, {"Подключено на  57600 бит/с\n", false, true}},
    {21, {"Подключено на  76800 бит/с\n", false, true}},
    {47, {"Подключено на  2400/RLP бит/с\n", false, true}},
    {48, {"Подключено на  4800/RLP бит/с\n", false, true}},
    {49, {"Подключено на  9600/RLP бит/с\n", false, true}},
    {50, {"Подключено на  14400/RLP бит/с\n", false, true}},
};

}  // namespace

const char* const kModemSetup[kModemSetupCommands] = {"at&s0\r\n", "at&c1\r\n", "atm0l0\r\n", "atx4\r\n"};
const char* const kGsmSetup[kGsmSetupCommands] = {"at+stsf=0\r\n", "at\\n5\r\n", "at+wind=0\r\n"};

ModemResult modem_result(int code)
{
    for (const ResultRow& row : kResults)
        if (row.code == code)
            return row.result;
    return {nullptr, true, true};
}

std::string modem_result_text(int code)
{
    ModemResult r = modem_result(code);
    return r.text ? std::string(r.text) : format("Неизвестный ответ модема [%d]\n", code);
}

int modem_reply_number(const char* line)
{
    int number = 0;
    for (const char* p = line; *p >= '0' && *p <= '9'; ++p) {
        number = number * 10 + (*p - '0');
        if (number > 1000000)
            break;
    }
    return number;
}

bool modem_reply_ok(const char* line)
{
    return std::strstr(line, "Ok") || std::strstr(line, "ok") || std::strstr(line, "OK") || std::strchr(line, '0');
}

std::string modem_dial_command(bool gsm, bool tone, const std::string& phone)
{
    return std::string(gsm ? "atd" : tone ? "atdt" : "atdp") + phone + "\r\n";
}

size_t utf8_prefix_length(const char* text, size_t max_bytes)
{
    size_t length = std::strlen(text);
    if (length <= max_bytes)
        return length;
    size_t cut = max_bytes;
    // Step back over continuation bytes to the start of the character that
    // does not fit.
    while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80)
        --cut;
    return cut;
}

bool CarrierWatch::feed(const uint8_t* bytes, int length)
{
    for (int i = 0; i < length; ++i) {
        uint8_t b = bytes[i];
        if (b == 0x0D) {
            line_[length_] = 0;
            // Verbose replies come as "\r\nNO CARRIER\r\n": the LF after the
            // CR before it starts the "line".
            const char* text = line_;
            while (*text == '\n')
                ++text;
            if (!overflow_ && (std::strcmp(text, "3") == 0 || std::strcmp(text, "NO CARRIER") == 0))
                lost_ = true;
            length_ = 0;
            overflow_ = false;
        } else if (length_ < int(sizeof line_) - 1) {
            line_[length_++] = char(b);
        } else {
            overflow_ = true;
        }
    }
    return lost_;
}
