#include "ui/plot_zoom.h"

#include <algorithm>
#include <cmath>
#include <utility>

#include "measurement/number_text.h"

namespace {

// Keeps pixel positions of exact values on their pixel despite rounding in
// the divisions (a round trip pixel -> value -> pixel lands where it started).
constexpr double kPixelSlack = 1e-7;
constexpr double kSnap = 1e-9;
// At most this many grid steps across a zoomed axis.
constexpr int kZoomDivisions = 6;

int FloorPixel(double p) {
    return static_cast<int>(std::floor(p + kPixelSlack));
}

// Puts [lo, hi] inside [min, max] with at least minSpan, keeping its centre
// where it can.
void FitSpan(double& lo, double& hi, double min, double max, double minSpan) {
    if (!std::isfinite(lo) || !std::isfinite(hi)) {
        lo = min;
        hi = max;
        return;
    }
    if (lo > hi) std::swap(lo, hi);
    if (!(hi - lo >= minSpan)) {
        const double centre = (lo + hi) / 2;
        lo = centre - minSpan / 2;
        hi = centre + minSpan / 2;
    }
    if (hi - lo >= max - min) {
        lo = min;
        hi = max;
        return;
    }
    if (lo < min) {
        hi += min - lo;
        lo = min;
    }
    if (hi > max) {
        lo -= hi - max;
        hi = max;
    }
    if (lo - min < kSnap * (max - min)) lo = min;
    if (max - hi < kSnap * (max - min)) hi = max;
}

struct Segment {
    double x0, y0, x1, y1;
};

// Liang-Barsky: the part of s inside [left, right] x [top, bottom], if any.
bool Clip(Segment& s, double left, double top, double right, double bottom) {
    double t0 = 0.0;
    double t1 = 1.0;
    const double dx = s.x1 - s.x0;
    const double dy = s.y1 - s.y0;
    const double p[4] = {-dx, dx, -dy, dy};
    const double q[4] = {s.x0 - left, right - s.x0, s.y0 - top, bottom - s.y0};
    for (int i = 0; i < 4; ++i) {
        if (p[i] == 0.0) {
            if (q[i] < 0.0) return false;
            continue;
        }
        const double t = q[i] / p[i];
        if (p[i] < 0.0) {
            if (t > t1) return false;
            t0 = std::max(t0, t);
        } else {
            if (t < t0) return false;
            t1 = std::min(t1, t);
        }
    }
    s = {s.x0 + t0 * dx, s.y0 + t0 * dy, s.x0 + t1 * dx, s.y0 + t1 * dy};
    return true;
}

int DecimalsFor(double step) {
    if (!(step > 0)) return 0;
    return std::clamp(static_cast<int>(std::ceil(-std::log10(step) - 1e-9)), 0, 6);
}

}  // namespace

bool PlotView::IsDefault() const {
    return fromFraction == 0.0 && toFraction == 1.0 && topDb == kFullTopDb &&
           bottomDb == kFullBottomDb;
}

PlotView ClampView(PlotView v, int h) {
    const double minFraction = kMinSpanEntries / (h > 0 ? h : 64);
    FitSpan(v.fromFraction, v.toFraction, 0.0, 1.0, std::min(minFraction, 1.0));
    double bottom = v.bottomDb;
    double top = v.topDb;
    FitSpan(bottom, top, kFullBottomDb, kFullTopDb, kMinLevelSpanDb);
    v.bottomDb = bottom;
    v.topDb = top;
    return v;
}

CPlotMapping::CPlotMapping(const PlotRect& r, const PlotView& v, int sampleRate, int h)
    : rect_(r), view_(v), sampleRate_(sampleRate), h_(h) {}

double CPlotMapping::XExact(double entry) const {
    const double fraction = h_ > 0 ? entry / h_ : 0.0;
    return rect_.left + (fraction - view_.fromFraction) / (view_.toFraction - view_.fromFraction) *
                            rect_.Width();
}

double CPlotMapping::YExact(double level) const {
    return rect_.top + (view_.topDb - level) / (view_.topDb - view_.bottomDb) * rect_.Height();
}

int CPlotMapping::XOfEntry(int k) const {
    if (IsDefault()) return EntryToX(rect_, k, h_);
    return FloorPixel(XExact(k));
}

int CPlotMapping::XOfFraction(double fraction) const {
    return FloorPixel(rect_.left + (fraction - view_.fromFraction) /
                                       (view_.toFraction - view_.fromFraction) * rect_.Width());
}

int CPlotMapping::Y(double level) const {
    if (IsDefault()) return LevelToY(rect_, level);
    return FloorPixel(YExact(level));
}

double CPlotMapping::FractionAt(int x) const {
    const double t = static_cast<double>(x - rect_.left) / rect_.Width();
    return view_.fromFraction + t * (view_.toFraction - view_.fromFraction);
}

double CPlotMapping::FrequencyAt(int x) const {
    if (IsDefault()) return ::FrequencyAt(rect_, sampleRate_, x);
    return FractionAt(x) * (sampleRate_ * 0.5);
}

double CPlotMapping::LevelAt(int y) const {
    if (IsDefault()) return ::LevelAt(rect_, y);
    const double t = static_cast<double>(y - rect_.top) / rect_.Height();
    return view_.topDb - t * (view_.topDb - view_.bottomDb);
}

PlotView ZoomToPixels(const PlotView& v, const PlotRect& r, int x0, int y0, int x1, int y1, int h) {
    if (r.Width() <= 0 || r.Height() <= 0) return v;
    const CPlotMapping m(r, v, 0, h);
    PlotView next = v;
    if (std::abs(x1 - x0) >= 4) {
        next.fromFraction = m.FractionAt(std::min(x0, x1));
        next.toFraction = m.FractionAt(std::max(x0, x1));
    }
    if (std::abs(y1 - y0) >= 4) {
        next.topDb = m.LevelAt(std::min(y0, y1));
        next.bottomDb = m.LevelAt(std::max(y0, y1));
    }
    return ClampView(next, h);
}

PlotView ZoomAround(const PlotView& v, const PlotRect& r, int x, int y, double factor, int h) {
    if (r.Width() <= 0 || r.Height() <= 0 || !(factor > 0)) return v;
    const CPlotMapping m(r, v, 0, h);
    const double fx = m.FractionAt(x);
    const double ly = m.LevelAt(y);
    PlotView next;
    next.fromFraction = fx - (fx - v.fromFraction) * factor;
    next.toFraction = fx + (v.toFraction - fx) * factor;
    next.topDb = ly + (v.topDb - ly) * factor;
    next.bottomDb = ly - (ly - v.bottomDb) * factor;
    return ClampView(next, h);
}

std::optional<CursorReading> ReadCursorInView(const PlotArea& area, const PlotView& v,
                                              int sampleRate, int x, int y) {
    if (v.IsDefault()) return ReadCursor(area, sampleRate, x, y);
    const PlotRect& r = area.plotRect;
    if (x < r.left || x > r.right) return std::nullopt;
    if (r.Width() == 0 || r.Height() == 0) return std::nullopt;
    const CPlotMapping m(r, v, sampleRate, 0);
    const double f = m.FrequencyAt(x);
    const double level = m.LevelAt(y);
    CursorReading reading;
    reading.cursorText = FormatCursorText(f, level);
    if (area.markerX > 0) {
        reading.markerText =
            FormatMarkerDelta(f, level, m.FrequencyAt(area.markerX), m.LevelAt(area.markerY));
    }
    return reading;
}

void RemapMarker(PlotArea& area, const PlotView& from, const PlotView& to) {
    const PlotRect& r = area.plotRect;
    if (area.markerX <= 0 || r.Width() <= 0 || r.Height() <= 0 || from == to) return;
    const CPlotMapping before(r, from, 0, 0);
    const CPlotMapping after(r, to, 0, 0);
    const int x = after.XOfFraction(before.FractionAt(area.markerX));
    const int y = FloorPixel(after.YExact(before.LevelAt(area.markerY)));
    if (!InsidePlot(r, x, y)) {
        area.markerX = 0;
        return;
    }
    area.markerX = x;
    area.markerY = y;
}

double RoundStep(double span, int divisions) {
    if (!(span > 0) || divisions <= 0) return 1.0;
    const double raw = span / divisions;
    const double decade = std::pow(10.0, std::floor(std::log10(raw)));
    for (const double m : {1.0, 2.0, 5.0, 10.0}) {
        if (m * decade >= raw * (1 - 1e-9)) return m * decade;
    }
    return 10.0 * decade;
}

std::vector<double> GridValues(double lo, double hi, double step) {
    std::vector<double> out;
    if (!(step > 0) || !(hi > lo)) return out;
    const double first = std::ceil(lo / step + 1e-9);
    for (double i = first; i * step < hi - step * 1e-9 && out.size() < 64; i += 1.0) {
        out.push_back(i * step);
    }
    return out;
}

std::string FormatZoomFrequency(double hz, double stepHz, int sampleRate) {
    if (sampleRate > 1800) return FixedText(hz * 0.001, DecimalsFor(stepHz * 0.001)) + "KHz";
    return FixedText(hz, DecimalsFor(stepHz)) + "Hz";
}

std::string FormatZoomLevel(double db, double stepDb) {
    // No "-0" for the zero line.
    if (std::fabs(db) < stepDb * 1e-6) db = 0.0;
    std::string text(db > 0 ? 1 : 0, '+');
    return text += FixedText(db, DecimalsFor(stepDb));
}

void DrawZoomScales(CPlotCanvas& canvas, const CPlotMapping& m) {
    const PlotRect& r = m.Frame();
    const PlotView& v = m.View();
    const int rate = m.SampleRate();
    const double halfRate = rate * 0.5;
    if (!(halfRate > 0)) return;
    const double fromHz = v.fromFraction * halfRate;
    const double toHz = v.toFraction * halfRate;
    const double fStep = RoundStep(toHz - fromHz, kZoomDivisions);
    const double lStep = RoundStep(v.topDb - v.bottomDb, kZoomDivisions);
    const std::vector<double> freqs = GridValues(fromHz, toHz, fStep);
    const std::vector<double> levels = GridValues(v.bottomDb, v.topDb, lStep);
    {
        PenScope pen(canvas, kGridColor);
        for (const double f : freqs) {
            const int x = m.XOfFraction(f / halfRate);
            canvas.MoveTo(x, r.top + 1);
            canvas.LineTo(x, r.bottom - 1);
        }
        for (const double l : levels) {
            const int y = m.Y(l);
            canvas.MoveTo(r.left + 1, y);
            canvas.LineTo(r.right - 1, y);
        }
    }
    canvas.SetBkColor(kLabelBackground);
    canvas.SetTextColor(kBlack);
    for (const double f : freqs) {
        canvas.TextOut(m.XOfFraction(f / halfRate) - 25, r.bottom + 2,
                       FormatZoomFrequency(f, fStep, rate));
    }
    for (const double l : levels) {
        // Right-aligned on the frame as the fixed labels are ("+20" at L - 30, "-180" at L - 36).
        const std::string text = FormatZoomLevel(l, lStep);
        canvas.TextOut(r.left - 3 - 8 * static_cast<int>(text.size()), m.Y(l) - 8, text);
    }
}

void DrawZoomMarks(CPlotCanvas& canvas, const CPlotMapping& m, const MeasurementState& state) {
    if (state.thdEnabled != 1 || state.sampleCount / 2 <= 0) return;
    const PlotRect& r = m.Frame();
    canvas.SetBkColor(kWhite);
    canvas.SetTextColor(kHarmonicColor);
    for (int i = 0; i < 5; ++i) {
        const int x = m.XOfEntry(state.harmonicBins[i]);
        const int y = m.Y(state.harmonicLevels[i]);
        if (x > r.left + 10 && x <= r.right && y >= r.top && y <= r.bottom) {
            canvas.TextOut(x - 2, y - 20, "*");
        }
    }
}

void DrawLevels(CPlotCanvas& canvas, const CPlotMapping& m, const double* levels, int h) {
    const PlotRect& r = m.Frame();
    if (h < 2) return;
    if (m.IsDefault()) {
        auto clampedY = [&](int k) { return std::min(LevelToY(r, levels[k]), r.bottom - 2); };
        canvas.MoveTo(r.left, clampedY(1));
        for (int k = 2; k < h; ++k) canvas.LineTo(EntryToX(r, k, h), clampedY(k));
        return;
    }
    const PlotView& v = m.View();
    const int first = std::max(1, static_cast<int>(std::floor(v.fromFraction * h)) - 1);
    const int last = std::min(h - 1, static_cast<int>(std::ceil(v.toFraction * h)) + 1);
    const double left = r.left;
    const double right = r.right - 1;
    const double top = r.top;
    const double bottom = r.bottom - 1;
    bool joined = false;  // the canvas's current point is the last segment's end
    int lastX = 0;
    int lastY = 0;
    for (int k = first; k < last; ++k) {
        Segment s{m.XExact(k), m.YExact(levels[k]), m.XExact(k + 1), m.YExact(levels[k + 1])};
        if (!Clip(s, left, top, right, bottom)) {
            joined = false;
            continue;
        }
        const int x0 = FloorPixel(s.x0);
        const int y0 = FloorPixel(s.y0);
        const int x1 = FloorPixel(s.x1);
        const int y1 = FloorPixel(s.y1);
        if (!joined || x0 != lastX || y0 != lastY) canvas.MoveTo(x0, y0);
        canvas.LineTo(x1, y1);
        joined = true;
        lastX = x1;
        lastY = y1;
    }
}
