// The interface description and the icon travel inside the program as zlib
// streams; unpack_blob inflates one of them.
#pragma once

#include <cstddef>
#include <cstdint>

// Newly allocated (g_malloc) buffer of output_size bytes, zero-filled and then
// filled from the stream; nullptr on failure. Free with g_free.
uint8_t* unpack_blob(const uint8_t* data, size_t compressed_length, size_t output_size);
