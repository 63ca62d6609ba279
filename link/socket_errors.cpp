#include "link/socket_errors.h"

#include <netdb.h>

#include <cerrno>

namespace {

struct ErrorText {
    int code;
    const char* text;
};

const ErrorText kTexts[] = {
    {10004, "Вызов прерван"},
    {10013, "Доступ запрещен"},
    {10014, "Неверный адрес в памяти"},
    {10022, "Недопустимый аргумент"},
    {10024, "Слишком много открытых файлов"},
    {10035, "Ресурс временно недоступен"},
    {10036, "Операция выполняется"},
    {10037, "Операция уже выполняется"},
    {10038, "Операция применена не к сокету"},
    {10039, "Не указан адрес назначения"},
    {10040, "Слишком длинное сообщение"},
    {10041, "Тип протокола не подходит для сокета"},
    {10042, "Неверный параметр протокола"},
    {10043, "Протокол не поддерживается"},
    {10044, "Тип сокета не поддерживается"},
    {10045, "Операция не поддерживается"},
    {10046, "Семейство протоколов не поддерживается"},
    {10047, "Семейство адресов не поддерживается"},
    {10048, "Адрес уже используется"},
    {10049, "Адрес недоступен на этом компьютере"},
    {10050, "Сеть не работает"},
    {10051, "Сеть недоступна"},
    {10052, "Соединение разорвано при сбросе сети"},
    {10053, "Соединение разорвано этим компьютером"},
    {10054, "Соединение разорвано устройством"},
    {10055, "Недостаточно памяти для буфера"},
    {10056, "Сокет уже подключен"},
    {10057, "Сокет не подключен"},
    {10058, "Передача после закрытия сокета невозможна"},
    {10060, "Превышено время ожидания"},
    {10061, "Соединение отклонено"},
    {10064, "Узел не работает"},
    {10065, "Нет маршрута к узлу"},
    {10067, "Слишком много процессов"},
    {10091, "Сетевая подсистема недоступна"},
    {10092, "Неподдерживаемая версия библиотеки сокетов"},
    {10093, "Библиотека сокетов не запущена"},
    {10101, "Идет завершение соединения"},
    {10109, "Тип класса не найден"},
    {11001, "Узел не найден"},
    {11002, "Сервер имен временно недоступен, повторите попытку"},
    {11003, "Неустранимая ошибка сервера имен"},
    {11004, "У имени нет адреса нужного типа"},
};

struct ErrnoCode {
    int error;
    int code;
};

const ErrnoCode kErrno[] = {
    {EINTR, 10004},        {EACCES, 10013},       {EPERM, 10013},        {EFAULT, 10014},
    {EINVAL, 10022},       {EMFILE, 10024},       {ENFILE, 10024},       {EAGAIN, 10035},
    {EINPROGRESS, 10036},  {EALREADY, 10037},     {ENOTSOCK, 10038},     {EDESTADDRREQ, 10039},
    {EMSGSIZE, 10040},     {EPROTOTYPE, 10041},   {ENOPROTOOPT, 10042},  {EPROTONOSUPPORT, 10043},
    {ESOCKTNOSUPPORT, 10044}, {EOPNOTSUPP, 10045}, {EPFNOSUPPORT, 10046}, {EAFNOSUPPORT, 10047},
    {EADDRINUSE, 10048},   {EADDRNOTAVAIL, 10049}, {ENETDOWN, 10050},    {ENETUNREACH, 10051},
    {ENETRESET, 10052},    {ECONNABORTED, 10053}, {ECONNRESET, 10054},   {EPIPE, 10054},
    {ENOBUFS, 10055},      {ENOMEM, 10055},       {EISCONN, 10056},      {ENOTCONN, 10057},
    {ESHUTDOWN, 10058},    {ETIMEDOUT, 10060},    {ECONNREFUSED, 10061}, {EHOSTDOWN, 10064},
    {EHOSTUNREACH, 10065}, {EUSERS, 10067},
};

}  // namespace

const char* wsa_error_text(int code)
{
    for (const ErrorText& e : kTexts)
        if (e.code == code)
            return e.text;
    return "Неизвестная ошибка";
}

int wsa_error_from_errno(int error)
{
    for (const ErrnoCode& e : kErrno)
        if (e.error == error)
            return e.code;
    return error;
}

int wsa_error_from_resolver(int result, int error)
{
    switch (result) {
    case EAI_NONAME:
        return 11001;
    case EAI_AGAIN:
        return 11002;
    case EAI_FAIL:
        return 11003;
    case EAI_NODATA:
    case EAI_ADDRFAMILY:
        return 11004;
    case EAI_MEMORY:
        return 10055;
    case EAI_FAMILY:
        return 10047;
    case EAI_SOCKTYPE:
        return 10044;
    case EAI_SYSTEM:
        return wsa_error_from_errno(error);
    default:
        return 11003;
    }
}
