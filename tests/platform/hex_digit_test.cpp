// One hexadecimal digit reader serves bytes (percent-escapes, hex-encoded
// names, character references) and UTF-16 text (registry files, typed
// numbers): both must agree on ASCII and refuse everything else.
#include "platform/hex_digit.h"

#include <gtest/gtest.h>

using platform::hexDigitValue;

TEST(HexDigit, BothCasesAndEveryDigit) {
    const char* const lower = "0123456789abcdef";
    const char* const upper = "0123456789ABCDEF";
    for (int value = 0; value < 16; ++value) {
        EXPECT_EQ(hexDigitValue(lower[value]), value) << lower[value];
        EXPECT_EQ(hexDigitValue(upper[value]), value) << upper[value];
        EXPECT_EQ(hexDigitValue(QChar(QLatin1Char(lower[value]))), value);
        EXPECT_EQ(hexDigitValue(QChar(QLatin1Char(upper[value]))), value);
    }
}

TEST(HexDigit, NeighboursOfTheDigitRangesAreRefused) {
    // The characters just outside '0'-'9', 'A'-'F' and 'a'-'f'.
    for (const char c : {'/', ':', '@', 'G', '`', 'g', 'x', ' ', '\0', '%'}) {
        EXPECT_EQ(hexDigitValue(c), -1) << int(c);
        EXPECT_EQ(hexDigitValue(QChar(QLatin1Char(c))), -1) << int(c);
    }
}

TEST(HexDigit, NothingBeyondAsciiIsADigit) {
    // Bytes above 0x7f are negative as char: never a digit.
    for (int byte = 0x80; byte <= 0xff; ++byte)
        EXPECT_EQ(hexDigitValue(char(byte)), -1) << byte;
    // UTF-16 units whose low byte is a digit, and the full-width digits.
    for (const char16_t unit :
         {u'\u0141', u'\u0130', u'\u0166', u'\uFF10', u'\uFF21', u'\uFF41', u'\u0661'})
        EXPECT_EQ(hexDigitValue(QChar(unit)), -1) << int(unit);
}
