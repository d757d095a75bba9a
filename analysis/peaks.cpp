#include <cmath>

#include "analysis/analysis.h"
#include "analysis/fft.h"

namespace {

constexpr int kFirstFundamentalBin = 4;
constexpr int kHarmonicOffset = 10;  // further peaks start this many entries above the fundamental
constexpr double kFundamentalStart = -180.0;
constexpr double kHarmonicStart = -179.0;
constexpr double kBlankLevel = -150.0;

}  // namespace

void FindPeaks(MeasurementState& state) {
    const int n = state.sampleCount;
    if (!IsTransformLength(n)) return;
    const int half = n / 2;
    const double* spectrum = state.spectrum;
    double* search = state.searchSpectrum;

    for (int k = 0; k < half; ++k) search[k] = spectrum[k];

    // thdLevels[0] starts with the fundamental too, so it never holds a stale
    // value when the range below is empty.
    state.fundamentalLevel = kFundamentalStart;
    state.fundamentalBin = 0;
    state.thdLevels[0] = kFundamentalStart;
    if (half >= kFirstFundamentalBin) {
        for (int j = kFirstFundamentalBin; j <= half; ++j) {
            if (spectrum[j] > state.fundamentalLevel) {
                state.fundamentalLevel = spectrum[j];
                state.thdLevels[0] = spectrum[j];
                state.fundamentalBin = j;
            }
        }
    }

    const int start = state.fundamentalBin + kHarmonicOffset;
    const int w = n / 100;
    for (int p = 0; p < 5; ++p) {
        state.harmonicBins[p] = 1;
        state.thdLevels[p + 1] = kHarmonicStart;
    }
    for (int p = 0; p < 5; ++p) {
        double best = kHarmonicStart;
        for (int k = start; k < half; ++k) {
            if (search[k] > best) {
                best = search[k];
                state.harmonicBins[p] = k;
                state.harmonicLevels[p] = best;
                state.thdLevels[p + 1] = best;
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
