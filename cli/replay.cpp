#include "cli/replay.h"

#include <algorithm>
#include <cstdio>

#include "analysis/analysis.h"

namespace {

void Analyse(MeasurementState& state) {
    const int n = state.sampleCount;
    if (state.windowMode == 0) ApplyHarrisWindow(state.samples, n);
    ComputeSpectrum(state.samples, state.spectrum, n, state.averagingMode, false);
    FindPeaks(state);
    char text[64];
    // The same integer halves as the dialog's text: bin / (N div 2) x (rate div 2).
    const int hz = static_cast<int>(static_cast<double>(state.fundamentalBin) / (n / 2) *
                                    (state.sampleRate / 2));
    std::snprintf(text, sizeof text, "%d Hz", hz);
    state.fundamentalText = text;
    std::snprintf(text, sizeof text, "%.1f dBm", state.fundamentalLevel);
    state.amplitudeText = text;
    if (state.thdEnabled == 1) {
        std::snprintf(text, sizeof text, "%.3f %%", ComputeThd(state));
        state.thdText = text;
    }
}

}  // namespace

bool AnalyseBlock(MeasurementState& state, const unsigned char* bytes, int count) {
    const int n = state.sampleCount;
    if (n <= 0 || n > kMaxSamples || count != (state.resolution + 1) * n) return false;
    std::fill(std::begin(state.spectrum), std::end(state.spectrum), 0.0);
    std::fill(std::begin(state.samples), std::end(state.samples), 0.0);
    for (int j = 0; j < n; ++j) {
        state.samples[j] = state.resolution != 0
                               ? (bytes[2 * j] * 256 + bytes[2 * j + 1]) * kVoltsPerCount10
                               : bytes[j] * kVoltsPerCount8;
    }
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
