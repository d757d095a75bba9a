#include "cli/replay.h"

#include <algorithm>
#include <cmath>

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

std::string NonFiniteResult(const MeasurementState& state) {
    const int n = state.sampleCount;
    for (int k = 0; n > 0 && n <= kMaxSamples && k <= n / 2; ++k) {
        if (!std::isfinite(state.spectrum[k])) return "level at entry " + std::to_string(k);
    }
    if (!std::isfinite(state.fundamentalLevel)) return "fundamental level";
    for (int p = 0; p < 5; ++p) {
        if (!std::isfinite(state.harmonicLevels[p]))
            return "level of peak " + std::to_string(p + 1);
    }
    for (int p = 0; p < 6; ++p) {
        if (!std::isfinite(state.thdLevels[p])) return "THD amplitude " + std::to_string(p);
    }
    for (const std::string* text : {&state.fundamentalText, &state.amplitudeText, &state.thdText}) {
        if (text->find("inf") != std::string::npos || text->find("nan") != std::string::npos) {
            return "result text '" + *text + "'";
        }
    }
    return {};
}
