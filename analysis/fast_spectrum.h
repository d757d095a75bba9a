// A faster spectrum for the streaming path, with the same contract and the
// same state as ComputeSpectrum (averages, LastPowerSpectrum). The power comes
// from a real-input transform of half the length with exact twiddles, the levels
// from a polynomial logarithm, and the mean of "10" from a sum kept between
// calls. Its levels lie within 1e-9 dB of ComputeSpectrum's down to 60 dB below
// the peak; deeper, where ComputeSpectrum's own twiddle recurrence misses the
// true spectrum by up to some 1e-7 dB, this chain stays within 1e-9 dB of it, or
// within an amplitude error of 1e-15 of the peak's.
#pragma once

// As ComputeSpectrum(samples, spectrum, n, averagingMode, clear).
void ComputeSpectrumFast(const double* samples, double* spectrum, int n, int averagingMode,
                         bool clear);
