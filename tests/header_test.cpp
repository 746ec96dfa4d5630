// Header fields: key search, field copies and the two number converters.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "header/header_text.h"
#include "header/numbers.h"
#include "header/records.h"
#include "internal_support.h"
#include "test_support.h"

namespace {

using testsupport::MessageLog;

const char kSizeMessage[] = "Error reading the size of the image.";
const char kSkewMessage[] = "Error reading skew angle of the image.";
const char kCphMessage[] = "Error reading CPH record.";

bsb::HeaderText TextOf(const std::string& text) {
    return bsb::HeaderText{text.data(), static_cast<uint32_t>(text.size())};
}

uint64_t BitsOf(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

// ---------------------------------------------------------------- ParseInteger

struct IntegerCase {
    const char* text;
    int32_t expected;
};

TEST(ParseInteger, ConvertsTheTable) {
    const IntegerCase cases[] = {
        {"-12", -12},
        {"12", 12},
        {"  7", 7},
        {"007", 7},
        {"0", 0},
        {"x-5", -5},          // the '-' right before the first digit counts
        {" -7", -7},
        {"- 7", 7},           // separated from the digits: no effect
        {"-x7", 7},           // further left: no effect
        {"--7", -7},
        {"12a", 169},         // every character after the first digit is a digit: 1*100+2*10+49
        {"1 2", 1 * 100 + (' ' - '0') * 10 + 2},
        {"2147483647", 2147483647},
        {"2147483648", INT32_MIN},       // wraps in 32 bits
        {"-2147483648", INT32_MIN},
        {"4294967295", -1},
        {"4294967296", 0},
        {"4294967303", 7},
        {"12345678901", -539222987},     // 12345678901 mod 2^32, as signed
        {"99999999999999999999", static_cast<int32_t>(1661992959u)},  // 10^20 - 1 mod 2^32
        {"", 0},              // no digit at all
        {"   ", 0},
        {"abc-", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(bsb::ParseInteger(c.text), c.expected) << '"' << c.text << '"';
}

TEST(ParseInteger, StopsAtTheEndOfTheField) {
    // Digits after the field's terminator are not part of it.
    const char text[] = "ab\0" "123";
    EXPECT_EQ(bsb::ParseInteger(text), 0);
    const char minus[] = "-\0" "5";
    EXPECT_EQ(bsb::ParseInteger(minus), 0);
}

TEST(ParseInteger, TakesHighBytesAsNegativeDigits) {
    // 0xFF is -1 as a signed character: 1*10 + (-1 - '0').
    const char text[] = "1\xFF";
    EXPECT_EQ(bsb::ParseInteger(text), 10 + (-1 - '0'));
}

// ---------------------------------------------------------------- ParseDecimal

struct DecimalCase {
    const char* text;
    double expected;
};

// Each text converts to exactly its expected double.
template <size_t N>
void ExpectDecimals(const DecimalCase (&cases)[N]) {
    for (const auto& c : cases) {
        double value = bsb::ParseDecimal(c.text);
        EXPECT_EQ(BitsOf(value), BitsOf(c.expected))
            << '"' << c.text << "\" gave " << std::hexfloat << value << " expected " << c.expected;
    }
}

// Expected values are exact doubles; several differ from the nearest double
// of the decimal text (what strtod would give) because the conversion sums
// digits and divides by powers of ten built up by repeated multiplication.
TEST(ParseDecimal, ConvertsTheTableBitForBit) {
    const DecimalCase cases[] = {
        {"-.5", -0.5},
        {".25", 0.25},
        {"  7.125", 7.125},
        {"1.5E+3", 1500.0},
        {"1.5e+03", 1500.0},
        {"1.5e-03", 0.0015},
        {"-1.5e+3", -1500.0},
        {"12.5e+2", 1250.0},
        {"2e-2", 0x1.47ae147ae147bp-6},
        {"1e+0", 1.0},
        {"0.1", 0.1},
        {"0.3", 0.3},  // 3 / 10, not 3 * 0.1
        {"180.0", 180.0},
        {"-12.25", -12.25},
        {"7", 7.0},
        {"12.345", 0x1.8b0a3d70a3d71p+3},
        {"1.9988", 0x1.ffb15b573eab4p+0},           // strtod: ...eab3p+0
        {"2.44246123597", 0x1.38a291dd1e93ep+1},    // strtod: ...e93fp+1
        {"45099.52e+4", 0x1.ae1a3ffffffffp+28},     // strtod: 0x1.ae1a4p+28
        {"83212.888e-12", 0x1.656589b63a41cp-24},   // strtod: ...41bp-24
        {"123456789012345678901234.5", 0x1.a249b1f10a06cp+76},
        {"9007199254740993", 9007199254740992.0},
        {"1e+400", HUGE_VAL},
    };
    ExpectDecimals(cases);
}

TEST(ParseDecimal, ReadsTheExponentOnlyWithASign) {
    const DecimalCase cases[] = {
        {"1.5e3", 1.5},
        {"1.5E3", 1.5},
        {"1.5e33", 1.5},
        {"2E10", 2.0},
        {"5e-", 5.0},  // no digits after the sign: 10^0
    };
    ExpectDecimals(cases);
}

TEST(ParseDecimal, FollowsTheSignAndPointRules) {
    const DecimalCase cases[] = {
        {"- 5", 5.0},   // sign separated from the digits
        {"-x5", 5.0},
        {"x-5", -5.0},
        {".-5", -5.0},  // the character before the first digit is the sign
        {"-0.0", -0.0},
        // The last '.' is the decimal point; the characters before it are all
        // integer digits: 1*100 + ('.' - '0')*10 + 2, then .5.
        {"1.2.5", 82.5},
        // No integer part: the point stays right before the first digit and
        // the later '.' is a fraction digit: (5*100 + ('.' - '0')*10 + 5) / 1000.
        {".5.5", 485.0 / 1000.0},
    };
    ExpectDecimals(cases);
}

TEST(ParseDecimal, GivesZeroWithoutADigitAndStopsAtTheField) {
    const DecimalCase cases[] = {
        {"", 0.0},
        {"  ", 0.0},
        {"-.", 0.0},
        // Digits after the field's terminator are not part of it.
        {"-.\0" "25", 0.0},
        {"2.5e+\0" "3", 2.5},
    };
    ExpectDecimals(cases);
}

// ---------------------------------------------------------------- RA=

TEST(ParseRasterSize, ReadsWidthAndHeight) {
    struct Case {
        std::string text;
        int32_t width;
        int32_t height;
    };
    const Case cases[] = {
        {"BSB/NA=X,RA=980,760,DU=254\r\n", 980, 760},
        // The height field runs to a comma on a later line; atoi stops at the line end.
        {"BSB/NA=X,RA=120,80\r\nKNP/SC=5000,GD=WGS84\r\n", 120, 80},
        {"RA=980,760", 980, 760},  // height field ends with the text
        {"RA= \t980, +760,", 980, 760},
        {"RA=98x0,7y60,", 98, 7},
        {"RA=2147483647,1,", 2147483647, 1},
        // The first RA= anywhere, even inside another word.
        {"!XRA=5,6,\r\nBSB/RA=980,760,\r\n", 5, 6},
    };
    for (const auto& c : cases) {
        MessageLog log;
        int32_t width = -7;
        int32_t height = -7;
        EXPECT_TRUE(bsb::ParseRasterSize(TextOf(c.text), &width, &height, testsupport::Shown())) << c.text;
        EXPECT_EQ(width, c.width) << c.text;
        EXPECT_EQ(height, c.height) << c.text;
        EXPECT_TRUE(log.messages.empty()) << c.text;
    }
}

TEST(ParseRasterSize, ReportsMissingOrNonPositiveSizes) {
    const std::string cases[] = {
        "BSB/NA=X,NU=1,DU=254\r\n",  // no key
        "RA=980",                     // no comma: no height
        "RA=0,760,",
        "RA=980,0,",
        "RA=-5,760,",
        "RA=980,-1,",
        "RA=,760,",
        "ra=980,760,",                // keys are case-sensitive
        "",
    };
    for (const auto& text : cases) {
        MessageLog log;
        int32_t width = -7;
        int32_t height = -7;
        EXPECT_FALSE(bsb::ParseRasterSize(TextOf(text), &width, &height, testsupport::Shown())) << text;
        EXPECT_EQ(log.messages, std::vector<std::string>{kSizeMessage}) << text;
        EXPECT_EQ(width, -7) << text;
        EXPECT_EQ(height, -7) << text;
    }
}

// ---------------------------------------------------------------- SK=

TEST(ParseSkewAngle, ReadsTheFieldUpToCommaOrCarriageReturn) {
    struct Case {
        std::string text;
        double angle;
    };
    const Case cases[] = {
        {"KNP/SC=5000,SK=0.0,TA=90.0\r\n", 0.0},
        {"KNP/SC=5000,SK=-12.25\r\n", -12.25},
        {"SK=12.5", 12.5},                     // ends with the text
        {"SK=1\n5,", 1.0 * 100 + ('\n' - '0') * 10 + 5},  // a bare line feed does not end it
        {"SK=,5.0\r\n", 0.0},                  // empty field: no digit, 0
        {"SK=00000000000000012.5,", 12.5},    // 19 characters
        {"!SK=3.0\r\nKNP/SK=0.0,\r\n", 3.0},   // first occurrence wins
    };
    for (const auto& c : cases) {
        MessageLog log;
        double angle = -99.0;
        EXPECT_TRUE(bsb::ParseSkewAngle(TextOf(c.text), &angle, testsupport::Shown())) << c.text;
        EXPECT_EQ(BitsOf(angle), BitsOf(c.angle)) << c.text;
        EXPECT_TRUE(log.messages.empty()) << c.text;
    }
}

TEST(ParseSkewAngle, FailsSilentlyOnAFieldOverNineteenCharacters) {
    const std::string cases[] = {
        "SK=12345678901234567890,TA=90\r\n",   // 20 characters
        "SK=0." + std::string(18, '0') + "\r\n",  // 20 characters
        "SK=0.0 TA=90.0 PP=0.0 GD=WGS84",       // no delimiter within 19 characters
        "SK=" + std::string(600, '1') + ",",
    };
    for (const auto& text : cases) {
        MessageLog log;
        double angle = -99.0;
        EXPECT_FALSE(bsb::ParseSkewAngle(TextOf(text), &angle, testsupport::Shown())) << text;
        EXPECT_EQ(angle, -99.0) << text;
        EXPECT_TRUE(log.messages.empty()) << text;
    }
}

TEST(ParseSkewAngle, ReportsAMissingKey) {
    MessageLog log;
    double angle = -99.0;
    EXPECT_FALSE(bsb::ParseSkewAngle(TextOf("KNP/SC=5000,sk=1.0,S K=2\r\n"), &angle, testsupport::Shown()));
    EXPECT_EQ(log.messages, std::vector<std::string>{kSkewMessage});
    EXPECT_EQ(angle, -99.0);
}

// ---------------------------------------------------------------- CPH/

TEST(ParseCph, ReadsUpToTheCarriageReturnOnly) {
    struct Case {
        std::string text;
        double value;
    };
    const Case cases[] = {
        {"VER/3.0\r\nCPH/180.0\r\nRGB/1,0,0,0\r\n", 180.0},
        {"CPH/,180.0\r\n", 180.0},   // a comma does not end the field
        {"CPH/-0.5", -0.5},
        {"CPH/\r\n", 0.0},
    };
    for (const auto& c : cases) {
        MessageLog log;
        double value = -99.0;
        EXPECT_TRUE(bsb::ParseCph(TextOf(c.text), &value, testsupport::Shown())) << c.text;
        EXPECT_EQ(BitsOf(value), BitsOf(c.value)) << c.text;
        EXPECT_TRUE(log.messages.empty()) << c.text;
    }
}

TEST(ParseCph, ReportsAMissingKey) {
    MessageLog log;
    double value = -99.0;
    EXPECT_FALSE(bsb::ParseCph(TextOf("CPH=1.0\r\nCP/2.0\r\n"), &value, testsupport::Shown()));
    EXPECT_EQ(log.messages, std::vector<std::string>{kCphMessage});
    EXPECT_EQ(value, -99.0);
}

// ---------------------------------------------------------------- skew test

TEST(IsSkewed, NeedsMoreThanOneHundredthOfADegree) {
    EXPECT_FALSE(bsb::IsSkewed(0.01));
    EXPECT_TRUE(bsb::IsSkewed(std::nextafter(0.01, 1.0)));
    EXPECT_FALSE(bsb::IsSkewed(0.0));
    EXPECT_FALSE(bsb::IsSkewed(0.005));
    EXPECT_FALSE(bsb::IsSkewed(-5.0));
    EXPECT_FALSE(bsb::IsSkewed(-90.0));
    EXPECT_TRUE(bsb::IsSkewed(12.5));
    // The header's own "0.01" is exactly the boundary.
    EXPECT_FALSE(bsb::IsSkewed(bsb::ParseDecimal("0.01")));
}

// ---------------------------------------------------------------- bounds

TEST(HeaderFields, AreCutAtFourHundredNinetyNineCharacters) {
    MessageLog log;
    // Uncut, these fields would read 75 and 123.
    std::string cph = "CPH/" + std::string(498, ' ') + "75\r\n";
    double value = 0.0;
    ASSERT_TRUE(bsb::ParseCph(TextOf(cph), &value, testsupport::Shown()));
    EXPECT_EQ(value, 7.0);

    // The height is still found after the comma that ends the cut width field.
    std::string ra = "RA=" + std::string(497, ' ') + "123,760,";
    int32_t width = 0;
    int32_t height = 0;
    ASSERT_TRUE(bsb::ParseRasterSize(TextOf(ra), &width, &height, testsupport::Shown()));
    EXPECT_EQ(width, 12);
    EXPECT_EQ(height, 760);

    std::string field(bsb::kFieldCapacity + 8, '\x55');
    std::string text = "K" + std::string(1000, 'x') + "\r";
    uint32_t end = bsb::CopyField(TextOf(text), 1, "\r", &field[0]);
    EXPECT_EQ(end, 1001u);
    EXPECT_EQ(std::strlen(field.c_str()), 499u);
    EXPECT_EQ(field.substr(bsb::kFieldCapacity), std::string(8, '\x55'));  // nothing beyond 500
    EXPECT_TRUE(log.messages.empty());
}

// A field reader's outcome: whether it succeeded and the values it left in
// its outputs, which start as -7 (width, height) or -99 (angle, value).
struct FieldReading {
    bool ok;
    std::vector<double> values;
};
using FieldReader = FieldReading (*)(bsb::HeaderText text);

FieldReading ReadRasterSize(bsb::HeaderText text) {
    int32_t width = -7;
    int32_t height = -7;
    bool ok = bsb::ParseRasterSize(text, &width, &height, testsupport::Shown());
    return {ok, {static_cast<double>(width), static_cast<double>(height)}};
}

FieldReading ReadSkewAngle(bsb::HeaderText text) {
    double angle = -99.0;
    bool ok = bsb::ParseSkewAngle(text, &angle, testsupport::Shown());
    return {ok, {angle}};
}

FieldReading ReadCph(bsb::HeaderText text) {
    double value = -99.0;
    bool ok = bsb::ParseCph(text, &value, testsupport::Shown());
    return {ok, {value}};
}

TEST(HeaderFields, AreNotSearchedOrCopiedPastTheHeaderText) {
    // Each text is cut short; what follows in memory must not be seen.
    const std::string memory = "VER/3.0\r\nKNP/SC=5000\r\nBSB/RA=980,760,\r\nSK=12.25\r\nCPH/1.5\r\n";
    struct Case {
        const char* what;
        FieldReader read;
        const char* cutIn;  // the text ends `keep` characters into this
        uint32_t keep;
        FieldReading expected;
        std::vector<std::string> messages;
    };
    const Case cases[] = {
        {"key cut", ReadRasterSize, "RA=", 2, {false, {-7, -7}}, {kSizeMessage}},
        {"height cut", ReadRasterSize, "760", 1, {true, {980, 7}}, {}},
        {"key cut", ReadSkewAngle, "SK=", 2, {false, {-99}}, {kSkewMessage}},
        {"angle cut", ReadSkewAngle, "12.25", 3, {true, {12}}, {}},
        {"key cut", ReadCph, "CPH/", 3, {false, {-99}}, {kCphMessage}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.what) + " in " + c.cutIn);
        MessageLog log;
        bsb::HeaderText text{memory.data(), static_cast<uint32_t>(memory.find(c.cutIn) + c.keep)};
        FieldReading reading = c.read(text);
        EXPECT_EQ(reading.ok, c.expected.ok);
        EXPECT_EQ(reading.values, c.expected.values);
        EXPECT_EQ(log.messages, c.messages);
    }
    EXPECT_EQ(bsb::FindKey(bsb::HeaderText{memory.data(), 0}, "V", 0), bsb::kNotFound);
    EXPECT_EQ(bsb::FindKey(TextOf(memory), "VER/", 0), 0u);
    EXPECT_EQ(bsb::FindKey(TextOf(memory), "CPH/1.5\r\n", 0), memory.size() - 9);
    EXPECT_EQ(bsb::FindKey(TextOf(memory), "CPH/1.5\r\nX", 0), bsb::kNotFound);
}

TEST(HeaderFields, CopyStopsAtTheTextEndForAStartBeyondIt) {
    std::string text = "RA=1";
    char field[bsb::kFieldCapacity];
    std::memset(field, 'z', sizeof field);
    EXPECT_EQ(bsb::CopyField(TextOf(text), 10, ",", field), 4u);
    EXPECT_EQ(field[0], '\0');
}

}  // namespace
