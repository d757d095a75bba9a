// Window, FFT power spectrum, levels with averaging, peak search and THD.
// The transform's working arrays and the averaging state are process-wide and
// fixed in size; nothing here allocates.
#pragma once

#include "measurement/state.h"

// Multiplies samples[0..n-1] in place by the periodic 4-term Blackman-Harris window.
void ApplyHarrisWindow(double* samples, int n);

// Transform of samples[0..n-1] into levels in dB (spectrum[0..n/2]) with the
// averaging of averagingMode (0 Off, 1 On, 2 "10"); clear restarts the averages.
void ComputeSpectrum(const double* samples, double* spectrum, int n, int averagingMode, bool clear);

// Fills state.searchSpectrum, fundamentalBin/Level, harmonicBins/Levels, thdLevels.
void FindPeaks(MeasurementState& state);

// THD in percent from state.thdLevels.
double ComputeThd(MeasurementState& state);

// Puts the averaging state and working arrays back to their start (for tests).
void ResetAnalysisState();
