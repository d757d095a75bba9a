#include "analysis/fast_spectrum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <ostream>
#include <string>
#include <vector>

#include "analysis/analysis.h"

namespace {

constexpr double kLevelFloor = -179.9;

enum class Signal { SineAndNoise, Dc, FullScale };

struct ChainCase {
    int n;
    int bits;
    Signal signal;
    bool window;
    int mode;
};

void PrintTo(const ChainCase& c, std::ostream* os) {
    const char* signal[] = {"sine+noise", "dc", "full-scale"};
    *os << "n=" << c.n << " bits=" << c.bits << " " << signal[static_cast<int>(c.signal)]
        << (c.window ? " window" : " no-window") << " mode=" << c.mode;
}

// A block of counts as the instrument sends it, in volts over +-5 V: a tone
// between bins with two harmonics and noise, a constant count, or a tone
// driven past both rails. `call` shifts the phase and the noise, so the
// averages see different blocks.
std::vector<double> Block(const ChainCase& c, int call) {
    const int top = (1 << c.bits) - 1;
    const double mid = top / 2.0;
    const double volts = 10.0 / (top + 1);
    const double pi = 4.0 * std::atan(1.0);
    unsigned noise = 2463534242u + 977u * call;
    std::vector<double> block(c.n);
    for (int t = 0; t < c.n; ++t) {
        noise ^= noise << 13, noise ^= noise >> 17, noise ^= noise << 5;
        const double phase = 2 * pi * (0.1037 * t + 0.07 * call);
        double count = mid;
        switch (c.signal) {
            case Signal::SineAndNoise:
                count += 0.45 * top * std::sin(phase) + 0.004 * top * std::sin(2 * phase) +
                         0.001 * top * std::sin(3 * phase) + 3.0 * (noise / 4294967296.0 - 0.5);
                break;
            case Signal::Dc:
                count = 0.31 * top + call;
                break;
            case Signal::FullScale:
                count += 0.8 * top * std::sin(phase);
                break;
        }
        count = std::round(count);
        count = count < 0 ? 0 : (count > top ? top : count);
        block[t] = (count - mid) * volts;
    }
    return block;
}

struct Output {
    std::vector<double> spectrum;
    std::vector<double> power;
};

// Four calls of one chain from a cleared state.
std::vector<Output> RunChain(const ChainCase& c,
                             void (*spectrum)(const double*, double*, int, int, bool)) {
    ResetAnalysisState();
    std::vector<double> samples(kBufferSize, 0.0);
    std::vector<double> out(kBufferSize, 0.0);
    spectrum(samples.data(), out.data(), c.n, 1, true);
    std::vector<Output> calls;
    for (int call = 0; call < 4; ++call) {
        const std::vector<double> block = Block(c, call);
        std::copy(block.begin(), block.end(), samples.begin());
        if (c.window) ApplyHarrisWindow(samples.data(), c.n);
        spectrum(samples.data(), out.data(), c.n, c.mode, false);
        const double* power = LastPowerSpectrum();
        EXPECT_EQ(LastPowerSpectrumSize(), c.n / 2 + 1);
        calls.push_back({std::vector<double>(out.begin(), out.begin() + c.n / 2 + 1),
                         std::vector<double>(power, power + c.n / 2 + 1)});
    }
    return calls;
}

class FastChainTest : public ::testing::TestWithParam<ChainCase> {};

TEST_P(FastChainTest, LevelsAndPowerMatchTheExactChain) {
    const ChainCase c = GetParam();
    const std::vector<Output> exact = RunChain(c, ComputeSpectrum);
    const std::vector<Output> fast = RunChain(c, ComputeSpectrumFast);
    int floored = 0;
    for (int call = 0; call < 4; ++call) {
        for (int k = 0; k <= c.n / 2; ++k) {
            const double e = exact[call].spectrum[k], f = fast[call].spectrum[k];
            // A floored entry is the floor constant in both.
            if (e == kLevelFloor || f == kLevelFloor) {
                ASSERT_EQ(f, e) << "call " << call << " bin " << k;
                ++floored;
            } else {
                ASSERT_NEAR(f, e, 1e-9) << "call " << call << " bin " << k;
            }
            // The power comes from the same transform, so it is the same to the bit.
            ASSERT_EQ(fast[call].power[k], exact[call].power[k]) << "call " << call << " bin " << k;
        }
    }
    // The constant block must reach the floor, or the floor rule went untested.
    if (c.signal == Signal::Dc && c.window && c.mode == 0) {
        EXPECT_GT(floored, 0);
    }
}

std::vector<ChainCase> Cases() {
    std::vector<ChainCase> cases;
    for (int n = 128; n <= 8192; n *= 2)
        for (int bits : {8, 10})
            for (Signal signal : {Signal::SineAndNoise, Signal::Dc, Signal::FullScale})
                for (bool window : {false, true})
                    for (int mode : {0, 1, 2}) cases.push_back({n, bits, signal, window, mode});
    return cases;
}

INSTANTIATE_TEST_SUITE_P(LengthsSignalsModes, FastChainTest, ::testing::ValuesIn(Cases()));

// The fast chain shares the exact chain's averages: a clear through either
// restarts them, and calls through either count.
TEST(FastChainStateTest, SharesTheAveragesWithTheExactChain) {
    const ChainCase c{1024, 10, Signal::SineAndNoise, true, 1};
    std::vector<double> samples(kBufferSize, 0.0), mixed(kBufferSize), exact(kBufferSize);
    auto call = [&](int i, void (*spectrum)(const double*, double*, int, int, bool),
                    std::vector<double>& out) {
        const std::vector<double> block = Block(c, i);
        std::copy(block.begin(), block.end(), samples.begin());
        spectrum(samples.data(), out.data(), c.n, c.mode, false);
    };
    ResetAnalysisState();
    call(0, ComputeSpectrum, exact);
    call(1, ComputeSpectrum, exact);
    ResetAnalysisState();
    call(5, ComputeSpectrum, mixed);
    ComputeSpectrumFast(samples.data(), mixed.data(), c.n, c.mode, true);
    call(0, ComputeSpectrumFast, mixed);
    call(1, ComputeSpectrum, mixed);
    for (int k = 0; k <= c.n / 2; ++k) ASSERT_NEAR(mixed[k], exact[k], 1e-9) << "bin " << k;
}

}  // namespace
