#include <glib.h>
#include <gtest/gtest.h>
#include <zlib.h>

#include <cstring>
#include <string>
#include <vector>

#include "base/blob.h"
#include "app/embedded.h"

namespace {

std::vector<uint8_t> deflate_text(const std::string& text)
{
    uLongf len = compressBound(text.size());
    std::vector<uint8_t> out(len);
    compress2(out.data(), &len, reinterpret_cast<const Bytef*>(text.data()), text.size(), 9);
    out.resize(len);
    return out;
}

// Pseudo-random bytes leave deflate nothing to gain, so the stream's length
// follows the data's length closely; the data length is walked until the
// stream is exactly `compressed` bytes long (empty when none fits).
std::vector<uint8_t> incompressible_stream(size_t compressed, std::string& data)
{
    std::vector<uint8_t> packed;
    size_t length = compressed;
    for (int attempt = 0; attempt < 40 && length > 0; ++attempt) {
        data.resize(length);
        uint32_t x = 2463534242u;
        for (char& c : data) {
            x ^= x << 13;
            x ^= x >> 17;
            x ^= x << 5;
            c = char(x >> 24);
        }
        packed = deflate_text(data);
        if (packed.size() == compressed)
            return packed;
        length = packed.size() > compressed ? length - 1 : length + 1;
    }
    return {};
}

}  // namespace

TEST(UnpackBlob, InflatesTheEmbeddedInterfaceIntoANulTerminatedText)
{
    uint8_t* text = unpack_blob(kInterfaceBlob, kInterfaceBlobCompressed, kInterfaceBlobSize + 1);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(text[kInterfaceBlobSize], 0);
    EXPECT_EQ(std::strlen(reinterpret_cast<char*>(text)), kInterfaceBlobSize);
    EXPECT_NE(std::strstr(reinterpret_cast<char*>(text), "id=\"MainWindow\""), nullptr);
    g_free(text);
}

TEST(UnpackBlob, InflatesTheIconIntoAPixdataImageOf26By26)
{
    ASSERT_EQ(kIconBlobSize, 2728u);
    uint8_t* icon = unpack_blob(kIconBlob, kIconBlobCompressed, kIconBlobSize);
    ASSERT_NE(icon, nullptr);
    uint32_t h[6];
    std::memcpy(h, icon, sizeof h);
    EXPECT_EQ(h[0], 0x47646b50u);   // GdkPixdata magic
    EXPECT_EQ(h[1], 2728u);
    EXPECT_EQ(h[2], 0x01010002u);   // RGBA, 8-bit samples, raw
    EXPECT_EQ(h[3], 104u);
    EXPECT_EQ(h[4], 26u);
    EXPECT_EQ(h[5], 26u);
    g_free(icon);
}

TEST(UnpackBlob, CrossesThe16KiBPiecesOfInputAndOutput)
{
    std::string text;
    for (int i = 0; text.size() < 100000; ++i)
        text += std::to_string(i * 7919 % 1000003) + ",";
    auto packed = deflate_text(text);
    ASSERT_GT(packed.size(), 16384u);
    uint8_t* out = unpack_blob(packed.data(), packed.size(), text.size());
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(std::memcmp(out, text.data(), text.size()), 0);
    g_free(out);
}

TEST(UnpackBlob, RefusesACorruptStream)
{
    auto packed = deflate_text(std::string(5000, 'a') + "tail");
    packed[packed.size() / 2] ^= 0xFF;
    packed[packed.size() / 2 + 1] ^= 0x5A;
    EXPECT_EQ(unpack_blob(packed.data(), packed.size(), 5004), nullptr);

    const uint8_t garbage[] = {0x12, 0x34, 0x56, 0x78, 0x9A};
    EXPECT_EQ(unpack_blob(garbage, sizeof garbage, 100), nullptr);
}

TEST(UnpackBlob, RefusesAStreamCutShort)
{
    std::string text(20000, 'x');
    for (size_t i = 0; i < text.size(); i += 7)
        text[i] = char('a' + i % 26);
    auto packed = deflate_text(text);
    EXPECT_EQ(unpack_blob(packed.data(), packed.size() / 2, text.size()), nullptr);
}

TEST(UnpackBlob, NeverWritesPastTheRecordedSize)
{
    auto packed = deflate_text(std::string(3000, 'z'));
    // The recorded size is smaller than what the stream holds: refused, and
    // (under the address sanitizer) nothing is written past the buffer.
    EXPECT_EQ(unpack_blob(packed.data(), packed.size(), 1000), nullptr);
}

TEST(UnpackBlob, StreamEndingInTheNextInputPieceAtTheExactSize)
{
    // The data fills the recorded size inside the first 16 KiB of input while
    // the stream's end (the check value) lies in the second.
    for (size_t compressed = 16384; compressed <= 16389; ++compressed) {
        SCOPED_TRACE(compressed);
        std::string data;
        auto packed = incompressible_stream(compressed, data);
        ASSERT_EQ(packed.size(), compressed);

        // Exactly the data, and with room for a terminating NUL behind it.
        for (size_t room : {data.size(), data.size() + 1}) {
            uint8_t* out = unpack_blob(packed.data(), packed.size(), room);
            EXPECT_NE(out, nullptr) << "room " << room;
            if (!out)
                continue;
            EXPECT_EQ(std::memcmp(out, data.data(), data.size()), 0);
            if (room > data.size()) {
                EXPECT_EQ(out[data.size()], 0);
            }
            g_free(out);
        }

        // Still refused: one byte more than recorded, the check value cut
        // short, a damaged check value.
        EXPECT_EQ(unpack_blob(packed.data(), packed.size(), data.size() - 1), nullptr);
        EXPECT_EQ(unpack_blob(packed.data(), packed.size() - 1, data.size()), nullptr);
        packed.back() ^= 0x01;
        EXPECT_EQ(unpack_blob(packed.data(), packed.size(), data.size()), nullptr);
    }
}
