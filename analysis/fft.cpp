#include "analysis/fft.h"

#include <cmath>
#include <utility>

#include "measurement/state.h"

namespace {

// Twiddles of the current stage, taken from the recurrence in the order it
// produces them. Storing them lets each group run over contiguous entries; every
// butterfly still multiplies by the same value the recurrence gave it.
double twiddleRe[kMaxSamples / 2];
double twiddleIm[kMaxSamples / 2];

}  // namespace

bool IsTransformLength(int n) {
    return n >= 1 && n <= kMaxSamples && (n & (n - 1)) == 0;
}

void ForwardFft(double* re, double* im, int n) {
    const int stages = static_cast<int>(std::log10(static_cast<double>(n)) / std::log10(2.0) + 0.1);

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
    for (int stage = 1; stage <= stages; ++stage) {
        const int le = static_cast<int>(std::pow(2.0, stage));
        const int le1 = le / 2;
        const double wRe = std::cos(pi / le1);
        const double wIm = -std::sin(pi / le1);
        double uRe = 1.0;
        double uIm = 0.0;
        for (int g = 0; g < le1; ++g) {
            twiddleRe[g] = uRe;
            twiddleIm[g] = uIm;
            const double nextRe = wRe * uRe - wIm * uIm;
            const double nextIm = uIm * wRe + wIm * uRe;
            uRe = nextRe;
            uIm = nextIm;
        }
        for (int base = 0; base < n; base += le) {
            double* aRe = re + base;
            double* aIm = im + base;
            double* bRe = aRe + le1;
            double* bIm = aIm + le1;
            for (int g = 0; g < le1; ++g) {
                const double tRe = twiddleRe[g] * bRe[g] - twiddleIm[g] * bIm[g];
                const double tIm = twiddleRe[g] * bIm[g] + twiddleIm[g] * bRe[g];
                bRe[g] = aRe[g] - tRe;
                bIm[g] = aIm[g] - tIm;
                aRe[g] = aRe[g] + tRe;
                aIm[g] = aIm[g] + tIm;
            }
        }
    }
}
