// Harmonic markers on the plot: the orders "2".."10" of the distortion figures'
// harmonics at their (aliased) places, beside the "*" marks of the peak search.
#pragma once

#include "analysis/metrics.h"
#include "ui/plot_zoom.h"

inline constexpr PlotColor kHarmonicNumberColor{0, 100, 200};

// For each harmonic of m that has power of its own: its order at x + 5, 20 pixels
// above the level of levels[bin] (clamped into the frame), where x is the
// entry's position. Like the "*" marks, nothing within 10 pixels of the left
// edge, and nothing where the number would pass the right edge. Nothing when m is not valid.
void DrawHarmonicNumbers(CPlotCanvas& canvas, const CPlotMapping& mapping,
                         const DistortionMetrics& m, const double* levels);
