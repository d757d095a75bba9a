// A faster spectrum for the streaming path: the same contract and the same
// state as ComputeSpectrum (averages, LastPowerSpectrum), and the same power to
// the bit, with the levels from a polynomial logarithm instead of log10. They
// agree with ComputeSpectrum's to within 1e-11 dB.
#pragma once

// As ComputeSpectrum(samples, spectrum, n, averagingMode, clear).
void ComputeSpectrumFast(const double* samples, double* spectrum, int n, int averagingMode,
                         bool clear);
