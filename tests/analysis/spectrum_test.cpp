#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <ostream>
#include <string>
#include <vector>

#include "analysis/analysis.h"

namespace {

constexpr double kUntouched = 1234.5;
constexpr double kZeroBlock = std::numeric_limits<double>::quiet_NaN();

class SpectrumTest : public ::testing::Test {
  protected:
    void SetUp() override {
        ResetAnalysisState();
        samples.assign(kBufferSize, 0.0);
        spectrum.assign(kBufferSize, kUntouched);
    }

    void Sine(int n, int k, double amplitude) {
        const long double pi = 3.141592653589793238462643383279502884L;
        for (int t = 0; t < n; ++t)
            samples[t] = static_cast<double>(amplitude * std::sin(2 * pi * ((1L * k * t) % n) / n));
    }

    // An impulse puts the same power into every bin; this one gives `level` dB
    // (before the offset) in each, or an all-zero block for kZeroBlock.
    void Impulse(int n, double level) {
        std::fill(samples.begin(), samples.end(), 0.0);
        if (!std::isnan(level)) samples[0] = std::pow(10.0, level / 20) * n / std::sqrt(2.0);
    }

    void Run(int n, int mode) { ComputeSpectrum(samples.data(), spectrum.data(), n, mode, false); }
    void Clear(int n) { ComputeSpectrum(samples.data(), spectrum.data(), n, 1, true); }

    std::vector<double> samples;
    std::vector<double> spectrum;
};

struct BinCase {
    int n;
    int k;
};
void PrintTo(const BinCase& c, std::ostream* os) {
    *os << "n=" << c.n << " k=" << c.k;
}

class ExactBinSineTest : public SpectrumTest, public ::testing::WithParamInterface<BinCase> {};

TEST_P(ExactBinSineTest, WindowOffGivesHalfTheSquaredAmplitudeInItsBinOnly) {
    const auto [n, k] = GetParam();
    Sine(n, k, 1.0);
    Run(n, 0);
    const double* power = LastPowerSpectrum();
    EXPECT_NEAR(power[k], 0.5, 1e-12);
    EXPECT_NEAR(spectrum[k], 7.99, 0.005);
    for (int i = 0; i <= n / 2; ++i)
        if (i != k) {
            ASSERT_LT(power[i], 1e-24) << "bin " << i;
        }
}

TEST_P(ExactBinSineTest, WindowOnSpreadsOverThreeNeighboursEachSide) {
    const auto [n, k] = GetParam();
    Sine(n, k, 1.0);
    ApplyHarrisWindow(samples.data(), n);
    Run(n, 0);
    const double* power = LastPowerSpectrum();
    EXPECT_NEAR(power[k], 0.5 * 0.35875 * 0.35875, 1e-12);
    EXPECT_NEAR(spectrum[k], -0.91, 0.005);
    const double below[] = {3.34, 14.11, 35.77};
    for (int d = 1; d <= 3; ++d) {
        EXPECT_NEAR(spectrum[k] - spectrum[k - d], below[d - 1], 0.005) << "k-" << d;
        EXPECT_NEAR(spectrum[k] - spectrum[k + d], below[d - 1], 0.005) << "k+" << d;
    }
    for (int i = 0; i <= n / 2; ++i)
        if (std::abs(i - k) > 3) {
            ASSERT_LT(power[i], 1e-24) << "bin " << i;
        }
}

INSTANTIATE_TEST_SUITE_P(BinsAcrossLengths, ExactBinSineTest,
                         ::testing::Values(BinCase{128, 4}, BinCase{128, 60}, BinCase{1024, 100},
                                           BinCase{8192, 1000}, BinCase{8192, 4092}));

TEST_F(SpectrumTest, ConstantInputGoesToBinZeroWithTheFactorTwo) {
    std::fill(samples.begin(), samples.begin() + 256, 1.5);
    Run(256, 0);
    const double* power = LastPowerSpectrum();
    EXPECT_NEAR(power[0], 2 * 1.5 * 1.5, 1e-12);
    for (int i = 1; i <= 128; ++i) ASSERT_EQ(power[i], 0.0) << "bin " << i;
}

TEST_F(SpectrumTest, AllZeroBlockWritesFloorIntoEntriesUpToHalfOnly) {
    Run(128, 0);
    ASSERT_EQ(LastPowerSpectrumSize(), 65);
    for (int i = 0; i <= 64; ++i) {
        ASSERT_EQ(LastPowerSpectrum()[i], 0.0);
        ASSERT_EQ(spectrum[i], -179.9) << "entry " << i;
    }
    EXPECT_EQ(spectrum[65], kUntouched);
}

class InvalidLengthTest : public SpectrumTest, public ::testing::WithParamInterface<int> {};

TEST_P(InvalidLengthTest, DoesNothingAndIsNotCounted) {
    Clear(128);
    Impulse(128, -40);
    Run(128, 1);
    std::vector<double> before = spectrum;

    ComputeSpectrum(samples.data(), spectrum.data(), GetParam(), 1, false);
    EXPECT_EQ(spectrum, before);
    EXPECT_EQ(LastPowerSpectrumSize(), 65);

    Impulse(128, -60);
    Run(128, 1);
    EXPECT_NEAR(spectrum[5], -39.0, 1e-9);  // mean of two calls, not three
}

INSTANTIATE_TEST_SUITE_P(OutsideTheTable, InvalidLengthTest,
                         ::testing::Values(0, -128, 3, 100, 16384));

// One averaging scenario: calls in order, each `repeat` times, then the level
// every entry must show.
struct Call {
    int mode;      // -1 = clear
    double level;  // dB per bin before the offset, or kZeroBlock
    int repeat = 1;
};
struct AveragingCase {
    std::string name;
    std::vector<Call> calls;
    double expected;
};
void PrintTo(const AveragingCase& c, std::ostream* os) {
    *os << c.name;
}

class AveragingTest : public SpectrumTest, public ::testing::WithParamInterface<AveragingCase> {};

TEST_P(AveragingTest, EveryEntryShowsTheExpectedLevel) {
    constexpr int n = 128;
    for (const Call& call : GetParam().calls) {
        for (int r = 0; r < call.repeat; ++r) {
            if (call.mode < 0) {
                Clear(n);
                continue;
            }
            Impulse(n, call.level);
            Run(n, call.mode);
        }
    }
    for (int i = 0; i <= n / 2; ++i) ASSERT_NEAR(spectrum[i], GetParam().expected, 1e-9) << i;
}

constexpr int kClear = -1, kOff = 0, kOn = 1, kTen = 2;

INSTANTIATE_TEST_SUITE_P(
    Modes, AveragingTest,
    ::testing::Values(
        AveragingCase{"OffAddsOffset", {{kOff, -40}}, -29},
        AveragingCase{"OffZeroPowerIsFloored", {{kOff, kZeroBlock}}, -179.9},
        AveragingCase{"OnFirstCallEqualsOff", {{kClear, 0}, {kOn, -40}}, -29},
        AveragingCase{"OnMeanOfTwo", {{kClear, 0}, {kOn, -40}, {kOn, -60}}, -39},
        AveragingCase{"OnFloorsAfterAveraging", {{kClear, 0}, {kOn, kZeroBlock}, {kOn, -20}}, -139},
        AveragingCase{"OnDivisorCountsOffCalls", {{kClear, 0}, {kOff, -40}, {kOn, -60}}, -19},
        AveragingCase{"TenFirstCallAfterClearIsItsOwnLevel", {{kClear, 0}, {kTen, -60}}, -49},
        AveragingCase{"TenWarmUpAveragesFilledSlots", {{kClear, 0}, {kTen, -60}, {kTen, -40}}, -39},
        AveragingCase{"TenFullRing", {{kClear, 0}, {kTen, -60, 20}}, -49},
        AveragingCase{"TenKeepsTheLastTwenty", {{kClear, 0}, {kTen, -60, 20}, {kTen, -40, 5}}, -44},
        AveragingCase{
            "TenSkipsSlotsPassedByOffCalls", {{kClear, 0}, {kOff, -40, 3}, {kTen, -60}}, -49},
        AveragingCase{"OtherModeKeepsLinearPower", {{3, 10 * std::log10(0.5)}}, 11.5},
        AveragingCase{"OtherModeZeroPower", {{3, kZeroBlock}}, 11}),
    [](const auto& info) { return info.param.name; });

TEST_F(SpectrumTest, ClearResetsRowsUpToItsCountOnly) {
    const double level = 10 * std::log10(2.0 / (512.0 * 512.0));  // unit impulse, n = 512
    samples[0] = 1.0;
    Run(512, kOn);
    Clear(128);
    Run(512, kOn);
    for (int i = 0; i <= 128; ++i) ASSERT_NEAR(spectrum[i], level + 11, 1e-9) << i;
    for (int i = 129; i <= 256; ++i) ASSERT_NEAR(spectrum[i], 2 * level + 11, 1e-9) << i;
}

class ClearOutOfRangeTest : public SpectrumTest, public ::testing::WithParamInterface<int> {};

TEST_P(ClearOutOfRangeTest, ClearsEveryRow) {
    const double level = 10 * std::log10(2.0 / (8192.0 * 8192.0));
    samples[0] = 1.0;
    Run(8192, kOn);
    Clear(GetParam());
    Run(8192, kOn);
    for (int i = 0; i <= 4096; ++i) ASSERT_NEAR(spectrum[i], level + 11, 1e-9) << i;
}

INSTANTIATE_TEST_SUITE_P(Counts, ClearOutOfRangeTest, ::testing::Values(-1, 9000, 16384));

}  // namespace
