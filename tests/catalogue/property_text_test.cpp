#include "catalogue/property_text.h"

#include <gtest/gtest.h>

#include <ctime>

using namespace catalogue;

namespace {

// A British user east of UTC: the short date is day/month/year and a file
// time late in the UTC day is already the next day locally.
class PinnedLocale : public ::testing::Environment {
public:
    void SetUp() override {
        qputenv("LC_ALL", "en_GB.UTF-8");
        qputenv("TZ", "JST-9");
        tzset();
    }
};
const auto* pinned = ::testing::AddGlobalTestEnvironment(new PinnedLocale);

QString text(int type, const QString& raw) {
    return PropertyText(ParsePropertyValue(type, raw));
}

} // namespace

TEST(PropertyText, EmptyKindsAndStrings) {
    for (int type : {vt::Empty, vt::Null, vt::Void, vt::Illegal})
        EXPECT_EQ(text(type, "anything"), "") << type;
    EXPECT_EQ(PropertyText(PropertyValue{}), "");
    for (int type : {vt::BStr, vt::LpStr, vt::LpWStr})
        EXPECT_EQ(text(type, "Caf\u00e9 & more"), "Caf\u00e9 & more") << type;
}

TEST(PropertyText, IntegersKeepTheirWidthAndSign) {
    EXPECT_EQ(text(vt::I2, "-5"), "-5");
    EXPECT_EQ(text(vt::I2, "65535"), "-1");
    EXPECT_EQ(text(vt::I4, "-2147483648"), "-2147483648");
    EXPECT_EQ(text(vt::Int, "0x10"), "16");
    EXPECT_EQ(text(vt::UI1, "255"), "255");
    EXPECT_EQ(text(vt::UI2, "0xFFFF"), "65535");
    EXPECT_EQ(text(vt::UI4, "4294967295"), "4294967295");
    EXPECT_EQ(text(vt::UInt, "-1"), "4294967295");
    EXPECT_EQ(text(vt::I8, "-9000000000"), "-9000000000");
    // The 64 bits of an unsigned value are shown as a signed number.
    EXPECT_EQ(text(vt::UI8, "18446744073709551615"), "-1");
    EXPECT_EQ(text(vt::UI8, "0xFFFFFFFFFFFFFFFE"), "-2");
    EXPECT_EQ(text(vt::I4, "twelve"), "") << "a number that does not parse is empty";
}

TEST(PropertyText, BooleansErrorsFloatsAndClassIds) {
    EXPECT_EQ(text(vt::Bool, "-1"), "True");
    EXPECT_EQ(text(vt::Bool, "0"), "False");
    EXPECT_EQ(text(vt::Error, "0x80004005"), "Error code: -2147467259");
    EXPECT_EQ(text(vt::R8, "1.5"), "1.5");
    EXPECT_EQ(text(vt::R8, "1234567.25"), "1234567.25") << "no group separators";
    EXPECT_EQ(text(vt::R8, "0.1"), "0.1");
    EXPECT_EQ(text(vt::R4, "0.1"), "0.100000001490116") << "single precision, 15 digits";
    EXPECT_EQ(text(vt::ClsId, "{fbf23b40-e3f0-101b-8488-00aa003e56f8}"),
              "{FBF23B40-E3F0-101B-8488-00AA003E56F8}");
    EXPECT_EQ(text(16, "7"), "Unsupported property type:16");
    EXPECT_EQ(text(4096 + 8, "x"), "Unsupported property type:4104");
}

TEST(PropertyText, FileTimesAreLocalDatesInTheShortFormat) {
    // 2003-06-01 20:00 UTC is 2 June in the pinned zone.
    EXPECT_EQ(text(vt::FileTime, "126989712000000000"), "02/06/2003");
    EXPECT_EQ(text(vt::FileTime, "0x1c3287861e3a000"), "02/06/2003");
    EXPECT_EQ(text(vt::FileTime, "0x1C3287861E3A000"), "02/06/2003");
    EXPECT_EQ(text(vt::FileTime, "not a time"), "");
    // The extremes of the 64 bits still give a date (their distance from
    // 1970 must not overflow on the way: the sanitized tests catch that).
    EXPECT_NE(text(vt::FileTime, "-9223372036854775808"), "");
    EXPECT_NE(text(vt::FileTime, "0xffffffffffffffff"), "");
}
