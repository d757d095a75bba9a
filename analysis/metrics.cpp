#include "analysis/metrics.h"

#include <algorithm>
#include <cmath>

#include "analysis/analysis.h"

namespace {

// What each entry of the spectrum is counted as; the first to claim it keeps it.
enum : unsigned char { kFree = 0, kFundamental, kDc, kHarmonic };

double Weight(int k, int half) {
    return (k == 0 || k == half) ? 0.5 : 1.0;
}

double Floored(double p) {
    return std::max(p, kMetricsPowerFloor);
}

// Aliased position of frequency x (in entries) in 0..n/2.
double Alias(double x, int n) {
    double r = std::fmod(x, static_cast<double>(n));
    if (r < 0) r += n;
    return r > n / 2.0 ? n - r : r;
}

bool IsPowerOfTwo(int n) {
    return n > 0 && (n & (n - 1)) == 0;
}

}  // namespace

DistortionMetrics ComputeDistortionMetrics(const double* power, int n, double sampleRate,
                                           bool windowed, int fundamentalBin) {
    DistortionMetrics m;
    const int half = n / 2;
    if (power == nullptr || !IsPowerOfTwo(n) || n < 8 || n > kMaxSamples || sampleRate <= 0 ||
        fundamentalBin < 1 || fundamentalBin > half) {
        return m;
    }
    const int lobe = windowed ? 3 : 1;
    unsigned char owner[kMaxSamples / 2 + 1] = {};

    // Claims the unclaimed entries of centre +-lobe for kind; returns their power.
    auto claim = [&](int centre, unsigned char kind) {
        double sum = 0.0;
        for (int k = std::max(0, centre - lobe); k <= std::min(half, centre + lobe); ++k) {
            if (owner[k] != kFree) continue;
            owner[k] = kind;
            sum += power[k] * Weight(k, half);
        }
        return sum;
    };

    const int k0 = fundamentalBin;
    double weighted = 0.0;
    double pf = 0.0;
    for (int k = std::max(0, k0 - lobe); k <= std::min(half, k0 + lobe); ++k) {
        const double p = power[k] * Weight(k, half);
        weighted += k * p;
        pf += p;
    }
    if (!(pf > kMetricsPowerFloor)) return m;  // also refuses NaN
    const double centre = weighted / pf;
    claim(k0, kFundamental);
    claim(0, kDc);

    double harmonics = 0.0;
    for (int h = 2; h <= 10; ++h) {
        const int bin = static_cast<int>(std::lround(Alias(h * centre, n)));
        m.harmonicBins[h - 2] = bin;
        m.harmonicPowers[h - 2] = claim(bin, kHarmonic);
        harmonics += m.harmonicPowers[h - 2];
    }

    double noise = 0.0;
    int spurBin = -1;
    for (int k = 0; k <= half; ++k) {
        if (owner[k] == kFree) noise += power[k] * Weight(k, half);
        if ((owner[k] == kFree || owner[k] == kHarmonic) &&
            (spurBin < 0 || power[k] > power[spurBin])) {
            spurBin = k;
        }
    }
    double spur = 0.0;
    if (spurBin >= 0) {
        for (int k = std::max(0, spurBin - lobe); k <= std::min(half, spurBin + lobe); ++k) {
            if (owner[k] == kFree || owner[k] == kHarmonic) spur += power[k] * Weight(k, half);
        }
    }

    m.valid = true;
    m.lobeHalfWidth = lobe;
    m.fundamentalBin = k0;
    m.fundamentalFrequency = centre * sampleRate / n;
    m.fundamentalPower = pf;
    // As ComputeSpectrum levels an entry: 20 log10 of its amplitude, +11, floored.
    m.fundamentalLevel = std::max(10.0 * std::log10(Floored(power[k0])) + 11.0, -179.9);
    m.harmonicPower = harmonics;
    m.noisePower = noise;
    m.spurBin = std::max(spurBin, 0);
    m.spurPower = spur;

    const double h = Floored(harmonics);
    const double nd = Floored(harmonics + noise);
    m.thdPercent = 100.0 * std::sqrt(h / pf);
    m.thdDb = 10.0 * std::log10(h / pf);
    m.thdnPercent = 100.0 * std::sqrt(nd / pf);
    m.thdnDb = 10.0 * std::log10(nd / pf);
    m.sinadDb = -m.thdnDb;
    m.snrDb = 10.0 * std::log10(pf / Floored(noise));
    m.enob = (m.sinadDb - 1.76) / 6.02;
    m.sfdrDb = 10.0 * std::log10(pf / Floored(spur));
    return m;
}

DistortionMetrics ComputeDistortionMetrics(const MeasurementState& state) {
    const int n = state.sampleCount;
    if (LastPowerSpectrum() == nullptr || LastPowerSpectrumSize() != n / 2 + 1) return {};
    return ComputeDistortionMetrics(LastPowerSpectrum(), n, state.sampleRate, state.windowMode == 0,
                                    state.fundamentalBin);
}
