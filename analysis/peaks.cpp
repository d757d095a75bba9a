#include <cmath>
#include <cstring>

#include "analysis/analysis.h"
#include "analysis/fft.h"

namespace {

constexpr int kFirstFundamentalBin = 4;
constexpr int kHarmonicOffset = 10;  // further peaks start this many entries above the fundamental
constexpr double kFundamentalStart = -180.0;
constexpr double kHarmonicStart = -179.0;
constexpr double kBlankLevel = -150.0;

// Two levels side by side; GCC and Clang map ?: on these to packed max.
using Pair = double __attribute__((vector_size(16)));

// The first entry of v[0..count-1] holding the highest level above `start`, as a
// scan from `start` with a strict > finds it; -1 when nothing exceeds `start`.
// The maximum is exact in any order, so it is taken lane-wise first and its
// first position looked up after.
int FirstPeakAbove(const double* v, int count, double start) {
    Pair m0 = {start, start}, m1 = m0, m2 = m0, m3 = m0;
    int k = 0;
    for (; k + 8 <= count; k += 8) {
        Pair x0, x1, x2, x3;
        std::memcpy(&x0, v + k, sizeof x0);
        std::memcpy(&x1, v + k + 2, sizeof x1);
        std::memcpy(&x2, v + k + 4, sizeof x2);
        std::memcpy(&x3, v + k + 6, sizeof x3);
        m0 = x0 > m0 ? x0 : m0;
        m1 = x1 > m1 ? x1 : m1;
        m2 = x2 > m2 ? x2 : m2;
        m3 = x3 > m3 ? x3 : m3;
    }
    double best = start;
    for (const Pair& m : {m0, m1, m2, m3}) {
        best = m[0] > best ? m[0] : best;
        best = m[1] > best ? m[1] : best;
    }
    for (; k < count; ++k) best = v[k] > best ? v[k] : best;
    if (!(best > start)) return -1;
    for (k = 0; v[k] != best; ++k) {
    }
    return k;
}

}  // namespace

void FindPeaks(MeasurementState& state) {
    const int n = state.sampleCount;
    if (!IsTransformLength(n)) return;
    const int half = n / 2;
    const double* spectrum = state.spectrum;
    double* search = state.searchSpectrum;

    std::memcpy(search, spectrum, sizeof(double) * half);

    // thdLevels[0] starts with the fundamental too, so it never holds a stale
    // value when the range below is empty.
    state.fundamentalLevel = kFundamentalStart;
    state.fundamentalBin = 0;
    state.thdLevels[0] = kFundamentalStart;
    if (half >= kFirstFundamentalBin) {
        const int count = half - kFirstFundamentalBin + 1;
        const int j = FirstPeakAbove(spectrum + kFirstFundamentalBin, count, kFundamentalStart);
        if (j >= 0) {
            state.fundamentalBin = kFirstFundamentalBin + j;
            state.fundamentalLevel = spectrum[state.fundamentalBin];
            state.thdLevels[0] = state.fundamentalLevel;
        }
    }

    const int start = state.fundamentalBin + kHarmonicOffset;
    const int w = n / 100;
    for (int p = 0; p < 5; ++p) {
        state.harmonicBins[p] = 1;
        state.thdLevels[p + 1] = kHarmonicStart;
    }
    for (int p = 0; p < 5; ++p) {
        if (start < half) {
            const int k = FirstPeakAbove(search + start, half - start, kHarmonicStart);
            if (k >= 0) {
                state.harmonicBins[p] = start + k;
                state.harmonicLevels[p] = search[start + k];
                state.thdLevels[p + 1] = search[start + k];
            }
        }
        // The span m-w .. m+w-1; the part below entry 0 is dropped. The top end
        // stays below h + 80, well inside the buffer.
        const int m = state.harmonicBins[p];
        const int first = m - w < 0 ? 0 : m - w;
        for (int k = first; k <= m + w - 1; ++k) search[k] = kBlankLevel;
    }
}

double ComputeThd(MeasurementState& state) {
    double* a = state.thdLevels;
    for (int i = 0; i < 6; ++i) a[i] = std::pow(10.0, 0.05 * a[i]);
    const double s = a[1] * a[1] + a[2] * a[2] + a[3] * a[3] + a[4] * a[4] + a[5] * a[5];
    return 100.0 * std::sqrt(s) / a[0];
}
