#include "analysis/fast_spectrum.h"

#include <cmath>
#include <cstdint>
#include <cstring>

#include "analysis/analysis.h"
#include "analysis/fft.h"
#include "analysis/real_fft.h"
#include "analysis/spectrum_levels.h"
#include "analysis/wide_vectors.h"

namespace {

constexpr double kPowerFloor = 1e-28;  // the exact chain's amplitude floor 1e-14, squared

// Through memcpy rather than std::bit_cast: GCC 12 vectorises only the former.
inline std::uint64_t ToBits(double x) {
    std::uint64_t bits;
    std::memcpy(&bits, &x, sizeof bits);
    return bits;
}

inline double FromBits(std::uint64_t bits) {
    double x;
    std::memcpy(&x, &bits, sizeof x);
    return x;
}

// 10 log10(p) for p >= kPowerFloor: p = 2^e m with m in [sqrt(1/2), sqrt(2)),
// ln m = 2 atanh(s) with s = (m - 1) / (m + 1), |s| < 0.172, from its series
// to s^13 (the rest is below 5e-13, so the level is off by under 3e-12 dB).
// Integer and floating operations only, so the loop vectorises.
PELKOR_WIDE_VECTORS void Decibels(const double* __restrict power, double* __restrict level,
                                  int size) {
    constexpr std::uint64_t kOne = 0x3ff0000000000000ULL;
    constexpr std::uint64_t kShift = kOne - 0x3fe6a09e667f3bcdULL;  // 1.0 less sqrt(1/2)
    constexpr std::uint64_t kTwo52 = 0x4330000000000000ULL;         // 2^52
    constexpr double kLn2 = 0.6931471805599453094;
    constexpr double kDbPerNeper = 4.342944819032518277;  // 10 / ln 10
    for (int i = 0; i < size; ++i) level[i] = power[i] < kPowerFloor ? kPowerFloor : power[i];
    for (int i = 0; i < size; ++i) {
        const std::uint64_t bits = ToBits(level[i]);
        const std::uint64_t field = (bits + kShift) >> 52;  // biased exponent of 2^e
        const double m = FromBits(bits - (field << 52) + kOne);
        const double e = (FromBits(field | kTwo52) - 4503599627370496.0) - 1023.0;
        const double s = (m - 1.0) / (m + 1.0);
        const double s2 = s * s;
        double series = 1.0 / 13;
        series = 1.0 / 11 + s2 * series;
        series = 1.0 / 9 + s2 * series;
        series = 1.0 / 7 + s2 * series;
        series = 1.0 / 5 + s2 * series;
        series = 1.0 / 3 + s2 * series;
        series = 1.0 + s2 * series;
        level[i] = kDbPerNeper * (e * kLn2 + 2.0 * s * series);
    }
}

}  // namespace

void ComputeSpectrumFast(const double* samples, double* spectrum, int n, int averagingMode,
                         bool clear) {
    if (clear || !IsTransformLength(n) || n < 4) {
        ComputeSpectrum(samples, spectrum, n, averagingMode, clear);
        return;
    }
    RealDftPower(samples, n, PowerScale(n), PowerBuffer(n));
    Decibels(LastPowerSpectrum(), LevelBuffer(), n / 2 + 1);
    AverageLevelsRunning(spectrum, n, averagingMode);
}
