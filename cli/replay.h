// Offline analysis of a saved block or of volts, in the measurement cycle's
// order: decode and scale, window, spectrum with averaging, peaks, texts, THD.
#pragma once

#include <string>

#include "measurement/state.h"

// Decodes bytes ((state.resolution + 1) x state.sampleCount of them) into
// state.samples as the cycle does, then analyses them as AnalyseSamples.
// Returns false, changing nothing, when count is not that size.
bool AnalyseBlock(MeasurementState& state, const unsigned char* bytes, int count);

// Takes volts[0..state.sampleCount-1] as the block, then windows (windowMode 0),
// transforms with state.averagingMode, finds the peaks and writes
// fundamentalText, amplitudeText and (thdEnabled 1) thdText.
void AnalyseVolts(MeasurementState& state, const double* volts);

// The first figure of the analysis that is not a finite number (a spectrum
// entry, a peak level, a THD amplitude, a result text reading "inf" or "nan"),
// named for a message; empty when every one is finite.
std::string NonFiniteResult(const MeasurementState& state);
