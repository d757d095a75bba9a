#include <algorithm>
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

// The highest level of v[0..count-1] above `start`, or `start` when nothing
// exceeds it. The maximum is exact in any order, so it is taken lane-wise.
double HighestAbove(const double* v, int count, double start) {
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
    return best;
}

// The first entry of v[0..count-1] holding the highest level above `start`, as a
// scan from `start` with a strict > finds it; -1 when nothing exceeds `start`.
int FirstPeakAbove(const double* v, int count, double start) {
    const double best = HighestAbove(v, count, start);
    if (!(best > start)) return -1;
    int k = 0;
    while (v[k] != best) ++k;
    return k;
}

// The harmonic search looks at one range five times, with a few short spans
// blanked in between. Keeping the highest level of each run of kRun entries,
// a search looks at the runs and then inside one, and a blanking refreshes
// only the runs it touched. The entry found is the one a full scan finds.
class RunMaxima {
  public:
    static constexpr int kRun = 64;

    RunMaxima(const double* v, int begin, int end, double start)
        : v_(v), begin_(begin), end_(end), start_(start) {
        runs_ = begin < end ? (end - begin + kRun - 1) / kRun : 0;
        for (int r = 0; r < runs_; ++r) Update(r);
    }

    // As FirstPeakAbove over v[begin..end-1], as an index into v.
    int FirstPeak() const {
        const double best = HighestAbove(maxima_, runs_, start_);
        if (!(best > start_)) return -1;
        int r = 0;
        while (maxima_[r] != best) ++r;
        int k = begin_ + r * kRun;
        while (v_[k] != best) ++k;
        return k;
    }

    // After v[from..to] changed.
    void Changed(int from, int to) {
        if (to < begin_ || from >= end_ || runs_ == 0) return;
        const int first = (std::max(from, begin_) - begin_) / kRun;
        const int last = (std::min(to, end_ - 1) - begin_) / kRun;
        for (int r = first; r <= last; ++r) Update(r);
    }

  private:
    void Update(int r) {
        const int at = begin_ + r * kRun;
        maxima_[r] = HighestAbove(v_ + at, std::min(kRun, end_ - at), start_);
    }

    const double* v_;
    int begin_, end_;
    double start_;
    int runs_ = 0;
    double maxima_[kBufferSize / kRun + 1];
};

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
    RunMaxima runs(search, start, half, kHarmonicStart);
    for (int p = 0; p < 5; ++p) {
        if (start < half) {
            const int k = runs.FirstPeak();
            if (k >= 0) {
                state.harmonicBins[p] = k;
                state.harmonicLevels[p] = search[k];
                state.thdLevels[p + 1] = search[k];
            }
        }
        // The span m-w .. m+w-1; the part below entry 0 is dropped. The top end
        // stays below h + 80, well inside the buffer.
        const int m = state.harmonicBins[p];
        const int first = m - w < 0 ? 0 : m - w;
        for (int k = first; k <= m + w - 1; ++k) search[k] = kBlankLevel;
        runs.Changed(first, m + w - 1);
    }
}

double ComputeThd(MeasurementState& state) {
    double* a = state.thdLevels;
    for (int i = 0; i < 6; ++i) a[i] = std::pow(10.0, 0.05 * a[i]);
    const double s = a[1] * a[1] + a[2] * a[2] + a[3] * a[3] + a[4] * a[4] + a[5] * a[5];
    return 100.0 * std::sqrt(s) / a[0];
}
