// Texts of the distortion figures, shared by `pelkor-measure --metrics` and the
// dialog's Distortion window so that both say the same for the same block.
#pragma once

#include <string>
#include <vector>

#include "analysis/metrics.h"

struct MetricsFigure {
    std::string name;   // "THD(2..10)", "THD+N", "SINAD", "SNR", "ENOB", "SFDR"
    std::string value;  // "0.0123 % (-78.21 dB)", "81.20 dB", "13.20"
};

// The six figures in that order; empty when m.valid is false.
std::vector<MetricsFigure> FormatMetricsFigures(const DistortionMetrics& m);

// The console line: "  THD(2..10): 0.0123 % (-78.21 dB)  THD+N: ...  SFDR: 81.20 dB\n",
// or "  distortion figures not available\n". Numbers always with a '.'.
std::string FormatMetricsLine(const DistortionMetrics& m);

struct HarmonicRowText {
    int order = 0;              // 2..10
    std::string frequency;      // aliased position, "%.2f Hz"
    std::string dbc = "-";      // level relative to the fundamental, "%.2f"; "-" when folded away
    std::string percent = "-";  // amplitude relative to the fundamental, "%.4f"; "-" likewise
};

// Harmonics 2..10 of m at sampleRate with n samples; empty when m.valid is false.
std::vector<HarmonicRowText> FormatHarmonicRows(const DistortionMetrics& m, int sampleRate, int n);

// The fundamental: "%.3f Hz" (refined within its entry) and "%.1f dBm".
std::string FormatFundamentalFrequency(const DistortionMetrics& m);
std::string FormatFundamentalLevel(const DistortionMetrics& m);

// All of it as plain text, one item a line, the harmonics as a tab-separated
// table: what the Distortion window copies.
std::string FormatDistortionReport(const DistortionMetrics& m, int sampleRate, int n);
