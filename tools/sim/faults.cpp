#include "faults.h"

#include <cctype>
#include <cstdlib>
#include <sstream>

namespace sim {

namespace {

bool parse_number(const std::string& text, int base, int& value)
{
    if (text.empty() || text.size() > 10)
        return false;
    char* end = nullptr;
    long v = std::strtol(text.c_str(), &end, base);
    if (*end != '\0' || v < 0 || v > 0xFFFFFF)
        return false;
    value = int(v);
    return true;
}

bool parse_on_off(const std::string& word, bool& value)
{
    if (word == "on")
        value = true;
    else if (word == "off")
        value = false;
    else
        return false;
    return true;
}

int parse_exception(Faults& f, std::istringstream& in, std::string& error)
{
    ExceptionRule rule;
    std::string field;
    while (in >> field) {
        size_t eq = field.find('=');
        if (eq == std::string::npos) {
            error = "expected key=value, got '" + field + "'";
            return -1;
        }
        std::string key = field.substr(0, eq), value = field.substr(eq + 1);
        bool ok = false;
        if (key == "fn")
            ok = parse_number(value, 16, rule.fn) && rule.fn <= 0xFF;
        else if (key == "addr")
            ok = parse_address(value, rule.addr) && rule.addr <= 0xFFFF;
        else if (key == "file")
            ok = parse_address(value, rule.file) && rule.file <= 0xFFFF;
        else if (key == "record")
            ok = parse_number(value, 10, rule.record) && rule.record <= 0xFFFF;
        else if (key == "code")
            ok = parse_number(value, 10, rule.code) && rule.code >= 1 && rule.code <= 255;
        else if (key == "times")
            ok = parse_number(value, 10, rule.times) && rule.times >= 1;
        else {
            error = "unknown field '" + key + "'";
            return -1;
        }
        if (!ok) {
            error = "bad value in '" + field + "'";
            return -1;
        }
    }
    if (rule.addr < 0 && rule.file < 0 && rule.fn < 0) {
        error = "exception needs fn=, addr= or file=";
        return -1;
    }
    if (rule.file >= 0 && rule.fn < 0)
        rule.fn = 0x14;
    f.exceptions.push_back(rule);
    return 0;
}

int take(Faults& f, size_t i)
{
    int code = f.exceptions[i].code;
    if (f.exceptions[i].times > 0 && --f.exceptions[i].times == 0)
        f.exceptions.erase(f.exceptions.begin() + long(i));
    return code;
}

}  // namespace

bool parse_address(const std::string& text, int& value)
{
    if (text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X'))
        return parse_number(text.substr(2), 16, value);
    bool hex_letters = false;
    for (char c : text)
        hex_letters |= std::isxdigit(static_cast<unsigned char>(c)) && !std::isdigit(static_cast<unsigned char>(c));
    if (hex_letters || (text.size() > 1 && text[0] == '0'))
        return parse_number(text, 16, value);
    return parse_number(text, 10, value);
}

int fault_command(Faults& f, const std::string& args, std::string& error)
{
    std::istringstream in(args);
    std::string what, arg;
    in >> what;
    if (what == "exception")
        return parse_exception(f, in, error);
    if (what == "clear") {
        f = Faults{};
        return 0;
    }
    if (what == "drop-carrier") {
        f.drop_carrier = true;
        return 0;
    }
    in >> arg;
    if (what == "silence" || what == "truncate" || what == "badcrc") {
        bool& flag = what == "silence" ? f.silence : what == "truncate" ? f.truncate : f.badcrc;
        if (!parse_on_off(arg, flag)) {
            error = "expected on or off";
            return -1;
        }
        return 0;
    }
    if (what == "close-after" || what == "delay") {
        int v = 0;
        if (!parse_number(arg, 10, v)) {
            error = "expected a number";
            return -1;
        }
        if (what == "delay")
            f.delay_ms = v;
        else
            f.close_after = v;
        return 0;
    }
    error = "unknown fault '" + what + "'";
    return -1;
}

int fault_exception_for_registers(Faults& f, int fn, int addr, int count)
{
    for (size_t i = 0; i < f.exceptions.size(); ++i) {
        const ExceptionRule& r = f.exceptions[i];
        if (r.file >= 0 || (r.fn >= 0 && r.fn != fn))
            continue;
        if (r.addr >= 0 && (r.addr < addr || r.addr >= addr + count))
            continue;
        return take(f, i);
    }
    return 0;
}

int fault_exception_for_file(Faults& f, int file, int record)
{
    for (size_t i = 0; i < f.exceptions.size(); ++i) {
        const ExceptionRule& r = f.exceptions[i];
        if ((r.fn >= 0 && r.fn != 0x14) || r.addr >= 0)
            continue;
        if ((r.file >= 0 && r.file != file) || (r.record >= 0 && r.record != record))
            continue;
        return take(f, i);
    }
    return 0;
}

CloseAction fault_count_request(Faults& f)
{
    if (f.close_after < 0)
        return CloseAction::none;
    if (f.close_after == 0) {
        f.close_after = -1;
        return CloseAction::close_now;
    }
    if (--f.close_after == 0) {
        f.close_after = -1;
        return CloseAction::after_reply;
    }
    return CloseAction::none;
}

}  // namespace sim
