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

    while (!ended && !failed && consumed < compressed_length) {
        size_t piece = compressed_length - consumed < kPiece ? compressed_length - consumed : kPiece;
        zs.next_in = const_cast<Bytef*>(data + consumed);
        zs.avail_in = static_cast<uInt>(piece);
        consumed += piece;
        do {
            size_t room = output_size - produced;
            if (room == 0) {
                // More data than the size recorded beside the blob: never write
                // past the buffer; a stream that does not end here is corrupt.
                uint8_t probe;
                zs.next_out = &probe;
                zs.avail_out = 1;
                int r = inflate(&zs, Z_NO_FLUSH);
                if (r == Z_STREAM_END && zs.avail_out == 1)
                    ended = true;
                else
                    failed = true;
                break;
            }
            size_t window = room < kPiece ? room : kPiece;
            zs.next_out = out + produced;
            zs.avail_out = static_cast<uInt>(window);
            int r = inflate(&zs, Z_NO_FLUSH);
            if (r == Z_NEED_DICT || r == Z_DATA_ERROR || r == Z_MEM_ERROR || r == Z_STREAM_ERROR) {
                failed = true;
                break;
            }
            produced += window - zs.avail_out;
            if (r == Z_STREAM_END) {
                ended = true;
                break;
            }
            if (zs.avail_out != 0)
                break;   // the window was not filled: this piece is used up
        } while (true);
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
