// Distortion figures against synthetic blocks whose figures are known in closed
// form. The power spectra come from a direct DFT here, so the metrics are checked
// independently of the FFT; one test runs the real analysis path as well.
#include "analysis/metrics.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "analysis/analysis.h"

namespace {

constexpr double kPi = 3.14159265358979323846;

struct Tone {
    double cycles;  // per block, i.e. the entry it falls on
    double amplitude;
    double phase = 0.0;
};

std::vector<double> MakeBlock(int n, const std::vector<Tone>& tones, double dc = 0.0) {
    std::vector<double> x(n, dc);
    for (const Tone& t : tones) {
        for (int i = 0; i < n; ++i) {
            x[i] += t.amplitude * std::sin(2 * kPi * t.cycles * i / n + t.phase);
        }
    }
    return x;
}

void Window(std::vector<double>& x) {
    const int n = static_cast<int>(x.size());
    for (int i = 0; i < n; ++i) {
        const double a = 2 * kPi * i / n;
        x[i] *=
            0.35875 - 0.48829 * std::cos(a) + 0.14128 * std::cos(2 * a) - 0.01168 * std::cos(3 * a);
    }
}

// One-sided power with the analysis' scale 2/n^2 on every entry 0..n/2.
std::vector<double> DirectPower(std::vector<double> x, bool windowed) {
    const int n = static_cast<int>(x.size());
    if (windowed) Window(x);
    std::vector<double> c(n), s(n);
    for (int i = 0; i < n; ++i) {
        c[i] = std::cos(2 * kPi * i / n);
        s[i] = std::sin(2 * kPi * i / n);
    }
    std::vector<double> p(n / 2 + 1);
    for (int k = 0; k <= n / 2; ++k) {
        double re = 0, im = 0;
        for (int t = 0; t < n; ++t) {
            const int idx = static_cast<int>((static_cast<long long>(k) * t) % n);
            re += x[t] * c[idx];
            im -= x[t] * s[idx];
        }
        p[k] = (re * re + im * im) * 2.0 / n / n;
    }
    return p;
}

DistortionMetrics Measure(const std::vector<double>& block, bool windowed, int bin,
                          double rate = 1000.0) {
    const std::vector<double> p = DirectPower(block, windowed);
    return ComputeDistortionMetrics(p.data(), static_cast<int>(block.size()), rate, windowed, bin);
}

// The instrument's quantiser and the cycle's decoding: counts, then volts again.
double Quantise(double v, int bits) {
    const double full = bits == 10 ? 1023.0 : 255.0;
    const double counts = std::round((std::clamp(v, -5.0, 5.0) / 2 + 2.5) * full / 5.0);
    return ScaleToInput(counts * 5.0 / full);
}

class MetricsWindow : public ::testing::TestWithParam<bool> {};

TEST_P(MetricsWindow, SecondHarmonicAt40DbGivesOnePercent) {
    const bool windowed = GetParam();
    const int n = 1024;
    const auto m = Measure(MakeBlock(n, {{50, 1.0}, {100, 0.01, 0.3}}), windowed, 50, 1024.0);
    ASSERT_TRUE(m.valid);
    EXPECT_EQ(m.lobeHalfWidth, windowed ? 3 : 1);
    EXPECT_NEAR(m.fundamentalFrequency, 50.0, 1e-6);
    EXPECT_EQ(m.harmonicBins[0], 100);
    EXPECT_NEAR(m.thdPercent, 1.000, 0.0005);
    EXPECT_NEAR(m.thdDb, -40.0, 0.01);
    EXPECT_NEAR(m.sfdrDb, 40.0, 0.01);
    EXPECT_EQ(m.spurBin, 100);
    // No noise besides rounding: THD+N is the THD and SNR is far above it.
    EXPECT_NEAR(m.thdnPercent, 1.000, 0.0005);
    EXPECT_NEAR(m.sinadDb, 40.0, 0.01);
    EXPECT_GT(m.snrDb, 150.0);
}

TEST_P(MetricsWindow, ThirdHarmonicAliasedBelowTheFundamental) {
    const bool windowed = GetParam();
    const int n = 1024;
    // 3 x 400 = 1200 entries folds to 1200 - 1024 = 176; 2 x 400 folds to 224.
    const auto m = Measure(MakeBlock(n, {{400, 2.0}, {1200, 0.02}}), windowed, 400);
    ASSERT_TRUE(m.valid);
    EXPECT_EQ(m.harmonicBins[0], 224);
    EXPECT_EQ(m.harmonicBins[1], 176);
    EXPECT_NEAR(m.harmonicPowers[1] / m.fundamentalPower, 1e-4, 1e-7);
    EXPECT_NEAR(m.thdPercent, 1.000, 0.0005);
    EXPECT_EQ(m.spurBin, 176);
}

TEST_P(MetricsWindow, WhiteNoiseOfKnownRmsGivesItsSnr) {
    const bool windowed = GetParam();
    const int n = 4096;
    std::vector<double> x = MakeBlock(n, {{301, 1.0}});
    std::mt19937 rng(7);
    const double rms = 0.01;  // tone power 0.5 over 1e-4: SNR 36.99 dB
    std::normal_distribution<double> noise(0.0, rms);
    for (double& v : x) v += noise(rng);
    const auto m = Measure(x, windowed, 301);
    ASSERT_TRUE(m.valid);
    const double expected = 10 * std::log10(0.5 / (rms * rms));
    // 2048 entries of noise estimate its power within a few percent (0.3 dB).
    EXPECT_NEAR(m.snrDb, expected, 0.3);
    EXPECT_NEAR(m.sinadDb, expected, 0.3);
    EXPECT_LT(m.sinadDb, m.snrDb);  // the harmonics' entries hold noise too
    EXPECT_NEAR(m.thdnPercent, 100 * rms / std::sqrt(0.5), 0.05);
    EXPECT_LT(m.thdPercent, m.thdnPercent / 5);
}

INSTANTIATE_TEST_SUITE_P(WindowOnOff, MetricsWindow, ::testing::Bool(),
                         [](const auto& info) { return info.param ? "Harris" : "NoWindow"; });

struct EnobCase {
    int bits;
    bool windowed;
    double expected;  // log2 of the code count over the full scale
};

class MetricsEnob : public ::testing::TestWithParam<EnobCase> {};

TEST_P(MetricsEnob, IdealQuantisedFullScaleTone) {
    const EnobCase c = GetParam();
    const int n = 4096;
    // 1021 cycles, prime to n, so the quantisation error spreads over every entry.
    std::vector<double> x = MakeBlock(n, {{1021, 4.999, 0.1}});
    for (double& v : x) v = Quantise(v, c.bits);
    const auto m = Measure(x, c.windowed, 1021);
    ASSERT_TRUE(m.valid);
    EXPECT_NEAR(m.enob, c.expected, 0.1);
    EXPECT_NEAR(m.enob, (m.sinadDb - 1.76) / 6.02, 1e-12);
}

INSTANTIATE_TEST_SUITE_P(Bits, MetricsEnob,
                         ::testing::Values(EnobCase{10, false, 10 + std::log2(1023.0 / 1024)},
                                           EnobCase{10, true, 10 + std::log2(1023.0 / 1024)},
                                           EnobCase{8, false, 8 + std::log2(255.0 / 256)},
                                           EnobCase{8, true, 8 + std::log2(255.0 / 256)}));

TEST(Metrics, SpurThatIsNoHarmonicSetsSfdrAndCountsAsNoise) {
    const int n = 1024;
    const auto m =
        Measure(MakeBlock(n, {{40, 1.0}, {80, 0.01}, {333, std::sqrt(0.001)}}), true, 40);
    ASSERT_TRUE(m.valid);
    EXPECT_EQ(m.spurBin, 333);
    EXPECT_NEAR(m.sfdrDb, 30.0, 0.01);
    EXPECT_NEAR(m.thdPercent, 1.000, 0.0005);
    EXPECT_NEAR(m.snrDb, 30.0, 0.01);
    EXPECT_NEAR(m.sinadDb, -10 * std::log10(1e-3 + 1e-4), 0.01);
}

TEST(Metrics, HarmonicsOnDcOrOnTheFundamentalCountNothing) {
    const int n = 1024;
    // At a quarter of the rate, harmonic 3 folds onto the fundamental, 4 onto DC
    // and 2 onto n/2; a DC offset must not be taken for distortion.
    const auto m = Measure(MakeBlock(n, {{256, 1.0}}, 0.5), true, 256);
    ASSERT_TRUE(m.valid);
    EXPECT_EQ(m.harmonicBins[1], 256);
    EXPECT_EQ(m.harmonicBins[2], 0);
    EXPECT_EQ(m.harmonicPowers[1], 0.0);
    EXPECT_EQ(m.harmonicPowers[2], 0.0);
    EXPECT_LT(m.thdDb, -200.0);
    EXPECT_GT(m.snrDb, 200.0);
    // The tone's power times the window's mean square a0^2 + (a1^2 + a2^2 + a3^2) / 2.
    const double windowSquare =
        0.35875 * 0.35875 + (0.48829 * 0.48829 + 0.14128 * 0.14128 + 0.01168 * 0.01168) / 2;
    EXPECT_NEAR(m.fundamentalPower, 0.5 * windowSquare, 1e-9);
}

TEST(Metrics, EntryNOverTwoCountsHalfSoNoiseIsTheMeanSquare) {
    const int n = 256;
    // A tone at the fundamental plus an alternating sequence (all of it in entry
    // n/2): its mean square is c^2, which the transform reports as 2 c^2.
    std::vector<double> x = MakeBlock(n, {{20, 1.0}});
    for (int i = 0; i < n; ++i) x[i] += (i % 2 ? -0.1 : 0.1);
    const auto m = Measure(x, false, 20);
    ASSERT_TRUE(m.valid);
    EXPECT_NEAR(m.noisePower, 0.01, 1e-9);
    EXPECT_NEAR(m.snrDb, 10 * std::log10(0.5 / 0.01), 1e-6);
}

struct InvalidCase {
    const char* name;
    int n;
    int bin;
    double rate;
    double level;
};

class MetricsInvalid : public ::testing::TestWithParam<InvalidCase> {};

TEST_P(MetricsInvalid, RefusedWithoutFigures) {
    const InvalidCase c = GetParam();
    std::vector<double> p(kMaxSamples + 1, c.level);
    const auto m = ComputeDistortionMetrics(p.data(), c.n, c.rate, true, c.bin);
    EXPECT_FALSE(m.valid);
    EXPECT_EQ(m.thdPercent, 0.0);
    EXPECT_EQ(m.snrDb, 0.0);
}

INSTANTIATE_TEST_SUITE_P(Cases, MetricsInvalid,
                         ::testing::Values(InvalidCase{"NotPowerOfTwo", 1000, 10, 1000, 1},
                                           InvalidCase{"TooLarge", 16384, 10, 1000, 1},
                                           InvalidCase{"BinZero", 1024, 0, 1000, 1},
                                           InvalidCase{"BinAboveHalf", 1024, 513, 1000, 1},
                                           InvalidCase{"NoRate", 1024, 10, 0, 1},
                                           InvalidCase{"SilentBlock", 1024, 10, 1000, 0},
                                           InvalidCase{"NotANumber", 1024, 10, 1000, std::nan("")}),
                         [](const auto& info) { return info.param.name; });

TEST(Metrics, StateOverloadUsesTheLastTransformedBlock) {
    ResetAnalysisState();
    static MeasurementState state;
    state.sampleCount = 512;
    state.sampleRate = 2000;
    state.windowMode = 0;
    state.averagingMode = 1;
    const std::vector<double> block = MakeBlock(512, {{37, 1.5}, {74, 0.015}});
    // An earlier, different block goes into the average; the figures are the last one's.
    const std::vector<double> other = MakeBlock(512, {{37, 1.5}, {74, 0.15}});
    for (const auto* b : {&other, &block}) {
        std::copy(b->begin(), b->end(), state.samples);
        ApplyHarrisWindow(state.samples, 512);
        ComputeSpectrum(state.samples, state.spectrum, 512, state.averagingMode, false);
    }
    FindPeaks(state);
    ASSERT_EQ(state.fundamentalBin, 37);
    const auto m = ComputeDistortionMetrics(state);
    const auto direct = Measure(block, true, 37, 2000.0);
    ASSERT_TRUE(m.valid);
    EXPECT_NEAR(m.thdPercent, 1.000, 0.0005);
    EXPECT_NEAR(m.fundamentalPower, direct.fundamentalPower, 1e-9);
    EXPECT_NEAR(m.harmonicPower, direct.harmonicPower, 1e-12);
    EXPECT_NEAR(m.fundamentalFrequency, 37 * 2000.0 / 512, 1e-6);

    state.sampleCount = 1024;  // no block of this size was transformed
    EXPECT_FALSE(ComputeDistortionMetrics(state).valid);
}

}  // namespace
