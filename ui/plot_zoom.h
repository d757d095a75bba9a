// Zoom of the spectrum plot: which part of the fixed scale (0 Hz .. half the
// sample rate, +20 .. -180 dB) the frame shows, the mapping between pixels and
// values for that view, round label steps, and the zoomed painters. Plain
// geometry over CPlotCanvas; the default view maps exactly as the fixed scale.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "ui/plot.h"
#include "ui/readouts.h"

inline constexpr double kFullTopDb = 20.0;
inline constexpr double kFullBottomDb = -180.0;
inline constexpr double kMinLevelSpanDb = 1.0;
// The narrowest frequency span, in entries, so that a zoom still shows a lobe.
inline constexpr double kMinSpanEntries = 4.0;

struct PlotView {
    double fromFraction = 0.0;  // left edge, as a fraction of half the sample rate
    double toFraction = 1.0;    // right edge
    double topDb = kFullTopDb;
    double bottomDb = kFullBottomDb;
    // The fixed scale, exactly.
    bool IsDefault() const;
    bool operator==(const PlotView&) const = default;
};

// v ordered, inside the fixed scale and no narrower than the minimum spans (h
// entries across half the sample rate; h <= 0 takes 64). A view that covers the
// whole fixed scale comes back as the default view exactly.
PlotView ClampView(PlotView v, int h);

// Pixels and values in frame r for view v. For the default view X and Y are
// EntryToX and LevelToY, and the readings FrequencyAt and LevelAt, to the bit.
class CPlotMapping {
  public:
    CPlotMapping(const PlotRect& r, const PlotView& v, int sampleRate, int h);
    bool IsDefault() const { return view_.IsDefault(); }
    const PlotRect& Frame() const { return rect_; }
    const PlotView& View() const { return view_; }
    int SampleRate() const { return sampleRate_; }

    int XOfEntry(int k) const;
    int Y(double level) const;
    // Unrounded positions, for clipping.
    double XExact(double entry) const;
    double YExact(double level) const;

    double FractionAt(int x) const;   // of half the sample rate
    double FrequencyAt(int x) const;  // Hz
    double LevelAt(int y) const;      // dB
    int XOfFraction(double fraction) const;

  private:
    PlotRect rect_;
    PlotView view_;
    int sampleRate_;
    int h_;
};

// The view zoomed to the pixel rectangle (x0, y0)-(x1, y1) in frame r (either
// corner first). A side narrower than 4 pixels keeps that axis as it was.
PlotView ZoomToPixels(const PlotView& v, const PlotRect& r, int x0, int y0, int x1, int y1, int h);
// The view scaled by factor (< 1 zooms in) about the values under pixel (x, y).
PlotView ZoomAround(const PlotView& v, const PlotRect& r, int x, int y, double factor, int h);

// The cursor reading at (x, y) under view v: ReadCursor itself in the default
// view; otherwise the same texts from the zoomed scales, marker included.
std::optional<CursorReading> ReadCursorInView(const PlotArea& area, const PlotView& v,
                                              int sampleRate, int x, int y);

// The marker point of view `from` moved to the same frequency and level under
// view `to` in frame r; the marker is removed when that lies outside the frame.
void RemapMarker(PlotArea& area, const PlotView& from, const PlotView& to);

// A round step (1, 2 or 5 times a power of ten) that cuts span into at most
// `divisions` parts, and the multiples of step strictly between lo and hi.
double RoundStep(double span, int divisions);
std::vector<double> GridValues(double lo, double hi, double step);
// Label texts for the zoomed scales: "%.*fHz" (or KHz above 1800 s/s, as the
// fixed scale) and "+20"-style levels, with the decimals the step needs.
std::string FormatZoomFrequency(double hz, double stepHz, int sampleRate);
std::string FormatZoomLevel(double db, double stepDb);

// The zoomed painters: grid and labels at round steps; the levels of entries
// 1..h-1 clipped to the frame; the "*" marks of state at their zoomed places.
void DrawZoomScales(CPlotCanvas& canvas, const CPlotMapping& m);
void DrawZoomMarks(CPlotCanvas& canvas, const CPlotMapping& m, const MeasurementState& state);

// Levels of entries 1..h-1 as a polyline in the current pen. In the default view
// this is the fixed plot's trace rule (from the left edge, clamped downwards at
// B - 2); zoomed, each segment is clipped to the frame.
void DrawLevels(CPlotCanvas& canvas, const CPlotMapping& m, const double* levels, int h);
