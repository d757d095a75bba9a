// The power spectrum of a real block through a complex transform of half its
// length: about half the work of the full-length transform, with twiddles from
// cos and sin of each angle rather than a recurrence.
#pragma once

// power[k] = scale * |X[k]|^2 for k = 0..n/2, X the DFT of samples[0..n-1].
// n must be a power of two from 4 to 8192.
void RealDftPower(const double* samples, int n, double scale, double* power);
