#include <gtest/gtest.h>

#include <cstring>

#include "registers/status_image.h"

namespace {

// Puts wire bytes (big-endian registers) into a block buffer as the exchange
// delivers them.
template <size_t N>
void wire(std::array<uint16_t, N>& block, size_t first_register, std::initializer_list<uint8_t> bytes)
{
    std::memcpy(reinterpret_cast<uint8_t*>(block.data()) + 2 * first_register, bytes.begin(), bytes.size());
}

} // namespace

TEST(StatusConversion, IdentificationGivesSerialTimeAndVersion)
{
    StatusImage s;
    wire(s.identification, 1, {0x01, 0x9A});              // 410
    wire(s.identification, 3, {0x00, 0x01, 0x86, 0xA0});  // serial
    wire(s.identification, 5, {0x65, 0x00, 0x00, 0x01});
    wire(s.identification, 12, {0x00, 0x05});
    convert_identification(s);
    EXPECT_EQ(protocol_version(s), 410);
    EXPECT_EQ(status_layout(s), 3);
    EXPECT_EQ(serial_number(s), 100000u);
    EXPECT_EQ(device_time(s), 0x65000001u);
    EXPECT_EQ(newest_discharge_slot(s), 5);
}

TEST(StatusConversion, EventCodesLandOnTheirBitInEveryLayout)
{
    for (int layout = 1; layout <= 3; ++layout) {
        SCOPED_TRACE(layout);
        StatusImage s;
        // code 33: bit 1 of the low byte of register 267, the last register of
        // the 64-bit group 264-267
        wire(s.events[layout - 1], 267 - 256, {0x00, 0x02});
        wire(s.events[layout - 1], 0, {0x00, 0x07});
        convert_events(s, layout);
        auto bits = event_bits(s, layout);
        ASSERT_EQ(bits.size(), event_bits_bytes(layout));
        EXPECT_EQ(bits[4], 0x02);
        EXPECT_TRUE(event_bit(bits, 33));
        EXPECT_FALSE(event_bit(bits, 32));
        EXPECT_EQ(alarm1_count(s, layout), 7);
    }
    StatusImage s;
    // code 341 (energy saving, layout 3): bit 5 of the low byte of register 280
    wire(s.events[2], 280 - 256, {0x00, 0x20});
    convert_events(s, 3);
    EXPECT_TRUE(event_bit(event_bits(s, 3), 341));
    EXPECT_FALSE(event_bit(event_bits(s, 3), 340));
    // layout 1 ends at code 319: nothing is read past the field
    EXPECT_FALSE(event_bit(event_bits(s, 1), 341));
}

TEST(StatusConversion, SignedCurrentsAndTemperatures)
{
    StatusImage s;
    wire(s.battery, 0, {0xFF, 0xFF, 0xFC, 0x18});
    wire(s.battery, 2, {0x00, 0x0C});
    // group 1: 53.50 V, +2500 mA, status connected, breaker off (bits 2-3 = 1)
    wire(s.battery, 7, {0x14, 0xE6, 0x00, 0x00, 0x09, 0xC4, 0x00, 0x04});
    convert_battery(s);
    EXPECT_EQ(battery_current(s), -1000);
    EXPECT_EQ(battery_mode(s), 12);
    EXPECT_EQ(group_voltage(s, 1), 5350);
    EXPECT_EQ(group_current(s, 1), 2500);
    EXPECT_EQ(group_connection_state(group_status(s, 1)), 0);
    EXPECT_EQ(group_breaker_state(group_status(s, 1)), 1);

    wire(s.battery_blocks[7], 3 * 29, {0x04, 0xB0, 0xFF, 0x9C, 0x00, 0x04});
    convert_battery_blocks(s, 7);
    EXPECT_EQ(block_voltage(s, 7, 29), 1200);
    EXPECT_EQ(block_temperature(s, 7, 29), -100);
    EXPECT_EQ(block_state(s, 7, 29), 4);

    wire(s.load, 0, {0x15, 0x7C, 0x00, 0x01, 0x11, 0x70, 0x00, 0x02});
    wire(s.load, 55, {0x00, 0x03});
    convert_load(s);
    EXPECT_EQ(load_voltage(s), 5500);
    EXPECT_EQ(load_current(s), 70000u);
    EXPECT_EQ(load_state(s), 2);
    EXPECT_EQ(breaker_state(s, 52), 3);
    EXPECT_EQ(breaker_state(s, 53), 3);
}

TEST(StatusConversion, RectifierListIsConvertedForTheWholeLayoutLength)
{
    StatusImage s;
    wire(s.rectifiers[1], 3 * 189, {0x15, 0x7C, 0x03, 0xE8, 0x00, 0x0A});
    wire(s.rectifiers[0], 3 * 59 + 2, {0x00, 0x09});
    convert_rectifiers(s, 2);
    convert_rectifiers(s, 1);
    EXPECT_EQ(rectifier_voltage(s, 2, 189), 5500);
    EXPECT_EQ(rectifier_current(s, 2, 189), 1000);
    EXPECT_EQ(rectifier_state(s, 2, 189), 10);
    EXPECT_EQ(rectifier_state(s, 1, 59), 9);
}
