// Readings off the plot's scales under the mouse, the marker delta, and the
// smallest window the dialog allows. Plain functions over PlotArea.
#pragma once

#include <optional>
#include <string>

#include "ui/plot.h"

// Frequency in Hz at x and level in dB at y on the scales of frame r.
double FrequencyAt(const PlotRect& r, int sampleRate, int x);
double LevelAt(const PlotRect& r, int y);

// "%.2fKHz  %.1fdBm" above 1000 Hz, "%.0fHz  %.1fdBm" otherwise.
std::string FormatCursorText(double frequency, double level);
// "%.1fHz  %.1fdB" with the unsigned frequency distance and the signed level difference.
std::string FormatMarkerDelta(double frequency, double level, double markerFrequency,
                              double markerLevel);

struct CursorReading {
    std::string cursorText;
    std::optional<std::string> markerText;  // only while a marker is set
};

// The reading for the mouse at (x, y): nothing when x lies outside the frame's
// x range, or when the frame has no width or height yet (before the first paint).
std::optional<CursorReading> ReadCursor(const PlotArea& area, int sampleRate, int x, int y);

// A click that may set the marker: inside the frame, edges included.
bool InsidePlot(const PlotRect& r, int x, int y);

inline constexpr const char* kMarkerOffText = "Click on graph";

// Client sizes below this make the dialog snap to the outer size below.
inline constexpr int kMinClientWidth = 510;
inline constexpr int kMinClientHeight = 290;
inline constexpr int kSnapOuterWidth = 530;
inline constexpr int kSnapOuterHeight = 320;
bool IsBelowMinimumSize(int clientWidth, int clientHeight);
