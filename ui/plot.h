// The spectrum plot: its process-wide area record, a small drawing surface and
// the painter that draws frame, grid, scales, trace, marker and harmonic marks.
// Nothing here depends on a window, so tests paint onto a recording canvas.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "measurement/state.h"

struct PlotRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;
    int Width() const { return right - left; }
    int Height() const { return bottom - top; }
    bool operator==(const PlotRect&) const = default;
};

// The plot frame of the last paint, the marker point and the trace-ready flag.
struct PlotArea {
    PlotRect plotRect;
    int markerX = 0;  // <= 0: no marker
    int markerY = 0;
    bool traceReady = false;
};

// The application's instance; tests make their own.
extern PlotArea plotArea;

struct PlotColor {
    std::uint8_t r = 0;
    std::uint8_t g = 0;
    std::uint8_t b = 0;
    bool operator==(const PlotColor&) const = default;
};

inline constexpr PlotColor kBlack{0, 0, 0};
inline constexpr PlotColor kWhite{255, 255, 255};
inline constexpr PlotColor kGridColor{220, 220, 220};
inline constexpr PlotColor kLabelBackground{200, 200, 200};
inline constexpr PlotColor kTraceColor{255, 0, 0};
inline constexpr PlotColor kMarkerColor{0, 0, 255};
inline constexpr PlotColor kHarmonicColor{255, 0, 0};

// What the painter needs of a drawing surface. Pens are solid and one pixel
// wide; the surface starts with a black pen, black text on white.
class CPlotCanvas {
  public:
    virtual ~CPlotCanvas() = default;
    // Outline in the current pen, white inside; covers left..right-1, top..bottom-1.
    virtual void Rectangle(const PlotRect& rect) = 0;
    // Selects a pen of this colour and returns the colour of the pen it replaced.
    virtual PlotColor SelectPen(PlotColor color) = 0;
    virtual void MoveTo(int x, int y) = 0;
    // A line from the current point that covers its start and stops one pixel
    // short of (x, y), which becomes the current point.
    virtual void LineTo(int x, int y) = 0;
    virtual void SetBkColor(PlotColor color) = 0;
    virtual void SetTextColor(PlotColor color) = 0;
    // Text with its top-left corner at (x, y) on an opaque background.
    virtual void TextOut(int x, int y, const std::string& text) = 0;
};

// Restores the earlier pen when a drawing step is done with its own.
class PenScope {
  public:
    PenScope(CPlotCanvas& canvas, PlotColor color)
        : canvas_(canvas), previous_(canvas.SelectPen(color)) {}
    ~PenScope() { canvas_.SelectPen(previous_); }
    PenScope(const PenScope&) = delete;
    PenScope& operator=(const PenScope&) = delete;

  private:
    CPlotCanvas& canvas_;
    PlotColor previous_;
};

// Distance of the frame from the client edges.
inline constexpr int kPlotMarginLeft = 40;
inline constexpr int kPlotMarginTop = 165;
inline constexpr int kPlotMarginRight = 10;
inline constexpr int kPlotMarginBottom = 20;

// The frame for a client rectangle (normalised first).
PlotRect PlotFrameFor(PlotRect client);

// Level in dB to y, and spectrum entry k to x, on the scales of frame r
// (h = N / 2 entries across the width).
int LevelToY(const PlotRect& r, double level);
int EntryToX(const PlotRect& r, int k, int h);

// The label texts below the frame: [0] right end, [1..4] fractions 0.2..0.8
// of half the sample rate.
struct FrequencyLabels {
    std::string rightEnd;
    std::string fraction[4];
};
FrequencyLabels FormatFrequencyLabels(int sampleRate);

// Additions painted with the plot, each optional and given the frame of this
// paint. Without any of them the plot is the fixed-scale plot, unchanged.
struct PlotLayers {
    using Layer = std::function<void(CPlotCanvas&, const PlotRect&)>;
    Layer scales;      // instead of grid and labels
    Layer underTrace;  // before the trace, only when it is drawn
    Layer trace;       // instead of the trace, with the trace pen selected
    Layer marks;       // instead of the harmonic marks ("*"), after refreshSettings
    Layer overlay;     // last
};

// One paint of the plot onto canvas for the given client rectangle. Sets
// area.plotRect (left one further once the trace is drawn) and area.traceReady.
// refreshSettings runs once, before the harmonic marks, to take the THD check
// box into state.
void PaintPlot(CPlotCanvas& canvas, const PlotRect& client, const MeasurementState& state,
               PlotArea& area, const std::function<void()>& refreshSettings,
               const PlotLayers* layers = nullptr);
