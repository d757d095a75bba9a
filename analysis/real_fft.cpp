#include "analysis/real_fft.h"

#include <cmath>

#include "analysis/butterflies.h"
#include "analysis/wide_vectors.h"
#include "measurement/state.h"

namespace {

constexpr int kMaxHalf = kMaxSamples / 2;

// What the transform of one length needs besides the data, made once per
// length: the half-length bit reversal, its stages' twiddles (the stage with
// half-span le1 from offset le1 - 1) and the split's e^(-2 pi i k / n).
int planLength = 0;
int halfStages = 0;
int reversed[kMaxHalf];
double twiddleRe[kMaxHalf];
double twiddleIm[kMaxHalf];
double splitRe[kMaxHalf + 1];
double splitIm[kMaxHalf + 1];

// The half-length transform's data.
double zRe[kMaxHalf];
double zIm[kMaxHalf];

void Plan(int n) {
    if (n == planLength) return;
    const int half = n / 2;
    halfStages = 0;
    while ((1 << halfStages) < half) ++halfStages;
    for (int j = 0; j < half; ++j) {
        int r = 0;
        for (int b = 0; b < halfStages; ++b) r |= ((j >> b) & 1) << (halfStages - 1 - b);
        reversed[j] = r;
    }
    const double pi = 4.0 * std::atan(1.0);
    for (int le1 = 1; le1 < half; le1 *= 2) {
        for (int g = 0; g < le1; ++g) {
            twiddleRe[le1 - 1 + g] = std::cos(pi * g / le1);
            twiddleIm[le1 - 1 + g] = -std::sin(pi * g / le1);
        }
    }
    for (int k = 0; k <= half; ++k) {
        splitRe[k] = std::cos(2.0 * pi * k / n);
        splitIm[k] = -std::sin(2.0 * pi * k / n);
    }
    planLength = n;
}

// z[m] = samples[2m] + i samples[2m + 1], in bit-reversed order.
void GatherPairs(const double* __restrict samples, int half) {
    for (int j = 0; j < half; ++j) {
        const int m = reversed[j];
        zRe[j] = samples[2 * m];
        zIm[j] = samples[2 * m + 1];
    }
}

// The gather and the first two stages in one pass, four entries at a time: their
// twiddles are 1 and -i, so they need no multiplication. Returns the next stage.
PELKOR_WIDE_VECTORS int GatherPairsAndFirstStages(const double* __restrict samples, int half) {
    if (half < 4) {
        GatherPairs(samples, half);
        return 1;
    }
    for (int j = 0; j < half; j += 4) {
        const double* p0 = samples + 2 * reversed[j];
        const double* p1 = samples + 2 * reversed[j + 1];
        const double* p2 = samples + 2 * reversed[j + 2];
        const double* p3 = samples + 2 * reversed[j + 3];
        // Stage 1: (0, 1) and (2, 3).
        const double s0r = p0[0] + p1[0], s0i = p0[1] + p1[1];
        const double d0r = p0[0] - p1[0], d0i = p0[1] - p1[1];
        const double s1r = p2[0] + p3[0], s1i = p2[1] + p3[1];
        const double d1r = p2[0] - p3[0], d1i = p2[1] - p3[1];
        // Stage 2: (0, 2) with 1, (1, 3) with -i.
        zRe[j] = s0r + s1r, zIm[j] = s0i + s1i;
        zRe[j + 2] = s0r - s1r, zIm[j + 2] = s0i - s1i;
        zRe[j + 1] = d0r + d1i, zIm[j + 1] = d0i - d1r;
        zRe[j + 3] = d0r - d1i, zIm[j + 3] = d0i + d1r;
    }
    return 3;
}

// From Z, the transform of z, to X: with a = Z[k] and b = Z[half - k],
// E = (a + conj b) / 2 is the even samples' transform, O = (a - conj b) / 2i the
// odd ones', and X[k] = E + e^(-2 pi i k / n) O.
PELKOR_WIDE_VECTORS void SplitPower(int half, double scale, double* __restrict power) {
    power[0] = (zRe[0] + zIm[0]) * (zRe[0] + zIm[0]) * scale;
    power[half] = (zRe[0] - zIm[0]) * (zRe[0] - zIm[0]) * scale;
    for (int k = 1; k < half; ++k) {
        const double ar = zRe[k], ai = zIm[k];
        const double br = zRe[half - k], bi = zIm[half - k];
        const double er = 0.5 * (ar + br), ei = 0.5 * (ai - bi);
        const double orr = 0.5 * (ai + bi), oi = 0.5 * (br - ar);
        const double xr = er + (splitRe[k] * orr - splitIm[k] * oi);
        const double xi = ei + (splitRe[k] * oi + splitIm[k] * orr);
        power[k] = (xr * xr + xi * xi) * scale;
    }
}

}  // namespace

void RealDftPower(const double* samples, int n, double scale, double* power) {
    Plan(n);
    const int half = n / 2;
    const int next = GatherPairsAndFirstStages(samples, half);
    RadixTwoButterflies(zRe, zIm, half, twiddleRe, twiddleIm, halfStages, next);
    SplitPower(half, scale, power);
}
