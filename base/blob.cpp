#include "base/blob.h"

#include <glib.h>
#include <zlib.h>

#include <cstring>

uint8_t* unpack_blob(const uint8_t* data, size_t compressed_length, size_t output_size)
{
    constexpr size_t kPiece = 16384;
    z_stream zs;
    std::memset(&zs, 0, sizeof zs);
    if (inflateInit(&zs) != Z_OK)
        return nullptr;

    auto* out = static_cast<uint8_t*>(g_malloc0(output_size ? output_size : 1));
    size_t produced = 0;
    size_t consumed = 0;
    bool ended = false;
    bool failed = false;

    while (!ended && !failed) {
        if (zs.avail_in == 0) {
            if (consumed == compressed_length)
                break;  // the input ran out before the stream ended
            size_t piece = compressed_length - consumed < kPiece ? compressed_length - consumed : kPiece;
            zs.next_in = const_cast<Bytef*>(data + consumed);
            zs.avail_in = static_cast<uInt>(piece);
            consumed += piece;
        }
        // Once the buffer is full only the stream's end (its check value,
        // which may still lie in the next piece) may follow. A one-byte probe
        // tells a stream longer than the recorded size apart without writing
        // past the buffer.
        size_t room = output_size - produced;
        uint8_t probe;
        size_t window = room == 0 ? 1 : room < kPiece ? room : kPiece;
        zs.next_out = room == 0 ? &probe : out + produced;
        zs.avail_out = static_cast<uInt>(window);
        int r = inflate(&zs, Z_NO_FLUSH);
        if (r == Z_NEED_DICT || r == Z_DATA_ERROR || r == Z_MEM_ERROR || r == Z_STREAM_ERROR) {
            failed = true;
            break;
        }
        size_t got = window - zs.avail_out;
        if (room == 0 && got != 0) {
            failed = true;  // more data than the size recorded beside the blob
            break;
        }
        produced += got;
        if (r == Z_STREAM_END)
            ended = true;
        else if (r == Z_BUF_ERROR && zs.avail_in != 0)
            failed = true;  // no progress with input and room both left: never loop on it
    }
    inflateEnd(&zs);
    // A stream cut short would leave the tail of the buffer as zeros and be
    // taken for the whole text; only a stream that reached its end counts.
    if (failed || !ended) {
        g_free(out);
        return nullptr;
    }
    return out;
}
