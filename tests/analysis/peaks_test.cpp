#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "analysis/analysis.h"

namespace {

class PeaksTest : public ::testing::Test {
  protected:
    void SetUp() override { state = std::make_unique<MeasurementState>(); }

    // A flat floor over entries 0..n/2 with the given peaks on top.
    void Spectrum(int n, double floor, const std::vector<std::pair<int, double>>& peaks) {
        state->sampleCount = n;
        for (int i = 0; i <= n / 2; ++i) state->spectrum[i] = floor;
        for (const auto& [bin, level] : peaks) state->spectrum[bin] = level;
    }

    std::unique_ptr<MeasurementState> state;
};

struct PeakCase {
    std::string name;
    int n;
    double floor;
    std::vector<std::pair<int, double>> peaks;
    int fundamentalBin;
    std::vector<std::pair<int, double>> harmonics;  // bin and level, in the order found
};
void PrintTo(const PeakCase& c, std::ostream* os) {
    *os << c.name;
}

const std::vector<std::pair<int, double>> kNone(5, {1, -179.0});

class FindPeaksTest : public PeaksTest, public ::testing::WithParamInterface<PeakCase> {};

TEST_P(FindPeaksTest, FindsFundamentalAndFurtherPeaksInOrder) {
    const PeakCase& c = GetParam();
    Spectrum(c.n, c.floor, c.peaks);
    FindPeaks(*state);
    EXPECT_EQ(state->fundamentalBin, c.fundamentalBin);
    EXPECT_EQ(state->fundamentalLevel, state->spectrum[c.fundamentalBin]);
    EXPECT_EQ(state->thdLevels[0], state->fundamentalLevel);
    for (int p = 0; p < 5; ++p) {
        EXPECT_EQ(state->harmonicBins[p], c.harmonics[p].first) << "peak " << p;
        EXPECT_EQ(state->thdLevels[p + 1], c.harmonics[p].second) << "peak " << p;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FindPeaksTest,
    ::testing::Values(
        // w = 10: after 200 the span 190..209 is blanked, so 210 (= m + w) is
        // found and 190 (= m - w) is not.
        PeakCase{"BlankedSpanIsAsymmetric",
                 1024,
                 -140.0,
                 {{50, 0.0},
                  {200, -20.0},
                  {210, -30.0},
                  {190, -25.0},
                  {300, -40.0},
                  {400, -50.0},
                  {450, -60.0}},
                 50,
                 {{200, -20.0}, {210, -30.0}, {300, -40.0}, {400, -50.0}, {450, -60.0}}},
        // Below -150 the blanked entries are the highest: the lowest one at or
        // above the start comes back; entries below the start never count.
        PeakCase{"BlankedEntriesWinOverALowFloor",
                 1024,
                 -160.0,
                 {{2, 10.0}, {50, 0.0}, {55, -1.0}, {59, -2.0}, {65, -70.0}},
                 50,
                 {{65, -70.0}, {60, -150.0}, {60, -150.0}, {60, -150.0}, {60, -150.0}}},
        PeakCase{"FundamentalSearchIncludesEntryHalf", 256, -140.0, {{128, 0.0}}, 128, kNone},
        PeakCase{
            "NoSearchWhenStartReachesHalf", 256, -140.0, {{120, 0.0}, {127, -10.0}}, 120, kNone},
        PeakCase{"TiesGoToTheLowestEntry",
                 128,
                 -140.0,
                 {{10, -3.0}, {20, -3.0}},
                 10,
                 {{20, -3.0}, {21, -140.0}, {22, -140.0}, {23, -140.0}, {24, -140.0}}}),
    [](const auto& info) { return info.param.name; });

TEST_F(PeaksTest, NothingFoundKeepsHarmonicLevelsAndClipsTheBlankingAtZero) {
    // Fundamental at 100, nothing above -179.0 from 110 up: every search gives
    // m = 1, and with w = 81 its span -80..81 starts below entry 0.
    Spectrum(8192, -179.9, {{100, 0.0}});
    for (double& level : state->harmonicLevels) level = 42.0;
    for (int i = kBufferSize - 100; i < kBufferSize; ++i) state->spectrum[i] = 7.0;
    FindPeaks(*state);
    for (int p = 0; p < 5; ++p) {
        EXPECT_EQ(state->harmonicBins[p], 1);
        EXPECT_EQ(state->harmonicLevels[p], 42.0);
        EXPECT_EQ(state->thdLevels[p + 1], -179.0);
    }
    for (int i = 0; i <= 81; ++i) ASSERT_EQ(state->searchSpectrum[i], -150.0) << i;
    EXPECT_EQ(state->searchSpectrum[82], -179.9);
    // spectrum's tail sits just below searchSpectrum in the record
    for (int i = kBufferSize - 100; i < kBufferSize; ++i) ASSERT_EQ(state->spectrum[i], 7.0) << i;
}

TEST_F(PeaksTest, CountOutsideTheTableChangesNothing) {
    Spectrum(128, -100.0, {{30, 0.0}});
    state->sampleCount = 100;
    state->fundamentalBin = 77;
    FindPeaks(*state);
    EXPECT_EQ(state->fundamentalBin, 77);
    EXPECT_EQ(state->searchSpectrum[0], 0.0);
}

TEST_F(PeaksTest, AllZeroBlockThroughTheChain) {
    ResetAnalysisState();
    state->sampleCount = 128;
    ComputeSpectrum(state->samples, state->spectrum, 128, 0, false);
    FindPeaks(*state);
    EXPECT_EQ(state->fundamentalBin, 4);
    EXPECT_EQ(state->fundamentalLevel, -179.9);
    for (int p = 0; p < 5; ++p) EXPECT_EQ(state->harmonicBins[p], 1);
    EXPECT_EQ(state->searchSpectrum[0], -150.0);
    EXPECT_EQ(state->searchSpectrum[1], -150.0);
    EXPECT_EQ(state->searchSpectrum[2], -179.9);
    EXPECT_NEAR(ComputeThd(*state), 248.02, 0.005);
}

struct ThdCase {
    std::string name;
    double levels[6];
    double expected;
    double tolerance;
};
void PrintTo(const ThdCase& c, std::ostream* os) {
    *os << c.name;
}

class ThdTest : public PeaksTest, public ::testing::WithParamInterface<ThdCase> {};

TEST_P(ThdTest, PercentFromLevels) {
    const ThdCase& c = GetParam();
    std::copy(std::begin(c.levels), std::end(c.levels), state->thdLevels);
    EXPECT_NEAR(ComputeThd(*state), c.expected, c.tolerance);
    EXPECT_NEAR(state->thdLevels[0], std::pow(10.0, 0.05 * c.levels[0]), 1e-15);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, ThdTest,
    ::testing::Values(
        ThdCase{"OnePeakTwentyDbDown", {0, -20, -179, -179, -179, -179}, 10.000, 0.0005},
        ThdCase{"TwoPeaks", {0, -6, -12, -179, -179, -179}, 56.06, 0.005},
        ThdCase{"NoPeakFound", {0, -179, -179, -179, -179, -179}, 2.51e-7, 0.005e-7},
        ThdCase{
            "OffsetCancels", {11, -9, -179 + 11, -179 + 11, -179 + 11, -179 + 11}, 10.000, 0.0005}),
    [](const auto& info) { return info.param.name; });

}  // namespace
