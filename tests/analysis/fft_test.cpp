#include "analysis/fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

#include "analysis/analysis.h"

namespace {

using Complex = std::complex<long double>;

// Direct O(n^2) DFT in long double with exact twiddle angles (k*t reduced mod
// n), bins 0..bins-1 (all of them by default).
std::vector<Complex> NaiveDft(const std::vector<double>& re, const std::vector<double>& im,
                              int bins = 0) {
    const int n = static_cast<int>(re.size());
    if (bins == 0) bins = n;
    const long double pi = 3.141592653589793238462643383279502884L;
    std::vector<Complex> root(n);
    for (int t = 0; t < n; ++t)
        root[t] = Complex(std::cos(2 * pi * t / n), -std::sin(2 * pi * t / n));
    std::vector<Complex> out(bins);
    for (int k = 0; k < bins; ++k) {
        Complex sum = 0;
        for (int t = 0; t < n; ++t)
            sum += Complex(re[t], im[t]) * root[(static_cast<long>(k) * t) % n];
        out[k] = sum;
    }
    return out;
}

class FftTest : public ::testing::TestWithParam<int> {};

// Tolerance on the largest bin error, relative to the input's total magnitude.
// Rounding and the twiddle recurrence's drift stay below 3e-15 up to n = 8192;
// one wrong twiddle, sign or index moves a bin by about 1/n of that magnitude or more.
constexpr double kRelativeTolerance = 1e-13;

TEST_P(FftTest, MatchesNaiveDftOnRandomComplexInput) {
    const int n = GetParam();
    std::mt19937 rng(n);
    std::uniform_real_distribution<double> dist(-5.0, 5.0);
    std::vector<double> re(n), im(n);
    double magnitude = 0;
    for (int t = 0; t < n; ++t) {
        re[t] = dist(rng);
        im[t] = dist(rng);
        magnitude += std::hypot(re[t], im[t]);
    }
    const std::vector<Complex> expected = NaiveDft(re, im);

    ForwardFft(re.data(), im.data(), n);

    double worst = 0;
    for (int k = 0; k < n; ++k)
        worst = std::max(worst, static_cast<double>(std::abs(Complex(re[k], im[k]) - expected[k])));
    EXPECT_LE(worst, kRelativeTolerance * magnitude) << "n = " << n;
}

TEST_P(FftTest, PowerSpectrumIsScaledDftPowerOfBinsUpToHalf) {
    const int n = GetParam();
    ResetAnalysisState();
    std::mt19937 rng(n + 1);
    std::uniform_real_distribution<double> dist(-5.0, 5.0);
    std::vector<double> samples(n), zeros(n, 0.0), spectrum(kBufferSize, 0.0);
    for (double& s : samples) s = dist(rng);
    const std::vector<Complex> dft = NaiveDft(samples, zeros, n / 2 + 1);

    ComputeSpectrum(samples.data(), spectrum.data(), n, 0, false);

    ASSERT_EQ(LastPowerSpectrumSize(), n / 2 + 1);
    const double* power = LastPowerSpectrum();
    const long double h = 2.0L / (static_cast<long double>(n) * n);
    for (int k = 0; k <= n / 2; ++k) {
        const double expected = static_cast<double>(std::norm(dft[k]) * h);
        ASSERT_NEAR(power[k], expected, 1e-10 * (1 + expected)) << "n = " << n << ", k = " << k;
    }
}

// The power stage exactly as written down: copy, counter-form bit reversal,
// butterflies twiddle by twiddle with the recurrence, power times (1/n)*2/n.
std::vector<double> ReferencePower(const std::vector<double>& samples) {
    const int n = static_cast<int>(samples.size());
    std::vector<double> re = samples, im(n, 0.0);
    const double h = (1.0 / n) * 2.0 / n;
    const int m = static_cast<int>(std::log10(static_cast<double>(n)) / std::log10(2.0) + 0.1);
    int j = 0;
    for (int i = 0; i < n - 1; ++i) {
        if (i < j) {
            std::swap(re[i], re[j]);
            std::swap(im[i], im[j]);
        }
        int k = n / 2;
        while (k <= j) {
            j -= k;
            k /= 2;
        }
        j += k;
    }
    const double pi = 4.0 * std::atan(1.0);
    for (int stage = 1; stage <= m; ++stage) {
        const int le = static_cast<int>(std::pow(2.0, stage));
        const int le1 = le / 2;
        const double wRe = std::cos(pi / le1), wIm = -std::sin(pi / le1);
        double uRe = 1.0, uIm = 0.0;
        for (int g = 0; g < le1; ++g) {
            for (int i = g; i < n; i += le) {
                const int ip = i + le1;
                const double tRe = uRe * re[ip] - uIm * im[ip];
                const double tIm = uRe * im[ip] + uIm * re[ip];
                re[ip] = re[i] - tRe;
                im[ip] = im[i] - tIm;
                re[i] = re[i] + tRe;
                im[i] = im[i] + tIm;
            }
            const double nextRe = wRe * uRe - wIm * uIm;
            const double nextIm = uIm * wRe + wIm * uRe;
            uRe = nextRe;
            uIm = nextIm;
        }
    }
    std::vector<double> power(n / 2 + 1);
    for (int k = 0; k <= n / 2; ++k) power[k] = (re[k] * re[k] + im[k] * im[k]) * h;
    return power;
}

// The transform may reorder independent butterflies and keep tables, but the
// results must stay the same to the last bit.
TEST_P(FftTest, PowerSpectrumIsBitIdenticalToTheReferenceOrder) {
    const int n = GetParam();
    std::mt19937 rng(n + 2);
    std::uniform_real_distribution<double> dist(-5.0, 5.0);
    std::vector<double> samples(n), spectrum(kBufferSize);
    for (double& s : samples) s = dist(rng);
    const std::vector<double> expected = ReferencePower(samples);

    ComputeSpectrum(samples.data(), spectrum.data(), n, 0, false);

    ASSERT_EQ(LastPowerSpectrumSize(), n / 2 + 1);
    for (int k = 0; k <= n / 2; ++k) ASSERT_EQ(LastPowerSpectrum()[k], expected[k]) << "k = " << k;
}

INSTANTIATE_TEST_SUITE_P(EveryBlockLength, FftTest,
                         ::testing::Values(128, 256, 512, 1024, 2048, 4096, 8192));

}  // namespace
