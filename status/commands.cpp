#include "status/commands.h"

#include <ctime>

#include <glib.h>

#include "base/controller_time.h"
#include "base/text_format.h"

namespace {

const ServiceCommandInfo kCommands[] = {
    {0x4300, 1, "Контактор(ы) синхронизированы\n", "Ошибка синхронизации контактора(ов) [%d]\n"},
    {0x4200, 1, "Батарейный тест запущен\n", "Ошибка запуска батарейного теста [%d]\n"},
    {0x4200, 0, "Батарейный тест остановлен\n", "Ошибка остановки батарейного теста [%d]\n"},
    {0x4200, 3, "Выравнивающий заряд запущен\n", "Ошибка запуска выравнивающего заряда [%d]\n"},
    {0x4200, 2, "Выравнивающий заряд остановлен\n", "Ошибка остановки выравнивающего заряда [%d]\n"},
};

std::string time_text(const struct tm& broken, const char* pattern)
{
    char text[50];
    size_t length = strftime(text, sizeof text, pattern, &broken);
    gchar* utf8 = g_locale_to_utf8(text, gssize(length), nullptr, nullptr, nullptr);
    std::string result = utf8 ? utf8 : "";
    g_free(utf8);
    return result;
}

}  // namespace

const ServiceCommandInfo& service_command_info(ServiceCommand command)
{
    return kCommands[static_cast<int>(command)];
}

const ServiceCommandName kServiceCommandNames[5] = {
    {ServiceCommand::SyncContactors, "sync-contactors", "Синхронизировать контакторы"},
    {ServiceCommand::BatteryTestOn, "battery-test-on", "Запустить тест"},
    {ServiceCommand::BatteryTestOff, "battery-test-off", "Прервать тест"},
    {ServiceCommand::EqChargeOn, "eq-charge-on", "Запустить выравнивающий заряд"},
    {ServiceCommand::EqChargeOff, "eq-charge-off", "Прервать выравнивающий заряд"},
};

std::optional<ServiceCommand> service_command_by_name(std::string_view name)
{
    for (const ServiceCommandName& n : kServiceCommandNames)
        if (name == n.name)
            return n.command;
    return std::nullopt;
}

std::array<uint8_t, 8> command_frame(const uint8_t (&password)[6], uint16_t word)
{
    return {password[0], password[1], password[2], password[3], password[4], password[5], uint8_t(word >> 8),
            uint8_t(word)};
}

std::array<uint8_t, 10> clock_frame(const uint8_t (&password)[6], uint32_t seconds)
{
    return {password[0],          password[1],          password[2],         password[3],  password[4],
            password[5],          uint8_t(seconds >> 24), uint8_t(seconds >> 16), uint8_t(seconds >> 8),
            uint8_t(seconds)};
}

std::optional<uint32_t> clock_seconds_from_local(int year, int month, int day, int hour, int minute, int second)
{
    struct tm broken {};
    broken.tm_year = year - 1900;
    broken.tm_mon = month;
    broken.tm_mday = day;
    broken.tm_hour = hour;
    broken.tm_min = minute;
    broken.tm_sec = second;
    // Today's summer-time flag would move a date of the other season by an hour.
    broken.tm_isdst = -1;
    time_t t = mktime(&broken);
    // -1 is also mktime's failure; 23:59:59 on 31 Dec 1969 in UTC is no loss.
    if (t < 0 || static_cast<int64_t>(t) > 0xFFFFFFFFll)
        return std::nullopt;
    return static_cast<uint32_t>(t);
}

std::string clock_set_text(uint32_t seconds)
{
    time_t t = static_cast<time_t>(seconds);
    struct tm local {}, utc {};
    localtime_r(&t, &local);
    gmtime_r(&t, &utc);
    return format("%s (%s)", time_text(local, "%d %b %Y %X").c_str(), time_text(utc, "%d %b %Y %X UTC").c_str());
}

std::string clock_controller_text(uint32_t seconds, int16_t zone_quarters, bool summer)
{
    return "по часам контроллера " + controller_time_text(seconds, zone_quarters, summer);
}

std::string clock_field_text(int value) { return format("%02d", value); }
