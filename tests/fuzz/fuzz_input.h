// Reads a fuzzer's input as a stream of small values, so that one input
// describes a whole scenario: counts, choices, and the bytes the Controller
// sent. Past the end every read gives zeros.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <glib.h>

struct FuzzInput {
    const uint8_t* data;
    size_t size;
    size_t at = 0;

    size_t left() const { return size - at; }
    uint8_t byte() { return at < size ? data[at++] : 0; }
    uint16_t word() { return uint16_t(byte() << 8 | byte()); }
    // Copies up to `n` bytes into `out`, zero-filling what the input lacks.
    void bytes(uint8_t* out, size_t n)
    {
        size_t take = n < left() ? n : left();
        std::memcpy(out, data + at, take);
        std::memset(out + take, 0, n - take);
        at += take;
    }
    // A text of up to `max` bytes, length first.
    std::string text(size_t max)
    {
        size_t n = byte() % (max + 1);
        if (n > left())
            n = left();
        std::string s(reinterpret_cast<const char*>(data + at), n);
        at += n;
        return s;
    }
};

inline bool valid_utf8(const std::string& s) { return g_utf8_validate(s.data(), gssize(s.size()), nullptr); }

// A property that failed names itself before libFuzzer saves the input.
#define FUZZ_CHECK(condition) \
    do { \
        if (!(condition)) { \
            std::fprintf(stderr, "%s:%d: %s does not hold\n", __FILE__, __LINE__, #condition); \
            std::abort(); \
        } \
    } while (0)
