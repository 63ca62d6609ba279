#include "modbus/operations.h"

#include <cstring>
#include <memory>
#include <mutex>
#include <string>

#include "base/activity.h"
#include "base/log.h"
#include "base/text_format.h"
#include "modbus/exchange.h"
#include "modbus/frame.h"

const char* exception_text(int code)
{
    switch (code) {
    case 1: return "Неправильная функция";
    case 2: return "Неправильный адрес данных";
    case 3: return "Неправильное значение";
    case 4: return "Отказ устройства";
    case 5: return "Acknowledge";
    case 6: return "Устройство занято";
    case 8: return "Ошибка памяти";
    case 10: return "Недоступный путь шлюза";
    case 11: return "Подключенное через шлюз устройство не отвечает";
    default: return "Неизвестное исключение";
    }
}

const char* modbus_failure_text(ModbusFailure failure)
{
    switch (failure) {
    case ModbusFailure::None: return "Выполнено";
    case ModbusFailure::InvalidArguments: return "Неверные параметры запроса";
    case ModbusFailure::NoLink: return "Нет связи с контроллером";
    case ModbusFailure::SendFailed: return "Ошибка передачи";
    case ModbusFailure::NoReply: return "Нет ответа контроллера";
    case ModbusFailure::LinkClosed: return "Связь с контроллером прервалась во время ожидания ответа";
    case ModbusFailure::WrongSize: return "Некорректный размер";
    case ModbusFailure::ChecksumError: return "Ошибка контрольной суммы";
    case ModbusFailure::Exception: return "Исключение";
    }
    return "Ошибка обмена";
}

namespace {

std::mutex g_failure_lock;   // leaf lock: guards g_last_failure only
ModbusFailureReport g_last_failure;

// What an operation's messages begin with. Formatted only when there is
// something to report: a successful exchange costs no text.
struct OperationText {
    uint8_t function;
    uint16_t first;    // start address, or file number
    unsigned second;   // count, or record number
    unsigned length;   // record length (file record only)

    // Prefix of the exchange error; `sized` adds the record length of the
    // size, checksum and exception messages of a file record.
    std::string prefix(bool sized) const
    {
        if (function != kFnReadFileRecord)
            return format("Команда: x%02X Смещение: %04X Количество: %u ", function, first, second);
        std::string text = format("Команда: x14 Файл: %04X Запись: %u ", first, second);
        if (sized)
            text += format("Длина записи: %u ", length);
        return text;
    }
};

// The failure of a request that went to the link, kept for whoever must say
// later why an answer is missing. A link closed under a waiting request
// (`closed_under`) was most often closed for a failure already on record,
// which is the one worth telling.
ModbusOutcome failed(const ExchangeSession& session, ModbusOutcome outcome, const OperationText& text,
                     bool closed_under = false)
{
    std::string why = modbus_failure_text(outcome.failure);
    if (outcome.failure == ModbusFailure::Exception)
        why += std::string(": ") + exception_text(outcome.exception_code);
    LinkSession id = exchange_session_id(session);
    std::lock_guard<std::mutex> g(g_failure_lock);
    if (!closed_under || g_last_failure.session != id)
        g_last_failure = {id, outcome, text.prefix(true) + why};
    return outcome;
}

// What a request the transport thread could not carry out came to.
ModbusFailure exchange_failure(uint16_t status, bool sent)
{
    if (status & REQ_SEND_FAILED)
        return ModbusFailure::SendFailed;
    if (status & REQ_NO_REPLY)
        return ModbusFailure::NoReply;
    if (status & REQ_OVERRUN)
        return ModbusFailure::WrongSize;
    // Closed or failed under the request: the Controller has it if it went out.
    return sent ? ModbusFailure::LinkClosed : ModbusFailure::NoLink;
}

// Queues the request, waits, checks the reply and copies `check.data_length`
// bytes of data into `out`. `count` is the register count or record length.
ModbusOutcome run(const std::shared_ptr<ExchangeSession>& session, FrameRequest& frame, uint8_t function,
                  uint16_t count, uint8_t* out, const OperationText& text)
{
    auto request = std::make_shared<ModbusRequest>();
    std::memcpy(request->request, frame.bytes, size_t(frame.length));
    request->request_length = uint16_t(frame.length);
    request->expected_length = uint16_t(frame.expected);

    activity_dot(ActivityDot::Shown);
    SubmitResult waited = exchange_submit(*session, request);
    activity_dot(ActivityDot::Hidden);
    if (waited != SubmitResult::Finished || !app.link_open)
        return failed(*session, exchange_failure(0, request->sent), text, true);

    // The record is ours alone now: the transport thread has finished with it.
    uint16_t status = request->status;
    if (status & REQ_FAILED_MASK) {
        ModbusFailure failure = exchange_failure(status, request->sent);
        // A link the user closed meanwhile failed nothing worth a line.
        std::lock_guard<std::mutex> l(app.link_lock);
        if (failure == ModbusFailure::WrongSize)
            log_message(err_text, "%sНекорректный размер\n", text.prefix(true).c_str());
        else if (app.link_open)
            log_message(err_text, "%sОшибка обмена\n", text.prefix(false).c_str());
        return failed(*session, failure, text, !app.link_open);
    }
    LinkKind kind = exchange_link_kind(*session);
    ResponseCheck check =
        frame_check_response(kind, function, count, request->response, request->received_length);
    request->status.fetch_or(REQ_CONSUMED);
    switch (check.result) {
    case ModbusResult::Ok:
        if (check.data_length > 0)
            std::memcpy(out, request->response + check.data_offset, size_t(check.data_length));
        return {};
    case ModbusResult::Exception:
        log_message(err_text, "%sИсключение: %s\n", text.prefix(true).c_str(), exception_text(check.exception_code));
        return failed(*session, {ModbusFailure::Exception, check.exception_code}, text);
    case ModbusResult::ChecksumError:
        if (exchange_link_wanted(*session))
            log_message(err_text, "%sОшибка контрольной суммы\n", text.prefix(true).c_str());
        return failed(*session, ModbusFailure::ChecksumError, text);
    default:
        log_message(err_text, "%sНекорректный размер\n", text.prefix(true).c_str());
        return failed(*session, ModbusFailure::WrongSize, text);
    }
}

bool count_ok(uint16_t start, unsigned count)
{
    return uint16_t(count - 1) <= 124 && count <= 65536u - start;
}

}  // namespace

ModbusFailureReport modbus_last_failure()
{
    std::lock_guard<std::mutex> g(g_failure_lock);
    return g_last_failure;
}

ModbusOutcome modbus_read_registers(uint16_t start, unsigned count, uint8_t* out, uint8_t function)
{
    auto session = exchange_current();
    if (!session || !app.link_open)
        return ModbusFailure::NoLink;
    if (!count_ok(start, count) || !out)
        return ModbusFailure::InvalidArguments;
    FrameRequest frame;
    if (frame_read_registers(exchange_link_kind(*session), function, start, uint16_t(count), frame) != ModbusResult::Ok)
        return ModbusFailure::InvalidArguments;
    return run(session, frame, function, uint16_t(count), out, {function, start, count, 0});
}

ModbusOutcome modbus_write_registers(uint16_t start, unsigned count, const uint8_t* values)
{
    auto session = exchange_current();
    if (!session || !app.link_open)
        return ModbusFailure::NoLink;
    if (!count_ok(start, count) || !values)
        return ModbusFailure::InvalidArguments;
    FrameRequest frame;
    if (frame_write_registers(exchange_link_kind(*session), start, uint16_t(count), values, frame) != ModbusResult::Ok)
        return ModbusFailure::InvalidArguments;
    return run(session, frame, kFnWriteMultiple, uint16_t(count), nullptr, {kFnWriteMultiple, start, count, 0});
}

ModbusOutcome modbus_read_file_record(uint16_t file, uint16_t record, unsigned length, uint8_t* out)
{
    auto session = exchange_current();
    if (!session || !app.link_open)
        return ModbusFailure::NoLink;
    if (uint16_t(length - 1) > 244 || !out)
        return ModbusFailure::InvalidArguments;
    FrameRequest frame;
    if (frame_read_file_record(exchange_link_kind(*session), file, record, uint16_t(length), frame) != ModbusResult::Ok)
        return ModbusFailure::InvalidArguments;
    return run(session, frame, kFnReadFileRecord, uint16_t(length), out,
               {kFnReadFileRecord, file, record, length});
}
