// Window, FFT power spectrum, levels with averaging, peak search and THD.
// The transform's working arrays, the last power spectrum and the averaging
// state are process-wide fixed arrays; nothing here allocates. All of it runs on
// one thread (the measurement cycle's); none of it is safe to call concurrently.
#pragma once

#include "measurement/state.h"

// Multiplies samples[0..n-1] in place by the periodic 4-term Blackman-Harris
// window (divisor n, so w(0) = 0.00006 and w(n/2) = 1). With n <= 0 it does nothing.
void ApplyHarrisWindow(double* samples, int n);

// With clear set: restarts the averages and returns; samples, spectrum and
// averagingMode are not used. It zeroes the sums and ring rows 0..n (every row
// when n is negative or beyond the 9000-entry capacity) and the call count.
// Otherwise: the forward FFT power of samples[0..n-1], scaled by 2/n^2 (an
// exact-bin sine of amplitude A gives A^2/2), kept for LastPowerSpectrum, then
// converted to levels in spectrum[0..n/2]: 20*log10(max(sqrt(P), 1e-14)),
// averaged by averagingMode, then +11 dB and floored at -179.9. Modes: 0 Off;
// 1 On, the sum of the On levels since the last clear over the number of calls
// since then (calls in every mode count); 2 "10", a ring of 20 slots written at
// position (that call count, wrapping after 20), the mean of the slots filled
// since the last clear; any other value keeps the linear power.
// n must be a power of two from 1 to 8192 (the cycle passes 128..8192); with any
// other n the call returns at once: nothing is written and it is not counted.
void ComputeSpectrum(const double* samples, double* spectrum, int n, int averagingMode, bool clear);

// Linear power spectrum (entries 0..n/2, before the dB conversion and averaging)
// of the most recent ComputeSpectrum call that computed one, and its size n/2+1
// (0 before any such call and after ResetAnalysisState). The pointer stays valid;
// the next such call overwrites the entries.
const double* LastPowerSpectrum();
int LastPowerSpectrumSize();

// From state.spectrum and state.sampleCount (N): the fundamental, the highest
// level in entries 4..N/2, into fundamentalBin/Level and thdLevels[0]; then five
// further peaks into harmonicBins/Levels and thdLevels[1..5], each the highest
// level above -179.0 in entries fundamentalBin+10..N/2-1 of the search copy
// state.searchSpectrum (spectrum[0..N/2-1]), which after each search is blanked
// to -150.0 over peak-N/100..peak+N/100-1, clipped at entry 0. Ties go to the
// lowest entry. A search that finds nothing gives harmonicBins[p] = 1 and
// thdLevels[p+1] = -179.0 and leaves harmonicLevels[p] as it was. With an N that
// is not a power of two from 1 to 8192 it does nothing.
void FindPeaks(MeasurementState& state);

// THD in percent: 100 * sqrt(a1^2 + ... + a5^2) / a0, where ai = 10^(thdLevels[i]/20).
// Rewrites thdLevels with those amplitudes, so call it once per FindPeaks.
double ComputeThd(MeasurementState& state);

// Puts the averaging state, the working arrays and the last power spectrum back
// to their program-start values (for tests).
void ResetAnalysisState();
