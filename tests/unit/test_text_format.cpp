#include <gtest/gtest.h>

#include <clocale>

#include "base/text_format.h"

TEST(FormatByteCount, StaysInTheSmallerUnitUpToAnExactPowerOf1024)
{
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(format_byte_count(0), "0Б");
    EXPECT_EQ(format_byte_count(1023), "1023Б");
    EXPECT_EQ(format_byte_count(1024), "1024Б");
    EXPECT_EQ(format_byte_count(1025), "1.001киБ");
    EXPECT_EQ(format_byte_count(1048576), "1024.000киБ");
    EXPECT_EQ(format_byte_count(2097152), "2.000МиБ");
}

TEST(FormatByteCount, NeverRunsPastTheLastUnit)
{
    std::setlocale(LC_NUMERIC, "C");
    EXPECT_EQ(format_byte_count(UINT64_MAX), "16.000ЭиБ");
}

TEST(HexDump, KeepsOnlyTheFirst260Bytes)
{
    uint8_t bytes[300];
    for (int i = 0; i < 300; ++i)
        bytes[i] = static_cast<uint8_t>(i);
    std::string text = hex_dump_text(bytes, 300);
    EXPECT_EQ(text.size(), 260u * 3);
    EXPECT_EQ(text.substr(0, 12), "00 01 02 03 ");
    EXPECT_EQ(text.substr(text.size() - 3), "03 ");   // byte 259
}

TEST(HexDump, ZeroOrNegativeLengthGivesAnEmptyLine)
{
    uint8_t b = 0xAB;
    EXPECT_EQ(hex_dump_text(&b, 0), "");
    EXPECT_EQ(hex_dump_text(&b, -5), "");
    EXPECT_EQ(hex_dump_text(&b, 1), "AB ");
}

TEST(ParseDecimal, TakesEitherSeparatorAndRefusesAnythingButAPlainNumber)
{
    double v = -1;
    for (auto [text, expected] : {std::pair{"54.0", 54.0}, {"53,5", 53.5}, {" -20,5 ", -20.5}, {"+7", 7.0},
                                  {",5", 0.5}, {"190.", 190.0}, {"0,37\t", 0.37}}) {
        EXPECT_TRUE(parse_decimal(text, &v)) << text;
        EXPECT_DOUBLE_EQ(v, expected) << text;
    }
    // None of these may become a number at a range end.
    for (const char* text : {"", " ", "-", ",", "5,4,0", "5.4,0", "54.0x", "1e2", "0x10", "inf", "nan", "5 4", "--5",
                             "54\xD0\xB2"}) {
        v = -1;
        EXPECT_FALSE(parse_decimal(text, &v)) << text;
        EXPECT_EQ(v, -1) << text;
    }
}
