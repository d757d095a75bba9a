#include "ui/plot.h"

#include <algorithm>

#include "measurement/number_text.h"

PlotArea plotArea;

namespace {

void DrawGrid(CPlotCanvas& canvas, const PlotRect& r) {
    PenScope pen(canvas, kGridColor);
    const int w = r.Width();
    const int hgt = r.Height();
    // Stepped in single precision as the scale always was: the fifth sum is
    // 1.0000000149, so no line lands on the right or bottom edge.
    const float step = 0.2f;
    for (float f = step; f < 1.0f; f += step) {
        const int x = static_cast<int>(static_cast<float>(r.left) + f * static_cast<float>(w));
        canvas.MoveTo(x, r.top + 1);
        canvas.LineTo(x, r.bottom - 1);
    }
    for (float f = step; f < 1.0f; f += step) {
        const int y = r.top + static_cast<int>(f * static_cast<float>(hgt));
        canvas.MoveTo(r.left + 1, y);
        canvas.LineTo(r.right - 1, y);
    }
}

void DrawLabels(CPlotCanvas& canvas, const PlotRect& r, int sampleRate) {
    canvas.SetBkColor(kLabelBackground);
    canvas.SetTextColor(kBlack);

    const FrequencyLabels labels = FormatFrequencyLabels(sampleRate);
    const int w = r.Width();
    const int hgt = r.Height();
    const int y = r.bottom + 2;
    canvas.TextOut(r.left - 5, y, "0Hz");
    canvas.TextOut(r.right - 45, y, labels.rightEnd);
    const double fractions[4] = {0.2, 0.4, 0.6, 0.8};
    for (int i = 0; i < 4; ++i) {
        const int xf = static_cast<int>(r.left + fractions[i] * w);
        canvas.TextOut(xf - 25, y, labels.fraction[i]);
    }

    auto gridY = [&](double f) { return r.top - static_cast<int>(-f * hgt); };
    canvas.TextOut(r.left - 30, r.top - 7, "+20");
    canvas.TextOut(r.left - 36, r.bottom - 10, "-180");
    canvas.TextOut(r.left - 27, gridY(0.2) - 8, "-20");
    canvas.TextOut(r.left - 27, gridY(0.4) - 8, "-60");
    canvas.TextOut(r.left - 35, gridY(0.6) - 8, "-100");
    canvas.TextOut(r.left - 35, gridY(0.8) - 8, "-140");
}

void DrawTrace(CPlotCanvas& canvas, const PlotRect& r, const MeasurementState& state) {
    const int h = state.sampleCount / 2;
    auto clampedY = [&](int k) { return std::min(LevelToY(r, state.spectrum[k]), r.bottom - 2); };
    canvas.MoveTo(r.left, clampedY(1));
    for (int k = 2; k < h; ++k) canvas.LineTo(EntryToX(r, k, h), clampedY(k));
}

void DrawMarker(CPlotCanvas& canvas, const PlotArea& area) {
    if (area.markerX <= 0) return;
    PenScope pen(canvas, kMarkerColor);
    canvas.MoveTo(area.markerX - 15, area.markerY);
    canvas.LineTo(area.markerX + 15, area.markerY);
    canvas.MoveTo(area.markerX, area.markerY - 15);
    canvas.LineTo(area.markerX, area.markerY + 15);
}

void DrawHarmonicMarks(CPlotCanvas& canvas, const PlotRect& r, const MeasurementState& state) {
    if (state.thdEnabled != 1) return;
    const int h = state.sampleCount / 2;
    // Without a sample count there is no scale to put the marks on.
    if (h <= 0) return;
    canvas.SetBkColor(kWhite);
    canvas.SetTextColor(kHarmonicColor);
    for (int i = 0; i < 5; ++i) {
        const int x = EntryToX(r, state.harmonicBins[i], h);
        const int y = LevelToY(r, state.harmonicLevels[i]);
        if (x > r.left + 10) canvas.TextOut(x - 2, y - 20, "*");
    }
}

}  // namespace

PlotRect PlotFrameFor(PlotRect client) {
    if (client.left > client.right) std::swap(client.left, client.right);
    if (client.top > client.bottom) std::swap(client.top, client.bottom);
    return {client.left + kPlotMarginLeft, client.top + kPlotMarginTop,
            client.right - kPlotMarginRight, client.bottom - kPlotMarginBottom};
}

int LevelToY(const PlotRect& r, double level) {
    return r.top - static_cast<int>(r.Height() * (level - 20.0) * 0.005);
}

int EntryToX(const PlotRect& r, int k, int h) {
    return static_cast<int>(static_cast<double>(k) / h * r.Width() + r.left);
}

FrequencyLabels FormatFrequencyLabels(int sampleRate) {
    FrequencyLabels labels;
    const double r = sampleRate;
    if (sampleRate <= 1800) {
        labels.rightEnd = FixedText(r * 0.5, 1) + "Hz";
        const double factors[4] = {0.1, 0.2, 0.3, 0.4};
        for (int i = 0; i < 4; ++i) labels.fraction[i] = FixedText(r * factors[i], 1) + "Hz";
    } else {
        labels.rightEnd = FixedText(r * 0.0005, 2) + "KHz";
        const double factors[4] = {0.0001, 0.0002, 0.0003, 0.0004};
        for (int i = 0; i < 4; ++i) labels.fraction[i] = FixedText(r * factors[i], 2) + "KHz";
    }
    return labels;
}

void PaintPlot(CPlotCanvas& canvas, const PlotRect& client, const MeasurementState& state,
               PlotArea& area, const std::function<void()>& refreshSettings,
               const PlotLayers* layers) {
    const PlotLayers none;
    const PlotLayers& extra = layers ? *layers : none;
    area.plotRect = PlotFrameFor(client);
    canvas.Rectangle(area.plotRect);
    if (extra.scales) {
        extra.scales(canvas, area.plotRect);
    } else {
        DrawGrid(canvas, area.plotRect);
        DrawLabels(canvas, area.plotRect, state.sampleRate);
    }
    {
        PenScope pen(canvas, kTraceColor);
        if (area.traceReady) {
            area.plotRect.left += 1;
            if (extra.underTrace) {
                extra.underTrace(canvas, area.plotRect);
                canvas.SelectPen(kTraceColor);
            }
            if (extra.trace) {
                extra.trace(canvas, area.plotRect);
            } else {
                DrawTrace(canvas, area.plotRect, state);
            }
        }
    }
    DrawMarker(canvas, area);
    if (refreshSettings) refreshSettings();
    if (extra.marks) {
        extra.marks(canvas, area.plotRect);
    } else {
        DrawHarmonicMarks(canvas, area.plotRect, state);
    }
    if (extra.overlay) extra.overlay(canvas, area.plotRect);
    area.traceReady = true;
}
