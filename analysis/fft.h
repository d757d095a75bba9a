// The in-place radix-2 transform behind ComputeSpectrum, open to the tests.
#pragma once

// True for the block lengths the transform takes: powers of two from 1 to 8192.
bool IsTransformLength(int n);

// Forward DFT in place: X[k] = sum x[t] e^(-2 pi i k t / n) over re/im[0..n-1].
// Counter-form bit reversal, then decimation-in-time butterflies whose twiddles
// come from one cos/sin pair per stage and a complex recurrence. n must satisfy
// IsTransformLength (not checked here).
void ForwardFft(double* re, double* im, int n);

// The same transform of a real block: re/im[0..n-1] get the DFT of
// samples[0..n-1]. Same numbers as copying samples into re, zeroing im and
// calling ForwardFft, with the bit reversal done by the copy.
void ForwardFftOfReal(const double* samples, double* re, double* im, int n);
