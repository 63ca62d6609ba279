// Frames of the three wrappings: checksum, stuffing, requests and the checks
// that decide whether a reply is data, an exception or garbage.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "modbus/frame.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes request_bytes(const FrameRequest& r) { return Bytes(r.bytes, r.bytes + r.length); }

// A response PDU as it arrives over `kind` (modem: without the CR, which the
// receive strips).
Bytes wrap_response(LinkKind kind, const Bytes& pdu)
{
    Bytes out;
    switch (kind) {
    case LinkKind::Usb:
        out.push_back(uint8_t(pdu.size() + 1));
        out.insert(out.end(), pdu.begin(), pdu.end());
        break;
    case LinkKind::Ethernet:
        out = {0x00, 0x00, 0x00, 0x00, uint8_t((pdu.size() + 1) >> 8), uint8_t(pdu.size() + 1), 0xFF};
        out.insert(out.end(), pdu.begin(), pdu.end());
        break;
    default: {
        out = pdu;
        uint16_t crc = frame_crc16(out.data(), out.size());
        out.push_back(uint8_t(crc));
        out.push_back(uint8_t(crc >> 8));
        out.resize(out.size() * 2 + 2);
        int n = frame_escape(out.data(), int(pdu.size() + 2), int(out.size()));
        out.resize(size_t(n));
    }
    }
    return out;
}

ResponseCheck check(LinkKind kind, uint8_t fn, uint16_t count, Bytes reply)
{
    reply.resize(std::max<size_t>(reply.size(), 1));
    return frame_check_response(kind, fn, count, reply.data(), int(reply.size()));
}

Bytes read_pdu(uint8_t fn, int count, uint8_t fill = 0x5A)
{
    Bytes pdu = {fn, uint8_t(2 * count)};
    for (int i = 0; i < 2 * count; ++i)
        pdu.push_back(uint8_t(fill + i));
    return pdu;
}

Bytes file_pdu(int length)
{
    Bytes pdu = {kFnReadFileRecord, uint8_t(2 * length + 2), uint8_t(2 * length + 1), 6};
    for (int i = 0; i < 2 * length; ++i)
        pdu.push_back(uint8_t(i));
    return pdu;
}

}  // namespace

TEST(FrameCrc, MatchesTheCheckValueAndTheReadExample)
{
    const char* digits = "123456789";
    EXPECT_EQ(frame_crc16(reinterpret_cast<const uint8_t*>(digits), 9), 0x4B37);
    uint8_t read[] = {0x04, 0x00, 0x00, 0x00, 0x15, 0, 0};
    EXPECT_EQ(frame_crc16(read, 5), 0x0F14);
    read[5] = 0x14;
    read[6] = 0x0F;
    EXPECT_EQ(frame_crc16(read, 7), 0) << "a frame with its CRC appended checks to zero";
}

TEST(FrameEscape, StuffsTheExampleAndRoundTripsEveryByte)
{
    uint8_t frame[16] = {0x04, 0x00, 0x0D, 0x00, 0x1A, 0xC5, 0xC8};
    ASSERT_EQ(frame_escape(frame, 7, sizeof frame), 9);
    EXPECT_EQ(Bytes(frame, frame + 9), (Bytes{0x04, 0x00, 0x1A, 0x01, 0x00, 0x1A, 0x00, 0xC5, 0xC8}));

    uint8_t all[512];
    for (int i = 0; i < 256; ++i)
        all[i] = uint8_t(i);
    int n = frame_escape(all, 256, sizeof all);
    ASSERT_EQ(n, 258);
    EXPECT_EQ(std::count(all, all + n, 0x0D), 0) << "a CR may only end a frame";
    ASSERT_EQ(frame_unescape(all, n), 256);
    for (int i = 0; i < 256; ++i)
        ASSERT_EQ(all[i], i);
}

TEST(FrameEscape, RefusesWhatDoesNotFitAndKeepsALoneTrailingEscape)
{
    uint8_t frame[4] = {0x0D, 0x0D, 0x0D, 0};
    EXPECT_EQ(frame_escape(frame, 3, 5), -1);
    uint8_t tail[] = {0x04, 0x1A};
    EXPECT_EQ(frame_unescape(tail, 2), 2);
    EXPECT_EQ(tail[1], 0x1A);
}

TEST(FrameRequest, BuildsTheReadExampleForEveryLink)
{
    FrameRequest r;
    ASSERT_EQ(frame_read_registers(LinkKind::Usb, kFnReadInput, 0, 21, r), ModbusResult::Ok);
    EXPECT_EQ(request_bytes(r), (Bytes{0x06, 0x04, 0x00, 0x00, 0x00, 0x15}));
    EXPECT_EQ(r.expected, 45);

    ASSERT_EQ(frame_read_registers(LinkKind::Ethernet, kFnReadInput, 0, 21, r), ModbusResult::Ok);
    EXPECT_EQ(request_bytes(r), (Bytes{0, 0, 0, 0, 0, 6, 0xFF, 0x04, 0, 0, 0, 0x15}));
    EXPECT_EQ(r.expected, 51);

    for (LinkKind modem : {LinkKind::Gsm, LinkKind::Pstn}) {
        ASSERT_EQ(frame_read_registers(modem, kFnReadInput, 0, 21, r), ModbusResult::Ok);
        EXPECT_EQ(request_bytes(r), (Bytes{0x04, 0, 0, 0, 0x15, 0x14, 0x0F, 0x0D}));
        EXPECT_EQ(r.expected, 0);
    }
    EXPECT_EQ(frame_read_registers(LinkKind::Rs485, kFnReadInput, 0, 21, r), ModbusResult::Invalid);
}

TEST(FrameRequest, SizesWritesAndFileRecordsPerLink)
{
    uint8_t values[4] = {0x12, 0x34, 0x0D, 0x1A};
    FrameRequest r;
    ASSERT_EQ(frame_write_registers(LinkKind::Usb, 0x3000, 2, values, r), ModbusResult::Ok);
    EXPECT_EQ(request_bytes(r), (Bytes{11, 0x10, 0x30, 0x00, 0, 2, 4, 0x12, 0x34, 0x0D, 0x1A}));
    EXPECT_EQ(r.expected, 6);
    ASSERT_EQ(frame_write_registers(LinkKind::Ethernet, 0x3000, 2, values, r), ModbusResult::Ok);
    EXPECT_EQ(r.length, 17);
    EXPECT_EQ(r.bytes[5], 11) << "header length 2n + 7";
    EXPECT_EQ(r.expected, 12);
    ASSERT_EQ(frame_write_registers(LinkKind::Gsm, 0x3000, 2, values, r), ModbusResult::Ok);
    EXPECT_EQ(std::count(r.bytes, r.bytes + r.length - 1, 0x0D), 0);
    int n = frame_unescape(r.bytes, r.length - 1);
    EXPECT_EQ(n, 2 * 2 + 6 + 2);
    EXPECT_EQ(frame_crc16(r.bytes, size_t(n)), 0);

    ASSERT_EQ(frame_read_file_record(LinkKind::Usb, 1, 0x0102, 6, r), ModbusResult::Ok);
    EXPECT_EQ(request_bytes(r), (Bytes{0x0A, 0x14, 0x07, 0x06, 0x00, 0x01, 0x01, 0x02, 0x00, 0x06}));
    EXPECT_EQ(r.expected, 17);
    ASSERT_EQ(frame_read_file_record(LinkKind::Ethernet, 1, 0x0102, 6, r), ModbusResult::Ok);
    EXPECT_EQ(r.length, 16);
    EXPECT_EQ(r.expected, 23);
}

TEST(FrameRequest, FitsTheLargestModemWriteEvenWhenEveryDataByteIsStuffed)
{
    uint8_t values[250];
    std::memset(values, 0x0D, sizeof values);
    FrameRequest r;
    ASSERT_EQ(frame_write_registers(LinkKind::Gsm, 0x0D0D, 125, values, r), ModbusResult::Ok);
    EXPECT_LE(r.length, kRequestSize);
    int n = frame_unescape(r.bytes, r.length - 1);
    ASSERT_EQ(n, 258);
    EXPECT_EQ(frame_crc16(r.bytes, size_t(n)), 0);
    EXPECT_EQ(frame_write_registers(LinkKind::Gsm, 0, 200, values, r), ModbusResult::Invalid) << "byte count overflows";
}

class ResponseCheckPerLink : public testing::TestWithParam<LinkKind> {};

TEST_P(ResponseCheckPerLink, ReadRepliesAreDataOnlyWhenTheyMatchTheRequest)
{
    LinkKind kind = GetParam();
    ResponseCheck c = check(kind, kFnReadInput, 3, wrap_response(kind, read_pdu(kFnReadInput, 3)));
    ASSERT_EQ(c.result, ModbusResult::Ok);
    EXPECT_EQ(c.data_length, 6);
    Bytes reply = wrap_response(kind, read_pdu(kFnReadInput, 3));
    frame_check_response(kind, kFnReadInput, 3, reply.data(), int(reply.size()));
    EXPECT_EQ(reply[size_t(c.data_offset)], 0x5A);

    Bytes short_reply = wrap_response(kind, read_pdu(kFnReadInput, 3));
    short_reply.pop_back();
    EXPECT_EQ(check(kind, kFnReadInput, 3, short_reply).result, kind >= LinkKind::Gsm ? ModbusResult::ChecksumError : ModbusResult::Invalid)
        << "short";
    EXPECT_EQ(check(kind, kFnReadInput, 3, wrap_response(kind, read_pdu(kFnReadInput, 4))).result, ModbusResult::Invalid)
        << "oversized: more registers than asked for are never copied";
    EXPECT_EQ(check(kind, kFnReadInput, 3, wrap_response(kind, read_pdu(kFnReadInput, 2))).result, ModbusResult::Invalid)
        << "undersized";
    EXPECT_EQ(check(kind, kFnReadInput, 3, wrap_response(kind, read_pdu(kFnReadHolding, 3))).result, ModbusResult::Invalid)
        << "another function's reply";
    Bytes lying = read_pdu(kFnReadInput, 3);
    lying[1] = 8;
    EXPECT_EQ(check(kind, kFnReadInput, 3, wrap_response(kind, lying)).result, ModbusResult::Invalid) << "byte count";
    EXPECT_EQ(check(kind, kFnReadInput, 3, {}).result, ModbusResult::Invalid) << "nothing";

    c = check(kind, kFnReadInput, 3, wrap_response(kind, {0x84, 0x02}));
    EXPECT_EQ(c.result, ModbusResult::Exception);
    EXPECT_EQ(c.exception_code, 2);
    EXPECT_EQ(check(kind, kFnReadInput, 3, wrap_response(kind, {0x83, 0x02})).result, ModbusResult::Invalid)
        << "exception of another function";
    EXPECT_EQ(check(kind, kFnReadInput, 3, wrap_response(kind, {0x84, 0x02, 0x00})).result, ModbusResult::Invalid)
        << "exception with a tail";
}

TEST_P(ResponseCheckPerLink, WriteAndFileRecordRepliesAreCheckedBySize)
{
    LinkKind kind = GetParam();
    Bytes write = {0x10, 0x30, 0x00, 0x00, 0x02};
    EXPECT_EQ(check(kind, kFnWriteMultiple, 2, wrap_response(kind, write)).result, ModbusResult::Ok);
    write.push_back(0);
    EXPECT_EQ(check(kind, kFnWriteMultiple, 2, wrap_response(kind, write)).result, ModbusResult::Invalid);
    write.resize(4);
    EXPECT_EQ(check(kind, kFnWriteMultiple, 2, wrap_response(kind, write)).result, ModbusResult::Invalid);
    ResponseCheck c = check(kind, kFnWriteMultiple, 2, wrap_response(kind, {0x90, 0x03}));
    EXPECT_EQ(c.result, ModbusResult::Exception);
    EXPECT_EQ(c.exception_code, 3);

    c = check(kind, kFnReadFileRecord, 6, wrap_response(kind, file_pdu(6)));
    ASSERT_EQ(c.result, ModbusResult::Ok);
    EXPECT_EQ(c.data_length, 12);
    EXPECT_EQ(check(kind, kFnReadFileRecord, 6, wrap_response(kind, file_pdu(7))).result, ModbusResult::Invalid);
    EXPECT_EQ(check(kind, kFnReadFileRecord, 6, wrap_response(kind, file_pdu(5))).result, ModbusResult::Invalid);
    Bytes lying = file_pdu(6);
    lying[2] = 200;
    EXPECT_EQ(check(kind, kFnReadFileRecord, 6, wrap_response(kind, lying)).result, ModbusResult::Invalid);
    EXPECT_EQ(check(kind, kFnReadFileRecord, 6, wrap_response(kind, {0x94, 0x01})).result, ModbusResult::Exception);
}

std::string link_kind_test_name(LinkKind kind)
{
    static const char* const names[] = {"USB", "Ethernet", "GSM", "PSTN"};
    return names[int(kind)];
}

INSTANTIATE_TEST_SUITE_P(EveryLink, ResponseCheckPerLink,
                         testing::Values(LinkKind::Usb, LinkKind::Ethernet, LinkKind::Gsm, LinkKind::Pstn),
                         [](const testing::TestParamInfo<LinkKind>& info) { return link_kind_test_name(info.param); });

TEST(ResponseCheck, EthernetHeaderLengthMustMatchWhatArrived)
{
    // The exception reply of the example: header length 3, nine bytes in all.
    Bytes exception = {0, 0, 0, 0, 0, 3, 0xFF, 0x84, 0x02};
    EXPECT_EQ(check(LinkKind::Ethernet, kFnReadInput, 26, exception).result, ModbusResult::Exception);
    exception[5] = 4;
    EXPECT_EQ(check(LinkKind::Ethernet, kFnReadInput, 26, exception).result, ModbusResult::Invalid);
}

TEST(ResponseCheck, ModemRepliesWithABadChecksumAreChecksumErrors)
{
    Bytes reply = wrap_response(LinkKind::Gsm, read_pdu(kFnReadInput, 2));
    reply[3] ^= 0x40;
    EXPECT_EQ(check(LinkKind::Gsm, kFnReadInput, 2, reply).result, ModbusResult::ChecksumError);
    Bytes exception = wrap_response(LinkKind::Pstn, {0x84, 0x0B});
    exception[1] ^= 1;
    EXPECT_EQ(check(LinkKind::Pstn, kFnReadInput, 2, exception).result, ModbusResult::ChecksumError)
        << "short exception replies are checksummed too";
    EXPECT_EQ(check(LinkKind::Pstn, kFnReadInput, 2, {0x84, 0x02, 0x00}).result, ModbusResult::Invalid);
}

TEST(ResponseCheck, CompleteLengthComesFromTheFramesOwnLengthField)
{
    const FrameFormat& tcp = *frame_format(LinkKind::Ethernet);
    uint8_t header[] = {0, 0, 0, 0, 0, 3, 0xFF};
    EXPECT_EQ(tcp.complete_length(header, 6, 51), 9);
    header[5] = 200;
    EXPECT_EQ(tcp.complete_length(header, 6, 51), 51) << "never beyond what the request expects";
    const FrameFormat& usb = *frame_format(LinkKind::Usb);
    uint8_t length_byte[] = {3};
    EXPECT_EQ(usb.complete_length(length_byte, 1, 45), 3);
    length_byte[0] = 0;
    EXPECT_EQ(usb.complete_length(length_byte, 1, 45), 45);
}
