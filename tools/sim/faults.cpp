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

// "fn=14 file=1 record=245 ms=2300": the selector, `times`, and the rule's
// own value under `value_key` (code, ms).
int parse_rule(std::istringstream& in, RequestRule& rule, const std::string& value_key, int value_max,
               std::string& error)
{
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
        else if (key == value_key)
            ok = parse_number(value, 10, rule.value) && rule.value >= 1 && rule.value <= value_max;
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
    if (rule.addr < 0 && rule.file < 0 && rule.record < 0 && rule.fn < 0) {
        error = "the rule needs fn=, addr=, file= or record=";
        return -1;
    }
    if ((rule.file >= 0 || rule.record >= 0) && rule.fn < 0)
        rule.fn = 0x14;
    return 0;
}

int take(std::vector<RequestRule>& rules, size_t i)
{
    int value = rules[i].value;
    if (rules[i].times > 0 && --rules[i].times == 0)
        rules.erase(rules.begin() + long(i));
    return value;
}

int match_registers(std::vector<RequestRule>& rules, int fn, int addr, int count)
{
    for (size_t i = 0; i < rules.size(); ++i) {
        const RequestRule& r = rules[i];
        if (r.file >= 0 || r.record >= 0 || (r.fn >= 0 && r.fn != fn))
            continue;
        if (r.addr >= 0 && (r.addr < addr || r.addr >= addr + count))
            continue;
        return take(rules, i);
    }
    return 0;
}

int match_file(std::vector<RequestRule>& rules, int file, int record)
{
    for (size_t i = 0; i < rules.size(); ++i) {
        const RequestRule& r = rules[i];
        if ((r.fn >= 0 && r.fn != 0x14) || r.addr >= 0)
            continue;
        if ((r.file >= 0 && r.file != file) || (r.record >= 0 && r.record != record))
            continue;
        return take(rules, i);
    }
    return 0;
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
    if (what == "exception" || what == "late") {
        RequestRule rule;
        bool exception = what == "exception";
        rule.value = exception ? 2 : 0;
        if (parse_rule(in, rule, exception ? "code" : "ms", exception ? 255 : 600000, error) != 0)
            return -1;
        if (!exception && rule.value == 0) {
            error = "late needs ms=";
            return -1;
        }
        (exception ? f.exceptions : f.late).push_back(rule);
        return 0;
    }
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
    if (what == "tid") {
        int v = -1;
        if (arg != "off" && !(parse_number(arg, 10, v) && v <= 0xFFFF)) {
            error = "expected a transaction id 0-65535 or off";
            return -1;
        }
        f.transaction = v;
        return 0;
    }
    error = "unknown fault '" + what + "'";
    return -1;
}

int fault_exception_for_registers(Faults& f, int fn, int addr, int count)
{
    return match_registers(f.exceptions, fn, addr, count);
}

int fault_exception_for_file(Faults& f, int file, int record) { return match_file(f.exceptions, file, record); }

int fault_late_for_registers(Faults& f, int fn, int addr, int count)
{
    return match_registers(f.late, fn, addr, count);
}

int fault_late_for_file(Faults& f, int file, int record) { return match_file(f.late, file, record); }

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
