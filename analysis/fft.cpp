#include "analysis/fft.h"

#include <cmath>
#include <utility>

#include "analysis/butterflies.h"
#include "analysis/wide_vectors.h"
#include "measurement/state.h"

namespace {

// What the transform of one length needs besides the data: the bit reversal as
// the counter form produces it, and every stage's twiddles in the order its
// recurrence produces them. Both depend on n only, so they are made once per
// length; each butterfly still gets exactly the twiddle the recurrence gave it.
int planLength = 0;
int planStages = 0;
int reversed[kMaxSamples];
int swapCount = 0;
int swapLow[kMaxSamples / 2];
int swapHigh[kMaxSamples / 2];
// The stage with half-span le1 keeps its le1 twiddles from offset le1 - 1.
double twiddleRe[kMaxSamples];
double twiddleIm[kMaxSamples];

void Plan(int n) {
    if (n == planLength) return;

    int j = 0;
    swapCount = 0;
    for (int i = 0; i < n - 1; ++i) {
        reversed[i] = j;
        if (i < j) {
            swapLow[swapCount] = i;
            swapHigh[swapCount] = j;
            ++swapCount;
        }
        int k = n / 2;
        while (k <= j) {
            j -= k;
            k /= 2;
        }
        j += k;
    }
    reversed[n - 1] = j;

    planStages = static_cast<int>(std::log10(static_cast<double>(n)) / std::log10(2.0) + 0.1);
    const double pi = 4.0 * std::atan(1.0);
    for (int stage = 1; stage <= planStages; ++stage) {
        const int le = static_cast<int>(std::pow(2.0, stage));
        const int le1 = le / 2;
        const double wRe = std::cos(pi / le1);
        const double wIm = -std::sin(pi / le1);
        double uRe = 1.0;
        double uIm = 0.0;
        for (int g = 0; g < le1; ++g) {
            twiddleRe[le1 - 1 + g] = uRe;
            twiddleIm[le1 - 1 + g] = uIm;
            const double nextRe = wRe * uRe - wIm * uIm;
            const double nextIm = uIm * wRe + wIm * uRe;
            uRe = nextRe;
            uIm = nextIm;
        }
    }
    planLength = n;
}

// One butterfly: T = U x b, b = a - T, a = a + T.
inline void Butterfly(double& aRe, double& aIm, double& bRe, double& bIm, double uRe, double uIm) {
    const double tRe = uRe * bRe - uIm * bIm;
    const double tIm = uRe * bIm + uIm * bRe;
    bRe = aRe - tRe;
    bIm = aIm - tIm;
    aRe = aRe + tRe;
    aIm = aIm + tIm;
}

// One stage on one run of 2*le1 entries: pairs (g, g+le1) with twiddle u[g].
inline void OneStage(double* __restrict aRe, double* __restrict bRe, double* __restrict aIm,
                     double* __restrict bIm, const double* __restrict uRe,
                     const double* __restrict uIm, int le1) {
    for (int g = 0; g < le1; ++g) Butterfly(aRe[g], aIm[g], bRe[g], bIm[g], uRe[g], uIm[g]);
}

// Stages s and s+1 on one run of 4*le1 entries: stage s pairs (g, g+le1) and
// (g+2le1, g+3le1) with twiddle u[g], stage s+1 pairs (g, g+2le1) with v[g] and
// (g+le1, g+3le1) with w[g] = v[g+le1].
inline void TwoStages(double* __restrict r0, double* __restrict r1, double* __restrict r2,
                      double* __restrict r3, double* __restrict i0, double* __restrict i1,
                      double* __restrict i2, double* __restrict i3, const double* __restrict uRe,
                      const double* __restrict uIm, const double* __restrict vRe,
                      const double* __restrict vIm, const double* __restrict wRe,
                      const double* __restrict wIm, int le1) {
    for (int g = 0; g < le1; ++g) {
        double a0 = r0[g], a1 = r1[g], a2 = r2[g], a3 = r3[g];
        double b0 = i0[g], b1 = i1[g], b2 = i2[g], b3 = i3[g];
        Butterfly(a0, b0, a1, b1, uRe[g], uIm[g]);
        Butterfly(a2, b2, a3, b3, uRe[g], uIm[g]);
        Butterfly(a0, b0, a2, b2, vRe[g], vIm[g]);
        Butterfly(a1, b1, a3, b3, wRe[g], wIm[g]);
        r0[g] = a0, r1[g] = a1, r2[g] = a2, r3[g] = a3;
        i0[g] = b0, i1[g] = b1, i2[g] = b2, i3[g] = b3;
    }
}

}  // namespace

// Within a stage the butterflies are independent, so they may run group by
// group over contiguous entries instead of twiddle by twiddle; the first two
// stages run together on each run of four entries.
PELKOR_WIDE_VECTORS void RadixTwoButterflies(double* re, double* im, int n,
                                             const double* twRe, const double* twIm,
                                             int stages, int firstStage) {
    int stage = firstStage;
    if (stage == 1 && stages >= 2) {
        const double u0Re = twRe[0], u0Im = twIm[0];  // stage 1
        const double v0Re = twRe[1], v0Im = twIm[1];  // stage 2
        const double v1Re = twRe[2], v1Im = twIm[2];
        for (int base = 0; base < n; base += 4) {
            double r0 = re[base], r1 = re[base + 1], r2 = re[base + 2], r3 = re[base + 3];
            double i0 = im[base], i1 = im[base + 1], i2 = im[base + 2], i3 = im[base + 3];
            Butterfly(r0, i0, r1, i1, u0Re, u0Im);
            Butterfly(r2, i2, r3, i3, u0Re, u0Im);
            Butterfly(r0, i0, r2, i2, v0Re, v0Im);
            Butterfly(r1, i1, r3, i3, v1Re, v1Im);
            re[base] = r0, re[base + 1] = r1, re[base + 2] = r2, re[base + 3] = r3;
            im[base] = i0, im[base + 1] = i1, im[base + 2] = i2, im[base + 3] = i3;
        }
        stage = 3;
    }
    // Two stages per pass over the data.
    for (; stage + 1 <= stages; stage += 2) {
        const int le1 = 1 << (stage - 1);
        const double* __restrict uRe = twRe + le1 - 1;
        const double* __restrict uIm = twIm + le1 - 1;
        const double* __restrict vRe = twRe + 2 * le1 - 1;
        const double* __restrict vIm = twIm + 2 * le1 - 1;
        for (int base = 0; base < n; base += 4 * le1)
            TwoStages(re + base, re + base + le1, re + base + 2 * le1, re + base + 3 * le1,
                      im + base, im + base + le1, im + base + 2 * le1, im + base + 3 * le1, uRe,
                      uIm, vRe, vIm, vRe + le1, vIm + le1, le1);
    }
    if (stage == stages) {
        const int le1 = 1 << (stage - 1);
        for (int base = 0; base < n; base += 2 * le1)
            OneStage(re + base, re + base + le1, im + base, im + base + le1, twRe + le1 - 1,
                     twIm + le1 - 1, le1);
    }
}

bool IsTransformLength(int n) {
    return n >= 1 && n <= kMaxSamples && (n & (n - 1)) == 0;
}

void ForwardFft(double* re, double* im, int n) {
    Plan(n);
    for (int s = 0; s < swapCount; ++s) {
        std::swap(re[swapLow[s]], re[swapHigh[s]]);
        std::swap(im[swapLow[s]], im[swapHigh[s]]);
    }
    RadixTwoButterflies(re, im, n, twiddleRe, twiddleIm, planStages, 1);
}

void ForwardFftOfReal(const double* samples, double* re, double* im, int n) {
    Plan(n);
    for (int i = 0; i < n; ++i) {
        re[i] = samples[reversed[i]];
        im[i] = 0.0;
    }
    RadixTwoButterflies(re, im, n, twiddleRe, twiddleIm, planStages, 1);
}
