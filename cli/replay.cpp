#include "cli/replay.h"

#include <algorithm>

#include "analysis/analysis.h"
#include "measurement/measurement.h"

namespace {

void Analyse(MeasurementState& state) {
    const int n = state.sampleCount;
    if (state.windowMode == 0) ApplyHarrisWindow(state.samples, n);
    ComputeSpectrum(state.samples, state.spectrum, n, state.averagingMode, false);
    FindPeaks(state);
    FormatResultTexts(state);
}

}  // namespace

bool AnalyseBlock(MeasurementState& state, const unsigned char* bytes, int count) {
    const int n = state.sampleCount;
    if (n <= 0 || n > kMaxSamples || count != (state.resolution + 1) * n) return false;
    std::fill(std::begin(state.spectrum), std::end(state.spectrum), 0.0);
    std::fill(std::begin(state.samples), std::end(state.samples), 0.0);
    DecodeBlock(state, bytes, n);
    for (int j = 0; j < n; ++j) state.samples[j] = ScaleToInput(state.samples[j]);
    Analyse(state);
    return true;
}

void AnalyseVolts(MeasurementState& state, const double* volts) {
    const int n = state.sampleCount;
    std::fill(std::begin(state.spectrum), std::end(state.spectrum), 0.0);
    std::fill(std::begin(state.samples), std::end(state.samples), 0.0);
    std::copy(volts, volts + n, state.samples);
    Analyse(state);
}
