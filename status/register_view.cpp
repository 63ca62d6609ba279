#include "status/register_view.h"

#include "base/text_format.h"

unsigned register_view_max_count(uint8_t function) { return function == 3 ? 100 : 90; }

std::string register_query_problem(const RegisterQuery& q)
{
    if (q.function != 3 && q.function != 4)
        return "Функция: только 3 (holding) или 4 (input)";
    unsigned most = register_view_max_count(q.function);
    if (q.count < 1 || q.count > most)
        return format("Количество: от 1 до %u регистров за один запрос", most);
    if (q.start + q.count - 1 > 0xFFFF)
        return "Начальный адрес и количество выходят за регистр 65535";
    return "";
}

std::vector<RegisterRow> register_rows(uint16_t start, const uint8_t* wire, unsigned count)
{
    std::vector<RegisterRow> rows;
    rows.reserve(count);
    for (unsigned i = 0; i < count; ++i) {
        unsigned address = start + i;
        uint16_t value = static_cast<uint16_t>(wire[2 * i] << 8 | wire[2 * i + 1]);
        rows.push_back({format("%u (0x%04X)", address, address), format("%u", value),
                        format("%d", static_cast<int16_t>(value)), format("0x%04X", value)});
    }
    return rows;
}
