
#include <cmath>

#include "analysis/analysis.h"

namespace {

// 4-term Blackman-Harris coefficients (-92 dB side lobes), F. J. Harris, "On the
// use of windows for harmonic analysis with the discrete Fourier transform",
// Proc. IEEE 66(1), 1978.
constexpr double kA0 = 0.35875;
constexpr double kA1 = 0.48829;
constexpr double kA2 = 0.14128;
constexpr double kA3 = 0.01168;

// Weights of the last block length. They are the same numbers every call would
// compute, so a repeated length costs one multiply per sample instead of three cosines.
double weights[kMaxSamples];
int weightsLength = 0;

double Weight(int i, double step) {
    const double theta = i * step;
    return kA0 - kA1 * std::cos(theta) + kA2 * std::cos(2.0 * theta) - kA3 * std::cos(3.0 * theta);
}

double Step(int n) {
    return 8.0 * std::atan(1.0) / n;
}

}  // namespace

void ResetWindowTable() {
    weightsLength = 0;
}

void ApplyHarrisWindow(double* samples, int n) {
    if (n <= 0) return;
    if (n > kMaxSamples) {
        const double step = Step(n);
        for (int i = 0; i < n; ++i) samples[i] = samples[i] * Weight(i, step);
        return;
    }
    if (n != weightsLength) {
        const double step = Step(n);
        for (int i = 0; i < n; ++i) weights[i] = Weight(i, step);
        weightsLength = n;
    }
    for (int i = 0; i < n; ++i) samples[i] = samples[i] * weights[i];
}
