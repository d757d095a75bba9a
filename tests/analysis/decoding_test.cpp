#include <gtest/gtest.h>

#include <ostream>
#include <string>

#include "measurement/state.h"

namespace {

struct DecodingCase {
    const char* name;
    double counts;
    double voltsPerCount;
    double volts;
    double input;
};
void PrintTo(const DecodingCase& c, std::ostream* os) {
    *os << c.name;
}

class DecodingTest : public ::testing::TestWithParam<DecodingCase> {};

TEST_P(DecodingTest, CountsToVoltsToInputRange) {
    const DecodingCase& c = GetParam();
    const double volts = c.counts * c.voltsPerCount;
    EXPECT_NEAR(volts, c.volts, 1e-4);
    EXPECT_NEAR(ScaleToInput(volts), c.input, 1e-4);
}

INSTANTIATE_TEST_SUITE_P(
    Rows, DecodingTest,
    ::testing::Values(
        DecodingCase{"TenBitFullScale", 0x03 * 256 + 0xFF, kVoltsPerCount10, 5.0, 5.0},
        DecodingCase{"TenBitZero", 0, kVoltsPerCount10, 0.0, -5.0},
        DecodingCase{"EightBitMidScale", 0x80, kVoltsPerCount8, 2.5098, 0.0196},
        DecodingCase{"EightBitFullScale", 0xFF, kVoltsPerCount8, 5.0, 5.0},
        // not masked or clipped: 1024 counts is above 5 V
        DecodingCase{"TenBitAboveRange", 0x04 * 256, kVoltsPerCount10, 5.0049, 5.0098}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Decoding, VoltsPerCountInDoublePrecision) {
    EXPECT_EQ(kVoltsPerCount8, 0.0196078431372549);
    EXPECT_EQ(kVoltsPerCount10, 0.004887585532746823);
}

}  // namespace
