// What a Hayes modem says, as the line reader hands it over: any reply line
// gives a number, a result and a log text; the watch for the modem's "call
// lost" sees the same thing however the bytes are split into reads, never
// forgets it, and never takes a reply frame of the Controller for it.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "link/modem_protocol.h"
#include "modbus/frame.h"

namespace {

// The lines of the bytes as the line reader cuts them: at CR or LF, empty
// lines skipped, at most 30 bytes each.
std::vector<std::string> lines_of(const uint8_t* bytes, size_t n)
{
    std::vector<std::string> lines;
    std::string line;
    for (size_t i = 0; i < n; ++i) {
        char c = char(bytes[i]);
        if (c == '\r' || c == '\n') {
            if (!line.empty())
                lines.push_back(line);
            line.clear();
        } else if (c != 0) {
            line += c;
            if (line.size() >= 30) {
                lines.push_back(line);
                line.clear();
            }
        }
    }
    if (!line.empty())
        lines.push_back(line);
    return lines;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzInput in{data, size};
    uint8_t split = in.byte();
    uint8_t function = in.byte();
    const uint8_t* bytes = data + in.at;
    size_t n = in.left();

    for (const std::string& line : lines_of(bytes, n)) {
        int number = modem_reply_number(line.c_str());
        FUZZ_CHECK(number >= 0);
        ModemResult result = modem_result(number);
        std::string text = modem_result_text(number);
        FUZZ_CHECK(!text.empty() && valid_utf8(text));
        FUZZ_CHECK(!result.text || text == result.text);
        if (modem_reply_ok(line.c_str()) && line.find_first_of("Oo0") == std::string::npos)
            std::abort();
        size_t max = split % 40;
        size_t cut = utf8_prefix_length(line.c_str(), max);
        FUZZ_CHECK(cut <= max || cut == line.size());
        FUZZ_CHECK(cut <= line.size());
        if (valid_utf8(line))
            FUZZ_CHECK(g_utf8_validate(line.data(), gssize(cut), nullptr));
    }

    // All at once, and in reads of 1 to 16 bytes.
    CarrierWatch whole, pieces;
    bool lost = whole.feed(bytes, int(n));
    bool seen = false;
    for (size_t at = 0, step = 1 + split % 16; at < n; at += step) {
        bool now = pieces.feed(bytes + at, int(std::min(step, n - at)));
        FUZZ_CHECK(now || !seen);
        seen = now;
    }
    FUZZ_CHECK(seen == lost && pieces.lost() == lost);

    // A reply of the Controller over the modem, whatever its data, is
    // never the modem's report.
    const uint8_t functions[] = {kFnReadHolding, kFnReadInput, kFnWriteMultiple, kFnReadFileRecord};
    std::vector<uint8_t> pdu(bytes, bytes + std::min(n, size_t(255)));
    if (pdu.empty())
        return 0;
    pdu[0] = uint8_t(functions[function & 3] | (function & 0x80));
    uint8_t frame[kRequestSize];
    int length = frame_format(LinkKind::Gsm)->wrap(pdu, std::span<uint8_t>(frame, sizeof frame));
    if (length > 0) {
        CarrierWatch watch;
        FUZZ_CHECK(!watch.feed(frame, length));
    }
    return 0;
}
