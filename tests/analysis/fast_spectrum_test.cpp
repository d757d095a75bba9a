#include "analysis/fast_spectrum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>
#include <ostream>
#include <string>
#include <vector>

#include "analysis/analysis.h"
#include "analysis/spectrum_levels.h"

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

using LongComplex = std::complex<long double>;

// A radix-2 transform in long double with every twiddle from cosl and sinl of
// its own angle: some thousand times closer to the true spectrum than either chain.
void LongDoubleFft(std::vector<LongComplex>& x) {
    const std::size_t n = x.size();
    if (n == 1) return;
    std::vector<LongComplex> even(n / 2), odd(n / 2);
    for (std::size_t i = 0; i < n / 2; ++i) even[i] = x[2 * i], odd[i] = x[2 * i + 1];
    LongDoubleFft(even);
    LongDoubleFft(odd);
    const long double pi = 3.141592653589793238462643383279502884L;
    for (std::size_t k = 0; k < n / 2; ++k) {
        const long double angle = -2 * pi * static_cast<long double>(k) / n;
        const LongComplex t = LongComplex(std::cos(angle), std::sin(angle)) * odd[k];
        x[k] = even[k] + t;
        x[k + n / 2] = even[k] - t;
    }
}

// What either chain should give: the levels of the true spectrum, averaged and
// offset as the chains do it, and per entry how far a chain may miss them. A
// double transform misses every entry by up to some 1e-16 of the peak's
// amplitude, which is more than 1e-9 dB deep below the peak; so the allowance is
// 1e-9 dB or an amplitude error of 1e-15 of the peak, whichever is larger.
struct Reference {
    std::vector<std::vector<double>> levels;     // per call
    std::vector<std::vector<double>> allowance;  // dB, per call
};

Reference TrueLevels(const ChainCase& c) {
    constexpr double kLevelOffset = 11.0;
    const int size = c.n / 2 + 1;
    Reference ref;
    std::vector<long double> sums(size, 0.0L);
    std::vector<double> widest(size, 0.0);
    for (int call = 0; call < 4; ++call) {
        std::vector<double> block = Block(c, call);
        block.resize(kBufferSize, 0.0);
        if (c.window) ApplyHarrisWindow(block.data(), c.n);
        std::vector<LongComplex> x(block.begin(), block.begin() + c.n);
        LongDoubleFft(x);
        const long double scale = (1.0L / c.n) * 2.0L / c.n;
        std::vector<long double> power(size);
        for (int k = 0; k < size; ++k) power[k] = std::norm(x[k]) * scale;
        const long double peak = *std::max_element(power.begin(), power.end());
        std::vector<double> levels(size), allowance(size);
        for (int k = 0; k < size; ++k) {
            const long double level = 10 * std::log10(std::max(power[k], 1e-28L));
            const long double depth = 10 * std::log10(peak / std::max(power[k], 1e-300L));
            const double amplitudeError = 8.686 * 1e-15 * std::pow(10.0, double(depth) / 20);
            widest[k] = std::max({widest[k], 1e-9, amplitudeError});
            // Averaging "On", and "10" while its ring is filling, are the running mean.
            sums[k] += level;
            const long double mean = c.mode == 0 ? level : sums[k] / (call + 1);
            levels[k] = std::max(static_cast<double>(mean) + kLevelOffset, kLevelFloor);
            allowance[k] = c.mode == 0 ? std::max(1e-9, amplitudeError) : widest[k];
        }
        ref.levels.push_back(levels);
        ref.allowance.push_back(allowance);
    }
    return ref;
}

class FastChainTest : public ::testing::TestWithParam<ChainCase> {};

// Within 1e-9 dB of the exact chain wherever that chain is itself that close to
// the true spectrum, down to 60 dB below the peak; deeper, where the exact
// chain's twiddle recurrence misses by up to some 1e-7 dB, within the same
// allowance of the true spectrum as everywhere.
TEST_P(FastChainTest, LevelsMatchTheExactChainAndTheTrueSpectrum) {
    const ChainCase c = GetParam();
    const std::vector<Output> exact = RunChain(c, ComputeSpectrum);
    const std::vector<Output> fast = RunChain(c, ComputeSpectrumFast);
    const Reference truth = TrueLevels(c);
    int floored = 0;
    int compared = 0;
    for (int call = 0; call < 4; ++call) {
        const std::vector<double>& e = exact[call].spectrum;
        const std::vector<double>& f = fast[call].spectrum;
        const double peak = *std::max_element(e.begin(), e.end());
        for (int k = 0; k <= c.n / 2; ++k) {
            ASSERT_NEAR(f[k], truth.levels[call][k], truth.allowance[call][k])
                << "call " << call << " bin " << k;
            if (f[k] == kLevelFloor) ++floored;
            if (e[k] != kLevelFloor && f[k] != kLevelFloor && peak - e[k] <= 60.0) {
                ASSERT_NEAR(f[k], e[k], 1e-9) << "call " << call << " bin " << k;
                ++compared;
            }
        }
    }
    EXPECT_GT(compared, 0);
    // The constant block must reach the floor, or the floor went untested.
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

namespace {

// Levels for one call of the ring tests: a slope with a bump that moves.
void FillLevels(int n, int call) {
    double* levels = LevelBuffer();
    for (int k = 0; k <= n / 2; ++k)
        levels[k] = -150.0 + 0.013 * k + ((k + 7 * call) % 37 == 0 ? 90.0 + call : 0.0);
}

// Runs calls 0..count-1 of mode "10", each through the running sum when
// running(call), and returns every call's spectrum.
template <typename Running>
std::vector<std::vector<double>> RingCalls(int n, int count, Running running) {
    ResetAnalysisState();
    std::vector<std::vector<double>> out;
    std::vector<double> spectrum(kBufferSize, 0.0);
    for (int call = 0; call < count; ++call) {
        FillLevels(n, call);
        if (running(call)) {
            AverageLevelsRunning(spectrum.data(), n, 2);
        } else {
            AverageLevels(spectrum.data(), n, 2);
        }
        out.emplace_back(spectrum.begin(), spectrum.begin() + n / 2 + 1);
    }
    return out;
}

}  // namespace

// Over several turns of the ring, alone or mixed with exact calls (which make
// the running sum stale), the running mean stays on the full sum's.
TEST(FastChainStateTest, RunningRingMeanFollowsTheFullSum) {
    const int n = 1024;
    const auto exact = RingCalls(n, 67, [](int) { return false; });
    const auto alone = RingCalls(n, 67, [](int) { return true; });
    const auto mixed = RingCalls(n, 67, [](int call) { return call % 7 != 3; });
    for (int call = 0; call < 67; ++call) {
        for (int k = 0; k <= n / 2; ++k) {
            ASSERT_NEAR(alone[call][k], exact[call][k], 1e-11) << "call " << call << " bin " << k;
            ASSERT_NEAR(mixed[call][k], exact[call][k], 1e-11) << "call " << call << " bin " << k;
        }
    }
}
